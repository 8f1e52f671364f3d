#include "conversion/conversion_run.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "conversion/literals.h"
#include "conversion_fixtures.h"
#include "support/files.h"
#include "support/safe.h"
#include "support/text.h"
#include "support/version.h"
#include "testing/fake_clock.h"
#include "testing/run_context.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

using testing::FakeAccess;
using testing::FakeServer;
using testing::FakeTable;
using testing::FieldSpec;
using testing::IndexSpec;
using testing::RunSettings;
using testing::SchemaXml;
using testing::Section;
using testing::TableSpec;
using testing::TempDir;

TableSpec OrdersSpec() {
  return {"Orders",
          {{.name = "ID", .type = 4, .size = 4, .autonumber = true},
           {.name = "Name", .type = 10, .size = 50, .required = true}},
          {{.name = "PrimaryKey", .columns = {"ID"}, .primary = true},
           {.name = "ByName", .columns = {"Name"}}}};
}

FakeTable OrdersRows(int rows) {
  FakeTable t{{"ID", "Name"}, {3, 202}, {}};
  for (int i = 1; i <= rows; ++i) t.rows.push_back({Value(i), Value(i == 1 ? "Anna" : "N")});
  return t;
}

class ConversionRunTest : public ::testing::Test {
 protected:
  ConversionRunTest() {
    settings_ = RunSettings(dump_path_, {"Orders", "Orders\\ID", "Orders\\Name"});
    source_.tables["Orders"] = OrdersRows(1);
    schema_ = SchemaXml({OrdersSpec()});
  }

  // Connections: the fake source for provider strings, a fresh fake server otherwise.
  RunOutcome RunConversion() {
    auto open = [this](const std::string& cs) {
      opened_.push_back(cs);
      auto c = std::make_shared<Connection>();
      if (cs.rfind("Provider=", 0) == 0) {
        auto backend = std::make_unique<FakeAccess>(source_);
        c->AttachBackend(std::move(backend));
      } else {
        if (fail_open && fail_open(cs))
          throw Error(kAdoGenericError, "could not connect to server");
        auto backend = std::make_unique<FakeServer>(&sent_);
        backend->reject = reject_;
        backend->database_count = database_count_;
        backend->lost_rows["\"Orders\""] = lost_rows_;
        c->AttachBackend(std::move(backend));
      }
      return c;
    };
    const RunContext ctx = run_.Context();
    return destination_string_
               ? ConvertDatabase(settings_, report_, ReadSchemaText(schema_), ctx, open,
                                 destination_string_)
               : ConvertDatabase(settings_, report_, ReadSchemaText(schema_), ctx, open);
  }
  std::string Dump() { return ReadTextFile(dump_path_, ""); }
  void Set(const std::string& key, Value v) { Section(settings_)->Set(key, std::move(v)); }

  TempDir dir_;
  std::string dump_path_ = dir_.File("dump.sql");
  DictionaryPtr settings_;
  FakeAccess source_;
  std::string schema_;
  std::string report_;
  testing::TestRun run_;
  RecordingStatus& status_ = run_.status;
  std::vector<std::string> opened_, sent_;
  std::function<bool(const std::string&)> reject_, fail_open;
  int64_t database_count_ = 0;
  int64_t lost_rows_ = 0;
  DestinationStringBuilder destination_string_;
};

const char kOrdersDumpTail[] =
    "SET client_encoding = 'UTF8';\r\n"
    "\r\n"
    "CREATE DATABASE \"velkan\";\r\n"
    "\r\n"
    "-- NOTICE: At this place you need to connect to the new database and run the rest of the "
    "statements.\r\n"
    "\\connect \"velkan\"\r\n"
    "\r\n"
    "SET client_encoding = 'UTF8';\r\n"
    "\r\n"
    "--\r\n"
    "-- Table structure for table 'Orders'\r\n"
    "--\r\n"
    "\r\n"
    "DROP TABLE IF EXISTS \"Orders\";\r\n"
    "\r\n"
    "CREATE TABLE \"Orders\" (\r\n"
    "  \"ID\" SERIAL NOT NULL, \r\n"
    "  \"Name\" VARCHAR(50) NOT NULL, \r\n"
    "  PRIMARY KEY (\"ID\")\r\n"
    ");\r\n"
    "\r\n"
    "--\r\n"
    "-- Dumping data for table 'Orders'\r\n"
    "--\r\n"
    "\r\n"
    "INSERT INTO \"Orders\" (\"ID\", \"Name\") VALUES (1, E'Anna');\r\n"
    "-- 1 records\r\n"
    "\r\n"
    "SELECT setval(pg_get_serial_sequence(E'\"Orders\"', E'ID'), MAX(\"ID\")) FROM "
    "\"Orders\";\r\n"
    "\r\n";

