#include "platform/source_connection.h"

#include "support/connection_string.h"
#include "support/text.h"

namespace ferrolyte {

bool IsAccdbFile(const std::string& file_name) {
  return EndsWithIgnoreCase(file_name, ".accdb") || EndsWithIgnoreCase(file_name, ".accde");
}

std::string BuildSourceConnectionString(const std::string& file_name,
                                        const std::string& system_database,
                                        const std::string& user_name, const std::string& password) {
  const std::string file = ConnectionValue(file_name);
  if (IsAccdbFile(file_name)) {
    std::string s = "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + file;
    if (!password.empty())
      s += ";Jet OLEDB:Database Password=" + ConnectionValue(password) + ";";
    else
      s += ";Persist Security Info=False;";
    return s;
  }
  std::string s = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file + ";";
  if (!system_database.empty())
    s += "Jet OLEDB:System database=" + ConnectionValue(system_database) +
         ";User Id=" + ConnectionValue(user_name) + ";Password=" + ConnectionValue(password) + ";";
  else if (!password.empty())
    s += "Jet OLEDB:Database Password=" + ConnectionValue(password) + ";";
  return s;
}

}  // namespace ferrolyte
