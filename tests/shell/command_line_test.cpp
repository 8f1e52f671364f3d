#include "shell/command_line.h"

#include <gtest/gtest.h>

#include "support/safe.h"

namespace ferrolyte {
namespace {

using Options = std::vector<std::pair<std::string, std::string>>;

Options Parse(const std::string& text, bool keep_case = false) {
  DictionaryPtr d = ParseCommandLine(text, keep_case);
  Options out;
  for (const std::string& key : d->Keys()) out.emplace_back(key, SafeStr(d->Item(key)));
  return out;
}

TEST(ParseCommandLineTest, ReadsOptions) {
  struct Case {
    std::string text;
    Options options;
  };
  const Case cases[] = {
      {"", {}},
      {"   ", {}},
      {"autorun settings=C:\\x.ini", {{"autorun", ""}, {"settings", "C:\\x.ini"}}},
      // A quoted name ends at its closing quote and is folded to lower case.
      {"/AUTORUN \"settings=C:\\x.ini\"", {{"autorun", ""}, {"settings=c:\\x.ini", ""}}},
      {"settings=\"C:\\My Files\\a.ini\"", {{"settings", "C:\\My Files\\a.ini"}}},
      {"settings=C:\\My Files\\a.ini", {{"settings", "C:\\My"}, {"files\\a.ini", ""}}},
      {"settings = a.ini", {{"settings", ""}, {"", ""}, {"a.ini", ""}}},
      {"x=\"say \"\"hi\"\"\"rest", {{"x", "say \"hi\""}, {"rest", ""}}},
      {"-hide", {{"hide", ""}}},
      {"/HIDE", {{"hide", ""}}},
      {"HIDE", {{"hide", ""}}},
      {"autorun=no", {{"autorun", "no"}}},
      {"autorun=", {{"autorun", ""}}},
      {"settings=a.ini settings=b.ini", {{"settings", "b.ini"}}},
      {"a=b=c", {{"a", "b=c"}}},
      {"a,b,,c", {{"a", ""}, {"b", ""}, {"", ""}, {"c", ""}}},
      {"=x", {{"", "x"}}},
      {"Settings=MixedCase.INI", {{"settings", "MixedCase.INI"}}},
      {"a\tb=1", {{"a\tb", "1"}}},
      {"\"unterminated", {{"unterminated", ""}}},
      {"x=\"unterminated value", {{"x", "unterminated value"}}},
      {"--double", {{"-double", ""}}},
      {"successcmd=\"run.sh ok\" errorcmd=fail.sh",
       {{"successcmd", "run.sh ok"}, {"errorcmd", "fail.sh"}}},
  };
  for (const Case& c : cases) EXPECT_EQ(Parse(c.text), c.options) << c.text;
}

TEST(ParseCommandLineTest, KeepCaseKeepsNames) {
  EXPECT_EQ(Parse("/AutoRun Settings=A", true), (Options{{"AutoRun", ""}, {"Settings", "A"}}));
}

TEST(ParseCommandLineTest, PresenceIsDistinctFromEmptyValue) {
  DictionaryPtr d = ParseCommandLine("autorun=", false);
  EXPECT_TRUE(HasOption(d, "autorun"));
  EXPECT_FALSE(HasOption(d, "settings"));
  EXPECT_TRUE(d->Item("settings").IsEmpty());
  EXPECT_FALSE(d->Item("autorun").IsEmpty());
}

TEST(JoinCommandLineTest, RequotesWhatTheShellUnquoted) {
  struct Case {
    std::vector<std::string> args;
    std::string text;
  };
  const Case cases[] = {
      {{}, ""},
      {{"settings=/a.ini", "autorun"}, "settings=/a.ini autorun"},
      {{"settings=/home/me/My Files/a.ini", "autorun"},
       "settings=\"/home/me/My Files/a.ini\" autorun"},
      {{"settings=/data/a,b.ini"}, "settings=\"/data/a,b.ini\""},
      {{"errorcmd=say \"no\""}, "errorcmd=\"say \"\"no\"\"\""},
      {{"My Files"}, "\"My Files\""},
      // Quotes the user passed through on purpose stay as they are.
      {{"settings=\"/x y.ini\""}, "settings=\"/x y.ini\""},
      {{"\"settings=/x.ini\""}, "\"settings=/x.ini\""},
  };
  for (const Case& c : cases) EXPECT_EQ(JoinCommandLine(c.args), c.text) << c.text;
}

TEST(JoinCommandLineTest, ValuesWithSpacesReachTheParserWhole) {
  DictionaryPtr d = ParseCommandLine(
      JoinCommandLine({"settings=/home/me/My Files/a \"b\".ini", "-hide", "autorun"}), false);
  EXPECT_EQ(SafeStr(d->Item("settings")), "/home/me/My Files/a \"b\".ini");
  EXPECT_TRUE(HasOption(d, "hide"));
  EXPECT_TRUE(HasOption(d, "autorun"));
  EXPECT_EQ(d->Count(), 3);
}

TEST(IsScreenshotModeTest, FindsTheWordAnywhere) {
  EXPECT_TRUE(IsScreenshotMode("ScreenShotMode"));
  EXPECT_TRUE(IsScreenshotMode("settings=/x/screenshotmode.ini"));
  EXPECT_FALSE(IsScreenshotMode("screenshot mode"));
  EXPECT_FALSE(IsScreenshotMode(""));
}

}  // namespace
}  // namespace ferrolyte
