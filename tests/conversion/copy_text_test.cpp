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

constexpr ColumnSpec kString{ColumnKind::kString};
constexpr ColumnSpec kNumber{ColumnKind::kNumber};
constexpr ColumnSpec kBoolean{ColumnKind::kBoolean};
constexpr ColumnSpec kDateTime{ColumnKind::kDateTime};
constexpr ColumnSpec kBinary{ColumnKind::kBinary};
constexpr ColumnSpec kRequiredBinary{ColumnKind::kBinary, true};
constexpr ColumnSpec kBytea{ColumnKind::kBytea};

std::string Field(const ColumnSpec& column, const Value& value) {
  std::string out;
  AppendCopyValue(out, column, value);
  return out;
}

std::string Literal(const ColumnSpec& column, const Value& value) {
  std::string out;
  AppendInsertLiteral(out, column, value);
  return out;
}

TEST(CopyTextTest, FieldsAreWrittenAsPgDumpWritesThem) {
  struct Case {
    ColumnSpec column;
    Value value;
    std::string field;
  } cases[] = {
      {kString, Value::Null(), "\\N"},
      {kString, Value(""), ""},
      {kString, Value("C:\\temp\\"), "C:\\\\temp\\\\"},
      {kString, Value("a\tb\r\nc?'"), "a\\tb\\r\\nc?'"},
      // Control characters without a letter of their own go as they are.
      {kString, Value("\x1b\x01\b\f\v"), "\x1b\x01\\b\\f\\v"},
      {kString, Value(std::string("x\0y", 3)), "x y"},
      // The end-of-data line and the null marker cannot be formed by a value.
      {kString, Value("\\."), "\\\\."},
      {kString, Value("\\N"), "\\\\N"},
      {kString, Value(0.1), "0.1"},
      {kNumber, Value(0.5), ".5"},
      {kNumber, Value(std::nan("")), "NaN"},
      {kNumber, Value(-0.0), "-0"},
      {kNumber, Value(-std::numeric_limits<double>::infinity()), "-Infinity"},
      {kNumber, Value::Single(0.1f), ".1"},
      {kNumber, Value::Decimal("-0.25"), "-.25"},
      {kNumber, Value("12\t5"), "12\\t5"},
      {kNumber, Value::Null(), "\\N"},
      {kBoolean, Value(true), "1"},
      {kBoolean, Value(-1), "1"},
      {kBoolean, Value(0), "0"},
      {kDateTime, Value::Date(FieldsToOleDate({2003, 2, 1, 4, 5, 6})), "2003-02-01 04:05:06"},
      {kDateTime, Value::Null(), "\\N"},
      {kBinary, Value::FromBytes({0x0A, 0xFF}), "0AFF"},
      {kBinary, Value::FromBytes({}), ""},
      {kBinary, Value::Null(), "\\N"},
      {kRequiredBinary, Value::Null(), ""},
      {kBytea, Value::FromBytes({0x00, 0xAB}), "\\\\x00AB"},
      {kBytea, Value::FromBytes({}), "\\\\x"},
      {kBytea, Value::Null(), "\\N"},
  };
  for (const Case& c : cases) EXPECT_EQ(Field(c.column, c.value), c.field) << c.field;
}

TEST(CopyTextTest, OversizeBinaryFailsOrIsLeftOutAsItsInsertIs) {
  const Value big = Value::FromBytes(Bytes(kMaxBlobSize + 1, 7));
  try {
    Field(kBinary, big);
    ADD_FAILURE() << "an oversize binary was written";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1003);
  }
  EXPECT_EQ(Field({ColumnKind::kBinary, false, true}, big), "\\N");
  EXPECT_EQ(Field({ColumnKind::kBinary, true, true}, big), "");
}

