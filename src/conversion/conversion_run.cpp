#include "conversion/conversion_run.h"

#include <algorithm>
#include <optional>
#include <pugixml.hpp>

#include "conversion/connections.h"
#include "conversion/destination.h"
#include "conversion/literals.h"
#include "conversion/record_transfer.h"
#include "conversion/table_definition.h"
#include "shell/program_flags.h"
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

// Settings read without the tolerant conversions: a value of the wrong kind is an error.
std::string DirectText(const Value& v) {
  if (v.IsNull()) throw Error(94, "Invalid use of Null");
  return ConvertToText(v);
}

bool DirectBoolean(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::kEmpty:
      return false;
    case Value::Kind::kText:
      return DirectBool(v.Text());
    case Value::Kind::kBoolean:
    case Value::Kind::kInteger:
    case Value::Kind::kSingle:
    case Value::Kind::kDouble:
    case Value::Kind::kDecimal:
      return v.AsDouble() != 0;
    case Value::Kind::kNull:
      throw Error(94, "Invalid use of Null");
    default:
      throw Error(13, "Type mismatch");
  }
}

std::unordered_set<std::string> SelectionOf(const Value& v) {
  std::unordered_set<std::string> selection;
  if (v.IsText()) {
    // A settings file written by hand may name a single table without the list form.
    selection.insert(v.Text());
  } else if (v.IsList()) {
    for (const Value& entry : v.List()) selection.insert(SafeStr(entry));
  } else {
    throw Error(13, "Type mismatch: the setting sourcetables holds no list of tables");
  }
  return selection;
}

std::string SettingsListing(const Value& item) {
  if (!item.IsList()) return SafeStr(item);
  std::string joined;
  for (const Value& v : item.List()) {
    if (!joined.empty() || &v != &item.List().front()) joined += ", ";
    joined += SafeStr(v);
  }
  return joined;
}

void WriteDumpHeader(DumpFile& dump, const Dictionary& section) {
  dump.WriteDumpLine("--");
  dump.WriteDumpLine("-- DUMP FILE");
  dump.WriteDumpLine("--");
  dump.WriteDumpLine("-- Database is ported from MS Access");
  dump.WriteDumpLine("--" + std::string(66, '-'));
  dump.WriteDumpLine(std::string("-- Created using \"") + kProductTitle + "\" form " +
                     kMakerWebAddress);
  dump.WriteDumpLine("-- Program Version " + DumpVersionText());
  dump.WriteDumpLine("--");
  dump.WriteDumpLine("-- OPTIONS:");
  for (const std::string& key : section.Keys()) {
    std::string value = SettingsListing(section.Item(key));
    std::string lower = AsciiLower(key);
    if (lower == "destinationmethod" || lower == "destinationhost" || lower == "destinationport" ||
        lower == "destinationusername" || lower == "destinationpassword" ||
        lower == "destinationdumpfilename" || lower == "sourcetables")
      continue;
    if (lower == "sourcepassword" && !value.empty()) value = "** HIDDEN **";
    if (lower == "sourcefilename") value = ReplaceAll(value, "\\", "/");
    dump.WriteDumpLine("--   " + key + "=" + value);
  }
  dump.WriteDumpLine("--");
  dump.WriteDumpLine("");
}

std::shared_ptr<Connection> OpenThroughAdo(const std::string& connection_string) {
  auto connection = CreateObjectAs<Connection>("ADODB.Connection");
  connection->Open(connection_string);
  return connection;
}

class Run {
 public:
  Run(const DictionaryPtr& settings, std::string& report, const std::string& schema_xml,
      StatusOutput& status, const ConnectionOpener& open,
      const DestinationStringBuilder& destination_string)
      : report_(report),
        schema_xml_(schema_xml),
        status_(status),
        open_(open),
        destination_string_(destination_string) {
    DictionaryPtr section = settings ? settings->Section(kSettingsSection) : nullptr;
    section_ = section ? section : Dictionary::Create();
  }

  int32_t Execute();

 private:
  const Value& Setting(const char* key) const { return section_->Item(key); }
  std::string Tolerant(const char* key) const { return SafeStr(Setting(key)); }

