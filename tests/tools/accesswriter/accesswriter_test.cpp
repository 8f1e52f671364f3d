// Files written by accesswriter must read back identically through libmdb (mdbtools) and
// the independent mdb-reader; these tests write databases and compare both readers' view.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "accesswriter/description.h"
#include "accesswriter/writer.h"
#include "readers.h"

namespace {

using accesswriter::AutoNumber;
using accesswriter::Column;
using accesswriter::ColumnType;
using accesswriter::DatabaseOptions;
using accesswriter::DatabaseWriter;
using accesswriter::Format;
using accesswriter::Index;
using accesswriter::Table;
using accesswriter::Value;
using accesswriter::WriteError;
using nlohmann::json;

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/accesswriter-test-XXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

const json& TableIn(const json& dump, const std::string& name) {
  for (const json& t : dump["tables"]) {
    if (t["name"] == name) return t;
  }
  throw std::runtime_error("mdb-reader does not list table " + name);
}

const json& ColumnIn(const json& table, const std::string& name) {
  for (const json& c : table["columns"]) {
    if (c["name"] == name) return c;
  }
  throw std::runtime_error("mdb-reader does not list column " + name);
}

std::string Hex(const std::vector<std::uint8_t>& bytes, bool upper) {
  static const char* lo = "0123456789abcdef";
  static const char* up = "0123456789ABCDEF";
  std::string s;
  for (auto b : bytes) {
    s.push_back((upper ? up : lo)[b >> 4]);
    s.push_back((upper ? up : lo)[b & 15]);
  }
  return s;
}

std::vector<std::uint8_t> Pattern(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>((i * 31 + i / 251) & 0xff);
  return v;
}

// ---------------------------------------------------------------------------------------
// Every column type, in both file flavours.

struct TypeCase {
  const char* column;
  Column def;
  Value value;
  json reader_type;          // mdb-reader's type name
  json reader_value;         // what mdb-reader returns
  const char* libmdb_value;  // what mdb-export prints
};

std::vector<TypeCase> TypeCases() {
  return {
      {"Flag", {.name = "Flag", .type = ColumnType::kBoolean}, Value(true), "boolean", true, "1"},
      {"Tiny", {.name = "Tiny", .type = ColumnType::kByte}, Value(200), "byte", 200, "200"},
      {"Short",
       {.name = "Short", .type = ColumnType::kInteger},
       Value(-12345),
       "integer",
       -12345,
       "-12345"},
      {"Count",
       {.name = "Count", .type = ColumnType::kLong},
       Value(std::int64_t{-2147483648}),
       "long",
       -2147483648LL,
       "-2147483648"},
      {"Money",
       {.name = "Money", .type = ColumnType::kCurrency},
       Value::Decimal("-922337203685477.5807"),
       "currency",
       "-922337203685477.5807",
       "-922337203685477.5807"},
      {"Ratio", {.name = "Ratio", .type = ColumnType::kSingle}, Value(0.5), "float", 0.5, "0.5"},
      {"Exact",
       {.name = "Exact", .type = ColumnType::kDouble},
       Value(3.141592653589793),
       "double",
       3.141592653589793,
       "3.141592653589793"},
      {"When",
       {.name = "When", .type = ColumnType::kDateTime},
       Value::Date({.year = 2024, .month = 2, .day = 29, .hour = 13, .minute = 45, .second = 30}),
       "datetime",
       "2024-02-29T13:45:30.000Z",
       "2024-02-29 13:45:30"},
      {"Raw",
       {.name = "Raw", .type = ColumnType::kBinary, .size = 8},
       // libmdb stops short binary values at a zero byte, so this one has none.
       Value::Bytes({0x7f, 0xff, 0x10, 0x01}),
       "binary",
       json{{"hex", "7fff1001"}},
       "7FFF1001"},
      {"Label",
       {.name = "Label", .type = ColumnType::kText, .size = 20},
       Value("Grüße, 世界"),
       "text",
       "Grüße, 世界",
       "Grüße, 世界"},
      {"Code",
       {.name = "Code", .type = ColumnType::kText, .size = 4, .fixed_length = true},
       Value("AB"),
       "text",
       "AB  ",
       "AB  "},
      {"Blob",
       {.name = "Blob", .type = ColumnType::kOle},
       Value::Bytes({1, 2, 3}),
       "ole",
       json{{"hex", "010203"}},
       "010203"},
      {"Note",
       {.name = "Note", .type = ColumnType::kMemo},
       Value("short memo"),
       "memo",
       "short memo",
       "short memo"},
      {"Uid",
       {.name = "Uid", .type = ColumnType::kGuid},
       Value::Guid("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"),
       "repid",
       "6f9619ff-8b86-d011-b42d-00c04fc964ff",
       nullptr},
      {"Amount",
       {.name = "Amount", .type = ColumnType::kDecimal, .precision = 28, .scale = 6},
       Value::Decimal("-1234567890123456789012.345678"),
       "numeric",
       "-1234567890123456789012.345678",
       "-1234567890123456789012.345678"},
  };
}

class AllTypes : public ::testing::TestWithParam<Format> {};

TEST_P(AllTypes, EveryTypeAndNullReadsBackInBothReaders) {
  TempDir dir;
  auto file = dir / (GetParam() == Format::kAce12 ? "types.accdb" : "types.mdb");
  auto cases = TypeCases();
  if (GetParam() == Format::kAce12) {
    cases.push_back({"Big",
                     {.name = "Big", .type = ColumnType::kBigInt},
                     Value(std::int64_t{-9007199254740993}),
                     "bigint",
                     "-9007199254740993",
                     nullptr});
  }
  Table t{.name = "Types"};
  std::vector<Value> values, nulls;
  for (const auto& c : cases) {
    t.columns.push_back(c.def);
    values.push_back(c.value);
    nulls.push_back(Value());
  }
  {
    DatabaseWriter w(file, {.format = GetParam()});
    auto& rows = w.AddTable(t);
    rows.AddRow(values);
    rows.AddRow(nulls);
    w.Finish();
  }

  json dump = readers::MdbReaderDump(file);
  EXPECT_EQ(dump["version"], GetParam() == Format::kAce12 ? 2 : 1);
  const json& table = TableIn(dump, "Types");
  ASSERT_EQ(table["rows"].size(), 2u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.column);
    EXPECT_EQ(ColumnIn(table, c.column)["type"], c.reader_type);
    EXPECT_EQ(table["rows"][0][c.column], c.reader_value);
    // Booleans have no null; every other type must come back as null.
    EXPECT_EQ(table["rows"][1][c.column],
              c.def.type == ColumnType::kBoolean ? json(false) : json());
  }
  EXPECT_EQ(ColumnIn(table, "Label")["size"], 40);
  EXPECT_EQ(ColumnIn(table, "Code")["fixedLength"], true);
  EXPECT_EQ(ColumnIn(table, "Label")["fixedLength"], false);
  EXPECT_EQ(ColumnIn(table, "Amount")["precision"], 28);
  EXPECT_EQ(ColumnIn(table, "Amount")["scale"], 6);

