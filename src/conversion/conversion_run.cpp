#include "conversion/conversion_run.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "conversion/checks.h"
#include "conversion/complex_tables.h"
#include "conversion/destination.h"
#include "conversion/destination_names.h"
#include "conversion/dump_file.h"
#include "conversion/keys_and_comments.h"
#include "conversion/linked_tables.h"
#include "conversion/literals.h"
#include "conversion/record_transfer.h"
#include "conversion/server_cancel.h"
#include "conversion/table_definition.h"
#include "conversion/table_lanes.h"
#include "conversion/views.h"
#include "platform/source_connection.h"
#include "schema/access_scanner.h"
#include "schema/schema_model.h"
#include "support/connection_string.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/product.h"
#include "support/safe.h"
#include "support/text.h"
#include "support/version.h"

namespace ferrolyte {
namespace {

constexpr char kCrLf[] = "\r\n";
constexpr char kClientEncoding[] = "SET client_encoding = 'UTF8';";
constexpr char kNoUserTables[] = "The source database holds no user tables: 0 tables to move";
constexpr char kShortenedBecause[] = "' (PostgreSQL keeps 63 bytes of a name; the full name is '";
constexpr char kTakenOnceFolded[] =
    " is, once names are folded (identifiercase), the name of another ";

std::string SettingsListing(const Value& item) {
  if (!item.IsList()) return SafeStr(item);
  std::string joined;
  for (const Value& v : item.List()) {
    if (!joined.empty() || &v != &item.List().front()) joined += ", ";
    joined += SafeStr(v);
  }
  return joined;
}

// Names and settings go into comment lines: a line break in one would end the comment and
// make the rest of the name a statement of the dump.
void WriteDumpHeader(Destination& dump, const Dictionary& section, const std::string& version) {
  dump.WriteDumpText("--");
  dump.WriteDumpText("-- DUMP FILE");
  dump.WriteDumpText("--");
  dump.WriteDumpText("-- Database is ported from MS Access");
  dump.WriteDumpText("--" + std::string(66, '-'));
  dump.WriteDumpText(std::string("-- Created using \"") + kProductTitle + "\" form " +
                     kMakerWebAddress);
  dump.WriteDumpText("-- Program Version " + OneLine(version));
  dump.WriteDumpText("--");
  dump.WriteDumpText("-- OPTIONS:");
  for (const std::string& key : section.Keys()) {
    std::string value = SettingsListing(section.Item(key));
    std::string lower = AsciiLower(key);
    if (const SettingRow* row = FindSetting(lower)) {
      if (row->header == HeaderLine::kLeftOut) continue;
      if (row->header == HeaderLine::kUnlessDefault && ReadsAsDefault(*row, value)) continue;
    }
    if (lower == "sourcepassword" && !value.empty()) value = "** HIDDEN **";
    if (lower == "sourcefilename") value = ReplaceAll(value, "\\", "/");
    dump.WriteDumpText(OneLine("--   " + key + "=" + value));
  }
  dump.WriteDumpText("--");
  dump.WriteDumpText("");
}

std::string BuildOdbcString(const PgParameters& where) {
  return BuildDestinationConnectionString(where);
}

std::string ErrorText(const Error& e) {
  return OneLine("Error " + std::to_string(e.number()) + ": " + e.description());
}

// While rows go over the row session the statement session waits, and while an index is
// built the row session waits: neither may be ended for idling, from the moment it is
// open. Servers before 14 have no such timeout.
template <class Session>
void KeepFromIdling(Session& session) {
  try {
    session.Execute("SET idle_session_timeout = 0");
  } catch (const Error&) {
  }
}

// A primary key, unique constraint or index of the table itself (not a relationship's).
bool HasOwnIndex(const SchemaTable& table) {
  return std::any_of(table.indexes.begin(), table.indexes.end(),
                     [](const SchemaIndex& index) { return !index.foreign; });
}

// An entry "table\column..." whose table part is one of the names.
bool IsColumnEntry(const std::string& entry, const std::unordered_set<std::string>& names) {
  for (size_t at = entry.find('\\'); at != std::string::npos; at = entry.find('\\', at + 1))
    if (names.count(entry.substr(0, at))) return true;
  return false;
}

// An entry "table\column..." of that very table.
bool StartsTable(const std::string& entry, const std::string& table) {
  return entry.size() > table.size() && entry[table.size()] == '\\' &&
         entry.compare(0, table.size(), table) == 0;
}

// One selected table of the schema description.
struct SelectedTable {
  const SchemaTable* table = nullptr;
  size_t outcome = 0;           // its entry in the run's outcome
  std::string selected_as;      // the entry that selected it, when its letter case differs
  bool columns_listed = false;  // the selection names some of its columns
  // Complex columns that become child tables, each with its entry in the outcome.
  std::vector<std::pair<const SchemaField*, size_t>> children;
  // Complex columns that stay text although child tables were asked for: the table has no
  // primary key to hold them against.
  std::vector<std::string> complex_as_text;
  // A table linked from a back-end: read there, under its name there.
  Connection* source = nullptr;
  std::string read_as;
};

// A back-end of linked tables, opened once for all its links.
struct BackEndSource {
  std::shared_ptr<Connection> connection;
  SchemaModel schema;
};

// The sessions and source handle a table's rows move on beside other tables' (a libmdb
// handle stays on one thread).
struct RowLane {
  std::shared_ptr<Connection> source;
  std::shared_ptr<Connection> server;
  std::unique_ptr<PgConnection> rows;
  std::unique_ptr<ServerDestination> destination;  // last: refers to the sessions
};

// A table whose rows move beside others', held until the tables before it are done.
struct TableInFlight {
  HeldStatus status;
  std::string report;
  TableDefinition def;
  SourceRows rows;
  bool creation_failed = false;
  bool moving = false;  // its rows went to a lane
  size_t lane = 0;
  // Defining and creating it, which a table created ahead of its lane waits with.
  std::chrono::steady_clock::duration defining{};
  int32_t moved = 0;
  std::optional<int64_t> expected;
  std::chrono::steady_clock::time_point started, rows_ended;
  TableOutcome before;  // restored when the run ends before this table would have begun
};

class Run {
 public:
  Run(const DictionaryPtr& settings, std::string& report, const SchemaModel& schema,
      const RunContext& ctx, const ConnectionOpener& open,
      const DestinationStringBuilder& destination_string, const RowSessionOpener& open_rows)
      : run_report_(report),
        report_(report),
        given_schema_(schema),
        ctx_(ctx),
        status_(ctx.status),
        open_(open),
        destination_string_(destination_string),
        open_rows_(open_rows),
        progress_(ctx.clock) {
    DictionaryPtr section = settings ? settings->Section(kSettingsSection) : nullptr;
    section_ = section ? section : Dictionary::Create();
  }

  RunOutcome Execute();

 private:
  // The loop that moves the rows of several tables at once, with its state.
  class TablesAtOnce {
   public:
    TablesAtOnce(Run& run, std::vector<RowLane>& lanes);
    ~TablesAtOnce();
    TablesAtOnce(const TablesAtOnce&) = delete;
    TablesAtOnce& operator=(const TablesAtOnce&) = delete;
    // Every table, in the source order; false when one ended the run.
    bool Loop();

   private:
    // Sends the run's report text and status lines to the table's held ones.
    void RouteTo(TableInFlight& flight);
    // Sends them to the run's own again.
    void Unroute();
    // Counts the head table's rows in the progress from now on, with those after it.
    void BeginHead();
    // Shows the rows moved so far, released tables' and moving ones'.
    void ShowRows();
    // Defines and creates table i, so that its rows can go to the next free lane.
    void Define(size_t i);
    // A table may be created before a lane is free for it: one the run does not replace, which
    // a stop before its rows would have left as it was.
    bool MayCreateAhead(size_t i) const;
    // Sends table i's rows to the lane, unless its creation failed.
    void Start(size_t i, size_t lane);
    // Runs table i's record transfer on the lane's thread.
    void StartRows(size_t i, size_t lane, TableOutcome& outcome);
    // Ends table i once its rows moved, and passes on its held text; false when the run ends.
    bool Release(size_t i);
    // False once the lane's sessions are lost, as DestinationUsable is for the run's own.
    bool LaneUsable(size_t lane);
    // Stops the lanes and releases the tables after the head that moved rows; those that did
    // not are left as not begun, and one created ahead is dropped again. False.
    bool Abandon();

    Run& run_;
    std::vector<RowLane>& lanes_;
    const size_t count_;
    std::vector<TableInFlight> flights_;  // before jobs_, whose jobs refer to them
    std::vector<int64_t> planned_;        // each table's expected rows
    int64_t total_ = 0;
    JobLanes jobs_;
    size_t defined_ = 0;  // the next table to define
    size_t next_ = 0;     // the next table to start, defined_ at most
    size_t head_ = 0;     // the first table not yet released
    int64_t released_rows_ = 0;
    int64_t counted_ = 0;  // rows the progress counted for tables before the head
    int64_t told_ = 0;     // rows shown since the head began
  };

  // The run's identifiercase as a rule for names of views and their columns; none for KEEP.
  NameRule FoldRule() const {
    if (names_ == IdentifierCase::kKeep) return {};
    return [rule = names_](const std::string& name) { return FoldIdentifier(name, rule); };
  }

  // Stages of the run, in order.
  void SelectTables();
  // The selection's table and column entries; its queries go to selected_queries_.
  std::vector<std::string> SplitSelection();
  // An entry of a link the run handled, or of its columns.
  bool IsLinkEntry(const std::string& entry) const;
  // Selects the tables entries name in another letter case, and records entries naming no
  // table as missing; the tables so selected, each with its entry.
  std::unordered_map<std::string, std::string> MatchEntries(
      const std::vector<std::string>& entries,
      const std::vector<std::pair<const SchemaTable*, std::string>>& tables,
      const std::unordered_set<std::string>& names);
  // Adds the selected table to the outcome and to the tables the loop works on.
  void PlanSelected(const SchemaTable* schema_table, const std::string& name,
                    const std::unordered_map<std::string, std::string>& matched);
  // Makes the destination names of the outcome's tables distinct.
  void GiveDistinctNames();
  // Adds links that failed and missing entries to the outcome, failed.
  void AddUnselectable();
  bool CheckSourceTables();
  void ReadStoredRowCounts();
  bool OpenDumpFile();
  bool OpenServer();
  bool Body();
  void WriteDumpPreamble(bool drop);
  void ReadTableSettings();
  bool LoopTables();
  bool LoopTablesInTurn();
  bool MovesTablesAtOnce() const;
  std::vector<RowLane> OpenRowLanes();
  bool LoopTablesAtOnce();
  bool TableWork(SelectedTable& table);
  bool DefineTable(SelectedTable& table, TableDefinition& def, SourceRows& rows);
  void AnnounceTable(const SelectedTable& table, TableOutcome& outcome);
  void ListSourceColumns(const SchemaTable& defined_table, bool every_column,
                         const std::string& source_table, TableDefinition& def, SourceRows& rows);
  void NoteColumnNames(const TableDefinition& def, TableOutcome& outcome);
  void DefineIndexes(const SelectedTable& table, const SchemaTable& defined_table,
                     TableDefinition& def, TableOutcome& outcome);
  void RememberDefined(const TableOutcome& outcome, const TableDefinition& def, bool created);
  bool EndTable(SelectedTable& table, const TableDefinition& def, bool creation_failed);
  void AfterTables();
  bool AddChecks();
  bool AddForeignKeys();
  bool AddForeignKey(const ForeignKey& key, bool& section);
  bool AddChildKeys();
  bool AddComments();
  void PlanViews();
  void DropViews();
  void CreateQueryViews();
  RunOutcome Finish();