  int32_t ConnectionError(const std::string& connection_string, const Error& e);
  void AppendErrorBlock(int32_t number, const std::string& description);
  int32_t Fail(int32_t number, const std::string& description);
  void CloseDumpQuietly();
  void Body();
  // Returns false when the table loop must stop at once (a failed record transfer).
  bool TableWork(const pugi::xml_node& table);

  std::string& report_;
  const std::string& schema_xml_;
  StatusOutput& status_;
  const ConnectionOpener& open_;
  const DestinationStringBuilder& destination_string_;
  DictionaryPtr section_;

  std::string step_;
  bool direct_ = false;
  std::string database_;
  std::string dump_path_;
  std::shared_ptr<Connection> source_;
  std::shared_ptr<Connection> server_;
  std::unique_ptr<DumpFile> dump_;
  std::optional<Destination> destination_;

  DefinitionOptions options_;
  std::string table_prefix_;
  bool ignore_large_blobs_ = false;
  bool column_list_ = true;
  bool create_tables_ = true;
  bool transfer_records_ = true;
  bool commit_after_table_ = false;
  std::string source_file_name_;
};

int32_t Run::Execute() {
  step_ = "Start";
  status_.AddStatusLine("Moving data to destination");
  direct_ = DirectText(Setting("destinationmethod")) == "DIRECT";
  database_ = DirectText(Setting("destinationdatabase"));
  DirectText(Setting("unicode"));  // the dump is UTF-8 whatever it says
  if (!direct_) dump_path_ = DirectText(Setting("destinationdumpfilename"));

  report_ += "SETTINGS\r\n--------\r\n";
  report_ += direct_ ? "Moving data directly to PostgreSQL server\r\n"
                     : "Moving data to " + dump_path_ + kCrLf;
  report_ += "\r\nTABLES\r\n------------\r\n";

  step_ = "Open connection to source database";
  source_ = open_(
      BuildSourceConnectionString(Tolerant("sourcefilename"), Tolerant("sourcesystemdatabase"),
                                  Tolerant("sourceusername"), Tolerant("sourcepassword")));

  if (!direct_) {
    step_ = "Open dump file";
    try {
      dump_ = std::make_unique<DumpFile>(dump_path_);
    } catch (const Error& e) {
      status_.AddStatusLine("Error opening dump file");
      report_ += "Error opening dump file: " + dump_path_ + kCrLf;
      return Fail(e.number(), e.description());
    }
    destination_.emplace(dump_.get());
  } else {
    step_ = "Open connection to destination database";
    std::string cs = destination_string_(
        Tolerant("destinationserver"), Tolerant("maintenancedb"), Tolerant("destinationport"),
        Tolerant("destinationusername"), Tolerant("destinationpassword"));
    try {
      server_ = open_(cs);
    } catch (const Error& e) {
      return ConnectionError(cs, e);
    }
    destination_.emplace(server_.get());
  }

  try {
    Body();
    return 0;
  } catch (const Error& e) {
    // A reconnect failure has been reported already.
    if (e.number() == 0 && e.source() == "ferrolyte.reconnect") return 3;
    return Fail(e.number(), e.description());
  } catch (const std::exception& e) {
    return Fail(kAdoGenericError, e.what());
  }
}