  auto rows = readers::LibmdbRows(file, "Types");
  ASSERT_EQ(rows.size(), 2u);
  for (const auto& c : cases) {
    if (!c.libmdb_value) continue;
    SCOPED_TRACE(c.column);
    EXPECT_EQ(rows[0][c.column], std::optional<std::string>(c.libmdb_value));
    if (c.def.type != ColumnType::kBoolean) {
      EXPECT_EQ(rows[1][c.column], std::nullopt);
    }
  }
  // mdb-export's hex mode prints the hex of libmdb's GUID text, which lacks the last dash.
  std::string guid = "{6F9619FF-8B86-D011-B42D00C04FC964FF}";
  EXPECT_EQ(rows[0]["Uid"], Hex(std::vector<std::uint8_t>(guid.begin(), guid.end()), true));
}

INSTANTIATE_TEST_SUITE_P(Formats, AllTypes, ::testing::Values(Format::kJet4, Format::kAce12),
                         [](const auto& info) {
                           return info.param == Format::kAce12 ? "Ace12" : "Jet4";
                         });

// ---------------------------------------------------------------------------------------
// Long values: inline, one long-value page, and chains over several pages.

TEST(LongValues, MemoAndOleOfEverySizeReadBackExactly) {
  const std::vector<std::size_t> sizes = {0, 1, 64, 65, 1500, 4080, 4081, 9000, 50000};
  TempDir dir;
  auto file = dir / "long.mdb";
  std::vector<std::string> memos;
  {
    DatabaseWriter w(file);
    auto& rows = w.AddTable({.name = "Long",
                             .columns = {{.name = "N", .type = ColumnType::kLong},
                                         {.name = "Memo", .type = ColumnType::kMemo},
                                         {.name = "Ole", .type = ColumnType::kOle}}});
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      // Alternate compressible and non-compressible text (the latter has a non-Latin-1 char).
      std::string memo;
      while (memo.size() < sizes[i]) memo += i % 2 ? "Ω" : "abcdefghij";
      memos.push_back(memo);
      rows.AddRow({static_cast<int>(i), memo, Value::Bytes(Pattern(sizes[i]))});
    }
    w.Finish();
  }
  json dump = readers::MdbReaderDump(file);
  const json& table = TableIn(dump, "Long");
  ASSERT_EQ(table["rows"].size(), sizes.size());
  auto lib = readers::LibmdbRows(file, "Long");
  ASSERT_EQ(lib.size(), sizes.size());
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    SCOPED_TRACE("size " + std::to_string(sizes[i]));
    EXPECT_EQ(table["rows"][i]["Memo"], memos[i]);
    EXPECT_EQ(table["rows"][i]["Ole"]["hex"], Hex(Pattern(sizes[i]), false));
    // libmdb reports an empty memo as null; mdb-reader above sees the empty text.
    EXPECT_EQ(lib[i]["Memo"].value_or(""), memos[i]);
    EXPECT_EQ(lib[i]["Ole"].value_or(""), Hex(Pattern(sizes[i]), true));
  }
}

// ---------------------------------------------------------------------------------------
// Names and text beyond ASCII.

TEST(Names, QuotesSpacesBackslashesAndNonAsciiSurvive) {
  TempDir dir;
  auto file = dir / "names.mdb";
  const std::string table_name = "Bestellungen \"alt\" \\ Größe's";
  const std::string column_name = "Prix unitaire (€) 'net'";
  const std::string astral = "clef 𝄞 smile 😀";
  {
    DatabaseWriter w(file);
    auto& rows =
        w.AddTable({.name = table_name,
                    .columns = {{.name = column_name, .type = ColumnType::kText, .size = 40},
                                {.name = "Ключ", .type = ColumnType::kMemo}}});
    rows.AddRow({"naïve café", astral});
    rows.AddRow({"", "日本語のテキスト"});
    w.Finish();
  }
  json dump = readers::MdbReaderDump(file);
  const json& table = TableIn(dump, table_name);
  EXPECT_EQ(table["rows"][0][column_name], "naïve café");
  EXPECT_EQ(table["rows"][0]["Ключ"], astral);
  EXPECT_EQ(table["rows"][1][column_name], "");
  EXPECT_EQ(table["rows"][1]["Ключ"], "日本語のテキスト");

  auto names = readers::LibmdbTables(file, false);
  ASSERT_EQ(names, std::vector<std::string>{table_name});
  auto lib = readers::LibmdbRows(file, table_name);
  ASSERT_EQ(lib.size(), 2u);
  EXPECT_EQ(lib[0][column_name], "naïve café");
  EXPECT_EQ(lib[1]["Ключ"], "日本語のテキスト");
  // libmdb converts through UCS-2, so characters outside the BMP are beyond it; mdb-reader
  // above proves they are stored as proper surrogate pairs.
}

// ---------------------------------------------------------------------------------------
// Properties, indexes and relationships.

