// Dumps of Access files loaded into the throw-away PostgreSQL server with psql, and read back
// with psql: what was written into the Access file must come out of PostgreSQL unchanged.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "accesswriter/writer.h"
#include "conversion/conversion_run.h"
#include "conversion/literals.h"
#include "conversion_fixtures.h"
#include "platform/source_connection.h"
#include "schema/access_scanner.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/safe.h"
#include "support/text.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;
using testing::TempDir;

bool HaveServer() {
  return std::getenv("PGPORT") != nullptr && std::system("psql --version > /dev/null 2>&1") == 0;
}

std::string ShellQuote(const std::string& s) {
  return "'" + ReplaceAll(s, "'", "'\\''") + "'";
}

// Runs psql with the arguments; returns its standard output, fails the test on an error.
std::string Psql(const TempDir& dir, const std::string& args,
                 const std::string& client_encoding = "UTF8") {
  std::string out = dir.File("psql.out"), err = dir.File("psql.err");
  int rc = std::system(("PGCLIENTENCODING=" + client_encoding + " psql -X -q -v ON_ERROR_STOP=1 " +
                        args + " > " + out + " 2> " + err)
                           .c_str());
  std::string errors = ReadTextFile(err, "utf-8");
  EXPECT_EQ(rc, 0) << errors;
  EXPECT_EQ(errors.find("ERROR"), std::string::npos) << errors;
  return ReadTextFile(out, "utf-8");
}

// A standard string literal for queries of the test itself.
std::string Literal(const std::string& s) {
  return "'" + ReplaceAll(s, "'", "''") + "'";
}

std::string UniqueDatabase() {
  static std::atomic<int> n{0};
  return "ferrolyte_dump_" + std::to_string(getpid()) + "_" + std::to_string(n++);
}

using Scanned = testing::ScannedSource;

Scanned Scan(const std::string& path) {
  return testing::ScanEverything(path);
}

// Converts the Access file into a dump, loads it with psql into a new database and returns
// that database's name.
class DumpLoader {
 public:
  explicit DumpLoader(const TempDir& dir) : dir_(dir) {}
  ~DumpLoader() {
    if (!loaded_) return;
    std::string cmd = "psql -X -q -c " +
                      ShellQuote("DROP DATABASE IF EXISTS \"" + database_ + "\"") +
                      " > /dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) {
      // The cluster is thrown away after the run anyway.
    }
  }

  // Loads under the client encoding psql is given, as a user's environment may set it.
  void Load(const std::string& access_file, const Scanned& scanned,
            const std::string& client_encoding = "UTF8") {
    database_ = UniqueDatabase();
    std::string dump = dir_.File("dump.sql");
    DictionaryPtr settings = testing::RunSettings(dump, scanned.selection);
    testing::Section(settings)->Set("sourcefilename", access_file);
    testing::Section(settings)->Set("destinationdatabase", database_);
    testing::Section(settings)->Set("autocommit", 0);
    std::string report;
    RecordingStatus status;
    ASSERT_EQ(
        ConvertDatabase(settings, report, scanned.schema, testing::ContextFor(status)).ExitStatus(),
        0)
        << report;
    ASSERT_EQ(status.lines.back(), "  Transfer completed") << report;
    report_ = report;

    std::string text = ReadTextFile(dump, "utf-8");
    const std::string notice = "-- NOTICE: At this place you need to connect";
    size_t at = text.find(notice);
    ASSERT_NE(at, std::string::npos);
    WriteTextFile(dir_.File("part1.sql"), text.substr(0, at));
    WriteTextFile(dir_.File("rest.sql"), text.substr(at));
    Psql(dir_, "-f " + dir_.File("part1.sql"), client_encoding);
    loaded_ = true;
    Psql(dir_, "-d " + database_ + " -f " + dir_.File("rest.sql"), client_encoding);
  }

  // Rows of the query, each a list of column texts; NULL reads as "<NULL>".
  std::vector<std::vector<std::string>> Query(const std::string& sql) {
    std::string out =
        Psql(dir_, "-d " + database_ + " -At -P null='<NULL>' -F " + ShellQuote("\x1f") + " -R " +
                       ShellQuote("\x1e") + " -c " + ShellQuote(sql));
    std::vector<std::vector<std::string>> rows;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    if (out.empty()) return rows;
    for (const std::string& line : Split(out, "\x1e")) rows.push_back(Split(line, "\x1f"));
    return rows;
  }

  const std::string& report() const { return report_; }

 private:
  const TempDir& dir_;
  std::string database_;
  std::string report_;
  bool loaded_ = false;
};

class DumpIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveServer()) GTEST_SKIP() << "no PostgreSQL server (PGPORT unset or no psql)";
  }
  TempDir dir_;
};

TEST_F(DumpIntegrationTest, EveryTypeArrivesUnchanged) {
  const std::string table = "Typen 'A\\\"B\" Ä";
  const std::string tricky_column = "Straße \"Nr\" & <x> 'y' \\ ?";
  std::string long_memo;
  for (int i = 0; i < 20000; ++i) long_memo += "Zeile " + std::to_string(i) + " äöü € 😀\r\n";
  std::string long_text(255, 'x');
  long_text.replace(0, 6, "Ünïcø");

  aw::Table t{.name = table};
  t.columns = {
      {.name = "Id", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement},
      {.name = "Flag", .type = aw::ColumnType::kBoolean},
      {.name = "Small", .type = aw::ColumnType::kByte},
      {.name = "Int", .type = aw::ColumnType::kInteger},
      {.name = "Long", .type = aw::ColumnType::kLong},
      {.name = "Money", .type = aw::ColumnType::kCurrency},
      {.name = "Single", .type = aw::ColumnType::kSingle},
      {.name = "Double", .type = aw::ColumnType::kDouble},
      {.name = "When", .type = aw::ColumnType::kDateTime},
      {.name = "Bin", .type = aw::ColumnType::kBinary, .size = 16},
      {.name = tricky_column, .type = aw::ColumnType::kText, .size = 255, .required = true},
      {.name = "Ole", .type = aw::ColumnType::kOle},
      {.name = "Memo", .type = aw::ColumnType::kMemo},
      {.name = "Guid", .type = aw::ColumnType::kGuid},
      {.name = "Dec", .type = aw::ColumnType::kDecimal, .precision = 18, .scale = 4},
  };
  t.indexes = {{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true},
               {.name = "ByText \"1\"", .columns = {{tricky_column}}}};

  const std::string guid = "{6F9619FF-8B86-D011-B42D-00C04FC964FF}";
  double when =
      aw::ToOleDate({.year = 2009, .month = 3, .day = 7, .hour = 14, .minute = 5, .second = 9});
  struct Row {
    std::vector<aw::Value> values;
    std::vector<std::string> expected;  // as PostgreSQL prints the column
  };
  std::vector<Row> rows = {
      {{nullptr, true, 255, -32768, 2147483647, aw::Value::Decimal("-922337203685477.5807"), 1.5,
        3.14159265358979, aw::Value::Date(when), aw::Value::Bytes({0x00, 0x0A, 0xFF}),
        "O'Brien \\ \"q\" ?\t\r\n\x01 end", aw::Value::Bytes(std::vector<uint8_t>(70000, 0x5A)),
        long_memo, aw::Value::Guid(guid), aw::Value::Decimal("12345678901234.5678")},
       {"1", "t", "255", "-32768", "2147483647", "-922337203685477.5807", "1.5", "3.14159265358979",
        "2009-03-07 14:05:09", "000AFF", "O'Brien \\ \"q\" ?\t\r\n\x01 end", "(OLE hex, below)",
        long_memo, guid, "12345678901234.5678"}},
      {{nullptr, false, 0, 0, -1, aw::Value::Decimal("0.5"), -0.25, -1e-10,
        aw::Value::Date(aw::ToOleDate({.year = 1899, .month = 12, .day = 30})), nullptr, long_text,
        nullptr, nullptr, nullptr, aw::Value::Decimal("-0.0001")},
       {"2", "f", "0", "0", "-1", "0.5000", "-0.25", "-1e-10", "1899-12-30 00:00:00", "<NULL>",
        long_text, "<NULL>", "<NULL>", "<NULL>", "-0.0001"}},
      {{nullptr, false, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "",
        nullptr, "", nullptr, nullptr},
       {"3", "f", "<NULL>", "<NULL>", "<NULL>", "<NULL>", "<NULL>", "<NULL>", "<NULL>", "<NULL>",
        "", "<NULL>", "", "<NULL>", "<NULL>"}},
  };
  // The OLE column arrives as hex text.
  rows[0].expected[11].clear();
  for (int i = 0; i < 70000; ++i) rows[0].expected[11] += "5A";

  std::string path = dir_.File("types.mdb");
  {
    aw::DatabaseWriter db(path);
    aw::TableWriter& w = db.AddTable(t);
    for (const Row& r : rows) w.AddRow(r.values);
    aw::Table empty{.name = "Leer"};
    empty.columns = {
        {.name = "N", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement}};
    db.AddTable(empty);
    db.Finish();
  }

  DumpLoader loader(dir_);
  ASSERT_NO_FATAL_FAILURE(loader.Load(path, Scan(path)));
  std::string select = "SELECT ";
  for (size_t i = 0; i < t.columns.size(); ++i)
    select += std::string(i ? ", " : "") + QuoteIdentifier(t.columns[i].name);
  select += " FROM " + QuoteIdentifier(table) + " ORDER BY \"Id\"";
  auto got = loader.Query(select);
  ASSERT_EQ(got.size(), rows.size()) << loader.report();
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t c = 0; c < t.columns.size(); ++c) {
      std::string expected = rows[r].expected[c];
      std::string actual = c < got[r].size() ? got[r][c] : "(missing)";
      if (t.columns[c].type == aw::ColumnType::kGuid) {
        expected = AsciiUpper(expected);
        actual = AsciiUpper(actual);
      }
      EXPECT_EQ(actual.size(), expected.size()) << "row " << r << " column " << t.columns[c].name;
      EXPECT_TRUE(actual == expected)
          << "row " << r << " column " << t.columns[c].name << ": " << actual.substr(0, 200);
    }

  // The sequence continues after the loaded rows, and the indexes exist.
  EXPECT_EQ(loader.Query("SELECT nextval(pg_get_serial_sequence(" +
                         Literal(QuoteIdentifier(table)) + ", 'Id'))"),
            (std::vector<std::vector<std::string>>{{"4"}}));
  EXPECT_EQ(loader.Query("SELECT count(*) FROM pg_indexes WHERE tablename = " + Literal(table)),
            (std::vector<std::vector<std::string>>{{"2"}}));
  EXPECT_EQ(loader.Query("SELECT count(*) FROM \"Leer\""),
            (std::vector<std::vector<std::string>>{{"0"}}));
}