void Run::Body() {
  if (!direct_) WriteDumpHeader(*dump_, *section_);

  if (DirectBoolean(Setting("dropdatabase"))) {
    step_ = "Drop destination";
    destination_->Write("DROP DATABASE IF EXISTS " + QuoteIdentifier(database_), false);
  }

  step_ = "Recreate the database";
  bool exists = false;
  if (direct_) {
    std::string query =
        "SELECT COUNT(*) FROM pg_catalog.pg_database WHERE datname=" + SqlString(Value(database_));
    destination_->set_current_statement(query);
    std::shared_ptr<Recordset> result = server_->Execute(query);
    destination_->set_current_statement("");
    if (result && !result->Eof() && result->FieldCount() > 0)
      exists = SafeLng(result->FieldValue(0)) == 1;
    if (result) result->Close();
  }
  if (!exists) destination_->Write("CREATE DATABASE " + QuoteIdentifier(database_), false);

  if (!direct_) {
    dump_->WriteDumpLine("");
    dump_->WriteDumpLine(
        "-- NOTICE: At this place you need to connect to the new database and run the rest of "
        "the statements.");
    dump_->WriteDumpLine("");
  } else {
    server_->Close();
    std::string cs =
        destination_string_(Tolerant("destinationserver"), database_, Tolerant("destinationport"),
                            Tolerant("destinationusername"), Tolerant("destinationpassword"));
    try {
      server_ = open_(cs);
    } catch (const Error& e) {
      ConnectionError(cs, e);
      throw Error(0, "ferrolyte.reconnect", "");
    }
    destination_->set_connection(server_.get());
  }

  step_ = "Load DefXml";
  pugi::xml_document doc;
  // A text that does not parse leaves the document empty: there are no tables then.
  if (!doc.load_string(schema_xml_.c_str())) doc.reset();
  table_prefix_ = Tolerant("tableprefix");
  ignore_large_blobs_ = SafeBool(Setting("ignorelargeblobs"));
  column_list_ = SafeBool(Setting("columnlist"));
  options_.selection = SelectionOf(Setting("sourcetables"));
  options_.transfer_autonumbers = SafeBool(Setting("transferautonumbers"));
  options_.transfer_default_values = SafeBool(Setting("transferdefaultvalues"));
  options_.transfer_indexes = DirectBoolean(Setting("transferindexes"));
  create_tables_ = DirectBoolean(Setting("createtables"));
  transfer_records_ = DirectBoolean(Setting("transferrecords"));
  commit_after_table_ = DirectText(Setting("autocommit")) != "1";
  source_file_name_ = FileNamePart(Tolerant("sourcefilename"));

  step_ = "Loop tables";
  for (pugi::xpath_node node : doc.select_nodes("*/Tables/Table")) {
    if (!TableWork(node.node())) break;
    if (Flags().abort_requested) break;
  }

  step_ = "Tables are done";
  if (Flags().abort_requested) {
    status_.AddStatusLine("  Transfer was aborted");
    report_ += "Transfer was aborted\r\n";
  } else {
    status_.AddStatusLine("  Transfer completed");
  }
  if (dump_) dump_->Close();
}

bool Run::TableWork(const pugi::xml_node& table) {
  const std::string source_table = RequiredChildText(table, "Name");
  const std::string destination_table = table_prefix_ + source_table;
  if (!options_.selection.count(source_table)) return true;

  options_.storage_engine = AsciiLower(Tolerant("storageengine"));
  report_ += "Table: " + source_table + kCrLf;
  status_.AddStatusLine("Table: " + source_table);
  status_.AddStatusLine("  Creating table");

  TableDefinition def = BuildTableDefinition(table, source_table, destination_table, options_);
  step_ = "Transfer indexes";
  AddIndexDefinitions(table, source_table, destination_table, options_, def);
  def.create_text += "\r\n)";
  const std::string drop = "DROP TABLE IF EXISTS " + QuoteIdentifier(destination_table);

  bool creation_failed = false;
  if (create_tables_) {
    if (direct_) {
      destination_->Write(drop, false);
      std::string create = ReplaceAll(def.create_text, kCrLf, "");
      try {
        destination_->Write(create, false);
        report_ += "- Table '" + destination_table + "' created\r\n";
      } catch (const Error& e) {
        report_ += "- Creating '" + destination_table + "' failed\r\n";
        report_ += "- SQL: " + create + kCrLf;
        report_ += "- Error: " + std::to_string(e.number()) + " (" + HexNumber(e.number()) + ") " +
                   e.description() + kCrLf;
        creation_failed = true;
      }
    } else {
      dump_->WriteDumpLine("--");
      dump_->WriteDumpLine("-- Table structure for table '" + destination_table + "'");
      dump_->WriteDumpLine("--");
      dump_->WriteDumpLine("");
      destination_->Write(drop, true);
      destination_->Write(def.create_text, true);
    }
  }

  step_ = "Transfer records";
  int32_t record_count = 0;
  if (transfer_records_) {
    destination_->WriteDumpText("--");
    destination_->WriteDumpText("-- Dumping data for table '" + source_table + "'");
    destination_->WriteDumpText("--");
    destination_->WriteDumpText("");
    if (!creation_failed) {
      RecordTransfer transfer;
      transfer.source = source_.get();
      transfer.destination = &*destination_;
      transfer.source_table = source_table;
      transfer.source_column_list = def.source_column_list;
      transfer.destination_column_list = def.destination_column_list;
      transfer.column_list = column_list_;
      transfer.destination_table = destination_table;
      transfer.ignore_large_blobs = ignore_large_blobs_;
      transfer.source_file_name = source_file_name_;
      transfer.destination_database = database_;
      transfer.required = def.required;
      record_count = MoveRecords(transfer, report_, status_);
      if (record_count < 0) {
        Flags().abort_requested = true;
        return false;
      }
      for (const std::string& s : def.sequence_statements) destination_->Write(s, true);
    }
    if (commit_after_table_) destination_->Write("COMMIT", true);
    if (!(direct_ && creation_failed))
      for (const std::string& s : def.index_statements) destination_->Write(s, true);
  }
  report_ += "- " + std::to_string(record_count) + " records moved\r\n";
  return true;
}

