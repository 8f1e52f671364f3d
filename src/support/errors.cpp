#include "support/errors.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace ferrolyte {
namespace {

struct KnownError {
  int32_t number;
  const char* name;
  const char* text;
};

// The numbers this program raises or passes on: the platform's runtime errors, the engine's,
// the record sets', COM's and the program's own.
constexpr KnownError kKnownErrors[] = {
    {5, "", "Invalid procedure call or argument."},
    {6, "", "Overflow."},
    {13, "", "Type mismatch."},
    {51, "", "Internal error."},
    {52, "", "Bad file name or number."},
    {53, "", "File not found."},
    {57, "", "Device I/O error."},
    {61, "", "Disk full."},
    {67, "", "Too many files."},
    {75, "", "Path/File access error."},
    {76, "", "Path not found."},
    {91, "", "Object variable not set."},
    {94, "", "Invalid use of Null."},
    {101, "", "Attachment error."},
    {429, "", "The component cannot create the object."},
    {1000, "", "A required component is missing, or a column type cannot be copied."},
    {1003, "", "A binary value is over the size limit."},
    {1004, "", "No PostgreSQL Unicode ODBC driver."},
    {3011, "", "The database engine could not find the object."},
    {3021, "adErrNoCurrentRecord", "There is no current record."},
    {3024, "", "Could not find file."},
    {3028, "", "The workgroup information file is missing or opened exclusively."},
    {3031, "", "Not a valid password."},
    {3043, "", "Disk or network error."},
    {3049, "", "The database is damaged or not a database."},
    {3251, "adErrFeatureNotAvailable", "The provider does not support the operation."},
    {3265, "adErrItemNotFound", "Item not found in this collection."},
    {3343, "", "Unrecognized database format."},
    {3420, "adErrObjectNotSet", "The object is no longer valid."},
    {3704, "adErrObjectClosed", "The operation is not allowed when the object is closed."},
    {3706, "adErrProviderNotFound", "The provider cannot be found."},
    {3709, "adErrInvalidConnection", "The connection cannot be used for this operation."},
    {-2147467263, "E_NOTIMPL", "Not implemented."},
    {-2147467259, "E_FAIL", "Unspecified error."},
    {-2147221005, "CO_E_CLASSSTRING", "Invalid class string."},
    {-2147217904, "DB_E_PARAMNOTOPTIONAL", "No value given for a required parameter."},
    {-2147217900, "DB_E_ERRORSINCOMMAND", "The command contained one or more errors."},
    {-2147217887, "DB_E_ERRORSOCCURRED", "Multiple-step operation generated errors."},
    {-2147217865, "DB_E_NOTABLE", "The table does not exist."},
    {-2147217843, "DB_SEC_E_AUTH_FAILED", "Authentication failed."},
    {-2147024882, "E_OUTOFMEMORY", "Out of memory."},
    {-2147024809, "E_INVALIDARG", "One or more arguments are invalid."},
};

}  // namespace

std::optional<ErrorMeaning> MeaningOfError(int32_t number) {
  const auto* found = std::find_if(std::begin(kKnownErrors), std::end(kKnownErrors),
                                   [&](const KnownError& e) { return e.number == number; });
  if (found == std::end(kKnownErrors)) return std::nullopt;
  return ErrorMeaning{found->name, found->text};
}

std::string NamedError(int32_t number) {
  const std::optional<ErrorMeaning> meaning = MeaningOfError(number);
  if (!meaning) return NumberWithHex(number);
  return (meaning->name.empty() ? std::to_string(number) : meaning->name) + ": " + meaning->text;
}

Error::Error(int32_t number, std::string source, std::string description)
    : std::runtime_error(description),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

std::string HexNumber(int32_t number) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", static_cast<uint32_t>(number));
  return buf;
}

std::string NumberWithHex(int32_t number) {
  return std::to_string(number) + " (0x" + HexNumber(number) + ")";
}

}  // namespace ferrolyte
