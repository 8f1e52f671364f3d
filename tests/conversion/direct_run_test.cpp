// Whole conversion runs into the throw-away PostgreSQL server: Access files written by the
// test-database writer (and the real Access files when present), scanned, moved directly,
// and compared with their source and with the loaded dump of the same run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "accesswriter/writer.h"
#include "conversion/conversion_fixtures.h"
#include "conversion/conversion_run.h"
#include "conversion/dump_file.h"
#include "conversion/literals.h"
#include "conversion/server_run.h"
#include "platform/ado.h"
#include "platform/odbc_test_server.h"
#include "platform/source_connection.h"
#include "schema/access_scanner.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/oledate.h"
#include "support/safe.h"
#include "support/status.h"
#include "support/text.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;
using namespace server_tests;

// The every-type table and a second, plain one.
class DirectRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveServer()) GTEST_SKIP() << "no PostgreSQL server (PGPORT unset)";
    path_ = dir_.File("shop.mdb");
    aw::DatabaseWriter db(path_);
    aw::Table orders{.name = "Orders"};
    orders.columns = {
        {.name = "ID", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement},
        {.name = "Name", .type = aw::ColumnType::kText, .size = 50, .required = true},
        {.name = "Qty", .type = aw::ColumnType::kInteger},
    };
    orders.indexes = {{.name = "PrimaryKey", .columns = {{"ID"}}, .primary_key = true}};
    aw::TableWriter& rows = db.AddTable(orders);
    rows.AddRow({nullptr, "Anna", 3});
    rows.AddRow({nullptr, "Zo\xC3\xAB \xF0\x9F\x98\x80", 4});
    rows.AddRow({nullptr, "poison", 5});
    aw::Table notes{.name = "Notes"};
    notes.columns = {{.name = "Text", .type = aw::ColumnType::kMemo}};
    db.AddTable(notes).AddRow({"line 1\r\nline 2 ? O'Brien \\"});
    db.Finish();
    source_ = Scan(path_);
  }

  int64_t Count(Connection& c, const std::string& table) {
    return QueryValue(c, "SELECT COUNT(*) FROM \"" + table + "\"").AsInteger();
  }

  TempDir dir_;
  std::string path_;
  Source source_;
};

TEST_F(DirectRunTest, CreatesAFreshDatabaseAndFillsIt) {
  ScratchDatabase db("fresh", /*create=*/false);
  auto run = RunConversion(DirectSettings(source_, db.name()), source_);
  EXPECT_EQ(run->code, 0) << run->report;
  EXPECT_TRUE(Contains(run->report, "Moving data directly to PostgreSQL server\r\n"));
  EXPECT_TRUE(Contains(run->report,
                       "Table: Orders\r\n- Table 'Orders' created\r\n- 3 records "
                       "moved\r\n"))
      << run->report;
  EXPECT_TRUE(Contains(run->report, "- Table 'Notes' created\r\n- 1 records moved\r\n"));
  EXPECT_EQ(run->status.lines.back(), "  Transfer completed");
  auto c = ConnectTo(db.name());
  EXPECT_EQ(Count(*c, "Orders"), 3);
  EXPECT_EQ(QueryValue(*c, "SELECT \"Name\" FROM \"Orders\" WHERE \"ID\"=2").Text(),
            "Zo\xC3\xAB \xF0\x9F\x98\x80");
  EXPECT_EQ(QueryValue(*c, "SELECT \"Text\" FROM \"Notes\"").Text(),
            "line 1\r\nline 2 ? O'Brien \\");
  // The sequence follows the moved numbers: the next row gets 4.
  c->Execute("INSERT INTO \"Orders\" (\"Name\") VALUES ('next')");
  EXPECT_EQ(QueryValue(*c, "SELECT MAX(\"ID\") FROM \"Orders\"").AsInteger(), 4);
  c.reset();
  EXPECT_EQ(SessionsOn(db.name()), 0);
}