  void MoveTableRecords(TableOutcome& outcome, const TableDefinition& def, const SourceRows& rows,
                        bool creation_failed);
  RecordTransfer TransferOf(const TableOutcome& outcome, const TableDefinition& def,
                            const SourceRows& rows);
  void AfterRecords(TableOutcome& outcome, const TableDefinition& def, bool creation_failed);
  void PlanChildren(SelectedTable& table);
  void ResolveLinks(const std::vector<std::string>& entries,
                    std::vector<std::pair<const SchemaTable*, std::string>>& tables,
                    std::unordered_set<std::string>& names);
  BackEndSource& OpenBackEnd(const std::string& path, const std::string& password);
  bool CreateDestinationTable(TableOutcome& outcome, const std::string& create_text);
  void ChildWork(const SelectedTable& table, const TableDefinition& owner, size_t child);
  bool TableStep(TableOutcome& outcome, const std::string& statement, const std::string& what);
  void CheckDestinationCount(TableOutcome& outcome);
  bool PrepareDatabase(bool drop);
  // The parameters of every session to that database, with the SSL mode libpq settled on.
  PgParameters SessionParameters(const std::string& database) const;
  std::string DatabaseConnectionString() const;
  std::shared_ptr<Connection> OpenDatabase();
  void WatchStatements(Connection& connection);
  Value QueryFirst(Connection& connection, const std::string& query);
  std::vector<std::vector<Value>> QueryRows(Connection& connection, const std::string& query);
  std::string DestinationNameArray() const;
  void ReadExistingTables(Connection& database, bool whole_database);
  std::string ExistingTablesText() const;
  std::optional<int64_t> ExistingRows(const std::string& table) const;
  std::string ProtectedDatabase();
  bool Refuse(const std::string& reason);
  void SeedSchemaNames();
  bool DestinationUsable();
  bool SendAfterTables(const std::string& statement, const std::string& what, bool& accepted);
  void DumpSection(const std::string& title);
  // The table as the run created it; null when it did not.
  const DefinedTable* Created(const SelectedTable& table) const;
  // Opens a section of the report with its status line and dump heading, once.
  void BeginSection(bool& begun, const char* report_title, const char* status,
                    const char* dump_title);
  void Note(TableOutcome& outcome, const std::string& note);
  RunOutcome ConnectionError(const std::string& connection_string, const Error& e);
  void AppendErrorBlock(int32_t number, const std::string& description);
  RunOutcome Fail(int32_t number, const std::string& description);
  void DumpLost(const std::string& reason);

  std::string& run_report_;
  // The run's report, or while a table's rows move beside others, that table's held text.
  ReportRoute report_;
  const SchemaModel& given_schema_;
  const RunContext& ctx_;
  StatusRoute status_;  // as report_
  const ConnectionOpener& open_;
  const DestinationStringBuilder& destination_string_;
  const RowSessionOpener& open_rows_;
  DictionaryPtr section_;  // for the dump header and the destination's connection
  RunSettings settings_;   // read once, when the run starts

  std::string step_;
  bool direct_ = false;
  std::string database_;
  std::string sslmode_;  // the one libpq settled on, for every session of the run
  std::string dump_path_;
  std::shared_ptr<Connection> source_;
  std::shared_ptr<Connection> server_;
  std::unique_ptr<DumpFile> dump_;
  // The rows of a direct run, when they go with COPY (declared before the destination that
  // refers to it, so that it outlives it).
  std::unique_ptr<PgConnection> rows_session_;
  std::unique_ptr<Destination> destination_;
  ServerDestination* server_destination_ = nullptr;  // destination_ of a direct run
  // Watches the sessions above, so it goes first.
  std::unique_ptr<ServerCancel> server_cancel_;

  SchemaModel schema_;
  std::vector<SelectedTable> selected_;
  DefinedTables defined_;  // the tables the loop defined, by source name
  // Tables of the destination the run replaces (with dropdatabase: every table of the
  // database, "schema.name" outside public) and the rows each held before.
  std::vector<std::pair<std::string, int64_t>> existing_;
  // Names taken in the destination schema, which the run's index names must avoid.
  std::unordered_set<std::string> schema_names_;
  std::vector<std::string> missing_;  // selected names the source does not hold
  std::vector<std::string> selected_queries_;
  std::vector<QueryModel> view_order_;
  std::vector<std::string> view_names_;
  bool transfer_queries_ = false;
  bool complex_tables_ = false;
  bool transfer_validation_ = false;
  // Foreign keys from child tables to their owners, sent with the relationships.
  std::vector<std::pair<std::string, std::string>> child_keys_;  // (child, statement)
  int64_t child_bytes_ = 0;
  // Linked tables: their back-ends by path and password, their definitions, where each is read.
  std::map<std::string, BackEndSource> back_ends_;
  std::deque<SchemaTable> linked_tables_;
  std::map<std::string, std::pair<Connection*, std::string>> link_sources_;
  std::unordered_set<std::string> link_entries_;  // lower-case link names the run handled
  std::vector<std::pair<std::string, std::string>> failed_links_;  // (name, why)
  std::vector<std::string> link_notes_;
  Connection* current_source_ = nullptr;
  std::unordered_map<std::string, int64_t> stored_rows_;  // by source table name
  RunOutcome outcome_;
  TableOutcome* current_ = nullptr;  // the table being worked on
  RunProgress progress_;
  bool stopped_ = false;
  // Tells the tables moving at once to stop before their next row.
  CancelToken lanes_stop_{false};

