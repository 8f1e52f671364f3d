#include "support/safe.h"

#include <gtest/gtest.h>

#include "support/components.h"
#include "support/errors.h"
#include "support/oledate.h"

namespace ferrolyte {
namespace {

TEST(SafeTest, SafeLngReadsWholeNumbersOnly) {
  struct Case {
    Value in;
    int32_t out;
  } cases[] = {
      {Value("12"), 12},
      {Value("12abc"), 0},
      {Value::Null(), 0},
      {Value(), 0},
      {Value(" -7 "), -7},
      {Value("2.5"), 2},
      {Value("3.5"), 4},
      {Value(true), -1},
      {Value("&H10"), 16},
      {Value(int64_t{1} << 40), 0},
      {Value("3000000000"), 0},
      {Value(2.5), 2},
      {Value(""), 0},
      {Value::TextList({"1"}), 0},
      {Value::Decimal("19"), 19},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeLng(c.in), c.out) << SafeStr(c.in);
}

TEST(SafeTest, SafeBoolAndSafeStr) {
  EXPECT_TRUE(SafeBool(Value("1")));
  EXPECT_TRUE(SafeBool(Value("-1")));
  EXPECT_TRUE(SafeBool(Value("True")));
  EXPECT_FALSE(SafeBool(Value("")));
  EXPECT_FALSE(SafeBool(Value("0")));
  EXPECT_FALSE(SafeBool(Value("yes")));  // not a boolean text on this platform
  EXPECT_FALSE(SafeBool(Value::Null()));
  EXPECT_TRUE(SafeBool(Value(int64_t{2})));

  EXPECT_EQ(SafeStr(Value::Null()), "");
  EXPECT_EQ(SafeStr(Value(true)), "True");
  EXPECT_EQ(SafeStr(Value(0.5)), "0.5");
  EXPECT_EQ(SafeStr(Value(1e20)), "1E+20");
  EXPECT_EQ(SafeStr(Value::Single(0.1f)), "0.1");
  EXPECT_EQ(SafeStr(Value::TextList({"a"})), "");
  EXPECT_EQ(SafeStr(Value(Dictionary::Create())), "");
}

TEST(SafeTest, SafeDateFallsBackToTheEpoch) {
  EXPECT_EQ(SafeDate(Value("not a date")), 0.0);
  EXPECT_EQ(SafeDate(Value::Null()), 0.0);
  EXPECT_EQ(SafeDate(Value(1.5)), 1.5);
  EXPECT_EQ(FormatIsoDateTime(OleDateToFields(SafeDate(Value("2003-02-01 04:05:06")))),
            "2003-02-01 04:05:06");
  EXPECT_EQ(FormatIsoDateTime(OleDateToFields(SafeDate(Value("02/01/2003")))),
            "2003-02-01 00:00:00");
  EXPECT_EQ(SafeDate(Value("2003-02-30")), 0.0);
}

TEST(OleDateTest, SerialsAndCalendarFieldsAgree) {
  struct Case {
    double serial;
    const char* text;
  } cases[] = {
      {0.0, "1899-12-30 00:00:00"},
      {1.0, "1899-12-31 00:00:00"},
      {-1.25, "1899-12-29 06:00:00"},  // whole days back, the fraction forwards
      {37653.17020833333, "2003-02-01 04:05:06"},
      {2958465.9999999, "9999-12-31 23:59:59"},  // stays inside the day, never 24:00:00
      {-657434.0, "0100-01-01 00:00:00"},
      {0.99999999, "1899-12-31 00:00:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatIsoDateTime(OleDateToFields(c.serial)), c.text) << c.serial;
  }
  for (double serial : {0.0, 1.5, -1.25, 37653.5, 2958465.0, -657434.0}) {
    EXPECT_NEAR(FieldsToOleDate(OleDateToFields(serial)), serial, 1e-9) << serial;
  }
}

TEST(CreateObjectExTest, ReportsUnknownAndFailingClasses) {
  ComponentRegistry registry;
  try {
    CreateObjectEx(registry, "No.Such.Class");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 429);
    EXPECT_EQ(e.description(), "Error creating object: No.Such.Class");
  }
  registry.Register("Test.Failing", []() -> std::shared_ptr<Component> {
    throw Error(-2147221005, "Invalid class string");
  });
  try {
    CreateObjectEx(registry, "Test.Failing");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), -2147221005);
    EXPECT_EQ(e.description(),
              "Error creating object: Test.Failing. Error -2147221005 (0x800401F3): Invalid "
              "class string");
  }
}

TEST(ErrorsTest, HexNumberIsTwosComplementUpperCase) {
  EXPECT_EQ(HexNumber(-2147217900), "80040E14");
  EXPECT_EQ(HexNumber(1004), "3EC");
  EXPECT_EQ(HexNumber(0), "0");
  EXPECT_EQ(HexNumber(-1), "FFFFFFFF");
  EXPECT_EQ(NumberWithHex(-2147221005), "-2147221005 (0x800401F3)");
}

}  // namespace
}  // namespace ferrolyte
