// What an Access file holds beyond its tables' own columns, converted into the throw-away
// server: attachments and multi-value columns as child tables, validation rules as checks,
// tables linked from back-ends.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "accesswriter/writer.h"
#include "conversion/conversion_fixtures.h"
#include "conversion/conversion_run.h"
#include "platform/odbc_test_server.h"
#include "schema/access_scanner.h"
#include "schema/schema_document.h"
#include "support/safe.h"
#include "testing/temp_dir.h"
#include "wizard/table_selection.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;

struct Converted {
  RunOutcome outcome;
  std::string report;
};

// A direct run of the file into `database`, everything selected, with the extra settings.
Converted ConvertDirect(const std::string& path, const std::string& database,
                        const std::vector<std::pair<const char*, const char*>>& extra,
                        const std::string& password = "") {
  RecordingStatus scan_status;
  const SchemaModel schema =
      ScanAccessDatabase(path, password, "", "", testing::ContextFor(scan_status));
  DictionaryPtr settings = testing::RunSettings("", AllPaths(TablesOfSchema(schema)));
  DictionaryPtr s = testing::Section(settings);
  s->Set("sourcefilename", path);
  s->Set("sourcepassword", password);
  testing::SetDirectDestination(s, database);
  s->Set("autocommit", 0);
  for (const auto& [key, value] : extra) s->Set(key, value);
  Converted c;
  RecordingStatus status;
  c.outcome = ConvertDatabase(settings, c.report, schema, testing::ContextFor(status));
  return c;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Hex(const Bytes& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// ---- attachments and multi-value columns ----

Bytes Pattern(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + i / 97) & 0xff);
  return bytes;
}

TEST(ComplexColumnsTest, FilesAndValuesArriveWholeInChildTablesWithKeys) {
  FERROLYTE_REQUIRE_SERVER();
  testing::TempDir dir;
  const std::string path = dir.File("docs.accdb");
  Bytes every_byte(256);
  for (int i = 0; i < 256; ++i) every_byte[i] = static_cast<uint8_t>(i);
  // Larger than the BLOB limit of OLE columns: files have none.
  const std::vector<aw::Attachment> files = {{"note.txt", {'h', 'i', '\n'}, true},
                                             {"raw.bin", every_byte, false},
                                             {"empty.dat", {}, true},
                                             {"photo.jpg", Pattern(700000), false},
                                             {"big.txt", Pattern(300000), true}};
  {
    aw::DatabaseWriter w(path, {.format = aw::Format::kAce12});
    aw::Table t{.name = "Docs"};
    t.columns = {{.name = "Id", .type = aw::ColumnType::kLong},
                 {.name = "Title", .type = aw::ColumnType::kText, .size = 20},
                 {.name = "Files",
                  .type = aw::ColumnType::kComplex,
                  .complex = aw::ComplexKind::kAttachment},
                 {.name = "Tags",
                  .type = aw::ColumnType::kComplex,
                  .size = 20,
                  .complex = aw::ComplexKind::kMultiValue,
                  .value_type = aw::ColumnType::kText},
                 {.name = "Scores",
                  .type = aw::ColumnType::kComplex,
                  .complex = aw::ComplexKind::kMultiValue,
                  .value_type = aw::ColumnType::kLong}};
    t.indexes = {{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true}};
    auto& rows = w.AddTable(t);
    rows.AddRow({10, "none", nullptr, aw::Value::Items({}), aw::Value::Items({})});
    rows.AddRow({20, "two", aw::Value::Attachments({files[0], files[1]}),
                 aw::Value::Items({"red", "blue"}), aw::Value::Items({3, -1})});
    rows.AddRow({30, "three", aw::Value::Attachments({files[2], files[3], files[4]}),
                 aw::Value::Items({"green"}), aw::Value::Items({7})});
    w.Finish();
  }
  testing::ScratchDatabase db("complex", false);
  const Converted c = ConvertDirect(path, db.name(),
                                    {{"complexcolumns", "TABLES"}, {"transferrelationships", "1"}});
  EXPECT_EQ(c.outcome.ExitStatus(), 0) << c.report;
  int64_t bytes = 0;
  for (const aw::Attachment& f : files) bytes += static_cast<int64_t>(f.data.size());
  EXPECT_TRUE(Contains(c.report, "- 5 files (" + std::to_string(bytes) + " bytes) moved"))
      << c.report;
  EXPECT_TRUE(Contains(c.report, "- 3 values moved")) << c.report;
  EXPECT_TRUE(Contains(ResultSection(c.outcome), "Docs.Files -> Docs_Files: complete (5 of 5"));

  auto server = testing::ConnectTo(db.name());
  const int owners[] = {20, 20, 30, 30, 30};
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].file_name);
    const std::string where = " FROM \"Docs_Files\" WHERE \"Id\" = " + std::to_string(owners[i]) +
                              " AND \"FileName\" = '" + files[i].file_name + "'";
    EXPECT_EQ(SafeStr(testing::QueryValue(*server, "SELECT encode(\"FileData\", 'hex')" + where)),
              Hex(files[i].data));
    EXPECT_EQ(SafeStr(testing::QueryValue(*server, "SELECT \"FileType\"" + where)),
              files[i].file_name.substr(files[i].file_name.rfind('.') + 1));
  }
  EXPECT_EQ(SafeStr(testing::QueryValue(
                *server,
                "SELECT string_agg(\"Id\" || ':' || \"Value\", ',' ORDER BY \"Value\") "
                "FROM \"Docs_Tags\"")),
            "20:blue,30:green,20:red");
  EXPECT_EQ(SafeStr(testing::QueryValue(
                *server,
                "SELECT string_agg(\"Id\" || ':' || \"Value\", ',' ORDER BY \"Value\") "
                "FROM \"Docs_Scores\"")),
            "20:-1,20:3,30:7");
  // The owner lost the columns; the children hold to it.
  EXPECT_EQ(testing::QueryValue(*server,
                                "SELECT count(*) FROM information_schema.columns WHERE "
                                "table_name = 'Docs'")
                .AsInteger(),
            2);
  EXPECT_THROW(server->Execute("INSERT INTO \"Docs_Tags\" VALUES (99, 'orphan')"), Error);
  server->Execute("DELETE FROM \"Docs\" WHERE \"Id\" = 30");
  EXPECT_EQ(testing::QueryValue(*server, "SELECT count(*) FROM \"Docs_Files\"").AsInteger(), 2);
}

