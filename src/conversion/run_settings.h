// What the conversion run reads from a settings dictionary: the section it looks in, the
// forms of a dump, and what makes settings unusable for a run.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "conversion/destination_names.h"
#include "support/value.h"

namespace ferrolyte {

// The one section of a settings dictionary; a dictionary without it holds no settings.
inline constexpr char kSettingsSection[] = "Velkan Ferrolyte";
// The values of dumpformat: how a dump file holds the rows.
inline constexpr char kDumpFormatInsert[] = "INSERT";  // one INSERT statement per row
inline constexpr char kDumpFormatCopy[] = "COPY";      // a COPY ... FROM stdin block per table
// The values of complexcolumns: how attachment and multi-value columns arrive.
inline constexpr char kComplexColumnsText[] = "TEXT";      // as text in the table's column
inline constexpr char kComplexColumnsTables[] = "TABLES";  // as child tables of their own

// The values of destinationsslmode, as libpq names them.
inline constexpr const char* kSslModes[] = {"disable", "allow",     "prefer",
                                            "require", "verify-ca", "verify-full"};

// How a key's value reads.
enum class SettingType {
  kText,    // any text
  kSwitch,  // 0 or 1 (also True/False, any number)
  kChoice,  // one of a few words, in any letter case
  kList,    // sourcetables: a list of entries
};

// What loading a settings file makes of a key's value.
enum class Normalisation {
  kNone,            // kept as written
  kOffUnlessOne,    // "1" stays, anything else becomes "0"
  kOnUnlessZero,    // "0" stays, anything else becomes "1"
  kOffWhenEmpty,    // empty or "0" becomes "0", anything else "1"
  kOffWhenPresent,  // as kOffWhenEmpty, only when the file names the key
  kFixed,           // always the default: nothing reads it
  kChoiceSpelling,  // when present, a known choice in its spelling (empty: the default)
};

// Whether a dump's header lists the key (a password as hidden). Keys outside the table are
// listed.
enum class HeaderLine {
  kListed,
  kLeftOut,        // the destination's connection and the selection
  kUnlessDefault,  // a header written before the key existed stays as it was
};

// One key the run, the window or --set knows.
struct SettingRow {
  const char* key;
  SettingType type;
  const char* default_value;  // what the window and a normalised file hold without a choice
  Normalisation normalisation;
  bool strict;    // a value of the wrong kind refuses the run rather than reading as off
  bool settable;  // --set may change it
  HeaderLine header;
  bool has_effect;  // a PostgreSQL run reads it
};

// Every key, in the order the window saves them, then storageengine.
const std::vector<SettingRow>& SettingsTable();
// The row of that key (lower case), or null.
const SettingRow* FindSetting(const std::string& key);

// The spelling of the choice a value of dumpformat, complexcolumns or identifiercase names
// (in any letter case; empty names the default), or null.
const char* ChoiceSpelling(const SettingRow& row, const std::string& value);
// True when the value of such a choice names its default.
bool ReadsAsDefault(const SettingRow& row, const std::string& value);

// A switch's value: nothing for one that does not read as a number or True/False.
std::optional<bool> SwitchOf(const Value& value);

// The settings of a run, read once from its settings section. Text settings that the run
// reads strictly raise 94 for Null; a sourcetables that is no list raises 13.
struct RunSettings {
  bool direct = false;  // destinationmethod DIRECT, in any letter case
  std::string database, dump_path, maintenance_db;
  std::string source_file, source_system_database, source_user, source_password;
  std::vector<std::string> selection;  // sourcetables, empty entries left out
  std::string table_prefix;
  IdentifierCase identifier_case = IdentifierCase::kKeep;
  bool copy_blocks = false;     // dumpformat COPY
  bool complex_tables = false;  // complexcolumns TABLES
  std::string storage_engine;   // lower case
  bool drop_database = false, create_tables = false, transfer_records = false;
  bool transfer_indexes = false, transfer_autonumbers = false, transfer_default_values = false;
  bool column_list = false, ignore_large_blobs = false, commit_after_table = true;
  bool transfer_relationships = false, transfer_descriptions = false;
  bool transfer_queries = false, transfer_validation = false, follow_links = false;
  // Tables whose rows move at once on a direct run; 1 moves them one after another.
  int jobs = 1;
};
RunSettings ReadRunSettings(const Dictionary& section);

// Each job holds two server sessions and a source handle of its own.
inline constexpr int kJobsAtMost = 16;
inline constexpr unsigned kDefaultJobsAtMost = 4;
// The jobs a setting's text asks for (decimal digits, 1 to kJobsAtMost); none otherwise.
std::optional<int> JobsOf(const std::string& text);
// The machine's cores, at most kDefaultJobsAtMost.
int DefaultJobs();

// What makes the settings of a section unusable for a run, naming the key and the value:
// a destination method other than DIRECT or DUMP (in any letter case), an empty database
// name or one that is not UTF-8, an empty dump file name, a port that is no number (one per
// host of a list), a dump format other than INSERT or COPY (in any letter case), a
// complexcolumns other than TEXT or TABLES, an identifiercase other than KEEP, LOWER or SNAKE
// (in any letter case); for a direct run an SSL mode libpq does not know
// (in any letter case), and destinationparameters that libpq cannot read, that give a
// parameter with a key of its own or client_encoding, or too many (named without the value,
// which may hold a password). Empty when there is nothing.
std::string SettingsProblem(const DictionaryPtr& section);

// True for a TCP port (decimal digits only, from 1 to 65535) or a comma-separated list of
// them, one per host as libpq takes them.
bool IsPortList(const std::string& text);

}  // namespace ferrolyte
