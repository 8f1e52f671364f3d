#include "conversion/copy_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "conversion/literals.h"
#include "platform/ado.h"
#include "platform/odbc_test_server.h"
#include "platform/pg_connection.h"
#include "support/errors.h"
#include "support/oledate.h"

namespace ferrolyte {
namespace {

std::string Field(const std::string& literal) {
  std::string out;
  AppendCopyField(out, literal);
  return out;
}

TEST(CopyTextTest, FieldsAreWrittenAsPgDumpWritesThem) {
  struct Case {
    std::string literal;
    std::string field;
  } cases[] = {
      {SqlString(Value::Null()), "\\N"},
      {SqlString(Value("")), ""},
      {SqlString(Value("C:\\temp\\")), "C:\\\\temp\\\\"},
      {SqlString(Value("a\tb\r\nc?")), "a\\tb\\r\\nc?"},
      // Control characters without a letter of their own go as they are.
      {SqlString(Value("\x1b\x01\b\f\v")), "\x1b\x01\\b\\f\\v"},
      {SqlString(Value(std::string("x\0y", 3))), "x y"},
      // The end-of-data line and the null marker cannot be formed by a value.
      {SqlString(Value("\\.")), "\\\\."},
      {SqlString(Value("\\N")), "\\\\N"},
      {SqlNumber(Value(0.5)), ".5"},
      {SqlNumber(Value(std::nan(""))), "NaN"},
      {SqlDateTime(Value::Date(FieldsToOleDate({2003, 2, 1, 4, 5, 6}))), "2003-02-01 04:05:06"},
      {SqlBinary(Value::FromBytes({0x0A, 0xFF}), false, false), "0AFF"},
      {SqlBinary(Value::FromBytes({}), false, true), ""},
      // Escapes the literal functions do not write today still read as the server reads them.
      {"E'\\101\\x4g\\u00e9\\U0001F600\\q'", "A\x04g\xC3\xA9\xF0\x9F\x98\x80q"},
      {"'a\\b''c'", "a\\\\b'c"},
  };
  for (const Case& c : cases) EXPECT_EQ(Field(c.literal), c.field) << c.literal;
}

TEST(CopyTextTest, RefusesTextThatIsNoLiteral) {
  for (const char* text : {"", "0x00", "TRUE", "E'open", "'a'b'", "E'\\u12'", "1; DROP", "E'\\"}) {
    try {
      Field(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), 5) << text;
    }
  }
}

// Stores the literal through an INSERT and its field through a COPY, in every column type a
// table definition gives, and compares what the server holds (or that both were refused).
TEST(CopyTextTest, ServerStoresWhatTheInsertStores) {
  FERROLYTE_REQUIRE_SERVER();
  testing::ScratchDatabase db("copytext");
  PgConnection c({testing::ServerHost(), testing::ServerPort(), db.name(), testing::ServerUser(),
                  testing::ServerPassword()});
  const double inf = std::numeric_limits<double>::infinity();
  static constexpr char kControls[] = "\x1b\x01\x1f\b\f\v x\0y \x7f";
  struct Case {
    std::string type;
    std::string literal;
  } cases[] = {
      {"TEXT", SqlString(Value(""))},
      {"TEXT", SqlString(Value::Null())},
      {"TEXT", SqlString(Value("O'Brien \\ C:\\temp\\ a\tb\r\nc? \\. \\N NULL"))},
      {"TEXT", SqlString(Value(std::string(kControls, sizeof kControls - 1)))},
      {"TEXT", SqlString(Value("Zoë 日本 \xF0\x9F\x98\x80 \xF0\x9D\x84\x9E"))},
      {"TEXT", "E'\\101\\x4g\\u00e9\\U0001F600\\q'"},
      {"VARCHAR(10)", SqlString(Value("Größe"))},
      {"VARCHAR(3)", SqlString(Value("abcd"))},
      {"CHAR(5)", SqlString(Value("ab"))},
      {"VARCHAR(38)", SqlString(Value("{12345678-9ABC-DEF0-1234-56789ABCDEF0}"))},
      {"TEXT", SqlBinary(Value::FromBytes({0x00, 0x0A, 0xFF}), false, false)},
      {"TEXT", SqlBinary(Value::FromBytes({}), false, true)},
      {"TEXT", SqlBinary(Value::Null(), false, false)},
      {"BOOLEAN", "E'1'"},
      {"BOOLEAN", "E'0'"},
      {"BOOLEAN", "NULL"},
      {"SMALLINT", SqlNumber(Value(-32768))},
      {"SMALLINT", SqlNumber(Value(40000))},
      {"INTEGER", SqlNumber(Value(-3))},
      {"BIGINT", SqlNumber(Value(std::numeric_limits<int64_t>::min()))},
      {"NUMERIC(19,4)", SqlNumber(Value::Decimal("-922337203685477.5808"))},
      {"NUMERIC(19,4)", SqlNumber(Value::Decimal("0.5"))},
      {"NUMERIC(19,4)", SqlNumber(Value("12.5"))},
      {"DECIMAL(12,3)", SqlNumber(Value::Decimal("123456789.125"))},
      {"DECIMAL(12,3)", SqlNumber(Value::Decimal("1234567890.125"))},
      {"FLOAT", SqlNumber(Value::Single(0.1f))},
      {"FLOAT", SqlNumber(Value::Single(-3.4028235e38f))},
      {"DOUBLE PRECISION", SqlNumber(Value(1.0 / 7.0))},
      {"DOUBLE PRECISION", SqlNumber(Value(-0.25))},
      {"DOUBLE PRECISION", SqlNumber(Value(1e20))},
      {"DOUBLE PRECISION", SqlNumber(Value(1.7976931348623157e308))},
      {"DOUBLE PRECISION", SqlNumber(Value(4.9e-324))},
      {"DOUBLE PRECISION", SqlNumber(Value(std::nan("")))},
      {"DOUBLE PRECISION", SqlNumber(Value(inf))},
      {"DOUBLE PRECISION", SqlNumber(Value(-inf))},
      {"TIMESTAMP", SqlDateTime(Value::Date(FieldsToOleDate({2003, 2, 1, 4, 5, 6})))},
      {"TIMESTAMP", SqlDateTime(Value::Date(FieldsToOleDate({100, 1, 1, 0, 0, 0})))},
      {"TIMESTAMP", SqlDateTime(Value::Date(FieldsToOleDate({9999, 12, 31, 23, 59, 59})))},
      {"TIMESTAMP", SqlDateTime(Value("not a date"))},
      {"TIME", SqlDateTime(Value::Date(0.4375))},
  };
  std::map<std::string, std::string> tables;
  int id = 0;
  for (const Case& k : cases) {
    ++id;
    std::string& t = tables[k.type];
    if (t.empty()) {
      t = "t" + std::to_string(tables.size());
      c.Execute("CREATE TABLE i" + t + " (id int, v " + k.type + "); CREATE TABLE c" + t +
                " (id int, v " + k.type + ")");
    }
    const std::string where = k.type + " " + k.literal;
    bool insert_refused = false, copy_refused = false;
    try {
      c.Execute("INSERT INTO i" + t + " VALUES (" + std::to_string(id) + ", " + k.literal + ")");
    } catch (const Error&) {
      insert_refused = true;
    }
    try {
      c.BeginCopy("COPY c" + t + " FROM STDIN");
      c.PutCopyData(std::to_string(id) + "\t" + Field(k.literal) + "\n");
      c.EndCopy();
    } catch (const Error&) {
      EXPECT_FALSE(c.in_copy());
      copy_refused = true;
    }
    EXPECT_EQ(copy_refused, insert_refused) << where;
    const std::string select = " WHERE id = " + std::to_string(id);
    EXPECT_EQ(c.QueryValue("SELECT count(*) FROM c" + t + select),
              c.QueryValue("SELECT count(*) FROM i" + t + select))
        << where;
    EXPECT_EQ(c.QueryValue("SELECT v::text FROM c" + t + select),
              c.QueryValue("SELECT v::text FROM i" + t + select))
        << where;
  }
}

}  // namespace
}  // namespace ferrolyte
