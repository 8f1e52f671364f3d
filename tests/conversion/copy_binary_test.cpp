// The binary COPY encoders against bytes worked out by hand from the wire format: a numeric's
// base-10000 digits, weight, sign and scale; a tuple's field count, lengths and NULLs; a
// timestamp's microseconds from 2000-01-01.
#include "conversion/copy_binary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace ferrolyte {
namespace {

// Big-endian 16-bit words as the wire carries them.
std::string Words(std::initializer_list<uint16_t> words) {
  std::string out;
  for (uint16_t w : words) {
    out += static_cast<char>(w >> 8);
    out += static_cast<char>(w & 0xFF);
  }
  return out;
}

std::string Int32(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return Words({static_cast<uint16_t>(u >> 16), static_cast<uint16_t>(u & 0xFFFF)});
}

std::string Int64(int64_t v) {
  const auto u = static_cast<uint64_t>(v);
  return Int32(static_cast<int32_t>(u >> 32)) + Int32(static_cast<int32_t>(u & 0xFFFFFFFF));
}

TEST(CopyBinaryTest, NumericTextBecomesBase10000Digits) {
  constexpr uint16_t kNeg = 0x4000;
  struct Case {
    const char* text;
    // ndigits, weight, sign, dscale, then the digits
    std::string bytes;
  };
  const Case cases[] = {
      {"0", Words({0, 0, 0, 0})},
      {"-0", Words({0, 0, 0, 0})},
      // Zero keeps its scale: it prints as 0.000.
      {"-.000", Words({0, 0, 0, 3})},
      {"-12.3400", Words({2, 0, kNeg, 4, 12, 3400})},
      {".5", Words({1, 0xFFFF, 0, 1, 5000})},
      {"-.0001", Words({1, 0xFFFF, kNeg, 4, 1})},
      {"10000", Words({1, 1, 0, 0, 1})},
      {"1E+20", Words({1, 5, 0, 0, 1})},
      // The exponent moves the point: 0.0015, four places.
      {"1.5E-3", Words({1, 0xFFFF, 0, 4, 15})},
      {"123456789.12345679", Words({5, 2, 0, 8, 1, 2345, 6789, 1234, 5679})},
      {"-922337203685477.5807", Words({5, 3, kNeg, 4, 922, 3372, 368, 5477, 5807})},
      {"100000000.00000001", Words({5, 2, 0, 8, 1, 0, 0, 0, 1})},
      {"NaN", Words({0, 0, 0xC000, 0})},
  };
  for (const Case& c : cases) {
    std::string out = "x";
    EXPECT_TRUE(AppendBinaryNumeric(out, c.text)) << c.text;
    EXPECT_EQ(out, "x" + c.bytes) << c.text;
  }
}

TEST(CopyBinaryTest, NumericRefusesWhatItCannotWriteExactly) {
  for (const char* text :
       {"", "-", ".", "abc", "1.2.3", "1E", "1E+1001", "Infinity", "-Infinity", "12 ", "1,5"}) {
    std::string out = "x";
    EXPECT_FALSE(AppendBinaryNumeric(out, text)) << text;
    EXPECT_EQ(out, "x") << text;
  }
}

struct RowCase {
  const char* what;
  ColumnKind kind;
  BinaryField field;
  Value value;
  std::string field_bytes;  // the field's length and bytes; empty: no exact binary form
};

TEST(CopyBinaryTest, EachValueBecomesItsField) {
  using K = ColumnKind;
  using F = BinaryField;
  const RowCase cases[] = {
      {"null integer", K::kNumber, F::kInt4, Value::Null(), Int32(-1)},
      {"int2 min", K::kNumber, F::kInt2, Value(-32768), Int32(2) + Words({0x8000})},
      {"int2 over", K::kNumber, F::kInt2, Value(32768), ""},
      {"int8 min", K::kNumber, F::kInt8, Value(INT64_MIN), Int32(8) + Int64(INT64_MIN)},
      // A text in a number column is the server's to read or refuse.
      {"text integer", K::kNumber, F::kInt4, Value("12"), ""},
      {"whole decimal", K::kNumber, F::kInt8, Value::Decimal("-42"), Int32(8) + Int64(-42)},
      {"fractional decimal into int", K::kNumber, F::kInt8, Value::Decimal("1.5"), ""},
      {"float8 -0", K::kNumber, F::kFloat8, Value(-0.0), Int32(8) + Int64(INT64_MIN)},
      {"float8 1.5", K::kNumber, F::kFloat8, Value(1.5), Int32(8) + Int64(0x3FF8000000000000)},
      {"float4 from single", K::kNumber, F::kFloat4, Value::Single(1.5f),
       Int32(4) + Int32(0x3FC00000)},
      {"numeric from integer", K::kNumber, F::kNumeric, Value(-20000),
       Int32(10) + Words({1, 1, 0x4000, 0, 2})},
      {"bool true", K::kBoolean, F::kBool, Value(true), Int32(1) + "\x01"},
      {"bool from integer", K::kBoolean, F::kBool, Value(7), Int32(1) + "\x01"},
      {"text", K::kString, F::kText, Value("\xC3\xA4"), Int32(2) + "\xC3\xA4"},
      {"empty value as text", K::kString, F::kText, Value(), Int32(0)},
      // The server stores a NUL of a text as a space.
      {"nul", K::kText, F::kText, Value(std::string("a\0b", 3)), Int32(3) + "a b"},
      {"uuid", K::kString, F::kUuid, Value("{00112233-4455-6677-8899-AABBCCDDEEFF}"),
       Int32(16) +
           std::string("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16)},
      {"uuid hyphen out of place", K::kString, F::kUuid, Value("0-0112233445566778899aabbccddeeff"),
       ""},
      {"uuid unclosed brace", K::kString, F::kUuid, Value("{00112233445566778899aabbccddeeff"), ""},
      {"bytea", K::kBytea, F::kBytea, Value::FromBytes({0x00, 0xFF}),
       Int32(2) + std::string("\x00\xFF", 2)},
      // An Access binary column arrives as its hexadecimal text.
      {"binary as hex", K::kBinary, F::kText, Value::FromBytes({0xAB, 0x01}), Int32(4) + "AB01"},
      {"missing binary", K::kBinary, F::kText, Value::Null(), Int32(-1)},
      // 2000-01-01 is OLE day 36526.
      {"noon 2000-01-01", K::kDateTime, F::kTimestamp, Value::Date(36526.5),
       Int32(8) + Int64(int64_t{43200} * 1000000)},
      {"six before 2000", K::kDateTime, F::kTimestamp, Value::Date(36525.75),
       Int32(8) + Int64(int64_t{-21600} * 1000000)},
      {"ticks cut to microseconds", K::kDateTime, F::kTimestamp, Value::PreciseDate(36526, 1234567),
       Int32(8) + Int64(123456)},
      {"day before 2000", K::kDateTime, F::kDate, Value::Date(36525.75), Int32(4) + Int32(-1)},
      {"time of day", K::kDateTime, F::kTime, Value::Date(-0.25),
       Int32(8) + Int64(int64_t{21600} * 1000000)},
  };
  for (const RowCase& c : cases) {
    const ColumnSpec columns[] = {{.kind = ColumnKind::kNumber}, {.kind = c.kind}};
    const Value id(1);
    const Value* values[] = {&id, &c.value};
    const BinaryField fields[] = {BinaryField::kInt4, c.field};
    std::string out = "x";
    const bool written = AppendBinaryRow(out, fields, {columns, values});
    if (c.field_bytes.empty()) {
      EXPECT_FALSE(written) << c.what;
      EXPECT_EQ(out, "x") << c.what;
    } else {
      EXPECT_TRUE(written) << c.what;
      EXPECT_EQ(out, "x" + Words({2}) + Int32(4) + Int32(1) + c.field_bytes) << c.what;
    }
  }
}

}  // namespace
}  // namespace ferrolyte