TEST(Schema, PropertiesIndexesAndRelationshipsReachBothReaders) {
  TempDir dir;
  auto file = dir / "schema.mdb";
  {
    DatabaseWriter w(file);
    Table customers{.name = "Customers", .description = "Who buys"};
    customers.columns = {
        {.name = "Id",
         .type = ColumnType::kLong,
         .required = true,
         .auto_number = AutoNumber::kIncrement},
        {.name = "Name",
         .type = ColumnType::kText,
         .size = 50,
         .required = true,
         .description = "Full name"},
        {.name = "City", .type = ColumnType::kText, .size = 30, .default_value = "\"Bern\""},
        {.name = "Uid", .type = ColumnType::kGuid, .auto_number = AutoNumber::kGuid},
        {.name = "Mail",
         .type = ColumnType::kText,
         .size = 60,
         .properties = {{"Caption", "E-mail"}}}};
    customers.indexes = {
        {.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true},
        {.name = "Mail", .columns = {{"Mail"}}, .unique = true, .ignore_nulls = true},
        {.name = "CityName", .columns = {{"City"}, {"Name", true}}}};
    auto& c = w.AddTable(customers);
    c.AddRow({nullptr, "Anna", "Bern", nullptr, "anna@example.ch"});
    c.AddRow({nullptr, "Ben", nullptr, nullptr, nullptr});
    c.AddRow({10, "Cleo", "Genf", nullptr, nullptr});
    c.AddRow({nullptr, "Dan", "Chur", nullptr, nullptr});
    Table orders{.name = "Orders"};
    orders.columns = {{.name = "OrderId", .type = ColumnType::kLong, .required = true},
                      {.name = "CustomerId", .type = ColumnType::kLong}};
    orders.indexes = {{.name = "PrimaryKey", .columns = {{"OrderId"}}, .primary_key = true}};
    w.AddTable(orders).AddRow({1, 2});
    w.AddRelationship({.name = "CustomersOrders",
                       .primary_table = "Customers",
                       .primary_columns = {"Id"},
                       .foreign_table = "Orders",
                       .foreign_columns = {"CustomerId"},
                       .cascade_updates = true,
                       .cascade_deletes = true});
    w.AddRelationship({.name = "Unchecked",
                       .primary_table = "Orders",
                       .primary_columns = {"OrderId"},
                       .foreign_table = "Customers",
                       .foreign_columns = {"Id"},
                       .enforce = false});
    w.Finish();
  }
  json dump = readers::MdbReaderDump(file);
  const json& customers = TableIn(dump, "Customers");
  EXPECT_EQ(customers["properties"]["Description"], "Who buys");
  EXPECT_EQ(ColumnIn(customers, "Name")["properties"]["Description"], "Full name");
  EXPECT_EQ(ColumnIn(customers, "Name")["properties"]["Required"], true);
  EXPECT_EQ(ColumnIn(customers, "Name")["nullable"], false);
  EXPECT_EQ(ColumnIn(customers, "City")["properties"]["DefaultValue"], "\"Bern\"");
  EXPECT_EQ(ColumnIn(customers, "City")["properties"]["Required"], false);
  EXPECT_EQ(ColumnIn(customers, "Mail")["properties"]["Caption"], "E-mail");
  EXPECT_EQ(ColumnIn(customers, "Id")["autoLong"], true);
  EXPECT_EQ(ColumnIn(customers, "Uid")["autoUUID"], true);

  // Auto-numbers continue after an explicit value; GUIDs are generated and distinct.
  std::vector<int> ids;
  std::set<std::string> uids;
  for (const json& r : customers["rows"]) {
    ids.push_back(r["Id"].get<int>());
    uids.insert(r["Uid"].get<std::string>());
  }
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 10, 11}));
  EXPECT_EQ(uids.size(), 4u);

  const json expected_indexes = json::parse(R"([
    {"name": "PrimaryKey", "columns": [{"name": "Id", "descending": false}], "primaryKey": true,
     "foreignKey": false, "unique": true, "ignoreNulls": false, "required": true},
    {"name": "Mail", "columns": [{"name": "Mail", "descending": false}], "primaryKey": false,
     "foreignKey": false, "unique": true, "ignoreNulls": true, "required": false},
    {"name": "CityName", "columns": [{"name": "City", "descending": false},
     {"name": "Name", "descending": true}], "primaryKey": false, "foreignKey": false,
     "unique": false, "ignoreNulls": false, "required": false}])");
  EXPECT_EQ(customers["indexes"], expected_indexes);
  const json& orders = TableIn(dump, "Orders");
  ASSERT_EQ(orders["indexes"].size(), 2u);
  EXPECT_EQ(orders["indexes"][1]["name"], "CustomersOrders");
  EXPECT_EQ(orders["indexes"][1]["foreignKey"], true);
  EXPECT_EQ(orders["indexes"][1]["cascadeDeletes"], true);
  EXPECT_EQ(orders["indexes"][1]["cascadeUpdates"], true);
  EXPECT_EQ(orders["indexes"][1]["columns"][0]["name"], "CustomerId");
  // An unenforced relationship has its rows but no foreign-key index.
  EXPECT_EQ(customers["indexes"].size(), 3u);
  ASSERT_EQ(dump["relationships"].size(), 2u);
  EXPECT_EQ(dump["relationships"][0]["szRelationship"], "CustomersOrders");
  EXPECT_EQ(dump["relationships"][0]["szObject"], "Orders");
  EXPECT_EQ(dump["relationships"][0]["szReferencedColumn"], "Id");
  EXPECT_EQ(dump["relationships"][0]["grbit"], 0x1100);
  EXPECT_EQ(dump["relationships"][1]["szRelationship"], "Unchecked");
  EXPECT_EQ(dump["relationships"][1]["grbit"], 0x2);

  std::string schema = readers::LibmdbSchema(file);
  for (const char* expected :
       {"ADD CONSTRAINT \"customers_pkey\" PRIMARY KEY (\"id\")",
        "CREATE UNIQUE INDEX \"customers_mail_idx\" ON \"customers\" (\"mail\")",
        "CREATE INDEX \"customers_cityname_idx\" ON \"customers\" (\"city\", \"name\" DESC)",
        "ADD CONSTRAINT \"orders_pkey\" PRIMARY KEY (\"orderid\")",
        "COMMENT ON TABLE \"customers\" IS 'Who buys'",
        "COMMENT ON COLUMN \"customers\".\"name\" IS 'Full name'",
        "FOREIGN KEY (\"customerid\") REFERENCES \"Customers\"(\"id\") ON UPDATE CASCADE ON "
        "DELETE CASCADE"}) {
    EXPECT_NE(schema.find(expected), std::string::npos) << expected << "\nin:\n" << schema;
  }
  std::string props = readers::LibmdbProps(file, "Customers");
  EXPECT_NE(props.find("DefaultValue: \"Bern\""), std::string::npos) << props;
  EXPECT_NE(props.find("Caption: E-mail"), std::string::npos) << props;
}

// ---------------------------------------------------------------------------------------
// Catalog entries: hidden, system and linked tables.

TEST(Catalog, HiddenSystemAndLinkedEntriesCarryTheirFlags) {
  TempDir dir;
  auto file = dir / "catalog.mdb";
  {
    DatabaseWriter w(file);
    Column id{.name = "Id", .type = ColumnType::kLong};
    w.AddTable({.name = "Visible", .columns = {id}}).AddRow({1});
    w.AddTable({.name = "Secret", .columns = {id}, .hidden = true}).AddRow({2});
    w.AddTable({.name = "MSysLocal", .columns = {id}, .system = true}).AddRow({3});
    w.AddLinkedTable({.name = "Remote",
                      .foreign_name = "Lieferanten",
                      .database = "C:\\Daten\\lieferanten.mdb"});
    w.AddLinkedTable({.name = "Stock",
                      .foreign_name = "dbo.stock",
                      .connect = "ODBC;DSN=warehouse;DATABASE=stock"});
    w.Finish();
  }
  json dump = readers::MdbReaderDump(file);
  std::map<std::string, json> objects;
  for (const json& o : dump["objects"]) objects[o["name"]] = o;
  EXPECT_EQ(objects["Visible"]["flags"], 0);
  EXPECT_EQ(objects["Secret"]["flags"], 8);
  EXPECT_EQ(objects["MSysLocal"]["flags"], static_cast<std::int32_t>(0x80000002u));
  EXPECT_EQ(objects["Remote"]["type"], 6);
  EXPECT_EQ(objects["Remote"]["database"], "C:\\Daten\\lieferanten.mdb");
  EXPECT_EQ(objects["Remote"]["foreignName"], "Lieferanten");
  EXPECT_EQ(objects["Stock"]["type"], 4);
  EXPECT_EQ(objects["Stock"]["connect"], "ODBC;DSN=warehouse;DATABASE=stock");
  EXPECT_EQ(objects["Stock"]["foreignName"], "dbo.stock");
  EXPECT_EQ(dump["linkedTables"], json({"Remote"}));  // mdb-reader lists type 6 only
  std::vector<std::string> user;
  for (const json& t : dump["tables"]) user.push_back(t["name"]);
  EXPECT_EQ(user, (std::vector<std::string>{"Visible", "Secret"}));

  auto lib_user = readers::LibmdbTables(file, false);
  EXPECT_EQ(std::count(lib_user.begin(), lib_user.end(), "MSysLocal"), 0);
  auto lib_all = readers::LibmdbTables(file, true);
  EXPECT_EQ(std::count(lib_all.begin(), lib_all.end(), "MSysLocal"), 1);
  EXPECT_EQ(readers::LibmdbRows(file, "MSysLocal").at(0)["Id"], "3");
}

// ---------------------------------------------------------------------------------------
// Passwords.

