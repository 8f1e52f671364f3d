#include "wizard/form_settings.h"

#include <cmath>
#include <stdexcept>

#include "platform/pg_parameters.h"
#include "support/errors.h"
#include "support/safe.h"
#include "wizard/settings.h"

namespace ferrolyte {
namespace {

struct CheckKey {
  const char* key;
  int FormSettings::*value;
};

const CheckKey kTransferChecks[] = {
    {"dropdatabase", &FormSettings::drop_database},
    {"createtables", &FormSettings::create_tables},
    {"unicode", &FormSettings::unicode},
    {"autocommit", &FormSettings::autocommit},
    {"transferdefaultvalues", &FormSettings::transfer_default_values},
    {"transferindexes", &FormSettings::transfer_indexes},
    {"transferautonumbers", &FormSettings::transfer_autonumbers},
    {"transferrecords", &FormSettings::transfer_records},
    {"columnlist", &FormSettings::column_list},
};

// A check box accepts only 0 and 1; the empty value is 0.
int CheckValueOf(const Value& value, const char* key) {
  if (value.IsEmpty()) return 0;
  std::optional<double> number;
  if (value.IsNumeric()) {
    number = value.AsDouble();
  } else if (value.IsText()) {
    number = ParseNumericText(value.Text());
  }
  if (!number)
    throw Error(errc::kTypeMismatch,
                std::string("Type mismatch: the setting ") + key + " is no number");
  const double rounded = std::nearbyint(*number);
  if (rounded != 0 && rounded != 1) {
    throw Error(
        380, std::string("Invalid property value: the setting ") + key + " is " + SafeStr(value));
  }
  return static_cast<int>(rounded);
}

}  // namespace

DictionaryPtr BuildSettingsFrom(const FormSettings& f) {
  DictionaryPtr section = Dictionary::Create();
  section->Set("sourcefilename", f.source_file);
  section->Set("sourceusername", f.source_user);
  section->Set("sourcepassword", f.source_password);
  section->Set("sourcesystemdatabase", f.source_system_database);
  section->Set("destinationmethod", f.direct ? "DIRECT" : "DUMP");
  section->Set("destinationserver", f.server);
  section->Set("destinationport", f.port);
  section->Set("destinationusername", f.user);
  section->Set("destinationpassword", f.password);
  section->Set("destinationdatabase", f.database);
  section->Set("maintenancedb", f.maintenance_db);
  section->Set("destinationsslmode", f.ssl_mode);
  section->Set("destinationsslrootcert", f.ssl_root_cert);
  section->Set("destinationparameters", f.connection_parameters);
  section->Set("destinationdumpfilename", f.dump_file);
  section->Set("sourcetables", Value::TextList(f.source_tables));
  for (const CheckKey& check : kTransferChecks) section->Set(check.key, f.*check.value);
  section->Set("tableprefix", f.table_prefix);
  section->Set("negativeboolean", f.negative_boolean);
  section->Set("ignorelargeblobs", f.ignore_large_blobs);
  section->Set("memotype", f.memo_type);
  section->Set("datetimetype", f.datetime_type);
  section->Set("transferrelationships", f.transfer_relationships);
  section->Set("transferdescriptions", f.transfer_descriptions);
  section->Set("dumpformat", f.dump_format);
  section->Set("transferqueries", f.transfer_queries);
  section->Set("complexcolumns", f.complex_columns);
  section->Set("transfervalidation", f.transfer_validation);
  section->Set("followlinks", f.follow_links);
  section->Set("identifiercase", f.identifier_case);
  DictionaryPtr settings = Dictionary::Create();
  settings->Set(kSettingsSection, section);
  return settings;
}

std::optional<FormSettings> FormSettingsOf(const DictionaryPtr& settings) {
  const DictionaryPtr section = settings ? settings->Section(kSettingsSection) : nullptr;
  if (!section) return std::nullopt;
  auto text = [&](const char* key) { return SafeStr(section->Item(key)); };
  FormSettings f;
  f.source_file = text("sourcefilename");
  f.source_user = text("sourceusername");
  f.source_password = text("sourcepassword");
  f.source_system_database = text("sourcesystemdatabase");
  f.destination_method = text("destinationmethod");
  // Exactly "DIRECT" picks the direct transfer; a lower-case "direct" falls to the dump.
  f.direct = f.destination_method == "DIRECT";
  f.server = text("destinationserver");
  f.port = text("destinationport");
  f.user = text("destinationusername");
  f.password = text("destinationpassword");
  f.database = text("destinationdatabase");
  f.maintenance_db = text("maintenancedb");
  f.ssl_mode = text("destinationsslmode");
  f.ssl_root_cert = text("destinationsslrootcert");
  f.connection_parameters = text("destinationparameters");
  f.dump_file = text("destinationdumpfilename");
  f.storage_engine = text("storageengine");
  const Value& tables = section->Item("sourcetables");
  if (tables.IsList()) {
    for (const Value& item : tables.List()) f.source_tables.push_back(SafeStr(item));
  }
  for (const CheckKey& check : kTransferChecks) {
    f.*check.value = CheckValueOf(section->Item(check.key), check.key);
  }
  f.table_prefix = text("tableprefix");
  f.negative_boolean = CheckValueOf(section->Item("negativeboolean"), "negativeboolean");
  f.ignore_large_blobs = CheckValueOf(section->Item("ignorelargeblobs"), "ignorelargeblobs");
  f.memo_type = text("memotype");
  f.datetime_type = text("datetimetype");
  f.transfer_relationships =
      CheckValueOf(section->Item("transferrelationships"), "transferrelationships");
  f.transfer_descriptions =
      CheckValueOf(section->Item("transferdescriptions"), "transferdescriptions");
  f.dump_format = text("dumpformat");
  f.transfer_queries = CheckValueOf(section->Item("transferqueries"), "transferqueries");
  f.complex_columns = text("complexcolumns");
  f.transfer_validation = CheckValueOf(section->Item("transfervalidation"), "transfervalidation");
  f.follow_links = CheckValueOf(section->Item("followlinks"), "followlinks");
  f.identifier_case = text("identifiercase");
  return f;
}

int ListEntryFor(const std::vector<std::string>& entries, const std::string& value) {
  if (entries.empty()) return -1;
  int chosen = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i] == value) chosen = static_cast<int>(i);
  }
  return chosen;
}

void BlankPasswords(const DictionaryPtr& settings) {
  const DictionaryPtr section = SettingsSection(settings);
  if (!section) return;
  section->Set("sourcepassword", "");
  section->Set("destinationpassword", "");
  // A password among the further parameters (which a run refuses) goes too; a text libpq
  // cannot read may hold one where nobody can find it.
  const std::string parameters = SafeStr(section->Item("destinationparameters"));
  if (parameters.empty()) return;
  try {
    PgParameterList list = ParsePgParameters(parameters);
    if (std::erase_if(list, [](const PgParameter& p) { return p.keyword == "password"; }))
      section->Set("destinationparameters", PgParametersText(list));
  } catch (const std::invalid_argument&) {
    section->Set("destinationparameters", "");
  }
}

}  // namespace ferrolyte