TEST_F(DirectRunTest, FillsAnExistingDatabaseOrDropsItFirst) {
  for (bool drop : {false, true}) {
    SCOPED_TRACE(drop ? "dropdatabase" : "existing");
    ScratchDatabase db(drop ? "drop" : "existing");
    ConnectTo(db.name())->Execute("CREATE TABLE keep_me (x int)");
    DictionaryPtr settings = DirectSettings(source_, db.name());
    testing::Section(settings)->Set("dropdatabase", drop ? 1 : 0);
    auto run = RunConversion(settings, source_);
    EXPECT_EQ(run->code, 0) << run->report;
    auto c = ConnectTo(db.name());
    EXPECT_EQ(Count(*c, "Orders"), 3);
    EXPECT_EQ(
        QueryValue(*c, "SELECT COUNT(*) FROM pg_tables WHERE tablename='keep_me'").AsInteger(),
        drop ? 0 : 1);
  }
}

TEST_F(DirectRunTest, RejectedTableIsReportedAndTheRunGoesOn) {
  ScratchDatabase db("rejected");
  // A type of the same name makes CREATE TABLE fail while DROP TABLE IF EXISTS passes.
  ConnectTo(db.name())->Execute("CREATE DOMAIN \"Orders\" AS integer");
  auto run = RunConversion(DirectSettings(source_, db.name()), source_);
  EXPECT_EQ(run->code, 3) << run->report;
  EXPECT_EQ(run->outcome.result, RunResult::kCompletedWithFailures);
  std::vector<std::string> lines = Split(run->report, "\r\n");
  auto at = std::find(lines.begin(), lines.end(), "- Creating 'Orders' failed");
  ASSERT_NE(at, lines.end()) << run->report;
  EXPECT_EQ(at[1].rfind("- SQL: CREATE TABLE \"Orders\" (", 0), 0u) << at[1];
  EXPECT_EQ(at[1].find('\r'), std::string::npos);
  EXPECT_EQ(at[2].rfind("- Error: -2147217900 (80040E14) ERROR: type \"Orders\" already exists", 0),
            0u)
      << at[2];
  EXPECT_EQ(at[3], "- 0 records moved");
  EXPECT_TRUE(Contains(run->report, "- Table 'Notes' created\r\n- 1 records moved\r\n"));
  EXPECT_EQ(Count(*ConnectTo(db.name()), "Notes"), 1);
}

TEST_F(DirectRunTest, RejectedInsertFailsTheTableWithTheStatement) {
  ScratchDatabase db("insert");
  ConnectTo(db.name())->Execute(
      "CREATE TABLE \"Orders\" (\"ID\" int, \"Name\" varchar(50) CHECK (\"Name\" <> 'poison'), "
      "\"Qty\" int)");
  DictionaryPtr settings = DirectSettings(source_, db.name());
  testing::Section(settings)->Set("createtables", 0);
  testing::Section(settings)->Set(
      "sourcetables", Value::TextList({"Orders", "Orders\\ID", "Orders\\Name", "Orders\\Qty"}));
  auto run = RunConversion(settings, source_);
  EXPECT_EQ(run->code, 3) << run->report;
  EXPECT_TRUE(Contains(run->report,
                       "Error moving data\r\nError: -2147217900\r\nReason: ERROR: "
                       "new row for relation \"Orders\" violates check constraint"))
      << run->report;
  EXPECT_TRUE(Contains(run->report,
                       "\r\nSQL: INSERT INTO \"Orders\" (\"ID\", \"Name\", \"Qty\") VALUES (3, "
                       "E'poison', 5)\r\n"))
      << run->report;
  EXPECT_FALSE(Contains(run->report, "records moved")) << "the table ends without its count";
  EXPECT_TRUE(Contains(run->report, "\r\nOrders: failed (2 of 3 records): Error -2147217900: "))
      << run->report;
  auto c = ConnectTo(db.name());
  EXPECT_EQ(Count(*c, "Orders"), 2);  // the rows before stay
  c.reset();
  EXPECT_EQ(SessionsOn(db.name()), 0) << "a run that failed half-way left a session open";
}