TEST(Password, ReaderRecoversExactlyThePasswordSet) {
  for (const std::string pw : {"password", "s3cr€t 😀", "12345678901234567890"}) {
    SCOPED_TRACE(pw);
    TempDir dir;
    auto file = dir / "pw.mdb";
    DatabaseWriter w(file, {.password = pw});
    w.AddTable({.name = "T", .columns = {{.name = "A", .type = ColumnType::kLong}}}).AddRow({1});
    w.Finish();
    json dump = readers::MdbReaderDump(file, pw);
    EXPECT_EQ(dump["password"], pw);
    EXPECT_EQ(TableIn(dump, "T")["rows"][0]["A"], 1);
  }
  TempDir dir;
  DatabaseWriter w(dir / "none.mdb");
  w.AddTable({.name = "T", .columns = {{.name = "A", .type = ColumnType::kLong}}});
  w.Finish();
  EXPECT_EQ(readers::MdbReaderDump(dir / "none.mdb")["password"], nullptr);
  EXPECT_THROW(DatabaseWriter(dir / "long.mdb", {.password = std::string(21, 'x')}), WriteError);
}

// ---------------------------------------------------------------------------------------
// Encryption.

// Whether the raw file bytes hold `text` as Jet 4 compressed text (one byte per character).
bool FileHoldsText(const std::filesystem::path& file, const std::string& text) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  return bytes.find(text) != std::string::npos;
}

TEST(Encryption, MdbReaderSeesThePlainContentWithThePasswordOnly) {
  TempDir dir;
  const std::string password = "Kennwort 9 ü";
  auto write = [&](const std::filesystem::path& file, bool encrypt) {
    DatabaseWriter w(
        file, {.format = Format::kAce12, .password = encrypt ? password : "", .encrypt = encrypt});
    Table t{.name = "Notes"};
    t.columns = {{.name = "Id", .type = ColumnType::kLong, .auto_number = AutoNumber::kIncrement},
                 {.name = "Title", .type = ColumnType::kText, .size = 40},
                 {.name = "Body", .type = ColumnType::kMemo}};
    t.indexes.push_back({.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true});
    auto& rows = w.AddTable(t);
    // Enough rows for several data pages, and a long value that spans pages.
    for (int i = 0; i < 400; ++i)
      rows.AddRow({nullptr, "Zebra-Quartz " + std::to_string(i), "short"});
    rows.AddRow({nullptr, "long", std::string(9000, 'q') + " Zebra-Quartz"});
    w.Finish();
  };
  write(dir / "plain.accdb", false);
  write(dir / "secret.accdb", true);

  json plain = readers::MdbReaderDump(dir / "plain.accdb");
  json secret = readers::MdbReaderDump(dir / "secret.accdb", password);
  // The header password field is all the two differ in: an encrypted file keeps none there.
  plain.erase("password");
  secret.erase("password");
  EXPECT_EQ(TableIn(secret, "Notes")["rowCount"], 401);
  EXPECT_EQ(secret, plain);

  EXPECT_TRUE(FileHoldsText(dir / "plain.accdb", "Zebra-Quartz"));
  EXPECT_FALSE(FileHoldsText(dir / "secret.accdb", "Zebra-Quartz"));
  for (const std::string wrong : {"", "kennwort 9 ü", "Kennwort 9"}) {
    SCOPED_TRACE(wrong);
    EXPECT_THROW(readers::MdbReaderDump(dir / "secret.accdb", wrong), std::runtime_error);
  }
}

TEST(Encryption, RefusesWhatAccessCannotEncrypt) {
  TempDir dir;
  EXPECT_THROW(DatabaseWriter(dir / "a.mdb", {.password = "pw", .encrypt = true}), WriteError);
  EXPECT_THROW(DatabaseWriter(dir / "b.accdb", {.format = Format::kAce12, .encrypt = true}),
               WriteError);
  EXPECT_THROW(DatabaseWriter(
                   dir / "c.accdb",
                   {.format = Format::kAce12, .password = std::string(256, 'x'), .encrypt = true}),
               WriteError);
  // Unlike the header password, the encryption password may be longer than 20 characters.
  const std::string long_password(255, 'x');
  {
    DatabaseWriter w(dir / "d.accdb",
                     {.format = Format::kAce12, .password = long_password, .encrypt = true});
    w.AddTable({.name = "T", .columns = {{.name = "A", .type = ColumnType::kLong}}}).AddRow({7});
    w.Finish();
  }
  EXPECT_EQ(TableIn(readers::MdbReaderDump(dir / "d.accdb", long_password), "T")["rows"][0]["A"],
            7);
}

// Page 0 of a file: where the encryption header's version and flags are.
std::vector<std::uint8_t> FirstPage(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::uint8_t> page(4096);
  in.read(reinterpret_cast<char*>(page.data()), 4096);
  return page;
}

TEST(Encryption, EachMethodWritesItsHeaderAndMdbReaderReadsTheOnesItKnows) {
  using accesswriter::Encryption;
  TempDir dir;
  auto write = [&](const std::filesystem::path& file, bool encrypt, Encryption method) {
    DatabaseWriter w(file, {.format = Format::kAce12,
                            .password = encrypt ? "Kennwort" : "",
                            .encrypt = encrypt,
                            .encryption = method});
    auto& rows = w.AddTable(
        {.name = "Notes", .columns = {{.name = "Title", .type = ColumnType::kText, .size = 40}}});
    for (int i = 0; i < 300; ++i) rows.AddRow({"Zebra-Quartz " + std::to_string(i)});
    w.Finish();
  };
  write(dir / "plain.accdb", false, Encryption::kAgile);
  json plain = readers::MdbReaderDump(dir / "plain.accdb");
  plain.erase("password");
  struct Case {
    Encryption method;
    std::uint16_t major, minor;
    std::uint32_t flags;  // for the 4.2 headers
    bool mdb_reader_decrypts;
  } cases[] = {{Encryption::kStandard, 4, 2, 0x24, false},
               {Encryption::kNonStandard, 4, 2, 0x04, false},
               {Encryption::kRc4CryptoApi, 4, 2, 0x04, true},
               {Encryption::kOfficeRc4, 1, 1, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.method));
    auto file = dir / ("secret" + std::to_string(static_cast<int>(c.method)) + ".accdb");
    write(file, true, c.method);
    EXPECT_FALSE(FileHoldsText(file, "Zebra-Quartz"));
    std::vector<std::uint8_t> page = FirstPage(file);
    EXPECT_EQ(page[0x29b] | page[0x29c] << 8, c.major);
    EXPECT_EQ(page[0x29d] | page[0x29e] << 8, c.minor);
    if (c.major == 4) {
      EXPECT_EQ(page[0x29f], c.flags);
    }
    if (!c.mdb_reader_decrypts) continue;
    json secret = readers::MdbReaderDump(file, "Kennwort");
    secret.erase("password");
    EXPECT_EQ(secret, plain);
    EXPECT_THROW(readers::MdbReaderDump(file, "kennwort"), std::runtime_error);
  }
}

// ---------------------------------------------------------------------------------------
// Calculated columns and Date/Time Extended values.

