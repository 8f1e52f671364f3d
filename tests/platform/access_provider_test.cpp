#include "platform/access_provider.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "accesswriter/writer.h"
#include "platform/ado.h"
#include "platform/source_connection.h"
#include "support/errors.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;

std::string JetString(const std::string& path) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";";
}

std::string SharedFile(const std::string& name) {
  return std::string(FERROLYTE_SOURCE_DIR) + "/../shared/access/" + name;
}

bool Exists(const std::string& path) {
  return std::ifstream(path).good();
}

Error OpenError(const std::string& connection_string) {
  Connection c;
  try {
    c.Open(connection_string);
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "no error");
}

template <typename Call>
Error ErrorOf(Call call) {
  try {
    call();
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "no error");
}

TEST(AccessConnectionStringTest, ReadsEveryPartIgnoringKeyCase) {
  struct Case {
    std::string text;
    AccessConnectionSettings want;
  };
  const Case cases[] = {
      {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/a.mdb;",
       {"Microsoft.Jet.OLEDB.4.0", "/d/a.mdb", "", "", "", ""}},
      {"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/d/b.accdb;Jet OLEDB:Database "
       "Password=se=cret;",
       {"Microsoft.ACE.OLEDB.12.0", "/d/b.accdb", "se=cret", "", "", ""}},
      {"provider=microsoft.jet.oledb.4.0; data source = /d/c.mdb ;JET OLEDB:SYSTEM "
       "DATABASE=/d/sys.mdw;User Id=admin;Password=pw;",
       {"microsoft.jet.oledb.4.0", "/d/c.mdb", "", "/d/sys.mdw", "admin", "pw"}},
  };
  for (const Case& c : cases) {
    AccessConnectionSettings s = ParseAccessConnectionString(c.text);
    EXPECT_EQ(s.provider, c.want.provider) << c.text;
    EXPECT_EQ(s.data_source, c.want.data_source) << c.text;
    EXPECT_EQ(s.database_password, c.want.database_password) << c.text;
    EXPECT_EQ(s.system_database, c.want.system_database) << c.text;
    EXPECT_EQ(s.user_id, c.want.user_id) << c.text;
    EXPECT_EQ(s.password, c.want.password) << c.text;
  }
  EXPECT_THROW(ParseAccessConnectionString("Provider=SQLOLEDB;Data Source=x"), Error);
}

// Whatever the wizard puts into the string, the provider reads back unchanged.
TEST(AccessConnectionStringTest, ReadsBackEveryValueTheBuilderWrites) {
  for (const std::string& v : {std::string("plain"), std::string("a;b"), std::string("{braced}"),
                               std::string("}}"), std::string(" edge spaces "),
                               std::string("x=y;z={w} "), std::string("{"), std::string("[1]")}) {
    SCOPED_TRACE(v);
    AccessConnectionSettings jet =
        ParseAccessConnectionString(BuildSourceConnectionString(v, v + ".mdw", v, v));
    EXPECT_EQ(
        ParseAccessConnectionString(BuildSourceConnectionString(v, "", "", v)).database_password,
        v);
    EXPECT_EQ(jet.data_source, v);
    EXPECT_EQ(jet.system_database, v + ".mdw");
    EXPECT_EQ(jet.user_id, v);
    EXPECT_EQ(jet.password, v);
  }
}

