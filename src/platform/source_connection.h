// The connection string of an Access source: what the wizard's source check, the scan and
// the conversion run open the file with.
#pragma once

#include <string>

namespace ferrolyte {

// True when the file name ends with ".accdb" or ".accde" in any letter case.
bool IsAccdbFile(const std::string& file_name);

// The provider string that opens the Access file: ACE for .accdb/.accde, Jet otherwise;
// a system database selects the workgroup form, else a password the database-password form.
// Values are quoted as ConnectionValue does, so any path or password reads back whole.
std::string BuildSourceConnectionString(const std::string& file_name,
                                        const std::string& system_database,
                                        const std::string& user_name, const std::string& password);

}  // namespace ferrolyte