TEST(ComplexColumnsTest, WithoutAPrimaryKeyTheColumnStaysTextAndSaysWhy) {
  FERROLYTE_REQUIRE_SERVER();
  testing::TempDir dir;
  const std::string path = dir.File("nokey.accdb");
  {
    aw::DatabaseWriter w(path, {.format = aw::Format::kAce12});
    aw::Table t{.name = "Loose"};
    t.columns = {{.name = "Id", .type = aw::ColumnType::kLong},
                 {.name = "Files",
                  .type = aw::ColumnType::kComplex,
                  .complex = aw::ComplexKind::kAttachment}};
    w.AddTable(t).AddRow({1, aw::Value::Attachments({{"a.txt", {'a'}, true}})});
    w.Finish();
  }
  testing::ScratchDatabase db("nokey", false);
  const Converted c = ConvertDirect(path, db.name(), {{"complexcolumns", "TABLES"}});
  EXPECT_EQ(c.outcome.ExitStatus(), 0) << c.report;
  EXPECT_TRUE(Contains(c.report, "Column 'Files' stays text")) << c.report;
  EXPECT_EQ(SafeStr(testing::QueryValue(*testing::ConnectTo(db.name()),
                                        "SELECT \"Files\" FROM \"Loose\"")),
            "a.txt");
}