TEST(AccessProviderTest, OpenFailuresCarryTheEngineTexts) {
  testing::TempDir dir;
  std::string text_file = dir.File("notes.mdb");
  std::ofstream(text_file) << "this is not a database, just some text that is long enough";
  Error missing = OpenError(JetString(dir.File("missing.mdb")));
  EXPECT_EQ(missing.number(), kAdoGenericError);
  EXPECT_EQ(missing.description(), "Could not find file '" + dir.File("missing.mdb") + "'.");
  Error wrong = OpenError(JetString(text_file));
  EXPECT_EQ(wrong.number(), kAdoGenericError);
  EXPECT_EQ(wrong.description(), "Unrecognized database format '" + text_file + "'.");

  std::string encrypted = SharedFile("ace14-v2010-password.accdb");
  if (Exists(encrypted)) {
    Error e = OpenError("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + encrypted + ";");
    EXPECT_EQ(e.number(), kAdoInvalidPassword);
    EXPECT_EQ(e.description(), "Not a valid password.");
  }
}

// One table with a column of every plain type, and rows that hit libmdb's weak spots.
class AccessReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("types.mdb");
    aw::DatabaseWriter db(path_);
    aw::Table t{.name = "All Types"};
    using T = aw::ColumnType;
    t.columns = {
        {.name = "Id", .type = T::kLong, .auto_number = aw::AutoNumber::kIncrement},
        {.name = "Flag", .type = T::kBoolean},
        {.name = "Small", .type = T::kByte},
        {.name = "Short", .type = T::kInteger},
        {.name = "Float", .type = T::kSingle},
        {.name = "Real", .type = T::kDouble},
        {.name = "Money", .type = T::kCurrency},
        {.name = "Exact", .type = T::kDecimal, .precision = 20, .scale = 5},
        {.name = "When", .type = T::kDateTime},
        {.name = "Name", .type = T::kText, .size = 20},
        {.name = "Notes", .type = T::kMemo},
        {.name = "Key", .type = T::kGuid},
        {.name = "Raw", .type = T::kBinary, .size = 16},
        {.name = "Blob", .type = T::kOle},
    };
    aw::TableWriter& rows = db.AddTable(t);
    long_text_.reserve(70000);
    for (int i = 0; i < 7000; ++i) long_text_ += "Zoë 😀 " + std::to_string(i % 10);
    blob_.resize(100000);
    for (size_t i = 0; i < blob_.size(); ++i) blob_[i] = static_cast<uint8_t>(i * 7);
    rows.AddRow({nullptr, true, 255, -32768, 1.5, -2.25, aw::Value::Decimal("-12.34"),
                 aw::Value::Decimal("123456789012345.67891"), aw::Value::Date(-700.75),
                 "Grüße 😀 emoji", aw::Value(long_text_),
                 aw::Value::Guid("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"),
                 aw::Value::Bytes({1, 2, 3}), aw::Value::Bytes(blob_)});
    rows.AddRow({nullptr, false, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                 aw::Value::Date(2958465.999988426), "", "", nullptr, nullptr, nullptr});
    aw::Table empty{.name = "Empty"};
    empty.columns = {{.name = "X", .type = T::kLong}};
    db.AddTable(empty);
    db.Finish();
    connection_.Open(JetString(path_));
  }

  testing::TempDir dir_;
  std::string path_;
  std::string long_text_;
  std::vector<uint8_t> blob_;
  Connection connection_;
};

TEST_F(AccessReadTest, EveryColumnDecodesEveryTypeCompletely) {
  auto rs = connection_.OpenRows(TableRows("All Types"));
  ASSERT_TRUE(rs);
  const int want_types[] = {kAdInteger,   kAdBoolean,      kAdUnsignedTinyInt, kAdSmallInt,
                            kAdSingle,    kAdDouble,       kAdCurrency,        kAdNumeric,
                            kAdDate,      kAdVarWChar,     kAdLongVarWChar,    kAdGUID,
                            kAdVarBinary, kAdLongVarBinary};
  ASSERT_EQ(rs->FieldCount(), 14);
  for (int i = 0; i < 14; ++i) EXPECT_EQ(rs->FieldType(i), want_types[i]) << rs->FieldName(i);
  EXPECT_EQ(rs->FieldName(9), "Name");

  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->FieldValue(0), Value(int64_t{1}));
  EXPECT_EQ(rs->FieldValue(1), Value(true));
  EXPECT_EQ(rs->FieldValue(2), Value(int64_t{255}));
  EXPECT_EQ(rs->FieldValue(3), Value(int64_t{-32768}));
  EXPECT_EQ(rs->FieldValue(4), Value::Single(1.5f));
  EXPECT_EQ(rs->FieldValue(5), Value(-2.25));
  EXPECT_EQ(rs->FieldValue(6), Value::Decimal("-12.3400"));
  EXPECT_EQ(rs->FieldValue(7), Value::Decimal("123456789012345.67891"));
  EXPECT_EQ(rs->FieldValue(8), Value::Date(-700.75));
  EXPECT_EQ(rs->FieldValue(9), Value("Grüße 😀 emoji"));
  EXPECT_EQ(rs->FieldValue(10).Text().size(), long_text_.size());
  EXPECT_EQ(rs->FieldValue(10), Value(long_text_));
  EXPECT_EQ(rs->FieldValue(11), Value("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
  EXPECT_EQ(rs->FieldValue(12), Value::FromBytes({1, 2, 3}));
  EXPECT_EQ(rs->FieldValue(13), Value::FromBytes(blob_));

  rs->MoveNext();
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->FieldValue(0), Value(int64_t{2}));
  EXPECT_EQ(rs->FieldValue(1), Value(false));
  for (int i : {2, 3, 4, 5, 6, 7, 11, 12, 13}) EXPECT_TRUE(rs->FieldValue(i).IsNull()) << i;
  EXPECT_EQ(rs->FieldValue(8), Value::Date(2958465.999988426));
  EXPECT_EQ(rs->FieldValue(9), Value(""));
  EXPECT_EQ(rs->FieldValue(10), Value(""));
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_THROW(rs->MoveNext(), Error);
}