// Access does not always enforce a unique index; the server does. The table fails with the
// rows before the duplicate, and the tables after it still move.
TEST_F(DirectRunTest, DuplicatesUnderAUniqueIndexFailTheTableNotTheRun) {
  const std::string path = dir_.File("keyed.mdb");
  {
    aw::DatabaseWriter db(path);
    aw::Table keyed{.name = "Keyed"};
    keyed.columns = {{.name = "Code", .type = aw::ColumnType::kLong}};
    keyed.indexes = {{.name = "ByCode", .columns = {{"Code"}}, .unique = true}};
    aw::TableWriter& rows = db.AddTable(keyed);
    for (int code : {1, 2, 3, 2, 4}) rows.AddRow({code});
    aw::Table other{.name = "Other"};
    other.columns = {{.name = "N", .type = aw::ColumnType::kLong}};
    db.AddTable(other).AddRow({1});
    db.Finish();
  }
  const Source source = Scan(path);
  ScratchDatabase db("keyed", /*create=*/false);
  auto run = RunConversion(DirectSettings(source, db.name()), source);
  EXPECT_EQ(run->code, 3) << run->report;
  EXPECT_EQ(run->outcome.result, RunResult::kCompletedWithFailures);
  const TableOutcome* keyed = run->outcome.Find("Keyed");
  ASSERT_TRUE(keyed);
  EXPECT_EQ(keyed->result, TableResult::kFailed);
  EXPECT_EQ(keyed->rows_moved, 3);
  EXPECT_EQ(keyed->rows_expected, 5);
  EXPECT_EQ(run->outcome.Find("Other")->result, TableResult::kComplete);
  auto c = ConnectTo(db.name());
  EXPECT_EQ(Count(*c, "Keyed"), 3);
  EXPECT_EQ(Count(*c, "Other"), 1);
}

// A server that goes away mid-table ends the run: that table failed, the later ones did not
// start, and nothing says the transfer completed.
TEST_F(DirectRunTest, ConnectionLostMidTableEndsTheRun) {
  const std::string path = dir_.File("long.mdb");
  {
    aw::DatabaseWriter db(path);
    aw::Table t{.name = "Long"};
    t.columns = {{.name = "N", .type = aw::ColumnType::kLong}};
    aw::TableWriter& rows = db.AddTable(t);
    for (int i = 0; i < 100; ++i) rows.AddRow({i});
    aw::Table z{.name = "Zlater"};
    z.columns = {{.name = "N", .type = aw::ColumnType::kLong}};
    db.AddTable(z).AddRow({1});
    db.Finish();
  }
  const Source source = Scan(path);
  ScratchDatabase db("lost", /*create=*/false);
  RecordingStatus status;
  auto admin = ConnectTo(MaintenanceDb());
  bool terminated = false;
  int events_in_table = 0;
  status.on_events = [&] {
    // Once 20 rows have been read: the progress then shows what the server holds.
    if (terminated || status.lines.back() != "  Moving records" || ++events_in_table < 3) return;
    terminated = true;
    admin->Execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                   db.name() + "' AND pid <> pg_backend_pid()");
  };
  std::string report;
  DictionaryPtr settings = DirectSettings(source, db.name());
  // The hook counts the events of the table's own rows, which only a run in turn sends.
  testing::Section(settings)->Set("jobs", "1");
  const RunOutcome outcome =
      ConvertDatabase(settings, report, source.schema, testing::ContextFor(status));
  ASSERT_TRUE(terminated);
  EXPECT_EQ(outcome.ExitStatus(), 3);
  EXPECT_EQ(status.lines.back(), "  Transfer failed");
  // Rows go in chunks that the server commits whole: none of this one stayed.
  EXPECT_EQ(status.progress_position, 0);
  EXPECT_TRUE(Contains(report, "\r\nLong: failed (0 of 100 records): ")) << report;
  EXPECT_TRUE(Contains(report,
                       "\r\nZlater: not started\r\nResult: failed (the destination "
                       "could not be written any more: "))
      << report;
  EXPECT_EQ(Count(*ConnectTo(db.name()), "Long"), 0);
}

// A source that cannot be read as it was scanned must not cost the user the database the run
// would have replaced: nothing is dropped or created.
TEST_F(DirectRunTest, UnreadableSourceLeavesTheDatabaseAsItWas) {
  const std::string damaged = dir_.File("damaged.mdb");
  {
    const std::string bytes = ReadTextFile(path_, "");
    WriteTextFile(damaged, bytes.substr(0, bytes.size() / 2));
  }
  Source stale = source_;  // scanned before the file was damaged
  stale.path = damaged;
  ScratchDatabase db("kept");
  ConnectTo(db.name())->Execute("CREATE TABLE keep_me (x int)");
  DictionaryPtr settings = DirectSettings(stale, db.name());
  testing::Section(settings)->Set("dropdatabase", 1);
  std::string report;
  RecordingStatus status;
  try {
    EXPECT_EQ(
        ConvertDatabase(settings, report, stale.schema, testing::ContextFor(status)).ExitStatus(),
        3);
    EXPECT_TRUE(Contains(report, "nothing was written to the destination")) << report;
  } catch (const Error& e) {
    // Refused while opening the source: before the destination, too.
  }
  EXPECT_EQ(
      QueryValue(*ConnectTo(db.name()), "SELECT COUNT(*) FROM pg_tables WHERE tablename='keep_me'")
          .AsInteger(),
      1)
      << report;
}