// The real file Access wrote: each file as the independent reader reads it.
TEST(ComplexColumnsTest, RealAttachmentsArriveAsMdbReaderReadsThem) {
  FERROLYTE_REQUIRE_SERVER();
  const std::string source = std::string(FERROLYTE_SOURCE_DIR);
  const std::string file = source + "/../shared/access/ace16-v2016-attachments.accdb";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no real Access files";
  if (!std::filesystem::exists(source + "/tests/node/node_modules/mdb-reader"))
    GTEST_SKIP() << "mdb-reader not installed";
  FILE* pipe = ::popen(("node " + source + "/tests/node/dump.mjs " + file).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  ASSERT_EQ(::pclose(pipe), 0);
  const nlohmann::json dump = nlohmann::json::parse(out);

  testing::ScratchDatabase db("realfiles", false);
  const Converted c = ConvertDirect(file, db.name(), {{"complexcolumns", "TABLES"}});
  EXPECT_EQ(c.outcome.ExitStatus(), 0) << c.report;
  auto server = testing::ConnectTo(db.name());
  int seen = 0;
  for (const auto& table : dump["tables"]) {
    if (table["name"] != "Table1") continue;
    for (const auto& row : table["rows"])
      for (const auto& f : row["Attachments"]) {
        const Bytes data = f["data"]["data"].get<Bytes>();
        EXPECT_EQ(SafeStr(testing::QueryValue(
                      *server,
                      "SELECT encode(\"FileData\", 'hex') FROM \"Table1_Attachments\" "
                      "WHERE \"ID\" = " +
                          std::to_string(row["ID"].get<int>()) + " AND \"FileName\" = '" +
                          f["name"].get<std::string>() + "'")),
                  Hex(data));
        ++seen;
      }
  }
  EXPECT_EQ(seen, 4);
  EXPECT_EQ(testing::QueryValue(*server, "SELECT count(*) FROM \"Table1_Attachments\"").AsInteger(),
            seen);
}

// ---- validation rules ----

TEST(ValidationTest, RulesBecomeChecksAndRowsThatBreakOneAreCounted) {
  FERROLYTE_REQUIRE_SERVER();
  testing::TempDir dir;
  const std::string path = dir.File("rules.mdb");
  {
    aw::DatabaseWriter w(path);
    aw::Table t{
        .name = "Parts",
        .properties = {{"ValidationRule", "[Low]<=[High]"}, {"ValidationText", "low first"}}};
    t.columns = {
        {.name = "Low", .type = aw::ColumnType::kLong, .properties = {{"ValidationRule", ">=0"}}},
        {.name = "High", .type = aw::ColumnType::kLong},
        {.name = "Code",
         .type = aw::ColumnType::kText,
         .size = 10,
         .properties = {{"ValidationRule", "Like \"[A-Z]*\""}},
         .allow_zero_length = false},
        {.name = "Due",
         .type = aw::ColumnType::kDateTime,
         .properties = {{"ValidationRule", "[Forms]![Main]![Start]"}}}};
    auto& rows = w.AddTable(t);
    rows.AddRow({1, 5, "Ab", nullptr});
    rows.AddRow({2, 9, "Cd", nullptr});
    rows.AddRow({8, 3, "Ef", nullptr});  // breaks the table's rule: Access had it from before
    w.Finish();
  }
  testing::ScratchDatabase db("rules", false);
  const Converted c = ConvertDirect(path, db.name(), {{"transfervalidation", "1"}});
  EXPECT_EQ(c.outcome.ExitStatus(), 0) << c.report;
  EXPECT_TRUE(Contains(c.report, "- Check 'Parts_check' on 'Parts': 1 row breaks the rule"))
      << c.report;
  EXPECT_TRUE(Contains(c.report, "- Check 'Parts_Low_check' on 'Parts\\Low' validated"));
  EXPECT_TRUE(Contains(c.report, "- Rule on 'Parts\\Due' not transferred: it refers to a form"));
  EXPECT_TRUE(Contains(c.report, "  Access rule: [Forms]![Main]![Start]"));
  auto server = testing::ConnectTo(db.name());
  EXPECT_EQ(
      SafeStr(testing::QueryValue(
          *server,
          "SELECT string_agg(conname || '=' || convalidated, ',' ORDER BY conname "
          "COLLATE \"C\") FROM pg_constraint WHERE contype = 'c' AND conrelid = "
          "'\"Parts\"'::regclass")),
      "Parts_Code_check=true,Parts_Code_not_empty=true,Parts_Low_check=true,Parts_check=false");
  // Each rule refuses what Access refuses.
  const char* refused[] = {"(-1, 5, 'Ab')", "(1, 5, '1x')", "(1, 5, '')", "(6, 5, 'Ab')"};
  for (const char* values : refused)
    EXPECT_THROW(server->Execute(std::string("INSERT INTO \"Parts\" (\"Low\", \"High\", \"Code\") "
                                             "VALUES ") +
                                 values),
                 Error)
        << values;
  EXPECT_NO_THROW(
      server->Execute("INSERT INTO \"Parts\" (\"Low\", \"High\", \"Code\") VALUES (0, 0, NULL)"));
}

// ---- linked tables ----

class LinkedTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveServer()) GTEST_SKIP() << "no PostgreSQL server (PGPORT unset)";
    aw::DatabaseWriter back(dir_.File("back.mdb"));
    aw::Table customers{.name = "Customers"};
    customers.columns = {
        {.name = "Id", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement},
        {.name = "Name", .type = aw::ColumnType::kText, .size = 20}};
    customers.indexes = {{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true}};
    auto& rows = back.AddTable(customers);
    rows.AddRow({nullptr, "Ann"});
    rows.AddRow({nullptr, "Bob"});
    back.Finish();
    aw::DatabaseWriter locked(dir_.File("locked.mdb"), {.password = "secret"});
    locked.AddTable({.name = "T", .columns = {{.name = "X", .type = aw::ColumnType::kLong}}})
        .AddRow({1});
    locked.Finish();
    aw::DatabaseWriter front(dir_.File("front.mdb"));
    front.AddTable({.name = "Local", .columns = {{.name = "X", .type = aw::ColumnType::kLong}}})
        .AddRow({1});
    // Stored as Access writes them on Windows: found beside the front-end instead.
    front.AddLinkedTable({.name = "Clients",
                          .foreign_name = "Customers",
                          .database = "\\\\server\\share\\back.mdb"});
    front.AddLinkedTable(
        {.name = "Gone", .foreign_name = "T", .database = "C:\\nowhere\\missing.mdb"});
    front.AddLinkedTable({.name = "Locked", .foreign_name = "T", .database = "D:\\locked.mdb"});
    front.AddLinkedTable({.name = "Opened",
                          .foreign_name = "T",
                          .database = "D:\\locked.mdb",
                          .connect = ";PWD=secret"});
    front.AddQuery({.name = "qClients", .tables = {{"Clients", ""}}, .columns = {{"[Name]", ""}}});
    front.Finish();
  }
  testing::TempDir dir_;
};