TEST(Calculated, DefinitionsAndWrappedValuesReachBothReaders) {
  TempDir dir;
  auto file = dir / "calc.accdb";
  {
    DatabaseWriter w(file, {.format = Format::kAce12});
    Table t{.name = "Items"};
    t.columns = {{.name = "First", .type = ColumnType::kText, .size = 20},
                 {.name = "Name", .type = ColumnType::kText, .size = 30, .expression = "[First]"},
                 {.name = "Cost", .type = ColumnType::kCurrency, .expression = "[Qty]*2"},
                 {.name = "Share", .type = ColumnType::kDecimal, .expression = "CDec(1)/8"},
                 {.name = "Big", .type = ColumnType::kBoolean, .expression = "True"},
                 {.name = "Story", .type = ColumnType::kMemo, .expression = "[First]"}};
    w.AddTable(t).AddRow(
        {"Ada", "Ada", Value::Decimal("6"), Value::Decimal("0.125"), true, std::string(2000, 'S')});
    w.Finish();
  }
  json items = TableIn(readers::MdbReaderDump(file), "Items");
  struct Want {
    const char* column;
    const char* type;
    int size;
    int result_type;
  } want[] = {{"Name", "text", 30 * 2 + 23, 0x0a},
              {"Cost", "currency", 39, 0x05},
              {"Share", "numeric", 39, 0x10},
              {"Big", "boolean", 0, 0x01},
              {"Story", "memo", 0, 0x0c}};
  for (const Want& w : want) {
    SCOPED_TRACE(w.column);
    const json& c = ColumnIn(items, w.column);
    EXPECT_EQ(c["type"], w.type);
    EXPECT_EQ(c["size"], w.size);
    EXPECT_EQ(c["fixedLength"], false);
    EXPECT_EQ(c["properties"]["ResultType"], w.result_type);
  }
  EXPECT_EQ(ColumnIn(items, "Cost")["properties"]["Expression"], "[Qty]*2");
  // mdb-reader does not unwrap: it shows the 16 header bytes, the length (6 bytes of text)
  // and the 3 bytes after the value, all as UTF-16.
  EXPECT_EQ(items["rows"][0]["Name"],
            std::string(8, '\0') + std::string("\x06\0", 2) + "Ada" + std::string(1, '\0'));
  std::string props = readers::LibmdbProps(file, "Items");
  EXPECT_NE(props.find("Expression: CDec(1)/8"), std::string::npos) << props;
  EXPECT_EQ(readers::LibmdbRows(file, "Items")[0]["First"], "Ada");

  // What Access itself cannot store.
  DatabaseWriter ole(dir / "bad.accdb", {.format = Format::kAce12});
  EXPECT_THROW(
      ole.AddTable(
          {.name = "T", .columns = {{.name = "C", .type = ColumnType::kOle, .expression = "1"}}}),
      WriteError);
  DatabaseWriter jet(dir / "bad.mdb");
  EXPECT_THROW(
      jet.AddTable(
          {.name = "T", .columns = {{.name = "C", .type = ColumnType::kLong, .expression = "1"}}}),
      WriteError);
  DatabaseWriter ace(dir / "long.accdb", {.format = Format::kAce12});
  auto& rows = ace.AddTable(
      {.name = "T",
       .columns = {{.name = "C", .type = ColumnType::kText, .size = 3, .expression = "'x'"}}});
  EXPECT_THROW(rows.AddRow({"four"}), WriteError);
}

TEST(ExtendedDates, StoredToTheTickFromEveryValueForm) {
  TempDir dir;
  auto file = dir / "dates.accdb";
  const Value values[] = {
      Value("1265-06-14 12:45:00.1234567"),
      Value::Date(
          {.year = 1265, .month = 6, .day = 14, .hour = 12, .minute = 45, .second = 0.1234567}),
      Value::Date(-1.25),  // an OLE date before 1899-12-30: the time still runs forwards
      Value("0001-01-01"),
      Value("9999-12-31T23:59:59.9999999"),
  };
  {
    DatabaseWriter w(file, {.format = Format::kAce12});
    auto& t = w.AddTable(
        {.name = "D", .columns = {{.name = "At", .type = ColumnType::kDateTimeExtended}}});
    for (const Value& v : values) t.AddRow({v});
    w.Finish();
  }
  std::vector<std::string> got;
  json dump = readers::MdbReaderDump(file);
  for (const json& r : TableIn(dump, "D")["rows"]) got.push_back(r["At"]);
  EXPECT_EQ(got, (std::vector<std::string>{
                     "1265.06.14 12:45:00.123456700", "1265.06.14 12:45:00.123456700",
                     "1899.12.29 06:00:00.000000000", "0001.01.01 00:00:00.000000000",
                     "9999.12.31 23:59:59.999999900"}));
  for (const char* bad :
       {"0000-12-31", "2023-02-29", "2024-01-01 10:00:00.12345678", "2024-01-01 24:00"}) {
    SCOPED_TRACE(bad);
    DatabaseWriter w(dir / "bad.accdb", {.format = Format::kAce12});
    auto& t = w.AddTable(
        {.name = "D", .columns = {{.name = "At", .type = ColumnType::kDateTimeExtended}}});
    EXPECT_THROW(t.AddRow({Value(bad)}), WriteError);
  }
  DatabaseWriter jet(dir / "bad.mdb");
  EXPECT_THROW(jet.AddTable({.name = "D",
                             .columns = {{.name = "At", .type = ColumnType::kDateTimeExtended}}}),
               WriteError);
}

TEST(Password, MaskedBytesMatchAFileAccessWrote) {
  const std::filesystem::path real = std::filesystem::path(FERROLYTE_SOURCE_DIR) / ".." / "shared" /
                                     "access" / "jet4-v2000-password.mdb";
  if (!std::filesystem::exists(real)) GTEST_SKIP() << "no Access-made files at " << real;
  auto page0 = [](const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<std::uint8_t> b(4096);
    in.read(reinterpret_cast<char*>(b.data()), 4096);
    return b;
  };
  auto theirs = page0(real);
  // The creation date is stored under the header's RC4 stream, as is the password; take the
  // raw date bytes by decoding that stream the same way the readers do.
  std::vector<std::uint8_t> stream(128, 0);
  {
    // Key stream = RC4 of zero bytes; XOR it away to read the stored date.
    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
    const std::uint8_t key[4] = {0xc7, 0xda, 0x39, 0x6b};
    for (int i = 0, j = 0; i < 256; ++i) {
      j = (j + s[i] + key[i % 4]) & 0xff;
      std::swap(s[i], s[j]);
    }
    for (int k = 0, i = 0, j = 0; k < 128; ++k) {
      i = (i + 1) & 0xff;
      j = (j + s[i]) & 0xff;
      std::swap(s[i], s[j]);
      stream[k] = s[(s[i] + s[j]) & 0xff];
    }
  }
  double created;
  std::uint8_t date[8];
  for (int i = 0; i < 8; ++i) date[i] = theirs[0x72 + i] ^ stream[0x72 - 0x18 + i];
  std::memcpy(&created, date, 8);

  TempDir dir;
  DatabaseWriter w(dir / "same.mdb", {.password = "password", .creation_date = created});
  w.AddTable({.name = "T", .columns = {{.name = "A", .type = ColumnType::kLong}}});
  w.Finish();
  auto ours = page0(dir / "same.mdb");
  EXPECT_EQ(std::vector<std::uint8_t>(ours.begin() + 0x42, ours.begin() + 0x42 + 40),
            std::vector<std::uint8_t>(theirs.begin() + 0x42, theirs.begin() + 0x42 + 40));
  EXPECT_EQ(readers::MdbReaderDump(dir / "same.mdb", "password")["password"], "password");
}

