#include "wizard/source_check.h"

#include "conversion/run_settings.h"
#include "platform/ado.h"
#include "platform/source_connection.h"
#include "support/components.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/safe.h"
#include "support/text.h"
#include "wizard/settings.h"

namespace ferrolyte {
namespace {

constexpr int32_t kProviderMissing = errc::kProviderNotFound.number;

}  // namespace

bool ValidateSource(const std::string& file_name, const std::string& system_database,
                    const std::string& user_name, const std::string& password,
                    const ComponentRegistry& components, std::string& error_text,
                    std::string& help_address) {
  // File names, not patterns: "shop[1].mdb" and "a*.mdb" name one file each.
  if (!PathIsFile(file_name)) {
    error_text = "The database file '" + file_name + "' does not exist.";
    return false;
  }
  if (!system_database.empty() && !PathIsFile(system_database)) {
    error_text = "The system database file '" + system_database + "' does not exist.";
    return false;
  }
  try {
    const std::string connection_string =
        BuildSourceConnectionString(file_name, system_database, user_name, password);
    auto connection = CreateObjectAs<Connection>(components, "ADODB.Connection");
    connection->Open(connection_string);
    connection->Close();
    return true;
  } catch (const Error& e) {
    if (e.number() == kProviderMissing) {
      error_text = std::string(
                       "You are most likely missing a driver for the Access Database on your "
                       "system.\r\n\r\n") +
                   "You can probably fix this by downloading and installting the "
                   "AccessDatabaseEngine.exe from Microsoft at the link below:\r\n\r\n" +
                   kAccessEngineDownloadAddress;
      help_address = kAccessEngineDownloadAddress;
    } else {
      error_text = "Unable to open the source database.\r\nError " + std::to_string(e.number()) +
                   ": " + e.description();
    }
    return false;
  } catch (const std::exception& e) {
    error_text = "Unable to open the source database.\r\nError " +
                 std::to_string(kAdoGenericError) + ": " + e.what();
    return false;
  }
}

EntryProblem DestinationProblem(const DictionaryPtr& section) {
  if (!section) return {};
  auto text = [&](const char* key) { return SafeStr(section->Item(key)); };
  const bool direct = EqualsIgnoreCase(text("destinationmethod"), "DIRECT");
  // In the order the page shows the fields.
  const std::string port = text("destinationport");
  if (direct && !port.empty() && !IsPortList(port))
    return {"The port \"" + port + "\" is not a number from 1 to 65535.", "txtPGSQLPort"};
  if (!direct && Trim(text("destinationdumpfilename")).empty())
    return {"Enter the name of the dump file.", "txtDestinationDumpFilename"};
  if (Trim(text("destinationdatabase")).empty())
    return {"Enter the name of the destination database.", "txtPGSQLDestinationDatabase"};
  // What the run would refuse of the Advanced Options' connection settings.
  if (direct) return {SettingsProblem(section), ""};
  return {};
}

}  // namespace ferrolyte
