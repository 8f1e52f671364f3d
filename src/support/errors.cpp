#include "support/errors.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace ferrolyte {
namespace {

// Every entry of the catalogue, for the look-ups by number.
constexpr ErrorCode kCatalogue[] = {
    errc::kInvalidCall,
    errc::kOverflow,
    errc::kTypeMismatch,
    errc::kInternal,
    errc::kBadFileNumber,
    errc::kFileNotFound,
    errc::kDeviceIo,
    errc::kDiskFull,
    errc::kTooManyFiles,
    errc::kFileAccess,
    errc::kPathNotFound,
    errc::kObjectNotSet,
    errc::kInvalidNull,
    errc::kAttachment,
    errc::kCannotCreateObject,
    errc::kMissingDependency,
    errc::kBinaryTooLarge,
    errc::kNoOdbcDriver,
    errc::kObjectNotFound,
    errc::kNoCurrentRecord,
    errc::kCouldNotFindFile,
    errc::kWorkgroupMissing,
    errc::kDaoInvalidPassword,
    errc::kDiskOrNetwork,
    errc::kDamagedDatabase,
    errc::kFeatureNotAvailable,
    errc::kItemNotFound,
    errc::kUnrecognizedFormat,
    errc::kObjectInvalid,
    errc::kObjectClosed,
    errc::kProviderNotFound,
    errc::kInvalidConnection,
    errc::kNotImplemented,
    errc::kUnspecified,
    errc::kInvalidClassString,
    errc::kParameterMissing,
    errc::kErrorsInCommand,
    errc::kErrorsOccurred,
    errc::kNoTable,
    errc::kAuthFailed,
    errc::kOutOfMemory,
    errc::kInvalidArgument,
};

}  // namespace

std::span<const ErrorCode> AllErrorCodes() {
  return kCatalogue;
}

const ErrorCode* FindErrorCode(int32_t number) {
  const auto* found = std::find_if(std::begin(kCatalogue), std::end(kCatalogue),
                                   [&](const ErrorCode& e) { return e.number == number; });
  return found == std::end(kCatalogue) ? nullptr : found;
}

ErrorKind KindOfError(int32_t number) {
  const ErrorCode* code = FindErrorCode(number);
  return code ? code->kind : ErrorKind::kOther;
}

ErrorKind Error::kind() const {
  return KindOfError(number_);
}

std::optional<ErrorMeaning> MeaningOfError(int32_t number) {
  const ErrorCode* found = FindErrorCode(number);
  if (!found) return std::nullopt;
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
