// The settings as the wizard's controls hold them, and their mapping to and from a settings
// dictionary. The window copies controls into FormSettings and back; the rules live here.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/value.h"

namespace ferrolyte {

struct FormSettings {
  std::string source_file, source_user, source_password, source_system_database;
  // The chosen option button when building; the stored text when applying.
  bool direct = true;
  std::string destination_method = "DIRECT";
  std::string server, port, user, password, database, maintenance_db, dump_file;
  // destinationsslmode (empty: libpq's choice), destinationsslrootcert and
  // destinationparameters (further libpq parameters as key=value text).
  std::string ssl_mode = "prefer", ssl_root_cert, connection_parameters;
  std::vector<std::string> source_tables;
  // Check box values (0 clear, 1 checked), in key order: dropdatabase ... columnlist.
  int drop_database = 0, create_tables = 1, unicode = 1, autocommit = 1,
      transfer_default_values = 1, transfer_indexes = 1, transfer_autonumbers = 1,
      transfer_records = 1, column_list = 1;
  std::string table_prefix;
  int negative_boolean = 0, ignore_large_blobs = 0;
  std::string memo_type = "TEXT", datetime_type = "TIMESTAMP";
  int transfer_relationships = 0, transfer_descriptions = 0;
  int transfer_queries = 0, transfer_validation = 0, follow_links = 0;
  std::string complex_columns = "TEXT";  // the complexcolumns value
  std::string dump_format = "INSERT";    // the dumpformat value
  std::string identifier_case = "KEEP";  // the identifiercase value
  std::string storage_engine;            // applied only; never built
};

// The settings dictionary of the controls: every key in key order, on/off keys as numbers,
// sourcetables as a list.
DictionaryPtr BuildSettingsFrom(const FormSettings& form);

// What ApplySettings puts into the controls, or nothing when the settings section is not a
// dictionary. Missing keys read as empty text (check boxes as 0). Raises 13 for a check box
// value that is not a number and 380 for a number other than 0 and 1.
std::optional<FormSettings> FormSettingsOf(const DictionaryPtr& settings);

// The entry a settings-bound list selects: entry 0, or the last entry equal to the value
// (case-sensitive); -1 for an empty list.
int ListEntryFor(const std::vector<std::string>& entries, const std::string& value);

// The copy kept in wizard.ini: sourcepassword and destinationpassword emptied, and a
// password among destinationparameters taken out (all of them when libpq cannot read them).
void BlankPasswords(const DictionaryPtr& settings);

}  // namespace ferrolyte