TEST_F(ConversionRunTest, OrdersDumpExample) {
  schema_ = SchemaXml({{"Orders", OrdersSpec().fields, {OrdersSpec().indexes[0]}}});
  EXPECT_EQ(RunConversion().ExitStatus(), 0);
  EXPECT_EQ(Dump(),
            "--\r\n"
            "-- DUMP FILE\r\n"
            "--\r\n"
            "-- Database is ported from MS Access\r\n"
            "--------------------------------------------------------------------\r\n"
            "-- Created using \"Ferrolyte\" form https://www.quorvane.example/ferrolyte\r\n"
            "-- Program Version UNITTEST\r\n"
            "--\r\n"
            "-- OPTIONS:\r\n"
            "--   sourcefilename=C:/data/shop.mdb\r\n"
            "--   sourceusername=\r\n"
            "--   sourcepassword=\r\n"
            "--   destinationserver=localhost\r\n"
            "--   destinationdatabase=velkan\r\n"
            "--   maintenancedb=postgres\r\n"
            "--   dropdatabase=0\r\n"
            "--   createtables=1\r\n"
            "--   unicode=1\r\n"
            "--   autocommit=1\r\n"
            "--   transferdefaultvalues=1\r\n"
            "--   transferindexes=1\r\n"
            "--   transferautonumbers=1\r\n"
            "--   transferrecords=1\r\n"
            "--   columnlist=1\r\n"
            "--   tableprefix=\r\n"
            "--   negativeboolean=0\r\n"
            "--   ignorelargeblobs=0\r\n"
            "--   memotype=TEXT\r\n"
            "--   datetimetype=TIMESTAMP\r\n"
            "--\r\n"
            "\r\n" +
                std::string(kOrdersDumpTail));
  EXPECT_EQ(report_, "SETTINGS\r\n--------\r\nMoving data to " + dump_path_ +
                         "\r\n\r\nTABLES\r\n------------\r\nTable: Orders\r\n- 1 records moved\r\n"
                         "\r\nRESULT\r\n------------\r\nOrders: complete (1 of 1 records)\r\n"
                         "Result: completed\r\n");
  EXPECT_EQ(status_.lines, (std::vector<std::string>{"Moving data to destination", "Table: Orders",
                                                     "  Creating table", "  Moving records",
                                                     "  1 records moved", "  Transfer completed"}));
  EXPECT_EQ(opened_, std::vector<std::string>{
                         "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\data\\shop.mdb;"});
}

TEST_F(ConversionRunTest, HeaderListing) {
  run_.version_text = ProgramVersion();
  Set("sourcepassword", "secret");
  Set("sourcetables", Value::TextList({"Orders", "Orders\\ID"}));
  Set("dropdatabase", 1);
  Set("storageengine", "InnoDB");
  Set("extra", Value(std::vector<Value>{Value("a"), Value("b")}));
  EXPECT_EQ(RunConversion().ExitStatus(), 0);
  std::string dump = Dump();
  EXPECT_NE(dump.find("\r\n-- Program Version " + ProgramVersion() + "\r\n"), std::string::npos);
  EXPECT_NE(dump.find("\r\n--   sourcepassword=** HIDDEN **\r\n"), std::string::npos);
  EXPECT_NE(dump.find("\r\n--   storageengine=InnoDB\r\n--   extra=a, b\r\n--\r\n\r\n"),
            std::string::npos);
  for (const char* hidden : {"secret", "destinationport", "destinationusername",
                             "destinationmethod", "destinationdumpfilename", "sourcetables"})
    EXPECT_EQ(dump.find(hidden), std::string::npos) << hidden;
  EXPECT_NE(dump.find("--\r\n\r\nSET client_encoding = 'UTF8';\r\n\r\nDROP DATABASE IF EXISTS "
                      "\"velkan\";\r\nCREATE DATABASE \"velkan\";\r\n\r\n-- NOTICE"),
            std::string::npos);
}

// A key the table says a PostgreSQL run does not read changes nothing but its header line,
// whichever value it holds.
TEST_F(ConversionRunTest, KeysWithoutEffectChangeOnlyTheHeader) {
  source_.tables["Orders"] = {{"ID", "Name", "Paid", "Note"},
                              {3, 202, 11, 203},
                              {{Value(1), Value("Anna"), Value(true), Value("long")}}};
  schema_ = SchemaXml({{"Orders",
                        {{.name = "ID", .type = 4, .size = 4},
                         {.name = "Name", .type = 10, .size = 50},
                         {.name = "Paid", .type = 1, .size = 1},
                         {.name = "Note", .type = 12}},
                        {}}});
  Set("sourcetables", Value::TextList({"Orders"}));
  auto body = [&] {
    EXPECT_EQ(RunConversion().ExitStatus(), 0) << report_;
    std::string dump = Dump();
    report_.clear();
    return dump.substr(dump.find("SET client_encoding"));
  };
  const std::string plain = body();
  // The columns those keys would change if anything read them.
  for (const char* column : {"\"Paid\" BOOLEAN", "\"Note\" TEXT", "VALUES (1, E'Anna', "})
    EXPECT_NE(plain.find(column), std::string::npos) << column << "\n" << plain;
  int without_effect = 0;
  for (const SettingRow& row : SettingsTable()) {
    if (row.has_effect) continue;
    ++without_effect;
    for (const char* value : {"0", "1", "-1", "VARCHAR", "DATETIME"}) {
      Set(row.key, value);
      EXPECT_EQ(body(), plain) << row.key << "=" << value;
    }
    Set(row.key, row.default_value);
  }
  EXPECT_GE(without_effect, 4);  // unicode, negativeboolean, memotype, datetimetype
}