int32_t Run::ConnectionError(const std::string& connection_string, const Error& e) {
  status_.AddStatusLine("Error connecting to destination database");
  report_ += "Error connecting to destination database.\r\n";
  report_ += "Connection: " + HidePassword(connection_string) + kCrLf;
  return Fail(e.number(), e.description());
}

void Run::AppendErrorBlock(int32_t number, const std::string& description) {
  report_ += "Program Version: " + std::to_string(kVersionMajor) + "." +
             std::to_string(kVersionMinor) + ".0." + std::to_string(kVersionRevision) + kCrLf;
  report_ += "ODBC Version: \r\n";
  report_ += "Function: modMySql.MoveData2MySql\r\n";
  report_ += "Error: " + std::to_string(number) + kCrLf;
  report_ += "Hint: " + step_ + kCrLf;
  report_ += "Reason: " + description + kCrLf;
  if (destination_ && !destination_->current_statement().empty())
    report_ += "SQL: " + destination_->current_statement() + kCrLf;
}

int32_t Run::Fail(int32_t number, const std::string& description) {
  AppendErrorBlock(number, description);
  CloseDumpQuietly();
  return 3;
}

void Run::CloseDumpQuietly() {
  if (!dump_) return;
  try {
    dump_->Close();
  } catch (const Error&) {
    // The run is failing already; the first error is the one reported.
  }
}

// Clears the transfer-running flag on every way out, raised errors included.
struct TransferRunningScope {
  TransferRunningScope() { Flags().transfer_running = true; }
  ~TransferRunningScope() { Flags().transfer_running = false; }
};

}  // namespace

std::string DumpVersionText() {
  if (Flags().unit_test) return "UNITTEST";
  return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
         std::to_string(kVersionRevision);
}

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

int32_t MoveData2MySql(const DictionaryPtr& settings, std::string& run_report,
                       const std::string& schema_xml, StatusOutput& status,
                       const ConnectionOpener& open,
                       const DestinationStringBuilder& destination_string) {
  TransferRunningScope running;
  return Run(settings, run_report, schema_xml, status, open, destination_string).Execute();
}

int32_t MoveData2MySql(const DictionaryPtr& settings, std::string& run_report,
                       const std::string& schema_xml, StatusOutput& status,
                       const ConnectionOpener& open) {
  return MoveData2MySql(settings, run_report, schema_xml, status, open,
                        BuildDestinationConnectionString);
}

int32_t MoveData2MySql(const DictionaryPtr& settings, std::string& run_report,
                       const std::string& schema_xml, StatusOutput& status) {
  return MoveData2MySql(settings, run_report, schema_xml, status, OpenThroughAdo);
}

}  // namespace ferrolyte
