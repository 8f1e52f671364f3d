// The one exception type of the system: a number, a source and a description, as the
// platform components raise them; and the catalogue of the numbers this program raises.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

namespace ferrolyte {

// What a number says about the cause, for callers that decide by it.
enum class ErrorKind {
  kIo,                // a file or device could not be read or written
  kDamage,            // the source file is damaged or not what it claims to be
  kServer,            // a server or provider refused or failed a call
  kSettings,          // a setting or argument does not fit
  kPassword,          // the source refused the password
  kMissingComponent,  // a driver, provider or component is not installed
  kProgram,           // an object was used the wrong way: a fault of the program
  kOther,
};

// One error number, named once: its number, its kind, the platform's symbolic name (empty
// where it has none) and its text.
struct ErrorCode {
  int32_t number;
  ErrorKind kind;
  const char* name;
  const char* text;
};

// The numbers this program raises or passes on: the platform's runtime errors, the engine's,
// the record sets', COM's and the program's own.
namespace errc {
inline constexpr ErrorCode kInvalidCall{5, ErrorKind::kProgram, "",
                                        "Invalid procedure call or argument."};
inline constexpr ErrorCode kOverflow{6, ErrorKind::kSettings, "", "Overflow."};
inline constexpr ErrorCode kTypeMismatch{13, ErrorKind::kProgram, "", "Type mismatch."};
inline constexpr ErrorCode kInternal{51, ErrorKind::kProgram, "", "Internal error."};
inline constexpr ErrorCode kBadFileNumber{52, ErrorKind::kIo, "", "Bad file name or number."};
inline constexpr ErrorCode kFileNotFound{53, ErrorKind::kIo, "", "File not found."};
inline constexpr ErrorCode kDeviceIo{57, ErrorKind::kIo, "", "Device I/O error."};
inline constexpr ErrorCode kDiskFull{61, ErrorKind::kIo, "", "Disk full."};
inline constexpr ErrorCode kTooManyFiles{67, ErrorKind::kIo, "", "Too many files."};
inline constexpr ErrorCode kFileAccess{75, ErrorKind::kIo, "", "Path/File access error."};
inline constexpr ErrorCode kPathNotFound{76, ErrorKind::kIo, "", "Path not found."};
inline constexpr ErrorCode kObjectNotSet{91, ErrorKind::kProgram, "", "Object variable not set."};
inline constexpr ErrorCode kInvalidNull{94, ErrorKind::kSettings, "", "Invalid use of Null."};
inline constexpr ErrorCode kAttachment{101, ErrorKind::kOther, "", "Attachment error."};
inline constexpr ErrorCode kCannotCreateObject{429, ErrorKind::kMissingComponent, "",
                                               "The component cannot create the object."};
inline constexpr ErrorCode kMissingDependency{
    1000, ErrorKind::kMissingComponent, "",
    "A required component is missing, or a column type cannot be copied."};
inline constexpr ErrorCode kBinaryTooLarge{1003, ErrorKind::kOther, "",
                                           "A binary value is over the size limit."};
inline constexpr ErrorCode kNoOdbcDriver{1004, ErrorKind::kMissingComponent, "",
                                         "No PostgreSQL Unicode ODBC driver."};
inline constexpr ErrorCode kObjectNotFound{3011, ErrorKind::kServer, "",
                                           "The database engine could not find the object."};
inline constexpr ErrorCode kNoCurrentRecord{3021, ErrorKind::kProgram, "adErrNoCurrentRecord",
                                            "There is no current record."};
inline constexpr ErrorCode kCouldNotFindFile{3024, ErrorKind::kIo, "", "Could not find file."};
inline constexpr ErrorCode kWorkgroupMissing{
    3028, ErrorKind::kIo, "", "The workgroup information file is missing or opened exclusively."};
inline constexpr ErrorCode kDaoInvalidPassword{3031, ErrorKind::kPassword, "",
                                               "Not a valid password."};
inline constexpr ErrorCode kDiskOrNetwork{3043, ErrorKind::kIo, "", "Disk or network error."};
inline constexpr ErrorCode kDamagedDatabase{3049, ErrorKind::kDamage, "",
                                            "The database is damaged or not a database."};
inline constexpr ErrorCode kFeatureNotAvailable{3251, ErrorKind::kServer,
                                                "adErrFeatureNotAvailable",
                                                "The provider does not support the operation."};
inline constexpr ErrorCode kItemNotFound{3265, ErrorKind::kProgram, "adErrItemNotFound",
                                         "Item not found in this collection."};
inline constexpr ErrorCode kUnrecognizedFormat{3343, ErrorKind::kDamage, "",
                                               "Unrecognized database format."};
inline constexpr ErrorCode kObjectInvalid{3420, ErrorKind::kProgram, "adErrObjectNotSet",
                                          "The object is no longer valid."};
inline constexpr ErrorCode kObjectClosed{3704, ErrorKind::kProgram, "adErrObjectClosed",
                                         "The operation is not allowed when the object is closed."};
inline constexpr ErrorCode kProviderNotFound{
    3706, ErrorKind::kMissingComponent, "adErrProviderNotFound", "The provider cannot be found."};
inline constexpr ErrorCode kInvalidConnection{3709, ErrorKind::kServer, "adErrInvalidConnection",
                                              "The connection cannot be used for this operation."};
inline constexpr ErrorCode kNotImplemented{-2147467263, ErrorKind::kProgram, "E_NOTIMPL",
                                           "Not implemented."};
inline constexpr ErrorCode kUnspecified{-2147467259, ErrorKind::kServer, "E_FAIL",
                                        "Unspecified error."};
inline constexpr ErrorCode kInvalidClassString{-2147221005, ErrorKind::kMissingComponent,
                                               "CO_E_CLASSSTRING", "Invalid class string."};
inline constexpr ErrorCode kParameterMissing{-2147217904, ErrorKind::kServer,
                                             "DB_E_PARAMNOTOPTIONAL",
                                             "No value given for a required parameter."};
inline constexpr ErrorCode kErrorsInCommand{-2147217900, ErrorKind::kServer, "DB_E_ERRORSINCOMMAND",
                                            "The command contained one or more errors."};
inline constexpr ErrorCode kErrorsOccurred{-2147217887, ErrorKind::kServer, "DB_E_ERRORSOCCURRED",
                                           "Multiple-step operation generated errors."};
inline constexpr ErrorCode kNoTable{-2147217865, ErrorKind::kServer, "DB_E_NOTABLE",
                                    "The table does not exist."};
inline constexpr ErrorCode kAuthFailed{-2147217843, ErrorKind::kPassword, "DB_SEC_E_AUTH_FAILED",
                                       "Authentication failed."};
inline constexpr ErrorCode kOutOfMemory{-2147024882, ErrorKind::kOther, "E_OUTOFMEMORY",
                                        "Out of memory."};
inline constexpr ErrorCode kInvalidArgument{-2147024809, ErrorKind::kProgram, "E_INVALIDARG",
                                            "One or more arguments are invalid."};
}  // namespace errc

class Error : public std::runtime_error {
 public:
  // Creates an error with the given number, source and description.
  Error(int32_t number, std::string source, std::string description);
  // Creates an error with an empty source.
  Error(int32_t number, std::string description) : Error(number, "", std::move(description)) {}
  // The same, with a number from the catalogue.
  Error(const ErrorCode& code, std::string source, std::string description)
      : Error(code.number, std::move(source), std::move(description)) {}
  Error(const ErrorCode& code, std::string description)
      : Error(code.number, "", std::move(description)) {}