TEST_F(ConversionRunTest, SelectionOfTables) {
  schema_ = SchemaXml({{"Skipped", {{.name = "X", .type = 4}}, {}}, OrdersSpec()});
  EXPECT_EQ(RunConversion().ExitStatus(), 0);
  EXPECT_EQ(Dump().find("Skipped"), std::string::npos);
  EXPECT_EQ(report_.find("Skipped"), std::string::npos);
  for (const auto& line : status_.lines) EXPECT_EQ(line.find("Skipped"), std::string::npos);
  for (const auto& sql : source_.statements) EXPECT_EQ(sql.find("Skipped"), std::string::npos);
}

TEST_F(ConversionRunTest, RecordsOffKeepsKeysButWritesNoData) {
  Set("transferrecords", 0);
  Set("autocommit", 0);
  EXPECT_EQ(RunConversion().ExitStatus(), 0);
  std::string dump = Dump();
  EXPECT_NE(dump.find("PRIMARY KEY (\"ID\")"), std::string::npos);
  for (const char* absent : {"Dumping data", "INSERT", "setval", "COMMIT", "CREATE INDEX"})
    EXPECT_EQ(dump.find(absent), std::string::npos) << absent;
  EXPECT_TRUE(
      report_.ends_with("Table: Orders\r\n- 0 records moved\r\n\r\nRESULT\r\n"
                        "------------\r\nOrders: complete (records not transferred)\r\n"
                        "Result: completed\r\n"))
      << report_;
}

