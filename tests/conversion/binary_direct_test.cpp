// Rows a direct run sends with binary COPY must leave on the server exactly what the text COPY
// leaves. Each case moves the edge values of one column type both ways, into two tables of the
// same definition, and compares the tables as the server prints them; a refused value must
// leave the same rows, error and rejected INSERT either way.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "conversion/destination.h"
#include "conversion/literals.h"
#include "platform/odbc_test_server.h"
#include "platform/pg_connection.h"
#include "support/errors.h"
#include "testing/fake_clock.h"

namespace ferrolyte {
namespace {

using testing::QueryValue;

// How many of a case's rows are to go in binary.
enum class Binary { kAll, kSome, kNone };

struct Case {
  const char* name;
  const char* sql_type;
  ColumnSpec column;
  std::vector<Value> values;
  Binary binary = Binary::kAll;
};

struct Moved {
  std::string table;  // every row, as the server prints it
  int64_t rows_written = 0;
  int64_t binary_rows = 0;
  std::string error;  // the refusal raised, if any
  std::string rejected_row;
};

constexpr double kInf = std::numeric_limits<double>::infinity();

Bytes EveryByte() {
  Bytes b;
  for (int i = 0; i < 256; ++i) b.push_back(static_cast<uint8_t>(i));
  return b;
}

Bytes RandomBytes(size_t n) {
  std::mt19937 random(20261210);
  Bytes b(n);
  for (uint8_t& x : b) x = static_cast<uint8_t>(random());
  return b;
}

const std::vector<Case>& Cases() {
  using K = ColumnKind;
  const ColumnSpec number{.kind = K::kNumber}, string{.kind = K::kString}, text{.kind = K::kText},
      date{.kind = K::kDateTime}, binary{.kind = K::kBinary}, bytea{.kind = K::kBytea};
  const std::string nonascii = "\xC3\xA4\xE2\x82\xAC\xE4\xB8\xAD\xF0\x9F\x98\x80";
  static const std::vector<Case> cases = {
      {"smallint",
       "smallint",
       number,
       {Value::Null(), Value(-32768), Value(32767), Value(0), Value(true), Value(),
        Value::Decimal("-12"), Value(3.0)}},
      {"integer",
       "integer",
       number,
       {Value(INT32_MIN), Value(INT32_MAX), Value::Null(), Value(false), Value(-1)}},
      {"bigint",
       "bigint",
       number,
       {Value(INT64_MIN), Value(INT64_MAX), Value::Null(), Value::Decimal("9007199254740993")}},
      {"currency",
       "numeric(19,4)",
       number,
       {Value::Decimal("-922337203685477.5808"), Value::Decimal("922337203685477.5807"),
        Value::Decimal("0.0000"), Value::Decimal("-0.0001"), Value::Decimal("12.3"),
        Value(int64_t{-123456789012345}), Value(1.25), Value::Null()}},
      {"decimal",
       "decimal(28,6)",
       number,
       {Value::Decimal("-1234567890123456789012.123456"), Value::Decimal(".000001"),
        Value::Decimal("0"), Value::Decimal("-0"), Value::Decimal("1.1234567"), Value(1e20),
        Value(-2.5e-5), Value::Decimal("10000.000000")}},
      {"numeric",
       "numeric",
       number,
       {Value(1e-7), Value(-0.0), Value::Single(0.1f), Value(std::nan("")), Value(1e300),
        Value(-DBL_MAX), Value(int64_t{-10000}), Value::Decimal("-100000000.00000001")}},
      // Numeric's infinity is not every server's: it goes as text.
      {"numeric infinity",
       "numeric",
       number,
       {Value(1.5), Value(2.5), Value(3.5), Value(4.5), Value(kInf), Value(6.5)},
       Binary::kSome},
      {"double",
       "double precision",
       number,
       {Value(-0.0), Value(kInf), Value(-kInf), Value(std::nan("")), Value(DBL_MAX), Value(DBL_MIN),
        Value(0.1 + 0.2), Value(int64_t{9007199254740993}), Value::Null(), Value::Date(36526.5),
        Value::Decimal("0.1")}},
      {"single as float",
       "float",
       number,
       {Value::Single(0.1f), Value::Single(FLT_MAX), Value::Single(-0.0f),
        Value::Single(16777216.0f), Value::Single(1.0f / 3)}},
      {"real",
       "real",
       number,
       {Value::Single(FLT_MIN), Value::Single(-FLT_MAX), Value(int64_t{16777217}), Value(0.1),
        Value::Decimal("2583.2092"), Value::Single(std::nanf(""))}},
      // A subnormal's reading differs between servers: it goes as text.
      {"subnormal",
       "double precision",
       number,
       {Value(1.0), Value(2.0), Value(3.0), Value(std::numeric_limits<double>::denorm_min())},
       Binary::kSome},
      {"boolean",
       "boolean",
       {.kind = K::kBoolean},
       {Value(true), Value(false), Value(-1), Value(0), Value::Null()}},
      {"timestamp",
       "timestamp",
       date,
       {Value::Null(), Value::Date(-693593.0), Value::Date(2958465.99998843), Value::Date(0.0),
        Value::Date(-1.5), Value::Date(-0.25), Value::Date(36526.0001), Value::Date(60000.123456),
        Value::Date(-36524.5), Value::PreciseDate(45000, 1234567),
        Value::PreciseDate(-693593, 863999999999), Value::PreciseDate(2958465, 0)}},
      {"date",
       "date",
       date,
       {Value::Date(36525.75), Value::Date(-693593.0), Value::Date(-36524.5),
        Value::PreciseDate(60000, 863999999999), Value::Null()}},
      {"time",
       "time",
       date,
       {Value::Date(0.5), Value::Date(-0.75), Value::Date(36526.99998), Value::Date(45000.0),
        Value::PreciseDate(2, 9999), Value::Null()}},
      // Its text depends on the session's time zone: text either way.
      {"timestamptz", "timestamptz", date, {Value::Date(36526.5), Value::Null()}, Binary::kNone},
      {"varchar",
       "varchar(40)",
       string,
       {Value(""), Value(nonascii), Value("tab\there\nline\\back\x01\x1F"),
        Value(std::string("nul\0end", 7)), Value(1.5), Value::Single(0.1f), Value(int64_t{-7}),
        Value(true), Value(), Value::Null(), Value("trailing   ")}},
      {"char", "char(5)", string, {Value("ab"), Value(""), Value("abcde"), Value(nonascii)}},
      {"memo",
       "text",
       text,
       {Value(std::string(70000, 'm') + nonascii), Value(""), Value(std::string(1, '\\')),
        Value::Null()}},
      {"uuid",
       "uuid",
       string,
       {Value("{00112233-4455-6677-8899-AABBCCDDEEFF}"), Value("00112233445566778899aabbccddeeff"),
        Value("0011-2233-4455-6677-8899-aabb-ccdd-eeff"), Value::Null()}},
      {"binary",
       "text",
       binary,
       {Value::FromBytes({}), Value::FromBytes(EveryByte()), Value::FromBytes(RandomBytes(300000)),
        Value::Null()}},
      {"required binary",
       "text",
       {.kind = K::kBinary, .required = true, .ignore_large_blobs = true},
       {Value::Null(), Value::FromBytes({0x00}), Value::FromBytes(RandomBytes(kMaxBlobSize + 1))}},
      {"binary in bytea", "bytea", binary, {Value::FromBytes({0xAB, 0xCD}), Value::Null()}},
      {"bytea",
       "bytea",
       bytea,
       {Value::FromBytes({}), Value::FromBytes(EveryByte()), Value::FromBytes(RandomBytes(1 << 20)),
        Value::Null()}},
      // Money's text depends on the session's locale: text either way.
      {"money", "money", number, {Value::Decimal("12.34"), Value(-5)}, Binary::kNone},
      // A text in a number column is the server's to read: the table goes on as text.
      {"text in integer",
       "integer",
       number,
       {Value(1), Value(2), Value(3), Value(4), Value("5"), Value(6), Value(7)},
       Binary::kSome},
  };
  return cases;
}

// Cases the server refuses a value of: the fifth row.
const std::vector<Case>& Refusals() {
  const ColumnSpec number{.kind = ColumnKind::kNumber};
  static const std::vector<Case> cases = {
      {"too long",
       "varchar(3)",
       {.kind = ColumnKind::kString},
       {Value("a"), Value("b"), Value("c"), Value("d"), Value("toolong"), Value("f"), Value("g")}},
      {"over smallint",
       "smallint",
       number,
       {Value(1), Value(2), Value(3), Value(4), Value(40000), Value(6)}},
      {"over decimal",
       "decimal(5,2)",
       number,
       {Value(1), Value(2), Value(3), Value(4), Value::Decimal("12345.5"), Value(6)}},
      {"bad uuid",
       "uuid",
       {.kind = ColumnKind::kString},
       {Value("00112233445566778899aabbccddeeff"), Value::Null(), Value::Null(), Value::Null(),
        Value("not a uuid"), Value::Null()}},
  };
  return cases;
}

class BinaryDirectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveServer()) GTEST_SKIP() << "no PostgreSQL server (PGPORT unset)";
    db_ = std::make_unique<testing::ScratchDatabase>("binary");
    server_ = testing::ConnectTo(db_->name());
    session_ = std::make_unique<PgConnection>(
        PgParameters{testing::ServerHost(), testing::ServerPort(), db_->name(),
                     testing::ServerUser(), testing::ServerPassword()});
  }
  void TearDown() override { server_.reset(); }

  // Moves the case's values, each row's ID its place, in COPY chunks of three rows, each row
  // streamed alone.
  Moved Move(const Case& c, bool binary, const std::string& table) {
    server_->Execute("CREATE TABLE \"" + table + "\" (\"ID\" integer, \"V\" " + c.sql_type + ")");
    ServerDestination destination(server_.get());
    destination.set_row_session(session_.get(), clock_);
    destination.set_rows_per_chunk(3);
    destination.set_binary_copy(binary);
    const ColumnSpec columns[] = {{.kind = ColumnKind::kNumber}, c.column};
    Moved m;
    try {
      destination.BeginRows("\"" + table + "\"", "\"ID\", \"V\"");
      for (size_t i = 0; i < c.values.size(); ++i) {
        const Value id(static_cast<int64_t>(i + 1));
        const Value* values[] = {&id, &c.values[i]};
        destination.WriteRow({columns, values});
        // Each row is streamed before the next comes: a turn to text finds rows on the wire.
        clock_.Advance(CopyChunks::kStreamTime);
        if (destination.RowsDue()) destination.KeepRows();
      }
      destination.EndRows();
    } catch (const Error& e) {
      m.error = e.description();
    }
    m.rows_written = destination.rows_written();
    m.binary_rows = destination.copy_rows_sent_binary();
    m.rejected_row = destination.rejected_row();
    const std::string rows = "\"" + table + "\" t";
    for (size_t at; (at = m.rejected_row.find(table)) != std::string::npos;)
      m.rejected_row.replace(at, table.size(), "TABLE");
    m.table = QueryValue(*server_,
                         "SELECT coalesce(string_agg(\"ID\" || ':' || coalesce(\"V\"::text, "
                         "'<null>'), E'\\n' ORDER BY \"ID\"), '') FROM " +
                             rows)
                  .Text();
    return m;
  }

  std::unique_ptr<testing::ScratchDatabase> db_;
  std::shared_ptr<Connection> server_;
  std::unique_ptr<PgConnection> session_;
  testing::FakeClock clock_;
};

