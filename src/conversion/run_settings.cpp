#include "conversion/run_settings.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "conversion/destination_names.h"
#include "platform/pg_parameters.h"
#include "schema/schema_model.h"
#include "support/errors.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

// The parameters with a settings key of their own, and the one the sessions fix themselves.
constexpr const char* kKeyedParameters[][2] = {
    {"host", "destinationserver"},
    {"port", "destinationport"},
    {"dbname", "destinationdatabase"},
    {"user", "destinationusername"},
    {"password", "destinationpassword"},
    {"sslmode", "destinationsslmode"},
    {"sslrootcert", "destinationsslrootcert"},
    {"client_encoding", ""},
};

// The driver hands at most 29 parameters to libpq and drops the rest without a word; it
// takes up to 6 itself and the run adds up to 3.
constexpr size_t kMostParameters = 20;

// Never quotes the value: it could hold a password.
std::string ParametersProblem(const std::string& value) {
  const std::string head = "The setting destinationparameters is not valid: ";
  PgParameterList parameters;
  try {
    parameters = ParsePgParameters(value);
  } catch (const std::invalid_argument& e) {
    return head + e.what() + ".";
  }
  for (const PgParameter& p : parameters)
    for (const auto& [keyword, key] : kKeyedParameters)
      if (p.keyword == keyword)
        return head + (*key ? std::string(keyword) + " is the setting " + key + "."
                            : std::string(keyword) + " is always UTF8.");
  if (parameters.size() > kMostParameters)
    return head + "give at most " + std::to_string(kMostParameters) + " parameters.";
  return "";
}

// The entries of `sourcetables`, in their order; an empty entry (what a file without
// tables saves) selects nothing.
std::vector<std::string> SelectionOf(const Value& v) {
  std::vector<std::string> selection;
  if (v.IsText()) {
    // A settings file written by hand may name a single table without the list form.
    selection.push_back(v.Text());
  } else if (v.IsList()) {
    for (const Value& entry : v.List()) selection.push_back(SafeStr(entry));
  } else {
    throw Error(errc::kTypeMismatch,
                "Type mismatch: the setting sourcetables holds no list of tables");
  }
  std::erase(selection, std::string());
  return selection;
}

using N = Normalisation;
using T = SettingType;
using H = HeaderLine;

}  // namespace

const std::vector<SettingRow>& SettingsTable() {
  // key, type, default, normalisation, strict, settable, header, has effect
  static const std::vector<SettingRow> rows = {
      {"sourcefilename", T::kText, "", N::kNone, false, true, H::kListed, true},
      {"sourceusername", T::kText, "", N::kNone, false, true, H::kListed, true},
      {"sourcepassword", T::kText, "", N::kNone, false, false, H::kListed, true},
      {"sourcesystemdatabase", T::kText, "", N::kNone, false, true, H::kListed, true},
      {"destinationmethod", T::kChoice, "DIRECT", N::kNone, true, true, H::kLeftOut, true},
      {"destinationserver", T::kText, "", N::kNone, false, true, H::kListed, true},
      {"destinationport", T::kText, "", N::kNone, false, true, H::kLeftOut, true},
      {"destinationusername", T::kText, "", N::kNone, false, true, H::kLeftOut, true},
      {"destinationpassword", T::kText, "", N::kNone, false, false, H::kLeftOut, true},
      {"destinationdatabase", T::kText, "", N::kNone, true, true, H::kListed, true},
      {"maintenancedb", T::kText, "", N::kNone, false, true, H::kListed, true},
      {"destinationsslmode", T::kChoice, "prefer", N::kNone, false, true, H::kLeftOut, true},
      {"destinationsslrootcert", T::kText, "", N::kNone, false, true, H::kLeftOut, true},
      {"destinationparameters", T::kText, "", N::kNone, false, true, H::kLeftOut, true},
      {"destinationdumpfilename", T::kText, "", N::kNone, true, true, H::kLeftOut, true},
      {"sourcetables", T::kList, "", N::kNone, true, true, H::kLeftOut, true},
      {"dropdatabase", T::kSwitch, "0", N::kOffUnlessOne, true, true, H::kListed, true},
      {"createtables", T::kSwitch, "1", N::kOnUnlessZero, true, true, H::kListed, true},
      // The dump and the server session are UTF-8 whatever it says.
      {"unicode", T::kText, "1", N::kOnUnlessZero, true, true, H::kListed, false},
      // Commits after every table unless it is exactly 1.
      {"autocommit", T::kText, "1", N::kOnUnlessZero, true, true, H::kListed, true},
      {"transferdefaultvalues", T::kSwitch, "1", N::kOnUnlessZero, false, true, H::kListed, true},
      {"transferindexes", T::kSwitch, "1", N::kOnUnlessZero, true, true, H::kListed, true},
      {"transferautonumbers", T::kSwitch, "1", N::kOnUnlessZero, false, true, H::kListed, true},
      {"transferrecords", T::kSwitch, "1", N::kOnUnlessZero, true, true, H::kListed, true},
      {"columnlist", T::kSwitch, "1", N::kOnUnlessZero, false, true, H::kListed, true},
      {"tableprefix", T::kText, "", N::kNone, false, true, H::kListed, true},
      // PostgreSQL has a boolean type: a Yes/No column is boolean, true stays true.
      {"negativeboolean", T::kSwitch, "0", N::kOffWhenEmpty, false, true, H::kListed, false},
      {"ignorelargeblobs", T::kSwitch, "0", N::kOffWhenEmpty, false, true, H::kListed, true},
      // Memo columns are always text, Date/Time columns always timestamp.
      {"memotype", T::kText, "TEXT", N::kFixed, false, true, H::kListed, false},
      {"datetimetype", T::kText, "TIMESTAMP", N::kFixed, false, true, H::kListed, false},
      {"transferrelationships", T::kSwitch, "0", N::kOffWhenPresent, false, true, H::kListed, true},
      {"transferdescriptions", T::kSwitch, "0", N::kOffWhenPresent, false, true, H::kListed, true},
      {"dumpformat", T::kChoice, kDumpFormatInsert, N::kChoiceSpelling, false, true,
       H::kUnlessDefault, true},
      {"transferqueries", T::kSwitch, "0", N::kOffWhenPresent, false, true, H::kListed, true},
      {"complexcolumns", T::kChoice, kComplexColumnsText, N::kChoiceSpelling, false, true,
       H::kListed, true},
      {"transfervalidation", T::kSwitch, "0", N::kOffWhenPresent, false, true, H::kListed, true},
      {"followlinks", T::kSwitch, "0", N::kOffWhenPresent, false, true, H::kListed, true},
      {"identifiercase", T::kChoice, "KEEP", N::kChoiceSpelling, false, true, H::kUnlessDefault,
       true},
      // Not saved by the window; Brighthouse is refused while indexes are asked for.
      {"storageengine", T::kText, "", N::kNone, false, true, H::kListed, true},
      // Empty: the machine's cores, at most kDefaultJobsAtMost. A dump has one writer.
      {"jobs", T::kText, "", N::kNone, false, true, H::kLeftOut, true},
  };
  return rows;
}

