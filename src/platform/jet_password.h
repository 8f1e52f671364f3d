// Database passwords of Jet 3, Jet 4 and unencrypted ACE files, which live in the header of
// the database definition page, and the check of a workgroup information file (.mdw).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/crypto_errors.h"
#include "platform/crypto_primitives.h"

namespace ferrolyte {

// The first page of a file (up to 4096 bytes), for the checks below and IsEncryptedAccdb.
// Raises "Could not find file" for a missing or unreadable file and "Unrecognized database
// format" for a file that is not an Access database.
Bytes ReadDefinitionPage(const std::string& path, PasswordErrorStyle style);

// The password stored in a database definition page (page 0, at least its first 152 bytes);
// empty when the database has none, and for encrypted .accdb files, whose password is only
// verifiable through their encryption header. Raises 3343-style for a page that is not a
// database definition page.
std::string ReadJetDatabasePassword(std::span<const uint8_t> page0,
                                    PasswordErrorStyle style = PasswordErrorStyle::kAdo);

// Refuses with "Not a valid password." unless given equals the stored password exactly
// (letter case matters, as in the engine). A database without password accepts any text. An
// encrypted .accdb is checked against its encryption header.
void CheckJetPassword(std::span<const uint8_t> page0, std::string_view given,
                      PasswordErrorStyle style);

// Checks that a workgroup information file exists and is an Access file. A missing or
// unreadable one is refused as the engine does: 3028 "Cannot start your application. The
// workgroup information file is missing or opened exclusively by another user."; a file that
// is not an Access database 3343 "Unrecognized database format '<path>'.". User names and
// their passwords are not checked: the file format does not enforce them.
void CheckWorkgroupFile(const std::string& path, PasswordErrorStyle style);

}  // namespace ferrolyte
