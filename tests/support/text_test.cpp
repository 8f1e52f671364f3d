#include "support/text.h"

#include <gtest/gtest.h>

#include <string>

namespace ferrolyte {
namespace {

TEST(HexDigitTest, ReadsBothCasesAndRefusesTheNeighbours) {
  struct Case {
    char c;
    int value;
  };
  // The characters next to each digit range catch an off-by-one bound.
  const Case cases[] = {
      {'0', 0},  {'9', 9},  {'A', 10}, {'F', 15}, {'a', 10}, {'f', 15},  {'/', -1}, {':', -1},
      {'@', -1}, {'G', -1}, {'`', -1}, {'g', -1}, {' ', -1}, {'\0', -1}, {'x', -1}, {'\xC3', -1},
  };
  for (const Case& c : cases) EXPECT_EQ(HexDigitValue(c.c), c.value) << static_cast<int>(c.c);
}

TEST(HexDigitTest, WritesUpperCaseFromTheLowFourBitsAndReadsBack) {
  for (unsigned v = 0; v < 256; ++v) {
    const char digit = HexDigit(v);
    EXPECT_EQ(HexDigitValue(digit), static_cast<int>(v & 15)) << v;
    EXPECT_FALSE(digit >= 'a' && digit <= 'f') << v;
  }
}

TEST(PrintableTextTest, ControlCharactersBecomeEscapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"Line\r\nBreak", "Line\\r\\nBreak"}, {std::string("a\0b", 3), "a\\x00b"},
      {"\x1f\x7f", "\\x1F\\x7F"},           {"tab\there", "tab\\there"},
      {"Zo\xC3\xAB", "Zo\xC3\xAB"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(PrintableText(in), out) << out;
}

}  // namespace
}  // namespace ferrolyte