// Stores a value's literal through an INSERT and its field through a COPY, in every column type a
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
    ColumnSpec column;
    Value value;
  } cases[] = {
      {"TEXT", kString, Value("")},
      {"TEXT", kString, Value::Null()},
      {"TEXT", kString, Value("O'Brien \\ C:\\temp\\ a\tb\r\nc? \\. \\N NULL")},
      {"TEXT", kString, Value(std::string(kControls, sizeof kControls - 1))},
      {"TEXT", kString, Value("Zoë 日本 \xF0\x9F\x98\x80 \xF0\x9D\x84\x9E")},
      {"BYTEA", kBytea, Value::FromBytes({0x00, 0x5C, 0xFF})},
      {"BYTEA", kBytea, Value::FromBytes({})},
      {"DOUBLE PRECISION", kNumber, Value(-0.0)},
      {"VARCHAR(10)", kString, Value("Größe")},
      {"VARCHAR(3)", kString, Value("abcd")},
      {"CHAR(5)", kString, Value("ab")},
      {"VARCHAR(38)", kString, Value("{12345678-9ABC-DEF0-1234-56789ABCDEF0}")},
      {"TEXT", kBinary, Value::FromBytes({0x00, 0x0A, 0xFF})},
      {"TEXT", kRequiredBinary, Value::FromBytes({})},
      {"TEXT", kBinary, Value::Null()},
      {"BOOLEAN", kBoolean, Value(true)},
      {"BOOLEAN", kBoolean, Value(0)},
      {"BOOLEAN", kNumber, Value::Null()},
      {"SMALLINT", kNumber, Value(-32768)},
      {"SMALLINT", kNumber, Value(40000)},
      {"INTEGER", kNumber, Value(-3)},
      {"BIGINT", kNumber, Value(std::numeric_limits<int64_t>::min())},
      {"NUMERIC(19,4)", kNumber, Value::Decimal("-922337203685477.5808")},
      {"NUMERIC(19,4)", kNumber, Value::Decimal("0.5")},
      {"NUMERIC(19,4)", kNumber, Value("12.5")},
      {"DECIMAL(12,3)", kNumber, Value::Decimal("123456789.125")},
      {"DECIMAL(12,3)", kNumber, Value::Decimal("1234567890.125")},
      {"FLOAT", kNumber, Value::Single(0.1f)},
      {"FLOAT", kNumber, Value::Single(-3.4028235e38f)},
      {"DOUBLE PRECISION", kNumber, Value(1.0 / 7.0)},
      {"DOUBLE PRECISION", kNumber, Value(-0.25)},
      {"DOUBLE PRECISION", kNumber, Value(1e20)},
      {"DOUBLE PRECISION", kNumber, Value(1.7976931348623157e308)},
      {"DOUBLE PRECISION", kNumber, Value(4.9e-324)},
      {"DOUBLE PRECISION", kNumber, Value(std::nan(""))},
      {"DOUBLE PRECISION", kNumber, Value(inf)},
      {"DOUBLE PRECISION", kNumber, Value(-inf)},
      {"TIMESTAMP", kDateTime, Value::Date(FieldsToOleDate({2003, 2, 1, 4, 5, 6}))},
      {"TIMESTAMP", kDateTime, Value::Date(FieldsToOleDate({100, 1, 1, 0, 0, 0}))},
      {"TIMESTAMP", kDateTime, Value::Date(FieldsToOleDate({9999, 12, 31, 23, 59, 59}))},
      {"TIMESTAMP", kDateTime, Value("not a date")},
      {"TIME", kDateTime, Value::Date(0.4375)},
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
    const std::string literal = Literal(k.column, k.value);
    const std::string where = k.type + " " + literal;
    bool insert_refused = false, copy_refused = false;
    try {
      c.Execute("INSERT INTO i" + t + " VALUES (" + std::to_string(id) + ", " + literal + ")");
    } catch (const Error&) {
      insert_refused = true;
    }
    try {
      c.BeginCopy("COPY c" + t + " FROM STDIN");
      c.PutCopyData(std::to_string(id) + "\t" + Field(k.column, k.value) + "\n");
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