TEST_F(ConversionRunTest, CommitUnlessAutocommitIsOne) {
  struct Case {
    Value autocommit;
    bool commit;
  } cases[] = {{Value(1), false},  {Value("1"), false}, {Value(0), true},
               {Value("0"), true}, {Value(""), true},   {Value("yes"), true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(SafeStr(c.autocommit));
    Set("autocommit", c.autocommit);
    ASSERT_EQ(RunConversion().ExitStatus(), 0);
    std::string dump = Dump();
    size_t commit = dump.find("\r\nCOMMIT;\r\n\r\n");
    EXPECT_EQ(commit != std::string::npos, c.commit);
    if (c.commit) {
      // After the sequence, before the deferred index.
      EXPECT_LT(dump.find("setval"), commit);
      EXPECT_EQ(dump.substr(commit + 13),
                "CREATE INDEX \"Orders_ByName\" ON \"Orders\" (\"Name\");\r\n\r\n");
    }
  }
}

// A stop on request ends the run, and the dump is left only under a name that says so.
TEST_F(ConversionRunTest, CancelDuringATable) {
  source_.tables["Orders"] = OrdersRows(100);
  source_.tables["Later"] = {{"X"}, {3}, {{Value(1)}}};
  schema_ = SchemaXml({OrdersSpec(), {"Later", {{.name = "X", .type = 4}}, {}}});
  Set("sourcetables", Value::TextList({"Orders", "Orders\\ID", "Orders\\Name", "Later"}));
  Set("autocommit", 0);
  status_.on_events = [&] {
    if (status_.progress_position >= 25) run_.cancel = true;
  };
  const RunOutcome outcome = RunConversion();
  EXPECT_EQ(outcome.result, RunResult::kStoppedOnRequest);
  EXPECT_EQ(outcome.ExitStatus(), 130);
  EXPECT_FALSE(FileExists(dump_path_));
  ASSERT_TRUE(FileExists(dump_path_ + ".incomplete"));
  std::string dump = ReadTextFile(dump_path_ + ".incomplete", "");
  EXPECT_NE(dump.find("VALUES (30, E'N');\r\n-- 30 records\r\n\r\nSELECT setval"),
            std::string::npos);
  EXPECT_NE(dump.find("COMMIT;\r\n\r\nCREATE INDEX \"Orders_ByName\""), std::string::npos);
  EXPECT_EQ(dump.find("Later"), std::string::npos);
  EXPECT_TRUE(dump.ends_with("\r\n-- INCOMPLETE DUMP: stopped on request\r\n")) << dump;
  EXPECT_TRUE(report_.ends_with(
      "Table: Orders\r\n- 30 records moved\r\nTransfer was aborted\r\n\r\nRESULT\r\n"
      "------------\r\nOrders: partial (30 of 100 records): stopped on request\r\n"
      "Later: not started\r\nThe dump is incomplete and was left as " +
      dump_path_ + ".incomplete\r\nResult: stopped on request (2 of 2 tables not fully moved)\r\n"))
      << report_;
  EXPECT_EQ(status_.lines.back(), "  Transfer was aborted");
}

// The figures beside the progress count the run's rows over all its tables, by the run's
// clock.
TEST_F(ConversionRunTest, ProgressFiguresCoverTheWholeRun) {
  source_.tables["Orders"] = OrdersRows(40);
  FakeTable later{{"X"}, {3}, {}};
  for (int i = 0; i < 20; ++i) later.rows.push_back({Value(i)});
  source_.tables["Later"] = later;
  schema_ = SchemaXml({OrdersSpec(), {"Later", {{.name = "X", .type = 4}}, {}}});
  Set("sourcetables", Value::TextList({"Orders", "Orders\\ID", "Orders\\Name", "Later"}));
  testing::FakeClock clock;
  run_.clock = &clock;
  struct Seen {
    int table;
    int64_t position, done, total;
  };
  std::vector<Seen> seen;
  status_.on_events = [&] {
    clock.Advance(std::chrono::milliseconds(100));
    if (status_.progress_position == 0 ||
        (!seen.empty() && seen.back().position == status_.progress_position))
      return;
    const ProgressFigures& f = status_.figures;
    EXPECT_EQ(f.table_count, 2);
    seen.push_back({f.table_number, status_.progress_position, f.rows_done, f.rows_total});
  };
  ASSERT_EQ(RunConversion().result, RunResult::kCompleted) << report_;
  ASSERT_EQ(seen.size(), 6u);
  for (const Seen& s : seen) {
    SCOPED_TRACE(s.position);
    EXPECT_EQ(s.table, s.done <= 40 ? 1 : 2);
    // The figures sent with a progress step count the rows that step shows.
    EXPECT_EQ(s.done, s.position + (s.table == 2 ? 40 : 0));
    EXPECT_EQ(s.total, 60);
  }
  const ProgressFigures& last = status_.figures;
  EXPECT_TRUE(last.finished);
  EXPECT_EQ(last.rows_done, 60);
  EXPECT_EQ(last.time_left, std::chrono::seconds(0));
  ASSERT_TRUE(last.rows_per_second);
  EXPECT_GT(*last.rows_per_second, 0);
}

// A table that fails no longer takes the later tables with it, and the run does not pass for
// a success.
TEST_F(ConversionRunTest, FailedTableFailsTheRunButNotTheLaterTables) {
  source_.tables["Orders"] = {
      {"ID", "Name"}, {3, 205}, {{Value(1), Value::FromBytes(Bytes(kMaxBlobSize + 1, 0))}}};
  source_.tables["Later"] = {{"X"}, {3}, {{Value(1)}}};
  schema_ = SchemaXml({OrdersSpec(), {"Later", {{.name = "X", .type = 4}}, {}}});
  Set("sourcetables", Value::TextList({"Orders", "Orders\\ID", "Orders\\Name", "Later"}));
  const RunOutcome outcome = RunConversion();
  EXPECT_EQ(outcome.result, RunResult::kCompletedWithFailures);
  EXPECT_EQ(outcome.ExitStatus(), 3);
  EXPECT_FALSE(FileExists(dump_path_));
  const std::string dump = ReadTextFile(dump_path_ + ".incomplete", "");
  EXPECT_NE(dump.find("INSERT INTO \"Later\" VALUES (1);"), std::string::npos);
  EXPECT_TRUE(dump.ends_with("-- INCOMPLETE DUMP: 1 of 2 tables not fully moved\r\n"));
  EXPECT_NE(report_.find("Table: Orders\r\nError moving data\r\nError: 1003\r\n"),
            std::string::npos);
  EXPECT_NE(report_.find("\r\nTable: Later\r\n"), std::string::npos);
  EXPECT_NE(report_.find("\r\nOrders: failed (0 of 1 records): Error 1003: The maximum blob "),
            std::string::npos)
      << report_;
  EXPECT_NE(report_.find("\r\nLater: complete (1 of 1 records)\r\n"), std::string::npos);
  EXPECT_EQ(status_.lines.back(), "  Transfer incomplete: 1 of 2 tables not fully moved");
}

// Nothing is written when a selected table is not in the source: a truncated file reads as
// one without tables, and its run must not replace the user's database with an empty one.
TEST_F(ConversionRunTest, SelectedTablesTheSourceLacks) {
  struct Case {
    const char* what;
    std::string schema;
    std::vector<std::string> selection;
    std::string report_line;  // expected first in the TABLES section
    int status;
  } cases[] = {
      {"unreadable source",
       "<AccessDatabase><Tables><Table>",
       {"Orders"},
       "Table: Orders\r\n- Not in the source database\r\n",
       3},
      {"misspelt",
       SchemaXml({OrdersSpec()}),
       {"Orderz", "Orders"},
       "Table: Orderz\r\n- Not in the source database\r\n",
       3},
      {"other letter case",
       SchemaXml({OrdersSpec()}),
       {"orders", "orders\\ID", "orders\\Name"},
       "Table: Orders\r\n- Selected as 'orders': the source holds it as 'Orders' (names compared "
       "without regard to letter case)\r\n- 1 records moved\r\n",
       0},
      {"nothing selected",
       "<AccessDatabase><Tables><Table>",
       {},
       "The source database holds no user tables: 0 tables to move\r\n\r\nRESULT",
       0},
      // What the settings of a file without tables hold: an entry that selects nothing.
      {"empty entry",
       "<AccessDatabase><Tables/></AccessDatabase>",
       {""},
       "The source database holds no user tables: 0 tables to move\r\n\r\nRESULT",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    schema_ = c.schema;
    Set("sourcetables", Value::TextList(c.selection));
    report_.clear();
    std::filesystem::remove(dump_path_);
    EXPECT_EQ(RunConversion().ExitStatus(), c.status) << report_;
    EXPECT_NE(report_.find("TABLES\r\n------------\r\n" + c.report_line), std::string::npos)
        << report_;
    if (c.status == 0) {
      EXPECT_EQ(status_.lines.back(), "  Transfer completed");
      // The column entries count under the other spelling too.
      EXPECT_EQ(Dump().find("INSERT INTO \"Orders\" (\"ID\", \"Name\")") != std::string::npos,
                !c.selection.empty() && !c.selection[0].empty());
      continue;
    }
    EXPECT_FALSE(FileExists(dump_path_));
    EXPECT_FALSE(FileExists(dump_path_ + ".incomplete"));
    EXPECT_EQ(status_.lines.back(), "  Transfer failed");
    EXPECT_TRUE(
        report_.ends_with("Result: failed (selected tables are missing from the source or "
                          "cannot be read there; nothing was written to the "
                          "destination)\r\n"))
        << report_;
  }
}

// A line break in a name or a setting would end its comment line and make the rest SQL.
TEST_F(ConversionRunTest, NamesInCommentsStayOnTheirLine) {
  const std::string table = "zz\nCREATE TABLE pwned(); --";
  schema_ = SchemaXml({{table, {{.name = "X", .type = 4}}, {}}});
  source_.tables[table] = {{"X"}, {3}, {{Value(1)}}};
  Set("sourcetables", Value::TextList({table}));
  Set("tableprefix", "p\r\nDROP TABLE x; --");
  EXPECT_EQ(RunConversion().ExitStatus(), 0) << report_;
  const std::string dump = Dump();
  EXPECT_NE(dump.find("\r\n--   tableprefix=p  DROP TABLE x; --\r\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("\r\n-- Table structure for table 'p  DROP TABLE x; --zz CREATE TABLE "
                      "pwned(); --'\r\n"),
            std::string::npos);
  EXPECT_NE(dump.find("\r\n-- Dumping data for table 'zz CREATE TABLE pwned(); --'\r\n"),
            std::string::npos);
}

// A table selected without its fields loses its keys and indexes; the report says so.
TEST_F(ConversionRunTest, SelectionWithoutFieldsIsReported) {
  const std::string note =
      "- Selected without its fields: all fields are moved, but without the primary key, unique "
      "constraints and indexes (select the fields to keep them)\r\n";
  for (bool fields : {false, true}) {
    SCOPED_TRACE(fields);
    Set("sourcetables", fields ? Value::TextList({"Orders", "Orders\\ID", "Orders\\Name"})
                               : Value::TextList({"Orders"}));
    report_.clear();
    EXPECT_EQ(RunConversion().ExitStatus(), 0);
    EXPECT_EQ(report_.find("Table: Orders\r\n" + note) != std::string::npos, !fields) << report_;
    EXPECT_EQ(Dump().find("PRIMARY KEY") != std::string::npos, fields);
  }
}

std::string ErrorBlock(int number, const std::string& hint, const std::string& reason) {
  return "Program Version: " + ProgramVersion() +
         "\r\nODBC Version: \r\nFunction: ConvertDatabase\r\nError: " + std::to_string(number) +
         "\r\nHint: " + hint + "\r\nReason: " + reason + "\r\n";
}

TEST_F(ConversionRunTest, DumpFileError) {
  std::string path = dir_.File("missing/dump.sql");
  Set("destinationdumpfilename", path);
  EXPECT_EQ(RunConversion().ExitStatus(), 3);
  EXPECT_EQ(report_, "SETTINGS\r\n--------\r\nMoving data to " + path +
                         "\r\n\r\nTABLES\r\n------------\r\nError opening dump file: " + path +
                         "\r\n" +
                         ErrorBlock(76, "Open dump file",
                                    "Path not found: " + path + " (No such file or directory)") +
                         "\r\nRESULT\r\n------------\r\nOrders: not started\r\nResult: failed "
                         "(Error 76: Path not found: " +
                         path + " (No such file or directory))\r\n");
  EXPECT_EQ(status_.lines.end()[-2], "Error opening dump file");
  EXPECT_EQ(status_.lines.back(), "  Transfer failed");
}

TEST_F(ConversionRunTest, MalformedSchemaEndsWithErrorBlock) {
  TableSpec spec = OrdersSpec();
  spec.fields[1].type_text = "text";
  schema_ = SchemaXml({spec});
  EXPECT_EQ(RunConversion().ExitStatus(), 3);
  // In a dump the statement quoted is the one written last.
  EXPECT_TRUE(report_.ends_with("Table: Orders\r\n" +
                                ErrorBlock(13, "Loop tables", "Type mismatch") +
                                "SQL: CREATE DATABASE \"velkan\"\r\n\r\nRESULT\r\n------------\r\n"
                                "Orders: failed (0 of 1 records): Error 13: Type mismatch\r\n"
                                "The dump is incomplete and was left as " +
                                dump_path_ +
                                ".incomplete\r\nResult: failed (Error 13: Type "
                                "mismatch)\r\n"))
      << report_;
}

// A table with a bad description fails as itself, after the tables before it are moved.
TEST_F(ConversionRunTest, MalformedTableFailsAfterTheTablesBeforeIt) {
  TableSpec spec = OrdersSpec();
  spec.fields[1].type_text = "text";
  source_.tables["Before"] = {{"X"}, {3}, {{Value(1)}}};
  schema_ = SchemaXml({{"Before", {{.name = "X", .type = 4}}, {}}, spec});
  Set("sourcetables", Value::TextList({"Before", "Orders", "Orders\\ID", "Orders\\Name"}));
  EXPECT_EQ(RunConversion().ExitStatus(), 3);
  EXPECT_NE(report_.find("\r\nBefore: complete (1 of 1 records)\r\nOrders: failed (0 of 1 "
                         "records): Error 13: Type mismatch\r\n"),
            std::string::npos)
      << report_;
  EXPECT_NE(ReadTextFile(dump_path_ + ".incomplete", "").find("INSERT INTO \"Before\" VALUES (1);"),
            std::string::npos);
}

// Tables, indexes and sequences share one name space in the schema: an index named after
// its table and itself must not take another table's name, another index's, or the name the
// server gives a key it makes, and the report says which name it got instead.
TEST_F(ConversionRunTest, IndexNamesAreUniqueInTheSchema) {
  auto table = [](const std::string& name, const std::string& index, bool key = false) {
    TableSpec t{name, {{.name = "ID", .type = 4}, {.name = "V", .type = 4}}, {}};
    if (key) t.indexes.push_back({.name = "PrimaryKey", .columns = {"ID"}, .primary = true});
    if (!index.empty()) t.indexes.push_back({.name = index, .columns = {"V"}});
    return t;
  };
  const std::vector<TableSpec> tables = {table("Cust", "City"), table("Cust_City", ""),
                                         table("A", "B_C"), table("A_B", "C"),
                                         table("T", "pkey", true)};
  schema_ = SchemaXml(tables);
  std::vector<std::string> selection;
  for (const TableSpec& t : tables) {
    selection.insert(selection.end(), {t.name, t.name + "\\ID", t.name + "\\V"});
    source_.tables[t.name] = {{"ID", "V"}, {3, 3}, {{Value(1), Value(2)}}};
  }
  Set("sourcetables", Value::TextList(selection));
  EXPECT_EQ(RunConversion().ExitStatus(), 0) << report_;
  std::vector<std::string> indexes;
  for (const std::string& line : Split(Dump(), "\r\n"))
    if (line.starts_with("CREATE INDEX ")) indexes.push_back(line);
  EXPECT_EQ(indexes, (std::vector<std::string>{
                         "CREATE INDEX \"Cust_City_1\" ON \"Cust\" (\"V\");",
                         "CREATE INDEX \"A_B_C\" ON \"A\" (\"V\");",
                         "CREATE INDEX \"A_B_C_1\" ON \"A_B\" (\"V\");",
                         "CREATE INDEX \"T_pkey_1\" ON \"T\" (\"V\");",
                     }));
  for (const char* note :
       {"Table: Cust\r\n- Index 'City' named 'Cust_City_1': 'Cust_City' is the name of another "
        "table, index or sequence\r\n",
        "Table: A_B\r\n- Index 'C' named 'A_B_C_1': 'A_B_C' is the name",
        "Table: T\r\n- Index 'pkey' named 'T_pkey_1': 'T_pkey' is the name"})
    EXPECT_TRUE(report_.find(note) != std::string::npos) << note << "\n" << report_;
}

TEST_F(ConversionRunTest, TrickyNames) {
  const std::string table = "Kunden 'Ä\\\"x\"";
  const std::string column = "Straße \"Nr\" & <ä>?";
  schema_ = SchemaXml(
      {{table,
        {{.name = column, .type = 10, .size = 20, .required = true, .default_value = "\"a\\b?\""},
         {.name = "Id's", .type = 4, .autonumber = true}},
        {{.name = "PK \"1\"", .columns = {column}, .primary = true},
         {.name = "i'd", .columns = {"Id's"}}}}});
  source_.tables[table] = {{column, "Id's"}, {202, 3}, {{Value("O'Neil\\?"), Value(7)}}};
  Set("sourcetables", Value::TextList({table, table + "\\" + column, table + "\\Id's"}));
  Set("tableprefix", "p\"");
  EXPECT_EQ(RunConversion().ExitStatus(), 0);
  std::string qt = "\"p\"\"Kunden 'Ä\\\"\"x\"\"\"";
  std::string qc = "\"Straße \"\"Nr\"\" & <ä>?\"";
  std::string dump = Dump();
  EXPECT_NE(dump.find("DROP TABLE IF EXISTS " + qt + ";"), std::string::npos);
  EXPECT_NE(dump.find("  " + qc + " VARCHAR(20) NOT NULL DEFAULT E'a\\\\b\\x3f', \r\n"),
            std::string::npos);
  EXPECT_NE(dump.find("  PRIMARY KEY (" + qc + ")\r\n);"), std::string::npos);
  EXPECT_NE(
      dump.find("INSERT INTO " + qt + " (" + qc + ", \"Id's\") VALUES (E'O''Neil\\\\\\x3f', 7);"),
      std::string::npos);
  EXPECT_NE(dump.find("SELECT setval(pg_get_serial_sequence(E'" +
                      ReplaceAll(ReplaceAll(qt, "\\", "\\\\"), "'", "''") +
                      "', E'Id''s'), MAX(\"Id's\")) FROM " + qt + ";"),
            std::string::npos);
  EXPECT_NE(dump.find("CREATE INDEX \"p\"\"Kunden 'Ä\\\"\"x\"\"_i'd\" ON " + qt + " (\"Id's\");"),
            std::string::npos);
  EXPECT_EQ(source_.statements.size(), 0u);  // the run reads through its own copy
}

// The direct destination, against a recording server. The driver's name is fixed here: the
// driver manager reads its driver list from the first folder a process names.
class DirectDestinationTest : public ConversionRunTest {
 protected:
  DirectDestinationTest() {
    Set("destinationmethod", "DIRECT");
    Set("destinationpassword", "pw;x");
    Set("autocommit", 0);
    destination_string_ = [this](const PgParameters& where) {
      if (no_driver_)
        throw Error(1004, "No 32 bit PostgreSQL Unicode ODBC driver was found on your computer.");
      return "Driver={PostgreSQL UNICODE};Server=" + where.server + ";Port=" + where.port +
             ";Database=" + where.database + ";Uid=" + where.user + ";Pwd=" + where.password + ";";
    };
  }
  bool no_driver_ = false;
};

TEST_F(DirectDestinationTest, StatementsInOrder) {
  Set("dropdatabase", 1);
  EXPECT_EQ(RunConversion().ExitStatus(), 0);
  EXPECT_EQ(opened_.size(), 3u);
  EXPECT_EQ(opened_[1],
            "Driver={PostgreSQL UNICODE};Server=localhost;Port=5432;Database=postgres;"
            "Uid=postgres;Pwd=pw;x;");
  EXPECT_EQ(opened_[2],
            "Driver={PostgreSQL UNICODE};Server=localhost;Port=5432;Database=velkan;"
            "Uid=postgres;Pwd=pw;x;");
  // The names the schema holds are read once, for the index names.
  ASSERT_GT(sent_.size(), 3u);
  EXPECT_TRUE(sent_[3].starts_with("SELECT c.relname FROM pg_catalog.pg_class c ")) << sent_[3];
  sent_.erase(sent_.begin() + 3);
  EXPECT_EQ(sent_, (std::vector<std::string>{
                       "SELECT COUNT(*) FROM pg_catalog.pg_database WHERE datname=E'velkan'",
                       "DROP DATABASE IF EXISTS \"velkan\"", "CREATE DATABASE \"velkan\"",
                       "DROP TABLE IF EXISTS \"Orders\"",
                       "CREATE TABLE \"Orders\" (  \"ID\" SERIAL NOT NULL,   \"Name\" VARCHAR(50) "
                       "NOT NULL,   PRIMARY KEY (\"ID\"))",
                       "INSERT INTO \"Orders\" (\"ID\", \"Name\") VALUES (1, E'Anna')",
                       "SELECT setval(pg_get_serial_sequence(E'\"Orders\"', E'ID'), "
                       "MAX(\"ID\")) FROM \"Orders\"",
                       "COMMIT", "CREATE INDEX \"Orders_ByName\" ON \"Orders\" (\"Name\")",
                       "SELECT count(*) FROM \"Orders\""}));
  EXPECT_EQ(report_,
            "SETTINGS\r\n--------\r\nMoving data directly to PostgreSQL server\r\n\r\n"
            "TABLES\r\n------------\r\nTable: Orders\r\n- Table 'Orders' created\r\n"
            "- 1 records moved\r\n\r\nRESULT\r\n------------\r\nOrders: complete (1 of 1 "
            "records)\r\nResult: completed\r\n");
}

TEST_F(DirectDestinationTest, ExistingDatabaseIsFilled) {
  database_count_ = 1;
  EXPECT_EQ(RunConversion().ExitStatus(), 0);
  for (const auto& sql : sent_) EXPECT_EQ(sql.find("CREATE DATABASE"), std::string::npos);
  EXPECT_EQ(opened_.size(), 3u);
}

TEST_F(DirectDestinationTest, RejectedCreateTableStillCommits) {
  reject_ = [](const std::string& sql) { return sql.rfind("CREATE TABLE", 0) == 0; };
  EXPECT_EQ(RunConversion().ExitStatus(), 3);
  EXPECT_EQ(sent_.back(), "COMMIT");
  for (const auto& sql : sent_) {
    EXPECT_EQ(sql.find("INSERT"), std::string::npos);
    EXPECT_EQ(sql.find("CREATE INDEX"), std::string::npos);
  }
  EXPECT_NE(report_.find("Table: Orders\r\n- Creating 'Orders' failed\r\n- SQL: CREATE TABLE "
                         "\"Orders\" (  \"ID\""),
            std::string::npos);
  EXPECT_NE(report_.find("\r\n- Error: -2147217900 (80040E14) ERROR: syntax error at or near "
                         "\"(\"\r\n- 0 records moved\r\n"),
            std::string::npos)
      << report_;
  EXPECT_NE(report_.find("\r\nOrders: failed (0 of 1 records): CREATE TABLE was rejected: Error "
                         "-2147217900: ERROR: syntax error"),
            std::string::npos)
      << report_;
  EXPECT_EQ(status_.lines.back(), "  Transfer incomplete: 1 of 1 tables not fully moved");
}

TEST_F(DirectDestinationTest, RejectedInsertIsReportedWithItsStatement) {
  reject_ = [](const std::string& sql) { return sql.rfind("INSERT", 0) == 0; };
  EXPECT_EQ(RunConversion().ExitStatus(), 3);
  EXPECT_NE(report_.find("Error moving data\r\nError: -2147217900\r\nReason: ERROR: syntax error "
                         "at or near \"(\"\r\nSQL: INSERT INTO \"Orders\" (\"ID\", \"Name\") "
                         "VALUES (1, E'Anna')\r\n\r\nRESULT\r\n"),
            std::string::npos)
      << report_;
}

// The statements after a table's rows belong to the table: one the server refuses leaves
// the table failed, never complete, and the run goes on with the next table.
TEST_F(DirectDestinationTest, RefusedStepAfterTheRowsFailsTheTable) {
  struct Case {
    const char* refused;  // the statement's start
    const char* reason;
  } cases[] = {
      {"SELECT setval", "Orders: failed (1 of 1 records): setting the sequence failed: Error"},
      {"COMMIT", "Orders: failed (1 of 1 records): COMMIT failed: Error"},
      {"CREATE INDEX", "Orders: failed (1 of 1 records): CREATE INDEX failed: Error"},
      {"SELECT count(*) FROM \"Orders\"",
       "Orders: failed (1 of 1 records): the destination's row count could not be read: Error"},
  };
  schema_ = SchemaXml({OrdersSpec(), {"Notes", {{.name = "N", .type = 4}}, {}}});
  source_.tables["Notes"] = {{"N"}, {3}, {{Value(7)}}};
  Set("sourcetables",
      Value::TextList({"Orders", "Orders\\ID", "Orders\\Name", "Notes", "Notes\\N"}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refused);
    report_.clear();
    sent_.clear();
    // Only the first: the one of Orders.
    bool refused = false;
    reject_ = [&](const std::string& sql) {
      if (refused || sql.rfind(c.refused, 0) != 0) return false;
      return refused = true;
    };
    EXPECT_EQ(RunConversion().ExitStatus(), 3);
    EXPECT_NE(report_.find(c.reason), std::string::npos) << report_;
    EXPECT_NE(report_.find("\r\nNotes: complete (1 of 1 records)\r\n"), std::string::npos)
        << report_;
    EXPECT_NE(report_.find("\r\nSQL: " + std::string(c.refused)), std::string::npos) << report_;
  }
}

// The server's count of a created table is the last check: rows it does not hold fail it.
TEST_F(DirectDestinationTest, DestinationCountIsChecked) {
  source_.tables["Orders"] = OrdersRows(3);
  lost_rows_ = 1;
  EXPECT_EQ(RunConversion().ExitStatus(), 3);
  EXPECT_NE(report_.find("- 3 records moved\r\n- Row count differs for table 'Orders': 3 records "
                         "moved, the destination table holds 2\r\n"),
            std::string::npos)
      << report_;
}

TEST_F(DirectDestinationTest, ConnectionErrorsHideThePassword) {
  for (const char* db : {"postgres", "velkan"}) {
    SCOPED_TRACE(db);
    report_.clear();
    opened_.clear();
    fail_open = [db](const std::string& cs) {
      return cs.find(std::string("Database=") + db + ";") != std::string::npos;
    };
    // Nothing was done when the first connection fails; the second comes after CREATE DATABASE.
    EXPECT_EQ(RunConversion().ExitStatus(), db == std::string("postgres") ? 1 : 3);
    EXPECT_NE(
        report_.find("Error connecting to destination database.\r\nConnection: "
                     "Driver={PostgreSQL UNICODE};Server=localhost;Port=5432;Database=" +
                     std::string(db) + ";Uid=postgres;Pwd=** HIDDEN **;\r\nProgram Version: "),
        std::string::npos)
        << report_;
    EXPECT_NE(report_.find("\r\nHint: " +
                           std::string(db == std::string("postgres")
                                           ? "Open connection to destination database"
                                           : "Recreate the database") +
                           "\r\nReason: could not connect to server\r\n"),
              std::string::npos)
        << report_;
    EXPECT_EQ(report_.find("pw;x"), std::string::npos);
    EXPECT_EQ(status_.lines.end()[-2], "Error connecting to destination database");
  }
}

TEST_F(DirectDestinationTest, FailuresBeforeTheDestinationReachTheCaller) {
  no_driver_ = true;
  try {
    RunConversion();
    ADD_FAILURE() << "no error raised";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1004);
  }
  EXPECT_EQ(report_,
            "SETTINGS\r\n--------\r\nMoving data directly to PostgreSQL server\r\n\r\n"
            "TABLES\r\n------------\r\n");
}

}  // namespace
}  // namespace ferrolyte