// ---------------------------------------------------------------------------------------
// Volume: many pages, a definition spanning pages, interleaved tables.

TEST(Volume, ManyRowsWideTablesAndInterleavedWritesReadBack) {
  TempDir dir;
  auto file = dir / "volume.mdb";
  constexpr int kRows = 20000;
  constexpr int kWide = 180;  // needs more than one definition page
  {
    DatabaseWriter w(file);
    auto& a = w.AddTable({.name = "A",
                          .columns = {{.name = "N", .type = ColumnType::kLong},
                                      {.name = "S", .type = ColumnType::kText, .size = 30},
                                      {.name = "M", .type = ColumnType::kMemo}}});
    Table wide{.name = "Wide"};
    for (int i = 0; i < kWide; ++i) {
      wide.columns.push_back(
          {.name = "Column number " + std::to_string(i), .type = ColumnType::kInteger});
    }
    auto& b = w.AddTable(wide);
    std::vector<Value> wide_row(kWide);
    for (int i = 0; i < kRows; ++i) {
      a.AddRow(
          {i, "row " + std::to_string(i), i % 1000 == 0 ? Value(std::string(5000, 'x')) : Value()});
      if (i % 100 == 0) {
        for (int k = 0; k < kWide; ++k) wide_row[k] = Value((i / 100 + k) % 30000);
        b.AddRow(wide_row);
      }
    }
    EXPECT_EQ(a.row_count(), static_cast<std::uint64_t>(kRows));
    w.Finish();
  }
  json dump = readers::MdbReaderDump(file);
  const json& a = TableIn(dump, "A");
  ASSERT_EQ(a["rows"].size(), static_cast<std::size_t>(kRows));
  EXPECT_EQ(a["rowCount"], kRows);
  for (int i = 0; i < kRows; i += 997) {
    EXPECT_EQ(a["rows"][i]["N"], i);
    EXPECT_EQ(a["rows"][i]["S"], "row " + std::to_string(i));
  }
  EXPECT_EQ(a["rows"][3000]["M"], std::string(5000, 'x'));
  const json& wide = TableIn(dump, "Wide");
  ASSERT_EQ(wide["columns"].size(), static_cast<std::size_t>(kWide));
  ASSERT_EQ(wide["rows"].size(), static_cast<std::size_t>(kRows / 100));
  EXPECT_EQ(wide["rows"][7]["Column number 179"], 7 + 179);

  auto count = readers::Run("mdb-count " + readers::Quote(file.string()) + " A");
  EXPECT_EQ(count.out, std::to_string(kRows) + "\n");
  auto lib_wide = readers::LibmdbRows(file, "Wide");
  ASSERT_EQ(lib_wide.size(), static_cast<std::size_t>(kRows / 100));
  EXPECT_EQ(lib_wide[7]["Column number 179"], std::to_string(7 + 179));
}

// Usage maps past their simple form: more map rows than page 1 holds (many tables), and a
// table spread over more pages than an inline bitmap covers, which needs bitmap pages.
TEST(Volume, UsageMapsOverflowingTheirPagesStillFindEveryRow) {
  TempDir dir;
  accesswriter::WriteBenchmarkTables(dir / "tables.mdb", 300);
  json dump = readers::MdbReaderDump(dir / "tables.mdb");
  ASSERT_EQ(dump["tables"].size(), 300u);
  for (const json& t : dump["tables"]) {
    ASSERT_EQ(t["rows"].size(), 3u) << t["name"];
    EXPECT_EQ(t["rows"][2]["Name"], t["name"].get<std::string>() + " row 2");
  }
  EXPECT_EQ(readers::LibmdbRows(dir / "tables.mdb", "T00300").size(), 3u);

  constexpr int kRows = 45000;
  accesswriter::WriteBenchmarkRows(dir / "rows.mdb", kRows);
  auto lib = readers::LibmdbRows(dir / "rows.mdb", "Bench");
  ASSERT_EQ(lib.size(), static_cast<std::size_t>(kRows));
  for (int i = 0; i < kRows; i += 4999) {
    EXPECT_EQ(lib[i]["Id"], std::to_string(i + 1));
    EXPECT_EQ(lib[i]["Label"], "Article " + std::to_string(i) + " Größe");
  }
}

// ---------------------------------------------------------------------------------------
// Values and definitions the writer must refuse.

TEST(Errors, BadValuesAndDefinitionsAreRejectedWithWriteError) {
  struct Case {
    const char* what;
    Column column;
    Value value;
  };
  const std::vector<Case> cases = {
      {"text too long", {.name = "C", .type = ColumnType::kText, .size = 3}, Value("abcd")},
      {"null in required", {.name = "C", .type = ColumnType::kLong, .required = true}, Value()},
      {"byte overflow", {.name = "C", .type = ColumnType::kByte}, Value(256)},
      {"integer overflow", {.name = "C", .type = ColumnType::kInteger}, Value(40000)},
      {"too many decimals",
       {.name = "C", .type = ColumnType::kCurrency},
       Value::Decimal("1.23456")},
      {"precision exceeded",
       {.name = "C", .type = ColumnType::kDecimal, .precision = 4, .scale = 2},
       Value::Decimal("123.4")},
      {"not a number", {.name = "C", .type = ColumnType::kDouble}, Value("abc")},
      {"bad date", {.name = "C", .type = ColumnType::kDateTime}, Value("2024-13-01")},
      {"bad guid", {.name = "C", .type = ColumnType::kGuid}, Value::Guid("{1234}")},
      {"text for binary", {.name = "C", .type = ColumnType::kBinary}, Value("abc")},
      {"malformed utf-8", {.name = "C", .type = ColumnType::kText}, Value(std::string("\xc3"))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    DatabaseWriter w(dir / "e.mdb");
    auto& t = w.AddTable({.name = "T", .columns = {c.column}});
    EXPECT_THROW(t.AddRow({c.value}), WriteError);
  }
  TempDir dir;
  {
    DatabaseWriter w(dir / "d.mdb");
    Column a{.name = "A", .type = ColumnType::kLong};
    auto& t = w.AddTable({.name = "T", .columns = {a}});
    EXPECT_THROW(t.AddRow({1, 2}), WriteError);
    EXPECT_THROW(w.AddTable({.name = "t", .columns = {a}}), WriteError);
    EXPECT_THROW(w.AddTable({.name = "U", .columns = {a, a}}), WriteError);
    EXPECT_THROW(
        w.AddTable({.name = "Big", .columns = {{.name = "B", .type = ColumnType::kBigInt}}}),
        WriteError);
    EXPECT_THROW(
        w.AddTable(
            {.name = "I", .columns = {a}, .indexes = {{.name = "X", .columns = {{"Nope"}}}}}),
        WriteError);
    w.AddRelationship({.name = "R",
                       .primary_table = "T",
                       .primary_columns = {"A"},
                       .foreign_table = "Missing",
                       .foreign_columns = {"A"}});
    EXPECT_THROW(w.Finish(), WriteError);
  }
  {
    // F's only index is the foreign key the first relationship gives it; it cannot be the
    // referenced side of the second.
    DatabaseWriter w(dir / "f.mdb");
    Column id{.name = "Id", .type = ColumnType::kLong};
    w.AddTable({.name = "P",
                .columns = {id},
                .indexes = {{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true}}});
    w.AddTable({.name = "F", .columns = {id}});
    w.AddRelationship({.name = "PF",
                       .primary_table = "P",
                       .primary_columns = {"Id"},
                       .foreign_table = "F",
                       .foreign_columns = {"Id"}});
    w.AddRelationship({.name = "FP",
                       .primary_table = "F",
                       .primary_columns = {"Id"},
                       .foreign_table = "P",
                       .foreign_columns = {"Id"}});
    EXPECT_THROW(w.Finish(), WriteError);
  }
  // An unfinished writer leaves no file behind.
  EXPECT_FALSE(std::filesystem::exists(dir / "d.mdb"));
}

// ---------------------------------------------------------------------------------------
// The JSON description and the bundled sample.

TEST(Description, SampleDatabaseHasTheShopContent) {
  const std::filesystem::path sample =
      std::filesystem::path(FERROLYTE_BINARY_DIR) / "sample" / "shop.mdb";
  ASSERT_TRUE(std::filesystem::exists(sample)) << "build target sample_database first";
  json dump = readers::MdbReaderDump(sample);
  std::vector<std::string> names;
  for (const json& t : dump["tables"]) names.push_back(t["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"Customers", "Products", "Orders", "Order Lines",
                                             "Audit Log"}));
  const json& customers = TableIn(dump, "Customers");
  bool long_memo = false;
  for (const json& r : customers["rows"]) {
    if (r["Notes"].is_string() && r["Notes"].get<std::string>().size() > 4096) long_memo = true;
  }
  EXPECT_TRUE(long_memo);
  const json& picture = TableIn(dump, "Products")["rows"][0]["Picture"];
  EXPECT_EQ(picture["hex"].get<std::string>().substr(0, 16), "89504e470d0a1a0a");
  EXPECT_EQ(dump["relationships"].size(), 3u);

  // The description file parses to the same tables the build wrote.
  auto d = accesswriter::ReadDescriptionFile(std::filesystem::path(FERROLYTE_SOURCE_DIR) /
                                             "tools/accesswriter/sample.json");
  ASSERT_EQ(d.tables.size(), names.size());
  for (std::size_t i = 0; i < d.tables.size(); ++i) {
    EXPECT_EQ(TableIn(dump, d.tables[i].table.name)["rows"].size(), d.tables[i].rows.size());
  }
}