  int32_t number() const { return number_; }
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }
  // Whether this error carries that number.
  bool Is(const ErrorCode& code) const { return number_ == code.number; }
  // The kind of its number; kOther for a number the catalogue does not hold.
  ErrorKind kind() const;

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
};

// The number as upper-case hexadecimal without prefix or leading zeros; negative numbers as
// their 32-bit two's complement (-2147217900 gives "80040E14").
std::string HexNumber(int32_t number);

// "number (0xHEX)", as error messages show a number: -2147221005 gives
// "-2147221005 (0x800401F3)".
std::string NumberWithHex(int32_t number);

// Every entry of the catalogue, one per number, in the order of errc.
std::span<const ErrorCode> AllErrorCodes();
// The catalogue's entry for a number, or null for one it does not hold.
const ErrorCode* FindErrorCode(int32_t number);
// The kind of a number; kOther for one the catalogue does not hold.
ErrorKind KindOfError(int32_t number);

// What an error number means: a symbolic name where the platform has one (HRESULTs:
// "DB_SEC_E_AUTH_FAILED"), else empty; and the platform's text for it.
struct ErrorMeaning {
  std::string name;
  std::string text;
};
// Nothing for a number the table does not know.
std::optional<ErrorMeaning> MeaningOfError(int32_t number);

// The number as a Linux user can read it: "DB_SEC_E_AUTH_FAILED: Authentication failed.",
// "3043: Disk or network error."; an unknown number as NumberWithHex.
std::string NamedError(int32_t number);

}  // namespace ferrolyte
