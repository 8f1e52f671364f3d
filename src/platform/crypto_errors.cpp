#include "platform/crypto_errors.h"

#include <string>

#include "platform/ado.h"
#include "support/errors.h"

namespace ferrolyte {
namespace {

// The same sources the libmdb layer reports for its open errors.
constexpr const char* kDaoSource = "DAO.Workspace";
constexpr const char* kAdoSource = "Microsoft JET Database Engine";

[[noreturn]] void Raise(PasswordErrorStyle style, int32_t dao_number, int32_t ado_number,
                        std::string text) {
  if (style == PasswordErrorStyle::kDao) throw Error(dao_number, kDaoSource, std::move(text));
  throw Error(ado_number, kAdoSource, std::move(text));
}

}  // namespace

void RaiseInvalidPassword(PasswordErrorStyle style) {
  Raise(style, kDaoInvalidPassword, kAdoInvalidPassword, "Not a valid password.");
}

void RaiseFileNotFound(PasswordErrorStyle style, std::string_view file_name) {
  Raise(style, kDaoFileNotFoundError, kAdoGenericError,
        "Could not find file '" + std::string(file_name) + "'.");
}

void RaiseUnrecognizedFormat(PasswordErrorStyle style, std::string_view file_name) {
  Raise(style, kDaoUnrecognizedFormatError, kAdoGenericError,
        "Unrecognized database format '" + std::string(file_name) + "'.");
}

void RaiseUnsupportedEncryption(PasswordErrorStyle style, std::string_view file_name,
                                std::string_view method) {
  Raise(style, kDaoUnrecognizedFormatError, kAdoGenericError,
        "The database '" + std::string(file_name) + "' is encrypted with an unsupported method (" +
            std::string(method) + ").");
}

}  // namespace ferrolyte