TEST_F(DirectRunTest, ConnectionFailureGivesTheErrorBlockWithoutThePassword) {
  ScratchDatabase refusing("refusing");
  ConnectTo(MaintenanceDb())
      ->Execute("ALTER DATABASE \"" + refusing.name() + "\" ALLOW_CONNECTIONS false");
  struct Case {
    const char* what;
    std::string port, password, database, hint, reason;
    int code;  // 1: nothing was done at the first connection
  } cases[] = {
      {"wrong password", testing::ServerPort(), "not-the-password", "velkan_never",
       "Open connection to destination database", "password authentication failed", 1},
      {"wrong port", "1", testing::ServerPassword(), "velkan_never",
       "Open connection to destination database", "onnect", 1},
      // The maintenance connection works; the reconnect to the destination fails.
      {"reconnect", testing::ServerPort(), testing::ServerPassword(), refusing.name(),
       "Recreate the database", "is not currently accepting connections", 3},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    DictionaryPtr settings = DirectSettings(source_, k.database);
    testing::Section(settings)->Set("destinationport", k.port);
    testing::Section(settings)->Set("destinationpassword", k.password);
    auto run = RunConversion(settings, source_);
    EXPECT_EQ(run->code, k.code);
    const std::string database = k.database == refusing.name() ? k.database : MaintenanceDb();
    EXPECT_TRUE(Contains(run->report,
                         "Error connecting to destination database.\r\nConnection: "
                         "Driver={PostgreSQL UNICODE};Server=" +
                             testing::ServerHost() + ";Port=" + k.port + ";Database=" + database +
                             ";"))
        << run->report;
    EXPECT_TRUE(Contains(run->report, ";Pwd=** HIDDEN **;\r\nProgram Version: ")) << run->report;
    EXPECT_FALSE(Contains(run->report, "Pwd=" + k.password + ";")) << run->report;
    EXPECT_TRUE(Contains(run->report, "\r\nError: -2147467259\r\nHint: " + k.hint + "\r\nReason: "))
        << run->report;
    EXPECT_TRUE(Contains(run->report, k.reason)) << run->report;
    EXPECT_EQ(run->status.lines.end()[-2], "Error connecting to destination database");
  }
}

// The driver manager reads ODBCSYSINI once per process, so the run without a driver goes into
// a process of its own that has not touched ODBC before.
TEST_F(DirectRunTest, NoDriverRaises1004BeforeOpeningTheDestination) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto run_without_driver = [this] {
    TempDir ini;
    WriteTextFile(ini.File("odbcinst.ini"), "");
    ::setenv("ODBCSYSINI", ini.path().c_str(), 1);
    std::string report;
    RecordingStatus status;
    try {
      ConvertDatabase(DirectSettings(source_, "velkan_never"), report, source_.schema,
                      testing::ContextFor(status));
      std::fprintf(stderr, "no error raised\n");
    } catch (const Error& e) {
      bool expected =
          e.number() == 1004 &&
          e.description() == "No 32 bit PostgreSQL Unicode ODBC driver was found on your computer.";
      // Nothing after the table heading: no connection was tried, no error block written.
      const std::string tail = "TABLES\r\n------------\r\n";
      bool untouched = report.size() >= tail.size() &&
                       report.compare(report.size() - tail.size(), tail.size(), tail) == 0;
      std::fprintf(stderr, "error %d %s; report [%s]\n", e.number(), e.description().c_str(),
                   report.c_str());
      std::exit(expected && untouched ? 0 : 1);
    }
    std::exit(1);
  };
  EXPECT_EXIT(run_without_driver(), ::testing::ExitedWithCode(0), "error 1004");
}