const SettingRow* FindSetting(const std::string& key) {
  for (const SettingRow& row : SettingsTable())
    if (key == row.key) return &row;
  return nullptr;
}

const char* ChoiceSpelling(const SettingRow& row, const std::string& value) {
  const std::string key = row.key;
  if (key == "identifiercase") {
    const auto rule = IdentifierCaseOf(value);
    return rule ? IdentifierCaseText(*rule) : nullptr;
  }
  if (value.empty()) return row.default_value;
  std::vector<const char*> choices;
  if (key == "dumpformat") choices = {kDumpFormatInsert, kDumpFormatCopy};
  if (key == "complexcolumns") choices = {kComplexColumnsText, kComplexColumnsTables};
  for (const char* choice : choices)
    if (EqualsIgnoreCase(value, choice)) return choice;
  return nullptr;
}

bool ReadsAsDefault(const SettingRow& row, const std::string& value) {
  const char* spelling = ChoiceSpelling(row, value);
  return spelling && std::string(spelling) == row.default_value;
}

std::optional<bool> SwitchOf(const Value& value) {
  if (value.IsEmpty()) return false;
  if (value.IsNull()) return std::nullopt;
  if (value.IsText()) {
    try {
      return DirectBool(value.Text());
    } catch (const Error&) {
      return std::nullopt;
    }
  }
  if (!value.IsNumeric()) return std::nullopt;
  return value.AsDouble() != 0;
}

std::optional<int> JobsOf(const std::string& text) {
  if (text.empty() || text.size() > 2 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const int jobs = std::stoi(text);
  if (jobs < 1 || jobs > kJobsAtMost) return std::nullopt;
  return jobs;
}

int DefaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp<unsigned>(cores, 1, kDefaultJobsAtMost));
}

