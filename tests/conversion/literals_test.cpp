#include "conversion/literals.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

#include "support/errors.h"
#include "support/oledate.h"

namespace ferrolyte {
namespace {

TEST(LiteralsTest, QuoteIdentifierDoublesQuotesAndKeepsEverythingElse) {
  EXPECT_EQ(QuoteIdentifier("Order Details"), "\"Order Details\"");
  EXPECT_EQ(QuoteIdentifier("a\"b\"\"c"), "\"a\"\"b\"\"\"\"c\"");
  EXPECT_EQ(QuoteIdentifier("Größe"), "\"Größe\"");
  EXPECT_EQ(QuoteIdentifier(""), "\"\"");
}

TEST(LiteralsTest, SqlStringEscapes) {
  struct Case {
    Value value;
    std::string expected;
  } cases[] = {
      {Value::Null(), "NULL"},
      {Value(""), "E''"},
      {Value("O'Brien"), "E'O''Brien'"},
      {Value("C:\\temp"), "E'C:\\\\temp'"},
      {Value("a\tb\r\nc?"), "E'a\\tb\\r\\nc\\x3f'"},
      {Value(std::string("x\0y", 3)), "E'x y'"},
      {Value("\x1b\x01\x1f"), "E'\\x1B\\x01\\x1F'"},
      {Value("Zoë 日本 \x7f"), "E'Zoë 日本 \x7f'"},
      // The backslashes added by later steps stay single.
      {Value("\\?\t"), "E'\\\\\\x3f\\t'"},
      {Value(1), "E'1'"},
      // A number in a text column keeps every digit.
      {Value(0.1 + 0.2), "E'0.30000000000000004'"},
      {Value::Single(2583.2092f), "E'2583.2092'"},
  };
  for (const auto& c : cases) EXPECT_EQ(SqlString(c.value), c.expected);
}

TEST(LiteralsTest, SqlNumberForms) {
  struct Case {
    Value value;
    std::string expected;
  } cases[] = {
      {Value::Null(), "NULL"},
      {Value(0.5), ".5"},
      {Value(-0.5), "-.5"},
      {Value(-3), "-3"},
      {Value(1234.5), "1234.5"},
      {Value(0.0), "0"},
      {Value(-0.0), "'-0'"},  // quoted, or the server reads the integer 0 negated
      {Value(1e20), "1E+20"},
      {Value(1.5e-7), "1.5E-07"},
      // The shortest text that reads back as the same double, never a fixed digit count.
      {Value(0.1 + 0.2), ".30000000000000004"},
      {Value(1.0 / 7), ".14285714285714285"},
      {Value(123456789.12345679), "123456789.12345679"},
      {Value(10.000000000000009), "10.000000000000009"},
      {Value(123456789012345678.0), "123456789012345680"},
      {Value(5e-324), "5E-324"},
      {Value(1e300), "1E+300"},
      // Singles: the shortest text that reads back as the same float.
      {Value::Single(0.1f), ".1"},
      {Value::Single(16777216.0f), "16777216"},
      {Value::Single(2583.2092f), "2583.2092"},
      {Value::Single(3.4028235e38f), "3.4028235E+38"},
      {Value::Single(1e-45f), "1E-45"},
      {Value(int64_t{-9223372036854775807LL - 1}), "-9223372036854775808"},
      {Value::Decimal("0.5000"), ".5000"},
      {Value::Decimal("-0.25"), "-.25"},
      {Value::Decimal("12345678901234567890.1234"), "12345678901234567890.1234"},
      {Value::Decimal("-922337203685477.5808"), "-922337203685477.5808"},
      {Value(1.7976931348623157e308), "1.7976931348623157E+308"},  // rounding would overflow
      {Value(-1.7976931348623157e308), "-1.7976931348623157E+308"},
      {Value(std::nan("")), "'NaN'"},
      {Value(-HUGE_VAL), "'-Infinity'"},
      {Value("12"), "E'12'"},
  };
  for (const auto& c : cases) EXPECT_EQ(SqlNumber(c.value), c.expected);
}

TEST(LiteralsTest, SqlNumberIgnoresTheProcessLocale) {
  const char* comma_locales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8"};
  std::string old = std::setlocale(LC_ALL, nullptr);
  const char* found = nullptr;
  for (const char* name : comma_locales)
    if (std::setlocale(LC_ALL, name)) {
      found = name;
      break;
    }
  if (!found) GTEST_SKIP() << "no locale with a decimal comma is installed";
  ASSERT_EQ(*std::localeconv()->decimal_point, ',');
  std::string number = SqlNumber(Value(1234.5));
  std::string single = SqlNumber(Value::Single(-0.25f));
  std::setlocale(LC_ALL, old.c_str());
  EXPECT_EQ(number, "1234.5");
  EXPECT_EQ(single, "-.25");
}

TEST(LiteralsTest, SqlDateTimeForms) {
  struct Case {
    Value value;
    std::string expected;
  } cases[] = {
      {Value::Null(), "NULL"},
      {Value::Date(FieldsToOleDate({2003, 2, 1, 4, 5, 6})), "'2003-02-01 04:05:06'"},
      {Value::Date(FieldsToOleDate({2009, 3, 7, 14, 5, 9})), "'2009-03-07 14:05:09'"},
      {Value::Date(FieldsToOleDate({100, 1, 1, 0, 0, 0})), "'0100-01-01 00:00:00'"},
      {Value::Date(FieldsToOleDate({9999, 12, 31, 23, 59, 59})), "'9999-12-31 23:59:59'"},
      // Just before midnight rounds into the next day, never to 24:00:00.
      {Value::Date(FieldsToOleDate({2020, 5, 1, 0, 0, 0}) - 1e-9), "'2020-05-01 00:00:00'"},
      // Fractions of a second to the millisecond, rounded to the nearest one first.
      {Value::Date(FieldsToOleDate({2020, 5, 1, 12, 0, 0}) + 0.25 / 86400),
       "'2020-05-01 12:00:00.250'"},
      {Value::Date(FieldsToOleDate({2020, 5, 1, 12, 0, 0}) + 0.0004 / 86400),
       "'2020-05-01 12:00:00'"},
      {Value::Date(FieldsToOleDate({2020, 5, 1, 12, 0, 0}) + 0.9996 / 86400),
       "'2020-05-01 12:00:01'"},
      {Value::Date(FieldsToOleDate({9999, 12, 31, 23, 59, 59}) + 0.999 / 86400),
       "'9999-12-31 23:59:59.999'"},
      // Before 1899-12-30 the fraction counts forwards from the day's start.
      {Value::Date(-1.25 - 0.001 / 86400), "'1899-12-29 06:00:00.001'"},
      {Value("not a date"), "'1899-12-30 00:00:00'"},
      {Value(true), "'1899-12-30 00:00:00'"},
  };
  for (const auto& c : cases) EXPECT_EQ(SqlDateTime(c.value), c.expected);
}

TEST(LiteralsTest, PreciseDatesKeepMicrosecondsAndCutTheSeventhDigit) {
  auto day = [](int y, int m, int d) { return DaysFromOleEpoch(y, m, d); };
  constexpr int64_t kSecond = 10000000;
  struct Case {
    int64_t day, ticks;
    const char* expected;
  } cases[] = {
      // Before 1899-12-30 the time still counts forwards from the day's start.
      {day(1265, 6, 14), (12 * 3600 + 45 * 60) * kSecond + 1234567, "'1265-06-14 12:45:00.123456'"},
      {day(1899, 12, 29), 18 * 3600 * kSecond, "'1899-12-29 18:00:00'"},
      {day(1, 1, 1), 9, "'0001-01-01 00:00:00'"},
      {day(9999, 12, 31), 86400 * kSecond - 1, "'9999-12-31 23:59:59.999999'"},
      {day(2024, 2, 29), 10, "'2024-02-29 00:00:00.000001'"},
  };
  for (const auto& c : cases) {
    Value v = Value::PreciseDate(c.day, c.ticks);
    EXPECT_EQ(SqlDateTime(v), c.expected);
    // Everything else reads it as the nearest OLE date, on the right side of the epoch.
    EXPECT_EQ(OleDateToFields(v.DateSerial()).year, std::stoi(std::string(c.expected + 1, 4)));
  }
  EXPECT_EQ(OleDateToFields(Value::PreciseDate(day(1265, 6, 14), 12 * 3600 * kSecond).DateSerial()),
            (DateTimeFields{1265, 6, 14, 12, 0, 0}));
}

TEST(LiteralsTest, SqlBinaryForms) {
  struct Case {
    Value value;
    bool required;
    std::string expected;
  } cases[] = {
      {Value::FromBytes({0x0A, 0xFF}), false, "E'0AFF'"},
      {Value::FromBytes({0x00}), true, "E'00'"},
      {Value::Null(), false, "NULL"},
      {Value::Null(), true, "E''"},
      // An empty array in a required column: an empty text the server accepts.
      {Value::FromBytes({}), true, "E''"},
      // An empty value is not a missing one, in an optional column too.
      {Value::FromBytes({}), false, "E''"},
      {Value("text"), false, "NULL"},
  };
  for (const auto& c : cases) EXPECT_EQ(SqlBinary(c.value, false, c.required), c.expected);
}

TEST(LiteralsTest, SqlBinarySizeLimit) {
  Value at_limit = Value::FromBytes(Bytes(kMaxBlobSize, 0xAB));
  std::string hex = SqlBinary(at_limit, false, false);
  EXPECT_EQ(hex.size(), kMaxBlobSize * 2 + 3);
  EXPECT_EQ(hex.substr(0, 6), "E'ABAB");

  Value over = Value::FromBytes(Bytes(kMaxBlobSize + 1, 1));
  EXPECT_EQ(SqlBinary(over, true, false), "NULL");
  EXPECT_EQ(SqlBinary(over, true, true), "E''");
  try {
    SqlBinary(over, false, false);
    FAIL() << "expected error 1003";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1003);
    EXPECT_EQ(e.description(),
              "The maximum blob size of 500000 bytes was exceeded by a blob of 500001 bytes. "
              "There is an advanced option to ignore BLOBs that are too large.");
  }
}

}  // namespace
}  // namespace ferrolyte