// --- every value arrives ---------------------------------------------------------------

std::string NormalDecimal(std::string text) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative || (!text.empty() && text[0] == '+')) text.erase(0, 1);
  if (text.find('.') != std::string::npos) {
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
  }
  size_t lead = 0;
  while (lead + 1 < text.size() && text[lead] == '0' && text[lead + 1] != '.') ++lead;
  text.erase(0, lead);
  if (text.empty() || text == "0") return "0";
  return (negative ? "-" : "") + text;
}

std::string Hex(const Bytes& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) out += {digits[b >> 4], digits[b & 15]};
  return out;
}

bool Truthy(const Value& v) {
  if (v.IsText()) return v.Text() == "1" || v.Text() == "t" || v.Text() == "true";
  return SafeBool(v);
}

// Empty when the server's value is the source's value of that ADO type, else what differs.
std::string Difference(int type, const Value& source, const Value& server) {
  auto show = [&] { return "source " + SafeStr(source) + ", server " + SafeStr(server); };
  if (type == kAdBoolean) return Truthy(server) == SafeBool(source) ? "" : show();
  if (source.IsNull()) return server.IsNull() ? "" : "expected NULL, " + show();
  if (server.IsNull()) return "unexpected NULL, " + show();
  switch (type) {
    case kAdSmallInt:
    case kAdInteger:
    case kAdTinyInt:
    case kAdUnsignedTinyInt:
    case kAdBigInt:
      return NormalDecimal(SafeStr(server)) == NormalDecimal(SafeStr(source)) ? "" : show();
    case kAdSingle:
      return FormatSignificant(server.AsDouble(), 7) == FormatSignificant(source.AsDouble(), 7)
                 ? ""
                 : show();
    case kAdDouble:
      return FormatSignificant(server.AsDouble(), 15) == FormatSignificant(source.AsDouble(), 15)
                 ? ""
                 : show();
    case kAdCurrency:
    case kAdDecimal:
    case kAdNumeric:
      return NormalDecimal(SafeStr(server)) == NormalDecimal(SafeStr(source)) ? "" : show();
    case kAdDate:
    case kAdDBTimeStamp:
      return OleDateToFields(server.DateSerial()) == OleDateToFields(source.DateSerial()) ? ""
                                                                                          : show();
    case kAdBinary:
    case kAdVarBinary:
    case kAdLongVarBinary:
      if (source.AsBytes().empty()) return server.IsNull() ? "" : show();
      return server.Text() == Hex(source.AsBytes()) ? "" : "binary differs";
    default:
      return server.Text() == SafeStr(source) ? "" : show();
  }
}

// Compares every row of every table of the source with the server's copy, in row order.
void ExpectSameAsSource(const Source& source, Connection& server) {
  Connection access;
  access.Open(BuildSourceConnectionString(source.path, "", "", ""));
  int rows = 0;
  for (const std::string& table : source.tables) {
    SCOPED_TRACE(table);
    auto from = access.OpenRows(TableRows(table));
    auto to = server.Execute("SELECT * FROM " + QuoteIdentifier(table));
    ASSERT_NE(to, nullptr);
    ASSERT_EQ(to->FieldCount(), from->FieldCount());
    int row = 0;
    for (; !from->Eof(); from->MoveNext(), to->MoveNext(), ++row) {
      ASSERT_FALSE(to->Eof()) << "row " << row << " missing on the server";
      for (int i = 0; i < from->FieldCount(); ++i) {
        std::string diff = Difference(from->FieldType(i), from->FieldValue(i), to->FieldValue(i));
        EXPECT_EQ(diff, "") << "row " << row << " column " << from->FieldName(i);
      }
    }
    EXPECT_TRUE(to->Eof()) << "the server has more rows than the source's " << row;
    rows += row;
  }
  EXPECT_GT(rows, 0) << "nothing compared";
}

// Runs the dump of the same settings in the given form and loads it into `database` (which
// it creates) as README says: the part up to the NOTICE line into the maintenance database,
// the rest into the new one.
// Each table's rows, as the server writes them, ordered and hashed: equal hashes mean equal
// tables.
std::string TableDigest(Connection& c, const std::string& table) {
  return SafeStr(QueryValue(c,
                            "SELECT COUNT(*) || ':' || COALESCE(md5(string_agg(t::text, "
                            "E'\\n' ORDER BY t::text)), '') FROM " +
                                QuoteIdentifier(table) + " t"));
}