TEST(Description, JsonValueFormsMapToTheRightValues) {
  json j = json::parse(R"({
    "format": "ace12", "password": "pw",
    "tables": [{"name": "T", "columns": [
        {"name": "D", "type": "datetime"}, {"name": "E", "type": "datetime"},
        {"name": "B", "type": "binary"}, {"name": "C", "type": "binary"},
        {"name": "M", "type": "currency"}, {"name": "G", "type": "guid"},
        {"name": "R", "type": "memo"}, {"name": "N", "type": "bigint"}],
      "rows": [[{"date": "2000-01-02T03:04:05"}, {"date": 36527.5}, {"hex": "0a0B"},
                {"base64": "AAEC"}, {"decimal": "1.5"}, {"guid": "00000000-0000-0000-0000-000000000001"},
                {"repeat": "ab", "times": 3}, 9007199254740993]]}]})");
  auto d = accesswriter::ParseDescription(j);
  EXPECT_EQ(d.options.format, Format::kAce12);
  TempDir dir;
  accesswriter::WriteDatabase(dir / "j.accdb", d);
  json row = TableIn(readers::MdbReaderDump(dir / "j.accdb", "pw"), "T")["rows"][0];
  EXPECT_EQ(row["D"], "2000-01-02T03:04:05.000Z");
  EXPECT_EQ(row["E"], "2000-01-02T12:00:00.000Z");
  EXPECT_EQ(row["B"]["hex"], "0a0b");
  EXPECT_EQ(row["C"]["hex"], "000102");
  EXPECT_EQ(row["M"], "1.5000");
  EXPECT_EQ(row["G"], "00000000-0000-0000-0000-000000000001");
  EXPECT_EQ(row["R"], "ababab");
  EXPECT_EQ(row["N"], "9007199254740993");
  EXPECT_THROW(accesswriter::ParseDescription(json::parse(R"({"tables": [{"name": "T",
      "columns": [{"name": "A", "type": "varchar"}]}]})")),
               WriteError);

  // Calculated columns, extended dates (exact also as {"date": ...}) and the encryption.
  auto f = accesswriter::ParseDescription(json::parse(R"({
    "format": "ace12", "password": "pw", "encrypt": true, "encryption": "rc4-cryptoapi",
    "tables": [{"name": "T", "columns": [
        {"name": "A", "type": "long"}, {"name": "C", "type": "long", "expression": "[A]*2"},
        {"name": "X", "type": "datetimeextended"}],
      "rows": [[2, 4, {"date": "1700-02-03 04:05:06.7000001"}]]}]})"));
  EXPECT_EQ(f.options.encryption, accesswriter::Encryption::kRc4CryptoApi);
  EXPECT_EQ(f.tables[0].table.columns[1].expression, "[A]*2");
  accesswriter::WriteDatabase(dir / "f.accdb", f);
  json t = TableIn(readers::MdbReaderDump(dir / "f.accdb", "pw"), "T");
  EXPECT_EQ(ColumnIn(t, "C")["properties"]["Expression"], "[A]*2");
  EXPECT_EQ(t["rows"][0]["X"], "1700.02.03 04:05:06.700000100");
  EXPECT_THROW(accesswriter::ParseDescription(json::parse(R"({"encryption": "rot13"})")),
               WriteError);
}

// ---------------------------------------------------------------------------------------
// Forms of real files: deleted and moved rows, a stale stored count, unknown type codes.

