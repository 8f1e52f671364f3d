#include "wizard/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/errors.h"
#include "support/files.h"
#include "support/text.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

using testing::TempDir;

std::vector<std::string> Texts(const Value& list) {
  std::vector<std::string> out;
  for (const Value& v : list.List()) out.push_back(v.Text());
  return out;
}

TEST(SplitQuotedTest, ReadsItems) {
  struct Case {
    std::string text;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"", {""}},
      {R"("a","b")", {"a", "b"}},
      {R"("a""b")", {"a\"b"}},
      {R"("""")", {"\""}},
      {"a,b", {"a", "b"}},
      {" a , b", {" a ", " b"}},
      {"a,", {"a", ""}},
      {R"("a",)", {"a", ""}},
      {R"(,"a")", {"", "a"}},
      // The character after a closing quote is skipped whatever it is.
      {R"("a"x"b")", {"a", "b"}},
      {R"("a,b",c)", {"a,b", "c"}},
      {R"("unterminated)", {"unterminated"}},
      {R"("C:\x\y","z")", {R"(C:\x\y)", "z"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitQuoted(c.text, ',', '"'), c.items) << c.text;
}

TEST(JoinQuotedTest, QuotesEveryItemAndRoundTrips) {
  EXPECT_EQ(JoinQuoted({}, ',', '"'), "");
  EXPECT_EQ(JoinQuoted({Value("Orders"), Value("Orders\\OrderDate"), Value("Customers")}, ',', '"'),
            R"("Orders","Orders\OrderDate","Customers")");
  EXPECT_EQ(JoinQuoted({Value("say \"hi\""), Value(5)}, ';', '\''), "'say \"hi\"';'5'");

  const std::vector<std::string> tricky = {"a,b",      "\"quoted\"", "back\\slash", "",
                                           " spaced ", "\"",         ",",           "x\"\"y"};
  std::vector<Value> items;
  for (const auto& t : tricky) items.emplace_back(t);
  EXPECT_EQ(SplitQuoted(JoinQuoted(items, ',', '"'), ',', '"'), tricky);
}

// One line of each form a settings file or the store has been read in; the store reads
// exactly, a settings file forgives what hand editing leaves.
TEST(ParseIniTest, ReadsEachLineFormInBothLayouts) {
  using Entries = std::vector<IniEntry>;
  struct Case {
    std::string text;
    IniDocument settings, store;
  };
  const Case cases[] = {
      {"[S]\r\nk=v\r\n", {{}, {{"S", Entries{{"k", "v"}}}}}, {{}, {{"S", Entries{{"k", "v"}}}}}},
      {"[S]\nk=v\n", {{}, {{"S", Entries{{"k", "v"}}}}}, {{}, {{"S", Entries{{"k", "v"}}}}}},
      // No line end after the last line, or a lone CR there.
      {"[S]\nk=v", {{}, {{"S", Entries{{"k", "v"}}}}}, {{}, {{"S", Entries{{"k", "v"}}}}}},
      {"[S]\r\nk=v\r", {{}, {{"S", Entries{{"k", "v"}}}}}, {{}, {{"S", Entries{{"k", "v"}}}}}},
      // A CR inside a line is text.
      {"[S]\nk=a\rb\n",
       {{}, {{"S", Entries{{"k", "a\rb"}}}}},
       {{}, {{"S", Entries{{"k", "a\rb"}}}}}},
      {"[S]\n  k = v  \n",
       {{}, {{"S", Entries{{"k", "v"}}}}},
       {{}, {{"S", Entries{{"  k ", " v  "}}}}}},
      {"  [S]  \nk=v\n", {{}, {{"S", Entries{{"k", "v"}}}}}, {Entries{{"k", "v"}}, {}}},
      {"[S\nk=v\n", {{}, {{"", Entries{{"k", "v"}}}}}, {Entries{{"k", "v"}}, {}}},
      {"k=v\n[S]\n", {Entries{{"k", "v"}}, {{"S", {}}}}, {Entries{{"k", "v"}}, {{"S", {}}}}},
      {"[S]\nno equals\n\na=b=c\nempty=\n=x\n",
       {{}, {{"S", Entries{{"a", "b=c"}, {"empty", ""}, {"", "x"}}}}},
       {{}, {{"S", Entries{{"a", "b=c"}, {"empty", ""}, {"", "x"}}}}}},
      {"[S]\n\tk=\tv\n",
       {{}, {{"S", Entries{{"\tk", "\tv"}}}}},
       {{}, {{"S", Entries{{"\tk", "\tv"}}}}}},
      {"", {}, {}},
  };
  auto text_of = [](const IniDocument& d) { return FormatIni(d, {"|", "", false}); };
  for (const Case& c : cases) {
    SCOPED_TRACE(PrintableText(c.text));
    EXPECT_EQ(text_of(ParseIni(c.text, kSettingsFileLayout)), text_of(c.settings));
    EXPECT_EQ(text_of(ParseIni(c.text, kStoreFileLayout)), text_of(c.store));
  }
}

TEST(FormatIniTest, WritesEachLayoutAndReadsItBack) {
  const IniDocument document{
      {{"top", "1"}},
      {{"One", {{"k", "v"}, {"list[]", "\"a\",\"b\""}, {"empty", ""}}}, {"Two", {}}}};
  struct Case {
    IniLayout layout;
    std::string text;
  };
  const Case cases[] = {
      {kSettingsFileLayout,
       "  top=1\r\n[One]\r\n  k=v\r\n  list[]=\"a\",\"b\"\r\n  empty=\r\n[Two]\r\n"},
      {kStoreFileLayout, "top=1\n[One]\nk=v\nlist[]=\"a\",\"b\"\nempty=\n[Two]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(PrintableText(c.text));
    const std::string text = FormatIni(document, c.layout);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(FormatIni(ParseIni(text, c.layout), c.layout), text);
  }
}

class IniFileTest : public ::testing::Test {
 protected:
  DictionaryPtr Read(const std::string& text) {
    WriteTextFile(dir_.File("s.ini"), text);
    return ReadIniFile(dir_.File("s.ini"));
  }
  TempDir dir_;
};

TEST_F(IniFileTest, ReadsSectionsKeysAndValuesWithTheirQuirks) {
  DictionaryPtr ini = Read(
      "toplevel=1\r\n"
      "[Velkan Ferrolyte]\r\n"
      "  SourceFileName = /data/shop.mdb  \r\n"
      "\r\n"
      "  quoted=\"  keeps spaces \"\"inside\"\" \"\r\n"
      "  halfquoted=\"abc\r\n"
      "  \"Odd\"\"Key\"=v\r\n"
      "  noequals\r\n"
      "  a=b=c\r\n"
      "  tab=\tx\t\r\n"
      "  repeated=first\r\n"
      "  REPEATED=second\r\n"
      "[abc\r\n"
      "k=v\r\n");
  EXPECT_EQ(ini->Keys(), (std::vector<std::string>{"toplevel", "Velkan Ferrolyte", "ab"}));
  EXPECT_EQ(ini->Item("toplevel").Text(), "1");
  DictionaryPtr s = ini->Section("Velkan Ferrolyte");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Keys(), (std::vector<std::string>{"sourcefilename", "quoted", "halfquoted",
                                                 "odd\"key", "a", "tab", "repeated"}));
  EXPECT_EQ(s->Item("sourcefilename").Text(), "/data/shop.mdb");
  EXPECT_EQ(s->Item("quoted").Text(), "  keeps spaces \"inside\" ");
  EXPECT_EQ(s->Item("halfquoted").Text(), "ab");
  EXPECT_EQ(s->Item("odd\"key").Text(), "v");
  EXPECT_EQ(s->Item("a").Text(), "b=c");
  EXPECT_EQ(s->Item("tab").Text(), "\tx\t");
  EXPECT_EQ(s->Item("repeated").Text(), "second");
  EXPECT_EQ(ini->Section("ab")->Item("k").Text(), "v");
}

TEST_F(IniFileTest, ReadsListsIncludingTheEmptySelection) {
  DictionaryPtr ini = Read(
      "[S]\r\n"
      "  sourcetables[]=\"Orders\",\"Orders\\OrderDate\",\"Customers\"\r\n"
      "  none[]=\r\n"
      "  \"quoted[]\"=\"x\"\r\n");
  DictionaryPtr s = ini->Section("S");
  EXPECT_EQ(Texts(s->Item("sourcetables")),
            (std::vector<std::string>{"Orders", "Orders\\OrderDate", "Customers"}));
  EXPECT_EQ(Texts(s->Item("none")), std::vector<std::string>{""});
  EXPECT_EQ(Texts(s->Item("quoted")), std::vector<std::string>{"x"});
}

TEST_F(IniFileTest, ReadsFilesWithLinuxLineEnds) {
  DictionaryPtr ini = Read("[Velkan Ferrolyte]\n  sourcefilename=/a.mdb\n  unicode=0\n");
  DictionaryPtr s = ini->Section("Velkan Ferrolyte");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Item("sourcefilename").Text(), "/a.mdb");
  EXPECT_EQ(s->Item("unicode").Text(), "0");
}

TEST_F(IniFileTest, SectionLineOfOneBracketHasEmptyName) {
  DictionaryPtr ini = Read("[\r\nk=v\r\n");
  ASSERT_TRUE(ini->Section(""));
  EXPECT_EQ(ini->Section("")->Item("k").Text(), "v");
}

TEST_F(IniFileTest, MissingFileRaisesFileNotFound) {
  try {
    ReadIniFile(dir_.File("absent.ini"));
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 53);
  }
}

TEST_F(IniFileTest, WritesTheLayoutWithCrLf) {
  DictionaryPtr section = Dictionary::Create();
  section->Set("sourcefilename", "/data/shop.mdb");
  section->Set("dropdatabase", 0);
  section->Set("sourcetables", Value::TextList({"Orders", "Orders\\OrderDate", "Customers"}));
  section->Set("none", Value(std::vector<Value>{}));
  DictionaryPtr ini = Dictionary::Create();
  ini->Set("Velkan Ferrolyte", Value(section));
  WriteIniFile(ini, dir_.File("out.ini"));
  EXPECT_EQ(ReadTextFile(dir_.File("out.ini"), ""),
            "[Velkan Ferrolyte]\r\n"
            "  sourcefilename=/data/shop.mdb\r\n"
            "  dropdatabase=0\r\n"
            "  sourcetables[]=\"Orders\",\"Orders\\OrderDate\",\"Customers\"\r\n"
            "  none[]=\r\n");
  // It may hold passwords: the user's alone.
  struct stat st {};
  ASSERT_EQ(::stat(dir_.File("out.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST_F(IniFileTest, WrittenValuesReadBackUnchanged) {
  const std::vector<std::string> values = {"plain",
                                           "",
                                           " leading",
                                           "trailing ",
                                           "\"starts with a quote",
                                           "ends with a quote\"",
                                           "a=b",
                                           "C:\\Data\\shop.mdb",
                                           "comma, and \"quotes\"",
                                           "\ttab"};
  DictionaryPtr section = Dictionary::Create();
  for (size_t i = 0; i < values.size(); ++i) section->Set("k" + std::to_string(i), values[i]);
  section->Set("list", Value::TextList({"a,b", "\"q\"", "back\\slash", " x "}));
  DictionaryPtr ini = Dictionary::Create();
  ini->Set("One", Value(section));
  ini->Set("Two", Value(Dictionary::Create()));
  WriteIniFile(ini, dir_.File("rt.ini"));

  DictionaryPtr back = ReadIniFile(dir_.File("rt.ini"));
  EXPECT_EQ(back->Keys(), (std::vector<std::string>{"One", "Two"}));
  DictionaryPtr s = back->Section("One");
  for (size_t i = 0; i < values.size(); ++i)
    EXPECT_EQ(s->Item("k" + std::to_string(i)).Text(), values[i]) << i;
  EXPECT_EQ(Texts(s->Item("list")),
            (std::vector<std::string>{"a,b", "\"q\"", "back\\slash", " x "}));
}

// A selected table name may hold line breaks: written raw, the rest of the name would read
// back as a key of its own.
TEST_F(IniFileTest, LineBreaksStayInsideTheirValue) {
  const std::vector<std::string> texts = {"a\ndestinationdumpfilename=/some/path",
                                          "a\r\n[Other]\r\n  k=v", "\r",
                                          "100%0A, a break\n and \"quotes\"", " edge\n "};
  DictionaryPtr section = Dictionary::Create();
  section->Set("sourcetables", Value::TextList(texts));
  for (size_t i = 0; i < texts.size(); ++i) section->Set("k" + std::to_string(i), texts[i]);
  DictionaryPtr ini = Dictionary::Create();
  ini->Set("Velkan Ferrolyte", Value(section));
  WriteIniFile(ini, dir_.File("names.ini"));

  for (const std::string& line : Split(ReadTextFile(dir_.File("names.ini"), ""), "\r\n"))
    EXPECT_TRUE(line.empty() || line.starts_with("[") || line.starts_with("  ")) << line;
  DictionaryPtr back = ReadIniFile(dir_.File("names.ini"));
  EXPECT_EQ(back->Keys(), std::vector<std::string>{"Velkan Ferrolyte"});
  DictionaryPtr s = back->Section("Velkan Ferrolyte");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Keys(), section->Keys());
  EXPECT_EQ(Texts(s->Item("sourcetables")), texts);
  for (size_t i = 0; i < texts.size(); ++i)
    EXPECT_EQ(s->Item("k" + std::to_string(i)).Text(), texts[i]) << i;
}

}  // namespace
}  // namespace ferrolyte