TEST_F(LinkedTablesTest, LinksAreReadFromTheirBackEndsAndAMissingOneSaysWhereItWasSought) {
  testing::ScratchDatabase db("links", false);
  const Converted c = ConvertDirect(dir_.File("front.mdb"), db.name(),
                                    {{"followlinks", "1"}, {"transferqueries", "1"}});
  EXPECT_EQ(c.outcome.ExitStatus(), 3) << c.report;
  const std::string result = ResultSection(c.outcome);
  EXPECT_TRUE(Contains(result, "Clients: complete (2 of 2 records)")) << result;
  EXPECT_TRUE(Contains(result, "Opened: complete (1 of 1 records)")) << result;
  EXPECT_TRUE(Contains(result,
                       "Gone: failed: its back-end is not there: looked for at "
                       "'C:\\nowhere\\missing.mdb', 'C:/nowhere/missing.mdb', '" +
                           dir_.File("missing.mdb") + "'"))
      << result;
  EXPECT_TRUE(Contains(result, "Locked: failed: its back-end '" + dir_.File("locked.mdb") +
                                   "' is protected by a password that the link does not hold"))
      << result;
  EXPECT_TRUE(Contains(result, "Query qClients -> qClients: view created")) << result;
  auto server = testing::ConnectTo(db.name());
  EXPECT_EQ(SafeStr(testing::QueryValue(
                *server, "SELECT string_agg(\"Name\", ',' ORDER BY \"Name\") FROM \"qClients\"")),
            "Ann,Bob");
  // The back-end's key came along with the link.
  EXPECT_THROW(server->Execute("INSERT INTO \"Clients\" VALUES (1, 'again')"), Error);
}

TEST_F(LinkedTablesTest, WithoutFollowLinksTheyAreListedAndNothingFails) {
  testing::ScratchDatabase db("nolinks", false);
  const Converted c = ConvertDirect(dir_.File("front.mdb"), db.name(), {});
  EXPECT_EQ(c.outcome.ExitStatus(), 0) << c.report;
  EXPECT_TRUE(Contains(c.report,
                       "- Linked table 'Clients' not converted: it is linked to "
                       "'\\\\server\\share\\back.mdb' (set followlinks=1"))
      << c.report;
  EXPECT_EQ(c.outcome.tables.size(), 1u);
}

}  // namespace
}  // namespace ferrolyte