// The columns Access 2010 and later add: calculated ones (their table used to fail to be
// created, their values arrived wrapped), Date/Time Extended before 1899 and to the
// microsecond, and indexes with descending columns.
TEST_F(DumpIntegrationTest, CalculatedExtendedAndDescendingColumnsArriveAsInAccess) {
  using T = aw::ColumnType;
  aw::Table t{.name = "Items"};
  t.columns = {
      {.name = "Id", .type = T::kLong, .auto_number = aw::AutoNumber::kIncrement},
      {.name = "First", .type = T::kText, .size = 20},
      {.name = "Qty", .type = T::kLong},
      {.name = "Label", .type = T::kText, .expression = "[First] & \" x\" & [Qty]"},
      {.name = "Share", .type = T::kDecimal, .expression = "CDec([Qty])/8"},
      {.name = "Cost", .type = T::kCurrency, .expression = "[Qty]*2.5"},
      {.name = "Stamp", .type = T::kDateTimeExtended},
  };
  t.indexes = {{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true},
               {.name = "Recent", .columns = {{"Stamp", true}, {"First"}}}};
  std::string path = dir_.File("fidelity.accdb");
  {
    aw::DatabaseWriter db(path, {.format = aw::Format::kAce12});
    aw::TableWriter& w = db.AddTable(t);
    w.AddRow({nullptr, "Ada", 3, "Ada x3", aw::Value::Decimal("0.375"), aw::Value::Decimal("7.5"),
              "1265-06-14 12:45:00.1234567"});
    w.AddRow({nullptr, "Alan", 12, "Alan x12", aw::Value::Decimal("1.5"), aw::Value::Decimal("30"),
              "9999-12-31 23:59:59.9999999"});
    db.Finish();
  }
  DumpLoader loader(dir_);
  ASSERT_NO_FATAL_FAILURE(loader.Load(path, Scan(path)));
  EXPECT_EQ(loader.Query("SELECT \"Label\", \"Share\", \"Cost\", \"Stamp\" FROM \"Items\" "
                         "ORDER BY \"Id\""),
            (std::vector<std::vector<std::string>>{
                {"Ada x3", "0.375", "7.5000", "1265-06-14 12:45:00.123456"},
                {"Alan x12", "1.5", "30.0000", "9999-12-31 23:59:59.999999"}}))
      << loader.report();
  EXPECT_EQ(loader.Query("SELECT indexdef FROM pg_indexes WHERE indexname = 'Items_Recent'"),
            (std::vector<std::vector<std::string>>{
                {"CREATE INDEX \"Items_Recent\" ON public.\"Items\" USING btree (\"Stamp\" DESC, "
                 "\"First\")"}}));
}