// The direct run holds what the source holds, and both dump forms load into the same tables.
void ExpectDirectEqualsSourceAndDump(const Source& source) {
  ScratchDatabase direct("direct", false), inserts("inserts", false), copies("copies", false);
  DictionaryPtr settings = DirectSettings(source, direct.name());
  auto run = RunConversion(settings, source);
  ASSERT_EQ(run->code, 0) << run->report;
  EXPECT_FALSE(Contains(run->report, "failed")) << run->report;
  EXPECT_FALSE(Contains(run->report, "Error")) << run->report;
  EXPECT_EQ(run->status.lines.back(), "  Transfer completed");
  auto server = ConnectTo(direct.name());
  ExpectSameAsSource(source, *server);
  for (const ScratchDatabase* loaded : {&inserts, &copies}) {
    LoadDumpInto(source, settings, loaded->name(), loaded == &inserts ? "INSERT" : "COPY");
    auto c = ConnectTo(loaded->name());
    for (const std::string& table : source.tables)
      EXPECT_EQ(TableDigest(*server, table), TableDigest(*c, table)) << loaded->name() << table;
  }
}

TEST_F(DirectRunTest, EveryTypeArrivesAsInTheSourceAndAsTheDumpLoads) {
  std::string path = dir_.File("types.mdb");
  {
    aw::DatabaseWriter db(path);
    aw::Table t{.name = "Every Type"};
    using CT = aw::ColumnType;
    t.columns = {
        {.name = "ID", .type = CT::kLong, .auto_number = aw::AutoNumber::kIncrement},
        {.name = "Flag", .type = CT::kBoolean},
        {.name = "Small", .type = CT::kByte},
        {.name = "Int", .type = CT::kInteger},
        {.name = "Long", .type = CT::kLong},
        {.name = "Money", .type = CT::kCurrency},
        {.name = "Single", .type = CT::kSingle},
        {.name = "Double", .type = CT::kDouble},
        {.name = "When", .type = CT::kDateTime},
        {.name = "Bin", .type = CT::kBinary, .size = 16},
        {.name = "Text", .type = CT::kText, .size = 255},
        {.name = "Ole", .type = CT::kOle},
        {.name = "Memo", .type = CT::kMemo},
        {.name = "Guid", .type = CT::kGuid},
        {.name = "Dec", .type = CT::kDecimal, .precision = 28, .scale = 6},
    };
    t.indexes = {{.name = "PrimaryKey", .columns = {{"ID"}}, .primary_key = true}};
    aw::TableWriter& rows = db.AddTable(t);
    std::string memo;
    for (int i = 0; i < 3000; ++i) memo += "Zeile \xC3\xBC \xF0\x9F\x8E\x89 ?\t'\\\r\n";
    std::vector<uint8_t> ole(200000);
    for (size_t i = 0; i < ole.size(); ++i) ole[i] = static_cast<uint8_t>(i * 31);
    rows.AddRow({nullptr, true, 255, -32768, 2147483647, aw::Value::Decimal("922337203685477.5807"),
                 3.402823e38, 1.7976931348623e308, aw::Value::Date({2009, 3, 7, 14, 5, 9}),
                 aw::Value::Bytes({0x00, 0x0A, 0xFF}),
                 "O'Brien C:\\temp \xE6\x97\xA5 \xF0\x9F\x98\x80 ?", aw::Value::Bytes(ole), memo,
                 aw::Value::Guid("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"),
                 aw::Value::Decimal("-1234567890123456789012.123456")});
    rows.AddRow({nullptr, false, 0, 0, -2147483647 - 1, aw::Value::Decimal("-0.0001"), -1.5e-20,
                 0.1, aw::Value::Date({1899, 12, 29, 6, 0, 0}), nullptr, "", nullptr, "", nullptr,
                 aw::Value::Decimal("0.000001")});
    rows.AddRow({nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                 aw::Value::Date({100, 1, 1, 0, 0, 0}), nullptr, nullptr, nullptr, nullptr, nullptr,
                 nullptr});
    rows.AddRow({nullptr, true, 1, 1, 1, aw::Value::Decimal("1"), 0.5, -2.5,
                 aw::Value::Date({9999, 12, 31, 23, 59, 59}), nullptr, std::string("\x01\x1B\x1F"),
                 nullptr, "tab\there", nullptr, aw::Value::Decimal("1")});
    db.Finish();
  }
  ExpectDirectEqualsSourceAndDump(Scan(path));
}