TEST_F(AccessReadTest, ColumnListKeepsTheGivenOrderAndCountMatchesRows) {
  auto rs = connection_.OpenRows(TableRows("All Types", {"Name", "Id", "Flag"}));
  ASSERT_EQ(rs->FieldCount(), 3);
  EXPECT_EQ(rs->FieldName(0), "Name");
  EXPECT_EQ(rs->FieldName(1), "Id");
  EXPECT_EQ(rs->FieldType(2), kAdBoolean);
  EXPECT_EQ(rs->FieldValue(1), Value(int64_t{1}));
  EXPECT_EQ(rs->Field("name"), Value("Grüße 😀 emoji"));

  struct Case {
    std::string table;
    int64_t rows;
  };
  for (const Case& c : {Case{"All Types", 2}, Case{"Empty", 0}}) {
    EXPECT_EQ(connection_.CountRows(TableRows(c.table)), c.rows) << c.table;
  }
  auto empty = connection_.OpenRows(TableRows("Empty"));
  EXPECT_TRUE(empty->Eof());
}

TEST_F(AccessReadTest, TwoRecordSetsReadSideBySide) {
  auto a = connection_.OpenRows(TableRows("All Types", {"Id"}));
  auto b = connection_.OpenRows(TableRows("All Types", {"Id", "Notes"}));
  a->MoveNext();
  EXPECT_EQ(a->FieldValue(0), Value(int64_t{2}));
  EXPECT_EQ(b->FieldValue(0), Value(int64_t{1}));
  EXPECT_EQ(b->FieldValue(1), Value(long_text_));
}

TEST_F(AccessReadTest, UnknownTablesAndColumnsRaiseTheProviderErrors) {
  const std::string nowhere =
      "The Microsoft Jet database engine cannot find the input table or query 'Nowhere'.";
  struct Case {
    const char* what;
    SourceRows rows;
    int32_t number;
    std::string text_part;
  };
  SourceRows values_of_own_rows = TableRows("All Types");
  values_of_own_rows.columns = {{"Name", true}};
  SourceRows plain_as_complex = TableRows("All Types", {"Id"});
  plain_as_complex.complex_column = "Name";
  const Case cases[] = {
      {"unknown table", TableRows("Nowhere"), -2147217865, nowhere},
      {"unknown column", TableRows("All Types", {"Id", "Missing"}), -2147217904, "No value given"},
      {"a value column of a table's own rows", values_of_own_rows, -2147217904, "No value given"},
      {"a plain column as complex", plain_as_complex, -2147217865, "holds no attachments"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool count : {false, true}) {
      Error e = ErrorOf([&] {
        if (count)
          connection_.CountRows(c.rows);
        else
          connection_.OpenRows(c.rows);
      });
      EXPECT_EQ(e.number(), c.number) << count;
      EXPECT_NE(e.description().find(c.text_part), std::string::npos) << e.description();
    }
  }
  // Statements are the server's: the source answers none, not even one it could.
  Error e = ErrorOf([&] { connection_.Execute("SELECT * FROM [All Types]"); });
  EXPECT_EQ(e.number(), kAdoRejectedStatement);
}

TEST_F(AccessReadTest, ColumnCatalogueGivesPrecisionAndScale) {
  auto rs = connection_.OpenSchema(kAdSchemaColumns);
  bool saw_money = false, saw_exact = false, saw_name = false;
  for (; !rs->Eof(); rs->MoveNext()) {
    if (rs->Field("TABLE_NAME").Text() != "All Types") continue;
    const std::string& column = rs->Field("COLUMN_NAME").Text();
    if (column == "Money") {
      saw_money = true;
      EXPECT_EQ(rs->Field("NUMERIC_PRECISION"), Value(19));
      EXPECT_EQ(rs->Field("NUMERIC_SCALE"), Value(4));
    } else if (column == "Exact") {
      saw_exact = true;
      EXPECT_EQ(rs->Field("NUMERIC_PRECISION"), Value(20));
      EXPECT_EQ(rs->Field("NUMERIC_SCALE"), Value(5));
    } else if (column == "Name") {
      saw_name = true;
      EXPECT_TRUE(rs->Field("NUMERIC_PRECISION").IsNull());
      EXPECT_EQ(rs->Field("CHARACTER_MAXIMUM_LENGTH"), Value(20));
    }
  }
  EXPECT_TRUE(saw_money && saw_exact && saw_name);
}

}  // namespace
}  // namespace ferrolyte