// Deleted entries as Access leaves them and a row moved to another page, written from the
// JSON description: both readers see the live rows, the moved one on the page it went to.
TEST(RealForms, DeletedAndMovedRowsLeaveTheLiveRowsToBothReaders) {
  auto d = accesswriter::ParseDescription(json::parse(R"({
    "tables": [{"name": "T", "stored_rows": 9,
      "columns": [{"name": "N", "type": "long"}, {"name": "S", "type": "text", "size": 10},
                  {"name": "Odd", "type": 70, "size": 2, "fixed_length": true}],
      "rows": [{"deleted": "previous"}, [1, "one", {"hex": "0102"}],
               {"deleted": "previous"}, {"moved": [2, "two", null]},
               {"deleted": "keeps_bytes", "values": [8, "gone", null]}, [3, null, null]]}]})"));
  ASSERT_EQ(d.tables[0].moved_rows, std::vector<std::size_t>{1});
  ASSERT_EQ(d.tables[0].deleted_rows.size(), 3u);
  EXPECT_EQ(d.tables[0].deleted_rows[2].form, accesswriter::DeletedRow::kKeepsBytes);
  TempDir dir;
  auto file = dir / "forms.mdb";
  // mdb-reader does not read a type it does not know: the same rows without that column.
  auto known = d;
  known.tables[0].table.columns.pop_back();
  for (auto& row : known.tables[0].rows) row.pop_back();
  known.tables[0].deleted_rows[2].values.pop_back();
  accesswriter::WriteDatabase(file, known);
  const json rows = TableIn(readers::MdbReaderDump(file), "T")["rows"];
  ASSERT_EQ(rows.size(), 3u) << rows.dump();
  EXPECT_EQ(rows[0]["S"], "one");
  EXPECT_EQ(rows[1]["S"], nullptr);
  EXPECT_EQ(rows[2]["S"], "two");

  accesswriter::WriteDatabase(file, d);
  auto lib = readers::LibmdbRows(file, "T");
  ASSERT_EQ(lib.size(), 3u);
  EXPECT_EQ(lib[0]["N"], "1");
  EXPECT_EQ(lib[1]["N"], "3");
  EXPECT_EQ(lib[2]["N"], "2");
  // The definition stores the count it was given and the column's own type code.
  std::ifstream in(file, std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(in)), {});
  std::uint32_t stored = 0;
  std::memcpy(&stored, image.data() + 3 * 4096 + 16, 4);
  EXPECT_EQ(stored, 9u);
  EXPECT_EQ(static_cast<unsigned char>(image[3 * 4096 + 63 + 2 * 25]), 0x46);
  EXPECT_THROW(accesswriter::ParseDescription(json::parse(
                   R"({"tables": [{"name": "T", "columns": [{"name": "A", "type": 256}]}]})")),
               WriteError);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Complex columns, saved queries and validation properties.

namespace complex_test {

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xff);
  return bytes;
}

TEST(Complex, AttachmentsReachMdbReaderByteForByteDeflatedOrNot) {
  TempDir dir;
  auto file = dir / "files.accdb";
  std::vector<std::uint8_t> every_byte(256);
  for (int i = 0; i < 256; ++i) every_byte[i] = static_cast<std::uint8_t>(i);
  const std::vector<accesswriter::Attachment> files = {
      {"note.txt", {'h', 'i'}, true},
      {"raw.bin", every_byte, false},  // mdb-reader refuses an empty file: not listed here
      {"big.bin", Pattern(150000), true},
      {"big.jpg", Pattern(70000), false},
      {"no extension", {'x'}, true}};
  {
    DatabaseWriter w(file, {.format = Format::kAce12});
    Table t{.name = "Docs"};
    t.columns = {{.name = "Id", .type = ColumnType::kLong},
                 {.name = "Files",
                  .type = ColumnType::kComplex,
                  .complex = accesswriter::ComplexKind::kAttachment}};
    t.indexes = {{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true}};
    auto& rows = w.AddTable(t);
    rows.AddRow({1, Value::Attachments({})});
    rows.AddRow({2, Value::Attachments(files)});
    rows.AddRow({3, nullptr});
    w.Finish();
  }
  json dump = readers::MdbReaderDump(file);
  const json& rows = TableIn(dump, "Docs")["rows"];
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(rows[0]["Files"].empty());
  EXPECT_TRUE(rows[2]["Files"].empty());
  const json& read = rows[1]["Files"];
  ASSERT_EQ(read.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].file_name);
    EXPECT_EQ(read[i]["name"], files[i].file_name);
    const std::size_t dot = files[i].file_name.rfind('.');
    EXPECT_EQ(read[i]["type"].is_null() ? "" : read[i]["type"].get<std::string>(),
              dot == std::string::npos ? "" : files[i].file_name.substr(dot + 1));
    EXPECT_EQ(read[i]["data"]["data"].get<std::vector<std::uint8_t>>(), files[i].data);
  }
}

TEST(Complex, MultiValuesLiveInTheHiddenTableUnderTheRowsKey) {
  TempDir dir;
  auto file = dir / "tags.accdb";
  {
    DatabaseWriter w(file, {.format = Format::kAce12});
    Table t{.name = "Items"};
    t.columns = {{.name = "Id", .type = ColumnType::kLong},
                 {.name = "Tags",
                  .type = ColumnType::kComplex,
                  .complex = accesswriter::ComplexKind::kMultiValue,
                  .value_type = ColumnType::kText}};
    auto& rows = w.AddTable(t);
    rows.AddRow({1, Value::Items({"red", "blue"})});
    rows.AddRow({2, Value::Items({})});
    rows.AddRow({3, Value::Items({"green"})});
    w.Finish();
  }
  std::string flat;
  for (const std::string& name : readers::LibmdbTables(file, true))
    if (name.rfind("f_", 0) == 0 && name.ends_with("_Tags")) flat = name;
  ASSERT_FALSE(flat.empty());
  std::vector<std::pair<std::string, std::string>> values;
  for (auto& row : readers::LibmdbRows(file, flat))
    values.push_back({*row["Value"], *row["_Tags"]});
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"red", "1"}, {"blue", "1"}, {"green", "3"}};
  EXPECT_EQ(values, expected);
  std::vector<std::string> keys;
  for (auto& row : readers::LibmdbRows(file, "Items")) keys.push_back(*row["Tags"]);
  EXPECT_EQ(keys, (std::vector<std::string>{"1", "2", "3"}));
}

// libmdb's own query reader turns the rows back into the statement.
TEST(Queries, LibmdbReadsTheSelectStatementFromTheRows) {
  TempDir dir;
  auto file = dir / "queries.mdb";
  {
    DatabaseWriter w(file);
    w.AddTable({.name = "Orders", .columns = {{.name = "Id", .type = ColumnType::kLong}}})
        .AddRow({1});
    w.AddQuery({.name = "Recent",
                .top = "5",
                .tables = {{"Orders", ""}},
                .columns = {{"[Orders].[Id]", ""}},
                .where = "[Id]>1",
                .order_by = {{"[Id]", true}}});
    w.Finish();
  }
  readers::Result list = readers::Run("mdb-queries -L -1 " + readers::Quote(file.string()));
  EXPECT_EQ(list.out, "Recent\n");
  readers::Result sql = readers::Run("mdb-queries " + readers::Quote(file.string()) + " Recent");
  EXPECT_NE(
      sql.out.find("SELECT TOP 5 [Orders].[Id] FROM [Orders] WHERE [Id]>1 ORDER BY [Id] DESC"),
      std::string::npos)
      << sql.out;
}

TEST(Properties, ValidationRulesAndAllowZeroLengthReachLibmdb) {
  TempDir dir;
  auto file = dir / "rules.mdb";
  {
    DatabaseWriter w(file);
    Table t{.name = "Parts",
            .properties = {{"ValidationRule", "[Low]<[High]"}, {"ValidationText", "low first"}}};
    t.columns = {
        {.name = "Low", .type = ColumnType::kLong, .properties = {{"ValidationRule", ">0"}}},
        {.name = "High", .type = ColumnType::kLong},
        {.name = "Code", .type = ColumnType::kText, .allow_zero_length = false}};
    w.AddTable(t).AddRow({1, 2, "a"});
    w.Finish();
  }
  const std::string props = readers::LibmdbProps(file, "Parts");
  for (const char* expected : {"ValidationRule: [Low]<[High]", "ValidationText: low first",
                               "ValidationRule: >0", "AllowZeroLength: no"})
    EXPECT_NE(props.find(expected), std::string::npos) << expected << "\n" << props;
}

}  // namespace complex_test