// Customers keyed by (Region, Code) with descriptions and a calculated column, Orders
// referring to them in the other column order, Lines referring to Orders through a column
// and a relationship with names over 63 bytes, and one relationship Access does not enforce.
// Lines\Id is not selected.
Source RelatedTables(const TempDir& dir) {
  using CT = aw::ColumnType;
  const std::string path = dir.File("related.accdb"), long_column(64, 'o');
  aw::DatabaseWriter db(path, {.format = aw::Format::kAce12});
  aw::Table customers{.name = "Customers", .description = "Who buys, it's \"all\"\r\nfor now"};
  customers.columns = {{.name = "Region", .type = CT::kText, .size = 4},
                       {.name = "Code", .type = CT::kLong, .description = "Per region"},
                       {.name = "Tag",
                        .type = CT::kText,
                        .description = "Shown",
                        .expression = "[Region] & [Code]"}};
  customers.indexes = {
      {.name = "PrimaryKey", .columns = {{"Region"}, {"Code"}}, .primary_key = true}};
  db.AddTable(customers).AddRow({"N", 1, "N1"});
  aw::Table orders{.name = "Orders"};
  orders.columns = {
      {.name = "Id", .type = CT::kLong},
      {.name = "CustCode", .type = CT::kLong},
      {.name = "CustRegion", .type = CT::kText, .size = 4},
      {.name = "Note", .type = CT::kText, .size = 9, .default_value = "=UCase(\"x\")"}};
  orders.indexes = {{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true}};
  db.AddTable(orders).AddRow({10, 1, "N", "n"});
  aw::Table lines{.name = "Lines"};
  lines.columns = {{.name = "Id", .type = CT::kLong, .description = "not selected"},
                   {.name = long_column, .type = CT::kLong, .expression = "[Id]*10"}};
  db.AddTable(lines).AddRow({1, 10});
  db.AddRelationship({.name = "CustomersOrders",
                      .primary_table = "Customers",
                      .primary_columns = {"Region", "Code"},
                      .foreign_table = "Orders",
                      .foreign_columns = {"CustRegion", "CustCode"},
                      .cascade_updates = true,
                      .cascade_deletes = true});
  db.AddRelationship({.name = "OrdersLines" + std::string(53, 'x'),
                      .primary_table = "Orders",
                      .primary_columns = {"Id"},
                      .foreign_table = "Lines",
                      .foreign_columns = {long_column}});
  db.AddRelationship({.name = "Loose",
                      .primary_table = "Orders",
                      .primary_columns = {"Id"},
                      .foreign_table = "Customers",
                      .foreign_columns = {"Code"},
                      .enforce = false});
  db.Finish();
  Source source = Scan(path);
  std::erase(source.selection, "Lines\\Id");
  return source;
}

// Each foreign key (table, key column numbers in key order, referenced table and columns,
// update and delete actions, start and length of its name), then each comment.
std::string KeysAndComments(Connection& c) {
  return SafeStr(QueryValue(
      c,
      "SELECT (SELECT string_agg(conrelid::regclass || ' ' || conkey::text || ' -> ' || "
      "confrelid::regclass || ' ' || confkey::text || ' ' || confupdtype::text || "
      "confdeltype::text || ' ' || left(conname, 15) || ' ' || length(conname), '|' ORDER BY "
      "conrelid::regclass::text) FROM pg_constraint WHERE contype = 'f') || '#' || "
      "(SELECT string_agg(objoid::regclass || '.' || objsubid || '=' || description, '|' ORDER BY "
      "objoid::regclass::text, objsubid) FROM pg_description JOIN pg_class ON oid = objoid "
      "WHERE relnamespace = 'public'::regnamespace)"));
}