// Defaults as Access writes them must mean the same on every server: a new row gets them,
// also where the server reads dates day first.
TEST_F(DumpIntegrationTest, AccessDefaultsAreDefaultsTheServerApplies) {
  testing::ScopedEnv day_first("PGDATESTYLE", "ISO, DMY");
  aw::Table t{.name = "Defaults"};
  t.columns = {
      {.name = "Id", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement},
      {.name = "Day", .type = aw::ColumnType::kDateTime, .default_value = "#3/7/2009#"},
      {.name = "Moment",
       .type = aw::ColumnType::kDateTime,
       .default_value = "#1/15/2020 2:05:09 PM#"},
      {.name = "Stamp", .type = aw::ColumnType::kDateTime, .default_value = "Now()"},
      {.name = "Label",
       .type = aw::ColumnType::kText,
       .size = 20,
       .default_value = "\"it's \"\"new\"\"\""},
      {.name = "Count", .type = aw::ColumnType::kLong, .default_value = "42"},
      {.name = "Flag", .type = aw::ColumnType::kBoolean, .default_value = "Yes"},
  };
  t.indexes = {{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true}};
  std::string path = dir_.File("defaults.mdb");
  {
    aw::DatabaseWriter db(path);
    db.AddTable(t).AddRow({nullptr, nullptr, nullptr, nullptr, "old", 1, false});
    db.Finish();
  }
  DumpLoader loader(dir_);
  ASSERT_NO_FATAL_FAILURE(loader.Load(path, Scan(path)));
  loader.Query("INSERT INTO \"Defaults\" DEFAULT VALUES");
  EXPECT_EQ(
      loader.Query("SELECT \"Id\", \"Day\", \"Moment\", \"Stamp\" IS NOT NULL, \"Label\", "
                   "\"Count\", \"Flag\" FROM \"Defaults\" ORDER BY \"Id\""),
      (std::vector<std::vector<std::string>>{
          {"1", "<NULL>", "<NULL>", "f", "old", "1", "f"},
          {"2", "2009-03-07 00:00:00", "2020-01-15 14:05:09", "t", "it's \"new\"", "42", "t"}}))
      << loader.report();
}

// The dump says its own encoding, so a client set to another one reads the same text.
TEST_F(DumpIntegrationTest, DumpLoadsUnderAnotherClientEncoding) {
  const std::string path = dir_.File("greetings.mdb");
  {
    aw::DatabaseWriter db(path);
    aw::Table t{.name = "Grüße"};
    t.columns = {{.name = "Wort", .type = aw::ColumnType::kText, .size = 20}};
    db.AddTable(t).AddRow({"Grüße"});
    db.Finish();
  }
  DumpLoader loader(dir_);
  ASSERT_NO_FATAL_FAILURE(loader.Load(path, Scan(path), "LATIN1"));
  EXPECT_EQ(loader.Query("SELECT \"Wort\" FROM \"Grüße\""),
            (std::vector<std::vector<std::string>>{{"Grüße"}}));
}

