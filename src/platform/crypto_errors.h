// The engine's errors for refused passwords and unreadable security files, in the numbers of
// the interface that opened the file.
#pragma once

#include <cstdint>
#include <string_view>

#include "support/errors.h"

namespace ferrolyte {

// DAO-style (Jet error numbers) or ADO-style (HRESULTs) numbering.
enum class PasswordErrorStyle { kDao, kAdo };

inline constexpr int32_t kDaoInvalidPassword = errc::kDaoInvalidPassword.number;
inline constexpr int32_t kDaoFileNotFoundError = errc::kCouldNotFindFile.number;
inline constexpr int32_t kDaoWorkgroupMissing = errc::kWorkgroupMissing.number;
inline constexpr int32_t kDaoUnrecognizedFormatError = errc::kUnrecognizedFormat.number;

// "Not a valid password.": 3031 or -2147217843.
[[noreturn]] void RaiseInvalidPassword(PasswordErrorStyle style);
// "Could not find file '<name>'.": 3024 or -2147467259.
[[noreturn]] void RaiseFileNotFound(PasswordErrorStyle style, std::string_view file_name);
// "Unrecognized database format '<name>'.": 3343 or -2147467259.
[[noreturn]] void RaiseUnrecognizedFormat(PasswordErrorStyle style, std::string_view file_name);
// "The database '<name>' is encrypted with an unsupported method (<method>).", with the
// numbers of an unrecognized format: the file is sound, its encryption unknown here.
[[noreturn]] void RaiseUnsupportedEncryption(PasswordErrorStyle style, std::string_view file_name,
                                             std::string_view method);

}  // namespace ferrolyte