RunSettings ReadRunSettings(const Dictionary& section) {
  auto strict_text = [&](const char* key) {
    const Value& v = section.Item(key);
    if (v.IsNull()) throw Error(errc::kInvalidNull, "Invalid use of Null");
    return ConvertToText(v);
  };
  auto text = [&](const char* key) { return SafeStr(section.Item(key)); };
  auto on = [&](const char* key) {
    // A strict switch that does not read is refused by SettingsProblem before the run uses it.
    return FindSetting(key)->strict ? SwitchOf(section.Item(key)).value_or(false)
                                    : SafeBool(section.Item(key));
  };
  RunSettings s;
  s.direct = EqualsIgnoreCase(strict_text("destinationmethod"), "DIRECT");
  s.database = strict_text("destinationdatabase");
  strict_text("unicode");
  if (!s.direct) s.dump_path = strict_text("destinationdumpfilename");
  s.maintenance_db = text("maintenancedb");
  s.source_file = text("sourcefilename");
  s.source_system_database = text("sourcesystemdatabase");
  s.source_user = text("sourceusername");
  s.source_password = text("sourcepassword");
  s.selection = SelectionOf(section.Item("sourcetables"));
  s.table_prefix = text("tableprefix");
  s.identifier_case = IdentifierCaseOf(text("identifiercase")).value_or(IdentifierCase::kKeep);
  s.copy_blocks = EqualsIgnoreCase(text("dumpformat"), kDumpFormatCopy);
  s.complex_tables = EqualsIgnoreCase(text("complexcolumns"), kComplexColumnsTables);
  s.storage_engine = AsciiLower(text("storageengine"));
  s.drop_database = on("dropdatabase");
  s.create_tables = on("createtables");
  s.transfer_records = on("transferrecords");
  s.transfer_indexes = on("transferindexes");
  s.transfer_autonumbers = on("transferautonumbers");
  s.transfer_default_values = on("transferdefaultvalues");
  s.column_list = on("columnlist");
  s.ignore_large_blobs = on("ignorelargeblobs");
  s.commit_after_table = strict_text("autocommit") != "1";
  // Off when a settings file does not name them, so that older files give what they gave.
  s.transfer_relationships = on("transferrelationships");
  s.transfer_descriptions = on("transferdescriptions");
  s.transfer_queries = on("transferqueries");
  s.transfer_validation = on("transfervalidation");
  s.follow_links = on("followlinks");
  s.jobs = JobsOf(text("jobs")).value_or(DefaultJobs());
  return s;
}

std::string SettingsProblem(const DictionaryPtr& section) {
  if (!section) return "";
  auto text = [&](const char* key) { return SafeStr(section->Item(key)); };
  auto problem = [&](const char* key, const std::string& expected) {
    return std::string("The setting ") + key + "=" + text(key) + " is not valid: " + expected;
  };
  const std::string method = text("destinationmethod");
  const bool direct = EqualsIgnoreCase(method, "DIRECT");
  if (!direct && !EqualsIgnoreCase(method, "DUMP"))
    return problem("destinationmethod", "use DIRECT or DUMP.");
  if (Trim(text("destinationdatabase")).empty())
    return problem("destinationdatabase", "name the database to create or fill.");
  // The server takes names in UTF-8 only, and a dump holding other bytes does not load.
  if (!IsValidUtf8(text("destinationdatabase")))
    return std::string(
        "The setting destinationdatabase is not valid: the name is not UTF-8 "
        "text; name the database in UTF-8.");
  if (!direct && Trim(text("destinationdumpfilename")).empty())
    return problem("destinationdumpfilename", "name the dump file to write.");
  const std::string port = text("destinationport");
  if (const std::string jobs = text("jobs"); !jobs.empty() && !JobsOf(jobs))
    return problem("jobs", "give a whole number from 1 to " + std::to_string(kJobsAtMost) + ".");
  if (direct && !port.empty() && !IsPortList(port))
    return problem("destinationport", "use a port number from 1 to 65535.");
  const std::string sslmode = text("destinationsslmode");
  if (direct && !sslmode.empty() &&
      std::none_of(std::begin(kSslModes), std::end(kSslModes),
                   [&](const char* mode) { return EqualsIgnoreCase(sslmode, mode); }))
    return problem("destinationsslmode",
                   "use disable, allow, prefer, require, verify-ca or verify-full.");
  if (direct) {
    if (std::string why = ParametersProblem(text("destinationparameters")); !why.empty())
      return why;
  }
  const std::string format = text("dumpformat");
  if (!format.empty() && !EqualsIgnoreCase(format, kDumpFormatInsert) &&
      !EqualsIgnoreCase(format, kDumpFormatCopy))
    return problem("dumpformat", "use INSERT or COPY.");
  const std::string complex = text("complexcolumns");
  if (!complex.empty() && !EqualsIgnoreCase(complex, kComplexColumnsText) &&
      !EqualsIgnoreCase(complex, kComplexColumnsTables))
    return problem("complexcolumns", "use TEXT or TABLES.");
  if (!IdentifierCaseOf(text("identifiercase")))
    return problem("identifiercase", "use KEEP, LOWER or SNAKE.");
  for (const SettingRow& row : SettingsTable())
    if (row.strict && row.type == SettingType::kSwitch && !SwitchOf(section->Item(row.key)))
      return problem(row.key, "use 0 or 1.");
  // That engine leaves out every primary key, unique constraint and index.
  if (AsciiLower(text("storageengine")) == "brighthouse" &&
      SwitchOf(section->Item("transferindexes")).value_or(false))
    return problem("storageengine",
                   "it leaves out every key and index, and transferindexes asks for them; "
                   "leave storageengine out (it means nothing to PostgreSQL) or set "
                   "transferindexes=0.");
  return "";
}

bool IsPortList(const std::string& text) {
  // libpq takes one port per host of a list.
  for (const std::string& one : Split(text, ",")) {
    bool digits = !one.empty() && one.size() <= 5;
    for (char c : one) digits = digits && c >= '0' && c <= '9';
    if (!digits || std::stoi(one) < 1 || std::stoi(one) > 65535) return false;
  }
  return true;
}

}  // namespace ferrolyte