// Names Access allows but PostgreSQL would cut or read as statements: each table and column
// arrives under its own name, and nothing of a name runs as SQL.
TEST_F(DumpIntegrationTest, HostileAndLongNamesArriveAsTablesNotStatements) {
  const std::string injected = "zz\nCREATE TABLE pwned(); --";
  const std::string long_a = std::string(60, 't') + "_one", long_b = std::string(60, 't') + "_two";
  const std::string column_a = std::string(62, 'c') + "_a", column_b = std::string(62, 'c') + "_b";
  const std::string path = dir_.File("names.mdb");
  {
    aw::DatabaseWriter db(path);
    for (const std::string& name : {injected, long_a, long_b}) {
      aw::Table t{.name = name};
      t.columns = {{.name = column_a, .type = aw::ColumnType::kLong},
                   {.name = column_b, .type = aw::ColumnType::kLong}};
      aw::TableWriter& rows = db.AddTable(t);
      for (int i = 0; i < (name == long_b ? 2 : 1); ++i) rows.AddRow({i, i + 10});
    }
    db.Finish();
  }
  DumpLoader loader(dir_);
  ASSERT_NO_FATAL_FAILURE(loader.Load(path, Scan(path)));
  EXPECT_EQ(loader.Query("SELECT count(*) FROM pg_tables WHERE tablename = 'pwned'"),
            (std::vector<std::vector<std::string>>{{"0"}}));
  EXPECT_EQ(loader.Query("SELECT count(*) FROM " + QuoteIdentifier(injected)),
            (std::vector<std::vector<std::string>>{{"1"}}));
  // Nor does the name start a line of its own in the report, where it could pose as one.
  for (const std::string& line : Split(loader.report(), "\n"))
    EXPECT_FALSE(line.starts_with("CREATE TABLE pwned")) << loader.report();
  EXPECT_NE(loader.report().find("Table: zz\\nCREATE TABLE pwned(); --\r\n"), std::string::npos);
  EXPECT_NE(loader.report().find("zz\\nCREATE TABLE pwned(); --: complete (1 of 1 records)"),
            std::string::npos)
      << loader.report();
  // Two tables and two columns that share their first 63 bytes stay apart.
  EXPECT_EQ(loader.Query("SELECT count(*) FROM pg_tables WHERE tablename LIKE 'tttt%'"),
            (std::vector<std::vector<std::string>>{{"2"}}));
  EXPECT_EQ(loader.Query("SELECT count(DISTINCT attname) FROM pg_attribute WHERE attname LIKE "
                         "'cccc%' AND attnum > 0"),
            (std::vector<std::vector<std::string>>{{"2"}}));
  for (const std::string& name : {long_a, long_b, column_a, column_b})
    EXPECT_NE(loader.report().find("shortened to '" + name.substr(0, 54) + "_"), std::string::npos)
        << loader.report();
  EXPECT_NE(loader.report().find("(PostgreSQL keeps 63 bytes of a name; the full name is '" +
                                 long_b + "')"),
            std::string::npos);
}

TEST_F(DumpIntegrationTest, RealAccessFilesLoadWithTheirRowCounts) {
  std::filesystem::path folder = std::filesystem::path(FERROLYTE_SOURCE_DIR) / "../shared/access";
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no shared Access files";
  int converted = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::string path = entry.path().string();
    if (!EndsWithIgnoreCase(path, ".mdb") && !EndsWithIgnoreCase(path, ".accdb")) continue;
    Scanned scanned;
    Connection source;
    try {
      scanned = Scan(path);
      source.Open(BuildSourceConnectionString(path, "", "", ""));
    } catch (const Error& e) {
      // Encrypted and password-protected files need their password; not part of this check.
      continue;
    }
    SCOPED_TRACE(path);
    TempDir dir;
    DumpLoader loader(dir);
    ASSERT_NO_FATAL_FAILURE(loader.Load(path, scanned));
    for (const std::string& table : scanned.tables) {
      const std::string expected = std::to_string(source.CountRows(TableRows(table)));
      EXPECT_EQ(loader.Query("SELECT count(*) FROM " + QuoteIdentifier(table)),
                (std::vector<std::vector<std::string>>{{expected}}))
          << table;
    }
    ++converted;
  }
  EXPECT_GT(converted, 0);
}

}  // namespace
}  // namespace ferrolyte