TEST_F(DirectRunTest, RelationshipsAndDescriptionsArriveDirectAndThroughTheDump) {
  const Source source = RelatedTables(dir_);
  ScratchDatabase direct("keys", false), dumped("keys_dumped", false);
  DictionaryPtr settings = DirectSettings(source, direct.name());
  testing::Section(settings)->Set("tableprefix", "acc_");
  testing::Section(settings)->Set("transferrelationships", 1);
  testing::Section(settings)->Set("transferdescriptions", 1);
  auto run = RunConversion(settings, source);
  ASSERT_EQ(run->code, 0) << run->report;
  EXPECT_TRUE(Contains(run->report,
                       "\r\n- Relationship 'Loose' not created: Access does not enforce its "
                       "referential integrity\r\n"))
      << run->report;
  // A default without a PostgreSQL form is named, and kept in the column's comment.
  EXPECT_TRUE(Contains(run->report,
                       "\r\n- Column 'Note' has no default: the Access default value "
                       "=UCase(\"x\") has no exact PostgreSQL form for the column's type\r\n"))
      << run->report;
  const std::string expected =
      "\"acc_Lines\" {1} -> \"acc_Orders\" {1} aa OrdersLinesxxxx 63|"
      "\"acc_Orders\" {3,2} -> \"acc_Customers\" {1,2} cc CustomersOrders 15#"
      "\"acc_Customers\".0=Who buys, it's \"all\"\r\nfor now|\"acc_Customers\".2=Per region|"
      "\"acc_Customers\".3=Shown\nCalculated: [Region] & [Code]|"
      "\"acc_Lines\".1=Calculated: [Id]*10|\"acc_Orders\".4=Access default: =UCase(\"x\")";
  EXPECT_EQ(KeysAndComments(*ConnectTo(direct.name())), expected);
  LoadDumpInto(source, settings, dumped.name(), "INSERT");
  EXPECT_EQ(KeysAndComments(*ConnectTo(dumped.name())), expected);
}

// Keys the server refuses (no primary keys to refer to) are each reported, and the run goes
// on to the next key and to the comments; the exit status says something failed.
TEST_F(DirectRunTest, RejectedForeignKeysAreReportedAndTheRunGoesOn) {
  const Source source = RelatedTables(dir_);
  ScratchDatabase db("keys_rejected", false);
  DictionaryPtr settings = DirectSettings(source, db.name());
  for (const char* key : {"transferrelationships", "transferdescriptions"})
    testing::Section(settings)->Set(key, 1);
  testing::Section(settings)->Set("transferindexes", 0);
  auto run = RunConversion(settings, source);
  EXPECT_EQ(run->code, 3) << run->report;
  ASSERT_EQ(run->outcome.rejected.size(), 2u) << run->report;
  EXPECT_EQ(run->outcome.TablesNotComplete(), 0);
  for (const char* part : {"\r\nHint: Transfer relationships\r\nReason: ERROR: there is no "
                           "unique constraint matching given keys for referenced table",
                           "\r\nSQL: ALTER TABLE \"Orders\" ADD CONSTRAINT \"CustomersOrders\"",
                           "\r\n- 5 comments created\r\n",
                           "\r\nResult: completed with rejected statements (2 statements "
                           "rejected)\r\n"})
    EXPECT_TRUE(Contains(run->report, part)) << part << "\n" << run->report;
}

TEST(DirectRunSharedFilesTest, RealAccessFilesArriveAsInTheSourceAndAsTheDumpLoads) {
  if (!testing::HaveServer()) GTEST_SKIP() << "no PostgreSQL server (PGPORT unset)";
  const std::filesystem::path folder = FERROLYTE_SOURCE_DIR "/../shared/access";
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no shared Access files";
  int runs = 0;
  for (const char* name :
       {"jet3-v1997-test.mdb", "jet4-v2003-test.mdb", "jet4-v2003-numeric.mdb",
        "jet4-rc4-encoded.mdb", "ace12-v2007-test.accdb", "ace14-v2010-test.accdb",
        "ace16-v2016-bigint.accdb", "ace16-v2016-currency.accdb", "ace16-v2016-attachments.accdb",
        "ace16-v2016-longtext.accdb"}) {
    std::filesystem::path file = folder / name;
    if (!std::filesystem::exists(file)) continue;
    SCOPED_TRACE(name);
    ExpectDirectEqualsSourceAndDump(Scan(file.string()));
    ++runs;
  }
  EXPECT_GT(runs, 0);
}

}  // namespace
}  // namespace ferrolyte