  DefinitionOptions options_;
  std::string table_prefix_;
  IdentifierCase names_ = IdentifierCase::kKeep;  // how every destination name is spelt
  bool ignore_large_blobs_ = false;
  bool column_list_ = true;
  bool create_tables_ = true;
  bool transfer_records_ = true;
  bool commit_after_table_ = false;
  bool transfer_relationships_ = false;
  bool transfer_descriptions_ = false;
  std::string source_file_name_;
};

RunOutcome Run::Execute() {
  step_ = "Start";
  status_.AddStatusLine("Moving data to destination");
  settings_ = ReadRunSettings(*section_);
  direct_ = settings_.direct;
  database_ = settings_.database;
  dump_path_ = settings_.dump_path;

  report_ += "SETTINGS\r\n--------\r\n";
  report_ += direct_ ? "Moving data directly to PostgreSQL server\r\n"
                     : "Moving data to " + dump_path_ + kCrLf;
  report_ += "\r\nTABLES\r\n------------\r\n";

  // Settings that cannot mean what they say would otherwise write a dump nobody asked for.
  if (const std::string problem = SettingsProblem(section_); !problem.empty()) {
    status_.AddStatusLine("  " + problem);
    report_ += problem + kCrLf;
    outcome_.result = RunResult::kFailed;
    outcome_.reason = problem;
    return Finish();
  }

  step_ = "Open connection to source database";
  source_ =
      open_(BuildSourceConnectionString(settings_.source_file, settings_.source_system_database,
                                        settings_.source_user, settings_.source_password));

  // Nothing at the destination is dropped or created until every selected table is known
  // to be in the source and readable there.
  step_ = "Check source tables";
  SelectTables();
  if (schema_.tables.empty() && selected_.empty() && missing_.empty()) {
    report_ += std::string(kNoUserTables) + kCrLf;
    status_.AddStatusLine(std::string("  ") + kNoUserTables);
  }
  if (!CheckSourceTables()) return Finish();
  if (ctx_.Cancelled()) {
    stopped_ = true;
    return Finish();
  }

  if (!(direct_ ? OpenServer() : OpenDumpFile())) return outcome_;
  try {
    if (!Body()) return outcome_;
  } catch (const Error& e) {
    return Fail(e.number(), e.description());
  } catch (const std::exception& e) {
    return Fail(kAdoGenericError, e.what());
  }
  return Finish();
}

// Resolves the selection against the tables of the schema description: an entry names a
// table exactly, or, when none has that name, without regard to letter case, as Access
// compares names.
void Run::SelectTables() {
  schema_ = given_schema_;
  const std::vector<std::string> entries = SplitSelection();
  std::vector<std::pair<const SchemaTable*, std::string>> tables;
  std::unordered_set<std::string> names;
  for (const SchemaTable& table : schema_.tables) {
    tables.emplace_back(&table, table.name.value());
    names.insert(tables.back().second);
  }
  ResolveLinks(entries, tables, names);
  const std::unordered_map<std::string, std::string> matched = MatchEntries(entries, tables, names);
  table_prefix_ = settings_.table_prefix;
  names_ = settings_.identifier_case;
  options_.identifier_case = names_;
  for (const auto& [schema_table, name] : tables)
    if (options_.selection.count(name)) PlanSelected(schema_table, name, matched);
  GiveDistinctNames();
  AddUnselectable();
}

std::vector<std::string> Run::SplitSelection() {
  std::vector<std::string> entries;
  for (const std::string& entry : settings_.selection) {
    if (auto query = QueryOfEntry(entry))
      selected_queries_.push_back(*query);
    else
      entries.push_back(entry);
  }
  options_.selection.insert(entries.begin(), entries.end());
  return entries;
}

bool Run::IsLinkEntry(const std::string& entry) const {
  const std::string lower = AsciiLower(entry);
  for (const std::string& link : link_entries_)
    if (lower == link || lower.starts_with(link + "\\")) return true;
  return false;
}

std::unordered_map<std::string, std::string> Run::MatchEntries(
    const std::vector<std::string>& entries,
    const std::vector<std::pair<const SchemaTable*, std::string>>& tables,
    const std::unordered_set<std::string>& names) {
  std::unordered_map<std::string, std::string> matched;
  for (const std::string& entry : entries) {
    if (names.count(entry) || IsColumnEntry(entry, names) || IsLinkEntry(entry)) continue;
    auto found = std::find_if(tables.begin(), tables.end(),
                              [&](const auto& t) { return EqualsIgnoreCase(t.second, entry); });
    if (found == tables.end()) {
      // Column entries select nothing by themselves; only a table entry can be missing.
      if (entry.find('\\') == std::string::npos) missing_.push_back(entry);
      continue;
    }
    const std::string& name = found->second;
    if (options_.selection.count(name) || matched.count(name)) continue;
    matched[name] = entry;
    options_.selection.insert(name);
    for (const std::string& e : entries)
      if (StartsTable(e, entry)) options_.selection.insert(name + e.substr(entry.size()));
  }
  return matched;
}

void Run::PlanSelected(const SchemaTable* schema_table, const std::string& name,
                       const std::unordered_map<std::string, std::string>& matched) {
  TableOutcome t;
  t.source_name = name;
  t.destination_name = table_prefix_ + name;
  outcome_.tables.push_back(std::move(t));
  SelectedTable s;
  s.table = schema_table;
  s.outcome = outcome_.tables.size() - 1;
  if (auto m = matched.find(name); m != matched.end()) s.selected_as = m->second;
  for (const std::string& e : options_.selection) s.columns_listed |= StartsTable(e, name);
  if (auto link = link_sources_.find(name); link != link_sources_.end()) {
    s.source = link->second.first;
    s.read_as = link->second.second;
  }
  PlanChildren(s);
  selected_.push_back(s);
}

void Run::GiveDistinctNames() {
  std::vector<std::string> wanted;
  for (const TableOutcome& t : outcome_.tables) wanted.push_back(t.destination_name);
  std::unordered_set<std::string> taken;
  const std::vector<std::string> given = DistinctNames(wanted, names_, taken);
  for (size_t i = 0; i < given.size(); ++i) outcome_.tables[i].destination_name = given[i];
}

void Run::AddUnselectable() {
  auto add_failed = [&](const std::string& name, const std::string& why) {
    TableOutcome failed;
    failed.source_name = name;
    failed.destination_name = FoldIdentifier(table_prefix_ + name, names_);
    failed.result = TableResult::kFailed;
    failed.reason = why;
    outcome_.tables.push_back(std::move(failed));
  };
  for (const auto& [name, why] : failed_links_) add_failed(name, why);
  for (const std::string& name : missing_) add_failed(name, "not in the source database");
}

BackEndSource& Run::OpenBackEnd(const std::string& path, const std::string& password) {
  // Keyed by the password too: a link that holds none must not open what another link opened.
  const std::string key = path + '\0' + password;
  auto found = back_ends_.find(key);
  if (found != back_ends_.end()) return found->second;
  RunContext quiet = ctx_;
  quiet.temp_folder.clear();  // the source's own schema file stays as it is
  BackEndSource back_end;
  back_end.schema = ScanAccessDatabase(path, password, "", "", quiet);
  back_end.connection = open_(BuildSourceConnectionString(path, "", "", password));
  return back_ends_.emplace(key, std::move(back_end)).first->second;
}

// A selected link to an Access back-end is read from there when followlinks is on: found at
// its stored path or beside the source, it takes the back-end's definition under its own name.
void Run::ResolveLinks(const std::vector<std::string>& entries,
                       std::vector<std::pair<const SchemaTable*, std::string>>& tables,
                       std::unordered_set<std::string>& names) {
  const bool follow = settings_.follow_links;
  auto fail = [&](const std::string& name, const std::string& why) {
    failed_links_.push_back({name, why});
    link_notes_.push_back("Linked table '" + name + "' not converted: " + why);
  };
  for (const SchemaLink& link : schema_.links) {
    const std::string lower = AsciiLower(link.name);
    bool named = false, fields_named = false;
    for (const std::string& e : entries) {
      const std::string l = AsciiLower(e);
      named = named || l == lower;
      fields_named = fields_named || l.starts_with(lower + "\\");
    }
    if ((!named && !fields_named) || names.count(link.name)) continue;
    link_entries_.insert(lower);
    const std::string stored = LinkConnectPart(link.connect, "DATABASE");
    if (!follow) {
      link_notes_.push_back("Linked table '" + link.name + "' not converted: it is linked to '" +
                            stored + "' (set followlinks=1 to convert it from there)");
      continue;
    }
    const BackEnd where = FindBackEnd(link.connect, settings_.source_file);
    std::string looked;
    for (const std::string& place : where.looked_at)
      looked += (looked.empty() ? "'" : ", '") + place + "'";
    if (where.path.empty()) {
      fail(link.name, "its back-end is not there: looked for at " + looked);
      continue;
    }
    const std::string link_password = LinkConnectPart(link.connect, "PWD");
    try {
      BackEndSource& back_end = OpenBackEnd(
          where.path, link_password.empty() ? settings_.source_password : link_password);
      const SchemaTable* original = nullptr;
      for (const SchemaTable& t : back_end.schema.tables)
        if (EqualsIgnoreCase(t.name.value(), link.source_table)) original = &t;
      if (!original) {
        fail(link.name,
             "its back-end '" + where.path + "' has no table '" + link.source_table + "'");
        continue;
      }
      SchemaTable linked = *original;
      linked.name = link.name;
      linked_tables_.push_back(std::move(linked));
      tables.emplace_back(&linked_tables_.back(), link.name);
      names.insert(link.name);
      link_sources_[link.name] = {back_end.connection.get(), original->name.value()};
      link_notes_.push_back("Linked table '" + link.name + "' read from '" + where.path + "'");
      // The fields of a link were not known when it was selected: a link named alone brings all.
      if (!fields_named)
        for (const SchemaField& f : original->fields)
          options_.selection.insert(link.name + "\\" + f.name.value());
    } catch (const Error& e) {
      const bool password = e.kind() == ErrorKind::kPassword;
      fail(link.name, password
                          ? "its back-end '" + where.path +
                                "' is protected by a password that the link does not hold"
                          : "its back-end '" + where.path + "' cannot be read: " + ErrorText(e));
    }
  }
}

// Child tables follow their owner in the outcome, named <table>_<column>.
void Run::PlanChildren(SelectedTable& s) {
  complex_tables_ = settings_.complex_tables;
  if (!complex_tables_) return;
  const std::string owner = outcome_.tables[s.outcome].source_name;  // the outcome grows
  auto selected = [&](const SchemaField& f) {
    return !s.columns_listed || options_.IsColumnSelected(owner, f.name.value());
  };
  const std::vector<const SchemaField*> key = PrimaryKeyFields(*s.table);
  const bool key_selected =
      !key.empty() && std::all_of(key.begin(), key.end(), [&](auto* f) { return selected(*f); });
  for (const SchemaField& field : s.table->fields) {
    if (!field.type.has_value() || !IsComplexType(field.type.value()) || !selected(field)) continue;
    if (!key_selected) {
      s.complex_as_text.push_back(field.name.value());
      continue;
    }
    TableOutcome child;
    child.source_name = owner + "." + field.name.value();
    const std::string base =
        FoldIdentifier(table_prefix_ + owner + "_" + field.name.value(), names_);
    child.destination_name = base;
    auto clashes = [&](const std::string& name) {
      for (const SchemaTable& t : schema_.tables)
        if (EqualsIgnoreCase(FoldIdentifier(table_prefix_ + t.name.value(), names_), name))
          return true;
      for (const TableOutcome& t : outcome_.tables)
        if (EqualsIgnoreCase(FoldIdentifier(t.destination_name, names_), name)) return true;
      return false;
    };
    for (int n = 2; clashes(child.destination_name); ++n)
      child.destination_name = base + "_" + std::to_string(n);
    outcome_.tables.push_back(std::move(child));
    s.children.emplace_back(&field, outcome_.tables.size() - 1);
  }
}

bool Run::CheckSourceTables() {
  ReadStoredRowCounts();
  bool readable = missing_.empty();
  for (const std::string& name : missing_) {
    report_ += "Table: " + PrintableText(name) + "\r\n- Not in the source database\r\n";
    status_.AddStatusLine("Table: " + PrintableText(name));
    status_.AddStatusLine("  Not in the source database");
  }
  for (const SelectedTable& s : selected_) {
    TableOutcome& outcome = outcome_.tables[s.outcome];
    try {
      Connection* source = s.source ? s.source : source_.get();
      outcome.rows_expected =
          source->CountRows(TableRows(s.read_as.empty() ? outcome.source_name : s.read_as));
    } catch (const Error& e) {
      outcome.result = TableResult::kFailed;
      outcome.reason = "the source table cannot be read: " + ErrorText(e);
      report_ += "Table: " + PrintableText(outcome.source_name) +
                 "\r\n- The source table cannot be read: " + ErrorText(e) + kCrLf;
      status_.AddStatusLine("Table: " + PrintableText(outcome.source_name));
      status_.AddStatusLine("  The source table cannot be read");
      status_.WriteLog("The source table cannot be read: " + ErrorText(e));
      readable = false;
    }
  }
  if (!readable) {
    outcome_.result = RunResult::kFailed;
    outcome_.reason =
        "selected tables are missing from the source or cannot be read there; nothing was "
        "written to the destination";
  }
  return readable;
}

// What each table's definition stores as its row count, for the report: the run holds its
// walk against the live rows of the pages instead. A source that does not give them gives
// no such lines.
void Run::ReadStoredRowCounts() {
  if (selected_.empty()) return;
  try {
    std::shared_ptr<Recordset> rows = source_->OpenSchema(kAdSchemaStatistics);
    for (; rows && !rows->Eof(); rows->MoveNext())
      stored_rows_[SafeStr(rows->FieldValue(0))] = SafeLng(rows->FieldValue(1));
  } catch (const Error&) {
    stored_rows_.clear();
  }
}

bool Run::OpenDumpFile() {
  step_ = "Open dump file";
  auto refuse = [&](int32_t number, const std::string& description) {
    status_.AddStatusLine("Error opening dump file");
    report_ += "Error opening dump file: " + dump_path_ + kCrLf;
    Fail(number, description);
    return false;
  };
  // Checked before anything is opened for writing: the dump would replace the source.
  for (const auto& [file, what] :
       {std::pair{&settings_.source_file, "the source database"},
        std::pair{&settings_.source_system_database, "the workgroup file"}})
    if (IsSameFile(dump_path_, *file))
      return refuse(75, "The dump file " + dump_path_ + " is " + what + " (" + *file +
                            "); writing the dump would destroy it. Choose another file name.");
  try {
    dump_ = std::make_unique<DumpFile>(ctx_.env, dump_path_);
  } catch (const Error& e) {
    return refuse(e.number(), e.description());
  }
  destination_ = MakeDumpDestination(*dump_, settings_.copy_blocks);
  return true;
}

bool Run::OpenServer() {
  step_ = "Open connection to destination database";
  PgParameters where = DestinationParameters(*section_, settings_.maintenance_db);
  std::string cs = destination_string_(where);
  try {
    // libpq connects first, so that a refusal (TLS, a certificate, the password) reads as
    // libpq words it, and the ODBC driver gets the SSL mode libpq settled on: the driver
    // would put its own in place of the service file's or PGSSLMODE.
    sslmode_ = DriverSslMode(where, open_rows_ ? open_rows_(where).get() : nullptr);
    SetPgParameter(where.options, "sslmode", sslmode_);
    cs = destination_string_(where);
    server_ = open_(cs);
  } catch (const Error& e) {
    outcome_.not_connected = true;
    ConnectionError(cs, e);
    return false;
  }
  auto server_destination = std::make_unique<ServerDestination>(server_.get());
  server_destination_ = server_destination.get();
  destination_ = std::move(server_destination);
  if (ctx_.end_now) {
    server_cancel_ = std::make_unique<ServerCancel>(
        *ctx_.end_now, [where] { return std::make_unique<PgConnection>(where); });
    WatchStatements(*server_);
  }
  return true;
}

// The server process behind the connection, for the cancel that ends a run at once.
void Run::WatchStatements(Connection& connection) {
  if (!server_cancel_) return;
  server_cancel_->WatchStatementSession(
      SafeLng(QueryFirst(connection, "SELECT pg_catalog.pg_backend_pid()")));
}

Value Run::QueryFirst(Connection& connection, const std::string& query) {
  std::vector<std::vector<Value>> rows = QueryRows(connection, query);
  return rows.empty() || rows[0].empty() ? Value() : rows[0][0];
}

std::vector<std::vector<Value>> Run::QueryRows(Connection& connection, const std::string& query) {
  destination_->set_current_statement(query);
  std::vector<std::vector<Value>> rows;
  std::shared_ptr<Recordset> result = connection.Execute(query);
  for (; result && !result->Eof(); result->MoveNext()) {
    rows.emplace_back();
    for (int i = 0; i < result->FieldCount(); ++i) rows.back().push_back(result->FieldValue(i));
  }
  if (result) result->Close();
  destination_->set_current_statement("");
  return rows;
}

PgParameters Run::SessionParameters(const std::string& database) const {
  PgParameters where = DestinationParameters(*section_, database);
  SetPgParameter(where.options, "sslmode", sslmode_);
  return where;
}

std::string Run::DatabaseConnectionString() const {
  return destination_string_(SessionParameters(database_));
}

std::shared_ptr<Connection> Run::OpenDatabase() {
  const std::string cs = DatabaseConnectionString();
  try {
    std::shared_ptr<Connection> database = open_(cs);
    WatchStatements(*database);
    if (open_rows_) KeepFromIdling(*database);
    return database;
  } catch (const Error& e) {
    ConnectionError(cs, e);
    return nullptr;
  }
}

// The run's destination names as a text[] literal.
std::string Run::DestinationNameArray() const {
  std::vector<std::string> names;
  for (const SelectedTable& s : selected_) {
    names.push_back(SqlString(Value(outcome_.tables[s.outcome].destination_name)));
    for (const auto& child : s.children)
      names.push_back(SqlString(Value(outcome_.tables[child.second].destination_name)));
  }
  return "ARRAY[" + Join(names, ", ") + "]::text[]";
}

// The tables DROP TABLE would reach (the first of each name along the search path), or with
// the whole database every table in it, each with its row count.
void Run::ReadExistingTables(Connection& database, bool whole_database) {
  std::string query;
  if (whole_database) {
    query =
        "SELECT CASE WHEN n.nspname = 'public' THEN '' ELSE n.nspname END, c.relname "
        "FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relkind IN ('r', 'p') AND NOT c.relispartition AND n.nspname !~ '^pg_' "
        "AND n.nspname <> 'information_schema' ORDER BY 1, 2";
  } else if (!selected_.empty()) {
    query = "SELECT '', t.n FROM unnest(" + DestinationNameArray() +
            ") WITH ORDINALITY AS t(n, i) JOIN pg_catalog.pg_class c ON c.oid = "
            "pg_catalog.to_regclass(pg_catalog.quote_ident(t.n)) WHERE c.relkind IN ('r', 'p') "
            "ORDER BY t.i";
  } else {
    return;
  }
  for (const std::vector<Value>& row : QueryRows(database, query)) {
    if (row.size() < 2) continue;
    const std::string schema = SafeStr(row[0]), name = SafeStr(row[1]);
    const std::string quoted =
        (schema.empty() ? "" : QuoteIdentifier(schema) + ".") + QuoteIdentifier(name);
    const int64_t rows = SafeLng(QueryFirst(database, "SELECT count(*) FROM " + quoted));
    existing_.emplace_back(schema.empty() ? name : schema + "." + name, rows);
  }
}

std::string Run::ExistingTablesText() const {
  std::vector<std::string> tables;
  for (const auto& [name, rows] : existing_)
    tables.push_back("'" + PrintableText(name) + "' (" + std::to_string(rows) + " records)");
  return Join(tables, ", ");
}

std::optional<int64_t> Run::ExistingRows(const std::string& table) const {
  for (const auto& [name, rows] : existing_)
    if (name == table) return rows;
  return std::nullopt;
}

// Why the database must not be dropped; empty when it may be.
std::string Run::ProtectedDatabase() {
  if (database_ == settings_.maintenance_db)
    return "it is the maintenance database, which the run connects to first";
  const std::vector<std::vector<Value>> rows =
      QueryRows(*server_,
                "SELECT datistemplate, datname = pg_catalog.current_database() FROM "
                "pg_catalog.pg_database WHERE datname=" +
                    SqlString(Value(database_)));
  if (rows.empty() || rows[0].size() < 2) return "";
  if (SafeBool(rows[0][0])) return "it is a template database";
  if (SafeBool(rows[0][1])) return "the run is connected to it";
  return "";
}

bool Run::Refuse(const std::string& reason) {
  status_.AddStatusLine("  " + reason);
  report_ += reason + kCrLf;
  outcome_.result = RunResult::kRefused;
  outcome_.reason = reason;
  Finish();
  return false;
}

// What the destination database holds is read before anything is written, so that a refusal
// leaves it as it was and every table the run replaces is named with the rows it held.
bool Run::PrepareDatabase(bool drop) {
  step_ = "Recreate the database";
  const bool exists = SafeLng(QueryFirst(*server_,
                                         "SELECT COUNT(*) FROM pg_catalog.pg_database WHERE "
                                         "datname=" +
                                             SqlString(Value(database_)))) == 1;
  const bool replaces = drop || settings_.create_tables;
  if (drop && exists)
    if (const std::string why = ProtectedDatabase(); !why.empty())
      return Refuse("The database '" + PrintableText(database_) + "' is not dropped: " + why +
                    "; nothing was written");
  std::shared_ptr<Connection> database;
  if (exists) {
    database = OpenDatabase();
    if (!database) return false;
    ReadExistingTables(*database, drop);
    if (replaces && ctx_.refuse_existing_tables && !existing_.empty())
      return Refuse(
          std::string(drop ? "Dropping the database '" : "The database '") +
          PrintableText(database_) +
          (drop ? "' would drop its tables " : "' holds tables this run would replace: ") +
          ExistingTablesText() + "; nothing was written (give --replace-tables to replace them)");
  }
  if (drop) {
    step_ = "Drop destination";
    if (database) {
      database->Close();  // a session on it would keep it from being dropped
      database.reset();
      WatchStatements(*server_);
    }
    destination_->Write("DROP DATABASE IF EXISTS " + QuoteIdentifier(database_), false);
    if (exists) {
      report_ += "Database '" + PrintableText(database_) + "' dropped" +
                 (existing_.empty() ? " (it held no tables)" : ", with its tables:") + kCrLf;
      for (const auto& [name, rows] : existing_)
        report_ += "- '" + PrintableText(name) + "': " + std::to_string(rows) + " records\r\n";
      status_.AddStatusLine("  Database '" + PrintableText(database_) + "' dropped");
    }
    existing_.clear();
  }
  step_ = "Recreate the database";
  if (!exists || drop) destination_->Write("CREATE DATABASE " + QuoteIdentifier(database_), false);
  server_->Close();
  if (!database) database = OpenDatabase();
  if (!database) return false;
  server_ = database;
  server_destination_->set_connection(server_.get());
  if (open_rows_) {
    // The same parameters as the connection, for the rows alone.
    try {
      rows_session_ = open_rows_(SessionParameters(database_));
    } catch (const Error& e) {
      ConnectionError(DatabaseConnectionString(), e);
      return false;
    }
    KeepFromIdling(*rows_session_);
    if (server_cancel_) server_cancel_->WatchRowSession(rows_session_.get());
  }
  server_destination_->set_row_session(rows_session_.get(), ctx_.clock);
  return true;
}

// Index names share the schema with the tables, sequences and key indexes, also with those
// the run makes later and with whatever else the destination schema holds.
void Run::SeedSchemaNames() {
  for (const SelectedTable& s : selected_) {
    const std::string& name = outcome_.tables[s.outcome].destination_name;
    schema_names_.insert(name);
    for (const std::string& generated : ServerGeneratedNames(*s.table, name, options_))
      schema_names_.insert(generated);
  }
  if (!direct_ || selected_.empty()) return;
  // What belongs to the run's own tables goes with them when they are dropped.
  const std::string names = DestinationNameArray();
  const std::string query =
      "SELECT c.relname FROM pg_catalog.pg_class c WHERE c.relnamespace = "
      "pg_catalog.current_schema()::pg_catalog.regnamespace AND c.relname <> ALL (" +
      names +
      ") AND NOT EXISTS (SELECT 1 FROM pg_catalog.pg_index i JOIN pg_catalog.pg_class t ON "
      "t.oid = i.indrelid WHERE i.indexrelid = c.oid AND t.relname = ANY (" +
      names +
      ")) AND NOT EXISTS (SELECT 1 FROM pg_catalog.pg_depend d JOIN pg_catalog.pg_class t ON "
      "t.oid = d.refobjid WHERE d.classid = 'pg_catalog.pg_class'::pg_catalog.regclass AND "
      "d.objid = c.oid AND d.refclassid = 'pg_catalog.pg_class'::pg_catalog.regclass AND "
      "d.deptype = 'a' AND t.relname = ANY (" +
      names + "))";
  for (const std::vector<Value>& row : QueryRows(*server_, query))
    if (!row.empty()) schema_names_.insert(SafeStr(row[0]));
}

// The dump's opening: its header, then the database (dropped first when asked) and the
// \connect to it that the rest of the statements run in.
void Run::WriteDumpPreamble(bool drop) {
  Destination& dump = *destination_;
  WriteDumpHeader(dump, *section_, ctx_.version_text);
  // psql otherwise reads the file in the client's encoding, and stores wrong text silently.
  dump.WriteDumpText(kClientEncoding);
  dump.WriteDumpText("");
  if (drop) {
    step_ = "Drop destination";
    dump.Write("DROP DATABASE IF EXISTS " + QuoteIdentifier(database_), false);
  }
  step_ = "Recreate the database";
  dump.Write("CREATE DATABASE " + QuoteIdentifier(database_), false);
  dump.WriteDumpText("");
  dump.WriteDumpText(
      "-- NOTICE: At this place you need to connect to the new database and run the rest of "
      "the statements.");
  // So that one "psql -d postgres -f FILE" loads it whole; psql's quoted argument takes
  // any name but a line break.
  dump.WriteDumpText("\\connect " + QuoteIdentifier(OneLine(database_)));
  dump.WriteDumpText("");
  dump.WriteDumpText(kClientEncoding);
  dump.WriteDumpText("");
}

void Run::ReadTableSettings() {
  ignore_large_blobs_ = settings_.ignore_large_blobs;
  column_list_ = settings_.column_list;
  options_.transfer_autonumbers = settings_.transfer_autonumbers;
  options_.transfer_default_values = settings_.transfer_default_values;
  options_.transfer_indexes = settings_.transfer_indexes;
  create_tables_ = settings_.create_tables;
  transfer_records_ = settings_.transfer_records;
  commit_after_table_ = settings_.commit_after_table;
  source_file_name_ = FileNamePart(settings_.source_file);
  transfer_relationships_ = settings_.transfer_relationships;
  transfer_descriptions_ = settings_.transfer_descriptions;
  transfer_queries_ = settings_.transfer_queries;
  transfer_validation_ = settings_.transfer_validation;
}

// Every selected table; false when one ended the run.
bool Run::LoopTables() {
  std::vector<int64_t> planned;
  for (const SelectedTable& table : selected_)
    planned.push_back(transfer_records_ ? outcome_.tables[table.outcome].rows_expected.value_or(0)
                                        : 0);
  progress_.Plan(std::move(planned));
  const bool every_table = MovesTablesAtOnce() ? LoopTablesAtOnce() : LoopTablesInTurn();
  progress_.Finish();
  status_.SetProgressFigures(progress_.Figures());
  return every_table;
}

bool Run::LoopTablesInTurn() {
  for (size_t i = 0; i < selected_.size(); ++i) {
    progress_.BeginTable(i);
    status_.SetProgressFigures(progress_.Figures());
    if (!TableWork(selected_[i])) return false;
    if (ctx_.Cancelled()) {
      stopped_ = true;
      break;
    }
  }
  return true;
}

// Child tables and linked tables keep the order of a run in turn: a child follows its owner,
// and a back-end's handle is one for all its links.
bool Run::MovesTablesAtOnce() const {
  if (!direct_ || !rows_session_ || settings_.jobs < 2 || !transfer_records_ ||
      selected_.size() < 2)
    return false;
  return std::all_of(selected_.begin(), selected_.end(), [](const SelectedTable& table) {
    return table.children.empty() && !table.source;
  });
}

// Opens a lane for each job the settings allow, up to one a table; fewer when sessions run out.
std::vector<RowLane> Run::OpenRowLanes() {
  std::vector<RowLane> lanes;
  const size_t wanted = std::min<size_t>(static_cast<size_t>(settings_.jobs), selected_.size());
  for (size_t i = 0; i < wanted; ++i) {
    RowLane lane;
    try {
      lane.source =
          open_(BuildSourceConnectionString(settings_.source_file, settings_.source_system_database,
                                            settings_.source_user, settings_.source_password));
      lane.server = open_(DatabaseConnectionString());
      KeepFromIdling(*lane.server);
      lane.rows = open_rows_(SessionParameters(database_));
      KeepFromIdling(*lane.rows);
    } catch (const Error& e) {
      // The server's connection limit, say: fewer lanes do the same work.
      status_.WriteLog("A session for moving tables at once could not be opened: " + ErrorText(e));
      break;
    }
    lane.destination = std::make_unique<ServerDestination>(lane.server.get());
    lane.destination->set_row_session(lane.rows.get(), ctx_.clock);
    lanes.push_back(std::move(lane));
  }
  return lanes;
}

// The tables are defined and created (a few ahead of a free lane), their indexes built and
// their text released in the source order, on the run's own sessions; only their rows move at
// once, each table's on a lane of its own. The outcome and the report are those of a run in
// turn.
bool Run::LoopTablesAtOnce() {
  std::vector<RowLane> lanes = OpenRowLanes();
  if (lanes.size() < 2) return LoopTablesInTurn();
  lanes_stop_ = false;
  // A lane waiting on the server is cancelled with the run's own sessions; the watch ends
  // before the lanes' sessions go.
  struct ForgetLanes {
    ServerCancel* cancel;
    ~ForgetLanes() {
      if (cancel) cancel->ForgetLanes();
    }
  } forget{server_cancel_.get()};
  if (server_cancel_)
    for (RowLane& lane : lanes)
      server_cancel_->WatchLane(
          SafeLng(QueryFirst(*lane.server, "SELECT pg_catalog.pg_backend_pid()")), lane.rows.get());
  TablesAtOnce loop(*this, lanes);
  return loop.Loop();
}

Run::TablesAtOnce::TablesAtOnce(Run& run, std::vector<RowLane>& lanes)
    : run_(run),
      lanes_(lanes),
      count_(run.selected_.size()),
      flights_(count_),
      jobs_(lanes.size()) {
  for (const SelectedTable& table : run_.selected_)
    planned_.push_back(run_.outcome_.tables[table.outcome].rows_expected.value_or(0));
  for (int64_t rows : planned_) total_ += rows;
}

// Whatever ends the loop (a raise included) stops the lanes before they are waited for.
Run::TablesAtOnce::~TablesAtOnce() {
  run_.lanes_stop_ = true;
  Unroute();
}

bool Run::TablesAtOnce::Loop() {
  BeginHead();
  run_.ctx_.status.SetProgressRange("PROGRESS", 0, total_);
  while (head_ < count_) {
    if (run_.ctx_.Cancelled()) run_.lanes_stop_ = true;
    const size_t lane = jobs_.FreeLane();
    // A created table gets its lane even after a stop: it then moves no rows and is reported
    // as stopped, as the destination holds it.
    if (next_ < defined_ && (flights_[next_].creation_failed || lane < jobs_.size())) {
      // A lost lane would fail every table it took at once: its own table ends the run, as in
      // turn. The last lane takes the table all the same, whose failure then ends the run.
      if (!flights_[next_].creation_failed && jobs_.Working() > 1 && !LaneUsable(lane)) {
        jobs_.Retire(lane);
        continue;
      }
      Start(next_, lane);
      ++next_;
      continue;
    }
    // Created while every lane is busy, so that a lane that ends need not wait for the next
    // table's creation on the run's session; as many ahead as there are lanes.
    if (defined_ < count_ && !run_.lanes_stop_ && defined_ - next_ < jobs_.size() &&
        (lane < jobs_.size() || MayCreateAhead(defined_))) {
      Define(defined_++);
      continue;
    }
    if (head_ < next_ && (!flights_[head_].moving || jobs_.Ended(head_))) {
      if (!Release(head_)) return Abandon();
      if (++head_ < count_) BeginHead();
      continue;
    }
    if (head_ == next_ && next_ == defined_) break;  // stopped, with nothing moving
    jobs_.WaitForEnd(std::chrono::milliseconds(100));
    ShowRows();
    run_.ctx_.status.ProcessEvents();
  }
  if (run_.ctx_.Cancelled()) run_.stopped_ = true;
  return true;
}

void Run::TablesAtOnce::RouteTo(TableInFlight& flight) {
  run_.report_.set_target(flight.report);
  run_.status_.set_target(flight.status);
}

void Run::TablesAtOnce::Unroute() {
  run_.report_.set_target(run_.run_report_);
  run_.status_.set_target(run_.ctx_.status);
}

void Run::TablesAtOnce::BeginHead() {
  counted_ += told_;
  told_ = 0;
  run_.progress_.BeginTable(head_);
  int64_t rest = 0;
  for (size_t i = head_; i < count_; ++i) rest += planned_[i];
  run_.progress_.BeginRows(rest);
  run_.ctx_.status.SetProgressFigures(run_.progress_.Figures());
}

void Run::TablesAtOnce::ShowRows() {
  int64_t moved = released_rows_;
  for (size_t i = head_; i < next_; ++i)
    if (flights_[i].moving) moved += flights_[i].status.shown();
  told_ = std::max<int64_t>(moved - counted_, 0);
  run_.progress_.Rows(told_);
  run_.ctx_.status.SetProgressFigures(run_.progress_.Figures());
  run_.ctx_.status.SetProgress(run_.source_file_name_ + " - " + std::to_string(next_ - head_) +
                                   " tables -> " + run_.database_ + " (" + std::to_string(moved) +
                                   "/" + std::to_string(total_) + ")",
                               moved);
}

void Run::TablesAtOnce::Define(size_t i) {
  TableInFlight& flight = flights_[i];
  TableOutcome& outcome = run_.outcome_.tables[run_.selected_[i].outcome];
  flight.before = outcome;
  const auto began = run_.ctx_.clock.Now();
  RouteTo(flight);
  flight.creation_failed = !run_.DefineTable(run_.selected_[i], flight.def, flight.rows);
  run_.current_ = nullptr;
  Unroute();
  flight.defining = run_.ctx_.clock.Now() - began;
}

bool Run::TablesAtOnce::MayCreateAhead(size_t i) const {
  return !run_.ExistingRows(run_.outcome_.tables[run_.selected_[i].outcome].destination_name);
}

void Run::TablesAtOnce::Start(size_t i, size_t lane) {
  TableInFlight& flight = flights_[i];
  // Its time is its own work, not the wait for a lane.
  flight.started = run_.ctx_.clock.Now() - flight.defining;
  flight.rows_ended = flight.started;
  if (flight.creation_failed) return;
  RouteTo(flight);
  run_.step_ = "Transfer records";
  StartRows(i, lane, run_.outcome_.tables[run_.selected_[i].outcome]);
  Unroute();
}

void Run::TablesAtOnce::StartRows(size_t i, size_t lane, TableOutcome& outcome) {
  TableInFlight& flight = flights_[i];
  RecordTransfer transfer = run_.TransferOf(outcome, flight.def, flight.rows);
  transfer.source = lanes_[lane].source.get();
  transfer.destination = lanes_[lane].destination.get();
  transfer.progress = nullptr;
  // The record transfer reads the count again.
  flight.expected = outcome.rows_expected;
  flight.moving = true;
  flight.lane = lane;
  jobs_.Start(lane, i, [&run = run_, &flight, &outcome, transfer] {
    const RunContext lane_ctx{.status = flight.status,
                              .cancel = run.lanes_stop_,
                              .components = run.ctx_.components,
                              .env = run.ctx_.env,
                              .version_text = run.ctx_.version_text,
                              .temp_folder = {},
                              .clock = run.ctx_.clock,
                              .refuse_existing_tables = false,
                              .end_now = nullptr,
                              .named_errors = run.ctx_.named_errors};
    flight.moved = MoveRecords(transfer, flight.report, lane_ctx, &outcome);
    flight.rows_ended = run.ctx_.clock.Now();
  });
}

bool Run::TablesAtOnce::Release(size_t i) {
  TableInFlight& flight = flights_[i];
  TableOutcome& outcome = run_.outcome_.tables[run_.selected_[i].outcome];
  RouteTo(flight);
  run_.step_ = "Transfer records";
  const auto after_rows = run_.ctx_.clock.Now();
  const bool rows_moved = !flight.moving || flight.moved >= 0;
  if (flight.moving && rows_moved && !outcome.rows_expected)
    outcome.rows_expected = flight.expected;
  if (rows_moved) run_.AfterRecords(outcome, flight.def, flight.creation_failed);
  outcome.seconds = std::chrono::duration<double>(flight.rows_ended - flight.started +
                                                  (run_.ctx_.clock.Now() - after_rows))
                        .count();
  bool go_on = run_.EndTable(run_.selected_[i], flight.def, flight.creation_failed);
  if (go_on && flight.moving && outcome.result == TableResult::kFailed &&
      !LaneUsable(flight.lane)) {
    run_.outcome_.result = RunResult::kFailed;
    run_.outcome_.reason = "the destination could not be written any more: " + outcome.reason;
    run_.status_.AddStatusLine("  The destination could not be written any more");
    go_on = false;
  }
  Unroute();
  flight.status.Release(run_.ctx_.status);
  run_.run_report_ += flight.report;
  flight.report.clear();
  released_rows_ += outcome.rows_moved;
  return go_on;
}

bool Run::TablesAtOnce::LaneUsable(size_t lane) {
  if (lanes_[lane].rows->IsLost()) return false;
  try {
    lanes_[lane].server->Execute("SELECT 1");
    return true;
  } catch (const Error&) {
    return false;
  }
}

// The destination is lost: the tables after the head end as a run in turn leaves them, not
// begun, but for those whose rows the destination already holds.
bool Run::TablesAtOnce::Abandon() {
  run_.lanes_stop_ = true;
  while (jobs_.Busy()) jobs_.WaitForEnd(std::chrono::milliseconds(100));
  const bool usable = run_.DestinationUsable();
  // What ended the run stays its reason, whatever the tables released after it say.
  const RunResult result = run_.outcome_.result;
  const std::string reason = run_.outcome_.reason;
  for (size_t i = head_ + 1; i < defined_; ++i) {
    TableInFlight& flight = flights_[i];
    TableOutcome& outcome = run_.outcome_.tables[run_.selected_[i].outcome];
    if (flight.moving) {
      Release(i);
      if (outcome.reason == "stopped on request" && !run_.ctx_.Cancelled())
        outcome.reason = "stopped when the destination could not be written any more";
      continue;
    }
    // Never one the run replaces: dropped, the destination is as a run in turn leaves it.
    if (!flight.creation_failed && usable) {
      try {
        run_.destination_->Write(
            "DROP TABLE IF EXISTS " + QuoteIdentifier(outcome.destination_name), true);
      } catch (const Error& e) {
        run_.status_.AddStatusLine(
            OneLine("  The table '" + outcome.destination_name +
                    "', created before the run ended, could not be dropped: " + ErrorText(e)));
      }
    }
    outcome = flight.before;
  }
  run_.outcome_.result = result;
  run_.outcome_.reason = reason;
  return false;
}

bool Run::Body() {
  const bool drop = settings_.drop_database;
  if (direct_) {
    if (!PrepareDatabase(drop)) return false;
  } else {
    WriteDumpPreamble(drop);
  }

  if (!link_notes_.empty()) {
    report_ += "\r\nLINKED TABLES\r\n------------\r\n";
    for (const std::string& note : link_notes_) report_ += OneLine("- " + note) + kCrLf;
    report_ += kCrLf;
  }
  step_ = "Load DefXml";
  ReadTableSettings();
  if (transfer_queries_) PlanViews();
  // A view over a table keeps the table from being dropped: views go first.
  if (transfer_queries_ && create_tables_) DropViews();

  step_ = "Loop tables";
  SeedSchemaNames();
  if (LoopTables() && !stopped_) AfterTables();
  step_ = "Tables are done";
  return true;
}

const DefinedTable* Run::Created(const SelectedTable& table) const {
  auto defined = defined_.find(outcome_.tables[table.outcome].source_name);
  return defined == defined_.end() || !defined->second.created ? nullptr : &defined->second;
}

void Run::BeginSection(bool& begun, const char* report_title, const char* status,
                       const char* dump_title) {
  if (begun) return;
  begun = true;
  report_ += std::string("\r\n") + report_title + "\r\n------------\r\n";
  status_.AddStatusLine(status);
  DumpSection(dump_title);
}

void Run::DumpSection(const std::string& title) {
  destination_->WriteDumpText("--");
  destination_->WriteDumpText("-- " + title);
  destination_->WriteDumpText("--");
  destination_->WriteDumpText("");
}

// A foreign key needs both its tables filled and indexed, so keys and comments come last.
void Run::AfterTables() {
  if (transfer_validation_ && !AddChecks()) return;
  if (transfer_relationships_ && !(AddForeignKeys() && AddChildKeys())) return;
  if (transfer_descriptions_ && !AddComments()) return;
  if (transfer_queries_ && !view_order_.empty()) {
    if (ctx_.Cancelled()) {
      stopped_ = true;
      return;
    }
    CreateQueryViews();
  }
}

// The relationships as foreign keys; false when the run must end.
bool Run::AddForeignKeys() {
  step_ = "Transfer relationships";
  const std::vector<ForeignKey> keys = ForeignKeysOf(schema_.relations, defined_, names_);
  if (!keys.empty() || !schema_.relations_unreadable.empty()) {
    report_ += "\r\nRELATIONSHIPS\r\n------------\r\n";
    status_.AddStatusLine("Creating foreign keys");
  }
  if (!schema_.relations_unreadable.empty()) {
    // Nothing else of the run needs them: only this part fails.
    const std::string why = "the relationships cannot be read: " + schema_.relations_unreadable;
    report_ += "- " + PrintableText(why) + kCrLf;
    status_.AddStatusLine("  The relationships cannot be read");
    outcome_.rejected.push_back(OneLine(why));
  }
  bool section = false;
  for (const ForeignKey& key : keys)
    if (!AddForeignKey(key, section)) return false;
  return true;
}

// One relationship's key, or the report line saying why it has none; false when the run must
// end.
bool Run::AddForeignKey(const ForeignKey& key, bool& section) {
  if (!key.not_created.empty()) {
    report_ += OneLine("- Relationship '" + key.name + "' not created: " + key.not_created) + kCrLf;
    return true;
  }
  if (!section) DumpSection("Foreign keys of the relationships");
  section = true;
  bool accepted = false;
  const std::string what = "foreign key '" + key.name + "' on '" + key.foreign_table + "'";
  if (!SendAfterTables(key.statement, what, accepted)) return false;
  if (accepted)
    report_ += OneLine("- Foreign key '" + key.name + "': '" + key.foreign_table +
                       "' references '" + key.table + "'") +
               kCrLf;
  if (accepted && key.constraint != key.wanted)
    report_ += OneLine("- Foreign key '" + key.name + "' named '" + key.constraint + "': '" +
                       key.wanted + "'" + kTakenOnceFolded + "key of '" + key.foreign_table + "'") +
               kCrLf;
  return true;
}

// The keys from the child tables to their owners; false when the run must end.
bool Run::AddChildKeys() {
  if (child_keys_.empty()) return true;
  step_ = "Transfer relationships";
  report_ += "\r\nCHILD TABLES\r\n------------\r\n";
  DumpSection("Foreign keys of the child tables");
  for (const auto& [child, statement] : child_keys_) {
    bool accepted = false;
    if (!SendAfterTables(statement, "foreign key of '" + child + "'", accepted)) return false;
    if (accepted) report_ += OneLine("- Foreign key of '" + child + "' to its owner") + kCrLf;
  }
  return true;
}

// The descriptions of the created tables and columns as comments; false when the run must end.
bool Run::AddComments() {
  step_ = "Transfer descriptions";
  int sent = 0;
  bool section = false;
  for (const SelectedTable& table : selected_) {
    const DefinedTable* defined = Created(table);
    if (!defined) continue;
    for (const Comment& comment : CommentsOf(*table.table, *defined)) {
      BeginSection(section, "DESCRIPTIONS", "Creating comments", "Descriptions as comments");
      bool accepted = false;
      if (!SendAfterTables(comment.statement, "comment on '" + comment.on + "'", accepted))
        return false;
      sent += accepted;
    }
  }
  if (section)
    report_ +=
        "- " + std::to_string(sent) + (direct_ ? " comments created" : " comments written") + kCrLf;
  return true;
}

// Rules hold for the data Access kept, so they go after it: NOT VALID first, then validated
// when no row breaks them. Returns false when the run must end.
bool Run::AddChecks() {
  step_ = "Transfer validation rules";
  bool section = false;
  for (const SelectedTable& table : selected_) {
    const DefinedTable* defined = Created(table);
    if (!defined) continue;
    const std::string& destination = defined->destination_name;
    for (const CheckConstraint& check : ChecksOf(*table.table, *defined)) {
      BeginSection(section, "VALIDATION RULES", "Creating checks", "Validation rules as checks");
      if (check.expression.empty()) {
        report_ += OneLine("- Rule on '" + check.on + "' not transferred: " + check.reason) + kCrLf;
        report_ += OneLine("  Access rule: " + check.rule) + kCrLf;
        continue;
      }
      bool accepted = false;
      if (!SendAfterTables(AddCheckStatement(destination, check), "check '" + check.name + "'",
                           accepted))
        return false;
      if (!accepted) continue;
      if (!direct_) {
        destination_->Write(ValidateWhenSoundBlock(destination, check), true);
        report_ += OneLine("- Check '" + check.name + "' on '" + check.on +
                           "' written; validated when the dump is loaded unless rows break it") +
                   kCrLf;
        continue;
      }
      const std::string query = BrokenRowsQuery(destination, check);
      destination_->set_current_statement(query);
      int64_t broken = 0;
      try {
        std::shared_ptr<Recordset> result = server_->Execute(query);
        if (result && !result->Eof()) broken = SafeLng(result->FieldValue(0));
        if (result) result->Close();
      } catch (const Error& e) {
        AppendErrorBlock(e.number(), e.description());
        destination_->set_current_statement("");
        outcome_.rejected.push_back(OneLine("check '" + check.name + "': " + ErrorText(e)));
        continue;
      }
      destination_->set_current_statement("");
      if (broken > 0) {
        report_ += OneLine("- Check '" + check.name + "' on '" + check.on + "': " +
                           std::to_string(broken) + (broken == 1 ? " row breaks" : " rows break") +
                           " the rule; the check stays NOT VALID") +
                   kCrLf;
        status_.AddStatusLine(OneLine("  Rows break the rule of '" + check.on + "'"));
        continue;
      }
      if (!SendAfterTables(ValidateStatement(destination, check), "check '" + check.name + "'",
                           accepted))
        return false;
      if (accepted)
        report_ += OneLine("- Check '" + check.name + "' on '" + check.on + "' validated") + kCrLf;
    }
  }
  return true;
}

void Run::PlanViews() {
  std::vector<QueryModel> queries;
  for (const SchemaQuery& q : schema_.queries) queries.push_back(ReadQueryModel(q));
  view_order_ = ViewOrder(queries, selected_queries_);
  ViewOptions options;
  options.prefix = table_prefix_;
  options.fold = FoldRule();
  for (const TableOutcome& t : outcome_.tables) options.taken.insert(t.destination_name);
  view_names_ = ViewNames(view_order_, options);
  for (const std::string& name : selected_queries_) {
    const bool known = std::any_of(queries.begin(), queries.end(), [&](const QueryModel& q) {
      return EqualsIgnoreCase(q.name, name);
    });
    if (!known)
      outcome_.queries.push_back(
          {name, "", false,
           schema_.queries_unreadable.empty()
               ? "not in the source database"
               : "the saved queries cannot be read: " + schema_.queries_unreadable});
  }
}

void Run::DropViews() {
  step_ = "Drop views";
  for (size_t i = view_names_.size(); i-- > 0;) {
    const QueryKind kind = view_order_[i].kind;
    if (kind != QueryKind::kSelect && kind != QueryKind::kUnion) continue;
    const std::string drop = "DROP VIEW IF EXISTS " + QuoteIdentifier(view_names_[i]);
    try {
      destination_->Write(drop, false);
    } catch (const Error&) {
      if (!direct_) throw;
      // A table of that name: creating the view reports it.
    }
  }
  destination_->WriteDumpText("");
}

void Run::CreateQueryViews() {
  step_ = "Transfer queries";
  std::vector<Relation> tables;
  for (const SelectedTable& table : selected_)
    if (const DefinedTable* defined = Created(table))
      tables.push_back(TableRelation(*table.table, *defined));
  ViewOptions options;
  options.prefix = table_prefix_;
  options.fold = FoldRule();
  options.comments = transfer_descriptions_;
  for (const TableOutcome& t : outcome_.tables) options.taken.insert(t.destination_name);
  bool section = false;
  BeginSection(section, "QUERIES", "Creating views", "Views of the saved queries");
  bool lost = false;
  const StatementSender send = [&](const std::string& sql) -> std::optional<std::string> {
    if (lost) return std::string("the destination could not be written any more");
    if (ctx_.Cancelled()) {
      stopped_ = true;
      return std::string("stopped on request");
    }
    try {
      destination_->Write(sql, true);
      return std::nullopt;
    } catch (const Error& e) {
      if (!direct_) throw;
      lost = !DestinationUsable();
      return ErrorText(e);
    }
  };
  for (ViewOutcome& view : CreateViews(view_order_, tables, options, send)) {
    if (view.created) {
      report_ +=
          OneLine("- View '" + view.destination + "' created from query '" + view.name + "'") +
          kCrLf;
      if (!view.reason.empty())
        outcome_.rejected.push_back(OneLine("view '" + view.destination + "': " + view.reason));
      outcome_.queries.push_back({view.name, view.destination, true, ""});
      continue;
    }
    report_ += OneLine("- Query '" + view.name + "' not created: " + view.reason) + kCrLf;
    report_ += OneLine("  Access SQL: " + view.access_sql) + kCrLf;
    if (!view.statement.empty()) report_ += OneLine("  SQL: " + view.statement) + kCrLf;
    status_.AddStatusLine(OneLine("  Not created: query '" + view.name + "'"));
    outcome_.queries.push_back({view.name, view.destination, false, view.reason});
  }
  if (lost) {
    outcome_.result = RunResult::kFailed;
    outcome_.reason = "the destination could not be written any more";
  }
}

// The server may refuse a key or a comment (a referenced table without its key, rows that
// break the key): that is reported like a rejected index, and the run goes on with the next.
// Returns false when the run must end (a stop on request, the destination lost); a dump that
// cannot be written raises.
bool Run::SendAfterTables(const std::string& statement, const std::string& what, bool& accepted) {
  accepted = false;
  if (ctx_.Cancelled()) {
    stopped_ = true;
    return false;
  }
  try {
    destination_->Write(statement, true);
    accepted = true;
    return true;
  } catch (const Error& e) {
    if (!direct_) throw;
    AppendErrorBlock(e.number(), e.description());
    outcome_.rejected.push_back(OneLine(what + ": " + ErrorText(e)));
    status_.AddStatusLine(OneLine("  Rejected: " + what));
    if (DestinationUsable()) return true;
    outcome_.result = RunResult::kFailed;
    outcome_.reason = "the destination could not be written any more: " + ErrorText(e);
    status_.AddStatusLine("  The destination could not be written any more");
    return false;
  }
}

void Run::Note(TableOutcome& outcome, const std::string& note) {
  report_ += "- " + PrintableText(note) + kCrLf;
  outcome.notes.push_back(PrintableText(note));
}

// Returns false when the table loop must stop at once (the destination is lost).
bool Run::TableWork(SelectedTable& table) {
  const auto started = ctx_.clock.Now();
  TableDefinition def;
  SourceRows rows;
  const bool creation_failed = !DefineTable(table, def, rows);
  step_ = "Transfer records";
  MoveTableRecords(outcome_.tables[table.outcome], def, rows, creation_failed);
  outcome_.tables[table.outcome].seconds =
      std::chrono::duration<double>(ctx_.clock.Now() - started).count();
  return EndTable(table, def, creation_failed);
}

// The table's notes, definition and CREATE TABLE; false when the server refused that.
bool Run::DefineTable(SelectedTable& table, TableDefinition& def, SourceRows& rows) {
  TableOutcome& outcome = outcome_.tables[table.outcome];
  current_ = &outcome;
  options_.storage_engine = settings_.storage_engine;
  AnnounceTable(table, outcome);

  std::vector<std::string> split;
  for (const auto& child : table.children) split.push_back(child.first->name.value());
  const SchemaTable shaped = split.empty() ? SchemaTable() : WithoutColumns(*table.table, split);
  const SchemaTable& defined_table = split.empty() ? *table.table : shaped;
  def =
      BuildTableDefinition(defined_table, outcome.source_name, outcome.destination_name, options_);
  current_source_ = table.source ? table.source : source_.get();
  rows = TableRows(table.read_as.empty() ? outcome.source_name : table.read_as);
  // Without its complex columns the table can no longer be read as a whole.
  ListSourceColumns(defined_table, !split.empty() && def.source_column_list.empty(),
                    outcome.source_name, def, rows);
  NoteColumnNames(def, outcome);
  DefineIndexes(table, defined_table, def, outcome);
  const bool created = CreateDestinationTable(outcome, def.create_text);
  RememberDefined(outcome, def, created);
  return created;
}

// The table's heading in the report and the status, and the notes on its name.
void Run::AnnounceTable(const SelectedTable& table, TableOutcome& outcome) {
  const std::string& source_table = outcome.source_name;
  const std::string& destination_table = outcome.destination_name;
  report_ += "Table: " + PrintableText(source_table) + kCrLf;
  status_.AddStatusLine("Table: " + PrintableText(source_table));
  status_.AddStatusLine("  Creating table");
  if (!table.selected_as.empty())
    Note(outcome, "Selected as '" + table.selected_as + "': the source holds it as '" +
                      source_table + "' (names compared without regard to letter case)");
  const std::string folded = FoldIdentifier(table_prefix_ + source_table, names_);
  if (folded.size() > 63)
    Note(outcome,
         "Table name shortened to '" + destination_table + kShortenedBecause + folded + "')");
  else if (destination_table != folded)
    Note(outcome,
         "Table named '" + destination_table + "': '" + folded + "'" + kTakenOnceFolded + "table");
  for (const std::string& column : table.complex_as_text)
    Note(outcome, "Column '" + column +
                      "' stays text: the table has no primary key (selected) for a child table "
                      "of its files or values to refer to");
}

// The columns read from the source: the selected ones, or with every_column all of them, then
// also listed for the destination.
void Run::ListSourceColumns(const SchemaTable& defined_table, bool every_column,
                            const std::string& source_table, TableDefinition& def,
                            SourceRows& rows) {
  for (const SchemaField& field : defined_table.fields) {
    const std::string& name = field.name.value();
    if (!every_column && !options_.IsColumnSelected(source_table, name)) continue;
    rows.columns.push_back({name});
    if (every_column)
      def.destination_column_list += (def.destination_column_list.empty() ? "" : ", ") +
                                     QuoteIdentifier(def.destination_columns.at(name));
  }
}

// The notes on columns named or defaulted otherwise than in Access.
void Run::NoteColumnNames(const TableDefinition& def, TableOutcome& outcome) {
  for (const auto& [from, to] : def.shortened_columns)
    Note(outcome, "Column name shortened to '" + to + kShortenedBecause + from + "')");
  for (const auto& [from, to] : def.renamed_columns)
    Note(outcome, "Column '" + from + "' named '" + to + "': '" + FoldIdentifier(from, names_) +
                      "'" + kTakenOnceFolded + "column");
  for (const auto& [column, expression] : def.dropped_defaults)
    Note(outcome, "Column '" + column + "' has no default: the Access default value " + expression +
                      " has no exact PostgreSQL form for the column's type");
}

// The table's keys and indexes, the end of its CREATE TABLE and the notes on both.
void Run::DefineIndexes(const SelectedTable& table, const SchemaTable& defined_table,
                        TableDefinition& def, TableOutcome& outcome) {
  const std::string& destination_table = outcome.destination_name;
  step_ = "Transfer indexes";
  AddIndexDefinitions(defined_table, outcome.source_name, destination_table, options_, def,
                      &schema_names_);
  for (const auto& [index, name] : def.renamed_indexes)
    Note(outcome, "Index '" + index + "' named '" + name + "': '" +
                      ShortenedName(destination_table + "_" + FoldIdentifier(index, names_)) +
                      "' is the name of another table, index or sequence");
  def.create_text += "\r\n)";
  if (!table.columns_listed && options_.transfer_indexes &&
      options_.storage_engine != "brighthouse" && HasOwnIndex(*table.table))
    Note(outcome,
         "Selected without its fields: all fields are moved, but without the primary "
         "key, unique constraints and indexes (select the fields to keep them)");
}

// What the steps after the tables need of the table as it was defined.
void Run::RememberDefined(const TableOutcome& outcome, const TableDefinition& def, bool created) {
  DefinedTable& defined = defined_[outcome.source_name];
  defined.destination_name = outcome.destination_name;
  defined.created = created;
  for (const auto& column : def.column_types)
    defined.columns[column.first] = def.destination_columns.at(column.first);
  for (const auto& [column, expression] : def.dropped_defaults)
    defined.dropped_defaults[column] = expression;
}

// The table's child tables; false when the table loop must stop at once (the destination is
// lost).
bool Run::EndTable(SelectedTable& table, const TableDefinition& def, bool creation_failed) {
  TableOutcome& outcome = outcome_.tables[table.outcome];
  current_ = nullptr;
  for (size_t i = 0; i < table.children.size(); ++i) {
    if (ctx_.Cancelled() ||
        (outcome_.tables[table.outcome].result == TableResult::kFailed && !DestinationUsable()))
      break;
    ChildWork(table, def, i);
  }
  if (outcome.result == TableResult::kFailed && !creation_failed && !DestinationUsable()) {
    outcome_.result = RunResult::kFailed;
    outcome_.reason = "the destination could not be written any more: " + outcome.reason;
    status_.AddStatusLine("  The destination could not be written any more");
    return false;
  }
  return true;
}

// Drops and creates the table; false when the server refused the CREATE TABLE (reported,
// and the table failed).
bool Run::CreateDestinationTable(TableOutcome& outcome, const std::string& create_text) {
  const std::string& destination_table = outcome.destination_name;
  const std::string drop = "DROP TABLE IF EXISTS " + QuoteIdentifier(destination_table);
  const std::optional<int64_t> existed = ExistingRows(destination_table);
  if (existed && !create_tables_)
    Note(outcome, "Rows added to the existing table '" + destination_table + "', which held " +
                      std::to_string(*existed) + " records");
  if (!create_tables_) return true;
  if (!direct_) {
    destination_->WriteDumpText("--");
    destination_->WriteDumpText(
        OneLine("-- Table structure for table '" + destination_table + "'"));
    destination_->WriteDumpText("--");
    destination_->WriteDumpText("");
    destination_->Write(drop, true);
    destination_->Write(create_text, true);
    return true;
  }
  destination_->Write(drop, false);
  if (existed)
    Note(outcome, "The existing table '" + destination_table + "', which held " +
                      std::to_string(*existed) + " records, was dropped");
  std::string create = ReplaceAll(create_text, kCrLf, "");
  try {
    destination_->Write(create, false);
    report_ += "- Table '" + PrintableText(destination_table) + "' created\r\n";
    return true;
  } catch (const Error& e) {
    report_ += "- Creating '" + PrintableText(destination_table) + "' failed\r\n";
    report_ += "- SQL: " + create + kCrLf;
    report_ += "- Error: " + std::to_string(e.number()) + " (" + HexNumber(e.number()) + ") " +
               e.description() + kCrLf;
    outcome.result = TableResult::kFailed;
    outcome.reason = "CREATE TABLE was rejected: " + ErrorText(e);
    return false;
  }
}

// A complex column's files or values into the child table that follows its owner.
void Run::ChildWork(const SelectedTable& table, const TableDefinition& owner, size_t i) {
  const SchemaField& column = *table.children[i].first;
  TableOutcome& outcome = outcome_.tables[table.children[i].second];
  const TableOutcome& owner_outcome = outcome_.tables[table.outcome];
  current_ = &outcome;
  const auto started = ctx_.clock.Now();
  report_ += "Table: " + PrintableText(outcome.source_name) + kCrLf;
  status_.AddStatusLine("Table: " + PrintableText(outcome.source_name));
  status_.AddStatusLine("  Creating table");
  step_ = "Transfer complex columns";
  ChildTable child = ComplexChildTable(
      *table.table, table.read_as.empty() ? owner_outcome.source_name : table.read_as, column,
      owner_outcome.destination_name, owner.destination_columns, outcome.destination_name,
      options_);
  if (options_.transfer_indexes) child.definition.index_statements.push_back(child.index);
  const bool creation_failed = !CreateDestinationTable(outcome, child.definition.create_text);
  if (!creation_failed) child_keys_.emplace_back(outcome.source_name, child.foreign_key);
  step_ = "Transfer records";
  child_bytes_ = 0;
  MoveTableRecords(outcome, child.definition, child.rows, creation_failed);
  outcome.seconds = std::chrono::duration<double>(ctx_.clock.Now() - started).count();
  if (!creation_failed && outcome.records_transferred && outcome.result != TableResult::kFailed)
    report_ += child.attachments ? "- " + std::to_string(outcome.rows_moved) + " files (" +
                                       std::to_string(child_bytes_) + " bytes) moved\r\n"
                                 : "- " + std::to_string(outcome.rows_moved) + " values moved\r\n";
  current_ = nullptr;
}

void Run::MoveTableRecords(TableOutcome& outcome, const TableDefinition& def,
                           const SourceRows& rows, bool creation_failed) {
  if (!transfer_records_) {
    outcome.records_transferred = false;
    if (!creation_failed) outcome.result = TableResult::kComplete;
    report_ += "- 0 records moved\r\n";
    return;
  }
  destination_->WriteDumpText("--");
  destination_->WriteDumpText(OneLine("-- Dumping data for table '" + outcome.source_name + "'"));
  destination_->WriteDumpText("--");
  destination_->WriteDumpText("");
  if (!creation_failed) {
    const RecordTransfer transfer = TransferOf(outcome, def, rows);
    // The record transfer reads the count again.
    const std::optional<int64_t> expected = outcome.rows_expected;
    if (MoveRecords(transfer, report_.text(), ctx_, &outcome) < 0) return;
    if (!outcome.rows_expected) outcome.rows_expected = expected;
  }
  AfterRecords(outcome, def, creation_failed);
}

RecordTransfer Run::TransferOf(const TableOutcome& outcome, const TableDefinition& def,
                               const SourceRows& rows) {
  RecordTransfer transfer;
  transfer.source = current_source_ ? current_source_ : source_.get();
  transfer.destination = &*destination_;
  transfer.source_table = outcome.source_name;
  transfer.source_rows = rows;
  transfer.destination_column_list = def.destination_column_list;
  transfer.column_list = column_list_;
  transfer.destination_table = outcome.destination_name;
  transfer.ignore_large_blobs = ignore_large_blobs_;
  transfer.source_file_name = source_file_name_;
  transfer.destination_database = database_;
  transfer.required = def.required;
  transfer.column_types = &def.column_types;
  transfer.bytea = def.bytea;
  if (!def.bytea.empty()) transfer.bytea_bytes = &child_bytes_;
  transfer.progress = &progress_;
  // Only the source's own tables: links and child tables are read from elsewhere.
  auto stored = stored_rows_.find(outcome.source_name);
  if (current_source_ == source_.get() && rows.complex_column.empty() &&
      stored != stored_rows_.end())
    transfer.stored_rows = stored->second;
  return transfer;
}

// The sequences, COMMIT, indexes and count check after the table's rows.
void Run::AfterRecords(TableOutcome& outcome, const TableDefinition& def, bool creation_failed) {
  bool usable = true;
  if (!creation_failed)
    for (const std::string& s : def.sequence_statements)
      usable = usable && TableStep(outcome, s, "setting the sequence");
  if (usable && commit_after_table_) usable = TableStep(outcome, "COMMIT", "COMMIT");
  if (usable && !(direct_ && creation_failed))
    for (const std::string& s : def.index_statements)
      usable = usable && TableStep(outcome, s, "CREATE INDEX");
  report_ += "- " + std::to_string(creation_failed ? 0 : outcome.rows_moved) + " records moved\r\n";
  if (usable && direct_ && create_tables_ && !creation_failed) CheckDestinationCount(outcome);
}

// A statement after the table's rows. The server's refusal fails the table (its rows are
// there, but not the table the source holds), not the run. False once the destination
// cannot be written any more; a dump that cannot be written raises.
bool Run::TableStep(TableOutcome& outcome, const std::string& statement, const std::string& what) {
  try {
    destination_->Write(statement, true);
    return true;
  } catch (const Error& e) {
    if (!direct_) throw;
    AppendErrorBlock(e.number(), e.description());
    status_.AddStatusLine("  " + what + " failed");
    if (outcome.result != TableResult::kFailed) {
      outcome.result = TableResult::kFailed;
      outcome.reason = what + " failed: " + ErrorText(e);
    }
    return DestinationUsable();
  }
}

// The server's own count of the table this run created: rows it lost or doubled show here.
void Run::CheckDestinationCount(TableOutcome& outcome) {
  const std::string query = "SELECT count(*) FROM " + QuoteIdentifier(outcome.destination_name);
  int64_t held = -1;
  try {
    const Value count = QueryFirst(*server_, query);
    if (!count.IsEmpty()) held = SafeLng(count);
  } catch (const Error& e) {
    AppendErrorBlock(e.number(), e.description());
    outcome.result = TableResult::kFailed;
    outcome.reason = "the destination's row count could not be read: " + ErrorText(e);
    return;
  }
  if (held == outcome.rows_moved) return;
  const std::string numbers = std::to_string(outcome.rows_moved) +
                              " records moved, the destination table holds " + std::to_string(held);
  report_ += "- Row count differs for table '" + PrintableText(outcome.source_name) +
             "': " + numbers + kCrLf;
  outcome.result = TableResult::kFailed;
  outcome.reason = numbers;
}

bool Run::DestinationUsable() {
  if (dump_) return !dump_->failed();
  if (rows_session_ && rows_session_->IsLost()) return false;
  try {
    server_->Execute("SELECT 1");
    return true;
  } catch (const Error&) {
    return false;
  }
}

// Ends the run: the dump takes its name only when every table is complete, and the report
// and the status say how the run ended.
RunOutcome Run::Finish() {
  if (outcome_.result != RunResult::kFailed && outcome_.result != RunResult::kRefused) {
    if (stopped_)
      outcome_.result = RunResult::kStoppedOnRequest;
    else if (outcome_.TablesNotComplete() > 0 || !outcome_.rejected.empty() ||
             outcome_.QueriesNotCreated() > 0)
      outcome_.result = RunResult::kCompletedWithFailures;
    else
      outcome_.result = RunResult::kCompleted;
  }
  // Queries without a view leave the dump whole: it holds everything it could.
  const bool dump_whole = outcome_.result == RunResult::kCompleted ||
                          (outcome_.result == RunResult::kCompletedWithFailures &&
                           outcome_.TablesNotComplete() == 0 && outcome_.rejected.empty());
  if (dump_ && dump_whole) {
    try {
      if (destination_) destination_->set_current_statement("");
      dump_->Close();
    } catch (const Error& e) {
      AppendErrorBlock(e.number(), e.description());
      DumpLost(ErrorText(e));
      outcome_.result = RunResult::kFailed;
      outcome_.reason = "the dump file could not be written: " + ErrorText(e);
    }
  }
  if (dump_ && (!dump_whole || outcome_.result == RunResult::kFailed)) {
    std::string why = outcome_.result == RunResult::kStoppedOnRequest ? "stopped on request"
                      : outcome_.result == RunResult::kFailed
                          ? outcome_.reason
                          : std::to_string(outcome_.TablesNotComplete()) + " of " +
                                std::to_string(outcome_.tables.size()) + " tables not fully moved";
    outcome_.incomplete_dump = dump_->Abandon("INCOMPLETE DUMP: " + why);
  }
  status_.AddStatusLine(FinalStatusLine(outcome_));
  if (outcome_.result == RunResult::kStoppedOnRequest) report_ += "Transfer was aborted\r\n";
  report_ += ResultSection(outcome_);
  return outcome_;
}

// A dump that cannot be written holds none of its tables whole.
void Run::DumpLost(const std::string& reason) {
  for (TableOutcome& t : outcome_.tables)
    if (t.result == TableResult::kComplete || t.result == TableResult::kPartial) {
      t.result = TableResult::kFailed;
      t.reason = "the dump file could not be written: " + reason;
    }
}

RunOutcome Run::ConnectionError(const std::string& connection_string, const Error& e) {
  status_.AddStatusLine("Error connecting to destination database");
  report_ += "Error connecting to destination database.\r\n";
  report_ += "Connection: " + HidePassword(connection_string) + kCrLf;
  return Fail(e.number(), e.description());
}

void Run::AppendErrorBlock(int32_t number, const std::string& description) {
  report_ += "Program Version: " + ProgramVersion() + kCrLf;
  if (ctx_.named_errors) {
    report_ += "Error: " + NamedError(number) + kCrLf;
  } else {
    report_ += "ODBC Version: \r\n";
    report_ += "Function: ConvertDatabase\r\n";
    report_ += "Error: " + std::to_string(number) + kCrLf;
  }
  report_ += "Hint: " + step_ + kCrLf;
  report_ += "Reason: " + description + kCrLf;
  // A failed dump write is no statement's fault: the bytes were those of earlier lines.
  const bool dump_write_failed = dump_ && dump_->failed();
  if (destination_ && !destination_->current_statement().empty() && !dump_write_failed)
    report_ += "SQL: " + destination_->current_statement() + kCrLf;
}

RunOutcome Run::Fail(int32_t number, const std::string& description) {
  AppendErrorBlock(number, description);
  const std::string reason = ErrorText(Error(number, description));
  if (current_ && current_->result == TableResult::kNotStarted) {
    current_->result = TableResult::kFailed;
    current_->reason = reason;
  }
  if (dump_ && dump_->failed()) DumpLost(reason);
  outcome_.result = RunResult::kFailed;
  outcome_.reason = reason;
  outcome_.failed_step = step_;
  return Finish();
}

}  // namespace

std::string HidePassword(const std::string& connection_string) {
  // Found as the driver reads the string, so that "Pwd=" inside another value is never
  // taken for it; hidden from there to the end (the password comes last), so that a braced
  // password goes whole, and so does an unquoted one that holds ";".
  std::vector<ConnectionPart> parts = SplitConnectionString(connection_string);
  auto pwd = std::find_if(parts.rbegin(), parts.rend(),
                          [](const ConnectionPart& p) { return EqualsIgnoreCase(p.key, "Pwd"); });
  if (pwd == parts.rend()) return connection_string;
  const size_t start = pwd->value_begin;
  size_t end = connection_string.size();
  if (end > start && connection_string[end - 1] == ';') --end;
  if (end <= start) return connection_string;
  return connection_string.substr(0, start) + "** HIDDEN **" + connection_string.substr(end);
}

RunOutcome ConvertDatabase(const DictionaryPtr& settings, std::string& run_report,
                           const SchemaModel& schema, const RunContext& ctx,
                           const ConnectionOpener& open,
                           const DestinationStringBuilder& destination_string,
                           const RowSessionOpener& open_rows) {
  return Run(settings, run_report, schema, ctx, open, destination_string, open_rows).Execute();
}

RunOutcome ConvertDatabase(const DictionaryPtr& settings, std::string& run_report,
                           const SchemaModel& schema, const RunContext& ctx,
                           const ConnectionOpener& open,
                           const DestinationStringBuilder& destination_string) {
  return ConvertDatabase(settings, run_report, schema, ctx, open, destination_string, nullptr);
}

RunOutcome ConvertDatabase(const DictionaryPtr& settings, std::string& run_report,
                           const SchemaModel& schema, const RunContext& ctx,
                           const ConnectionOpener& open) {
  return ConvertDatabase(settings, run_report, schema, ctx, open, BuildOdbcString);
}

RunOutcome ConvertDatabase(const DictionaryPtr& settings, std::string& run_report,
                           const SchemaModel& schema, const RunContext& ctx) {
  const ComponentRegistry& components = ctx.components;
  auto open = [&components, &ctx](const std::string& connection_string) {
    auto connection = CreateObjectAs<Connection>(components, "ADODB.Connection");
    connection->Open(connection_string, &ctx.env);
    return connection;
  };
  return ConvertDatabase(settings, run_report, schema, ctx, open, BuildOdbcString, OpenRowSession);
}

std::unique_ptr<PgConnection> OpenRowSession(const PgParameters& where) {
  return std::make_unique<PgConnection>(where);
}

}  // namespace ferrolyte