TEST_F(BinaryDirectTest, EveryTypeArrivesAsTheTextCopyLeavesIt) {
  int n = 0;
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    ++n;
    const Moved text = Move(c, false, "text" + std::to_string(n));
    const Moved binary = Move(c, true, "binary" + std::to_string(n));
    ASSERT_EQ(text.error, "");
    EXPECT_EQ(binary.error, "");
    EXPECT_EQ(text.binary_rows, 0);
    const auto rows = static_cast<int64_t>(c.values.size());
    EXPECT_EQ(text.rows_written, rows);
    EXPECT_EQ(binary.rows_written, rows);
    switch (c.binary) {
      case Binary::kAll:
        EXPECT_EQ(binary.binary_rows, rows);
        break;
      case Binary::kSome:
        EXPECT_GT(binary.binary_rows, 0);
        EXPECT_LT(binary.binary_rows, rows);
        break;
      case Binary::kNone:
        EXPECT_EQ(binary.binary_rows, 0);
        break;
    }
    EXPECT_EQ(binary.table, text.table);
  }
}

TEST_F(BinaryDirectTest, ARefusedValueLeavesWhatTheTextCopyLeaves) {
  int n = 0;
  for (const Case& c : Refusals()) {
    SCOPED_TRACE(c.name);
    ++n;
    const Moved text = Move(c, false, "text" + std::to_string(n));
    const Moved binary = Move(c, true, "binary" + std::to_string(n));
    ASSERT_NE(text.error, "");
    EXPECT_EQ(binary.error, text.error);
    EXPECT_EQ(binary.rejected_row, text.rejected_row);
    EXPECT_EQ(binary.rows_written, 4);
    EXPECT_EQ(binary.table, text.table);
    // The chunk before the refused row's went in binary.
    EXPECT_EQ(binary.binary_rows, 3);
  }
}

}  // namespace
}  // namespace ferrolyte
