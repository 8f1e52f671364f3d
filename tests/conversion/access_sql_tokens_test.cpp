// The tokens of Access SQL text: what each kind takes in, where it ends, and the reasons given
// for text that has no tokens.
#include "conversion/access_sql_tokens.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ferrolyte::access_sql {
namespace {

struct Expected {
  Tok kind;
  std::string text;
  size_t begin, end;
};

TEST(AccessSqlTokensTest, EachKindTakesWhatAccessReadsAsOneToken) {
  struct Case {
    const char* text;
    std::vector<Expected> tokens;  // the final kEnd left out
  };
  const Case cases[] = {
      {"Left$([a b],2)",
       {{Tok::kWord, "Left$", 0, 5},
        {Tok::kOp, "(", 5, 6},
        {Tok::kBracket, "a b", 6, 11},
        {Tok::kOp, ",", 11, 12},
        {Tok::kNumber, "2", 12, 13},
        {Tok::kOp, ")", 13, 14}}},
      // A doubled quote is one quote of the text; the token ends after the closing quote.
      {"'it''s' & \"a\"\"b\"",
       {{Tok::kString, "it's", 0, 7}, {Tok::kOp, "&", 8, 9}, {Tok::kString, "a\"b", 10, 16}}},
      {"#1/15/2020#", {{Tok::kDate, "1/15/2020", 0, 11}}},
      {".5+1e3-2E-2",
       {{Tok::kNumber, ".5", 0, 2},
        {Tok::kOp, "+", 2, 3},
        {Tok::kNumber, "1e3", 3, 6},
        {Tok::kOp, "-", 6, 7},
        {Tok::kNumber, "2E-2", 7, 11}}},
      // An exponent without digits is no exponent.
      {"1e", {{Tok::kNumber, "1", 0, 1}, {Tok::kWord, "e", 1, 2}}},
      {"&HFF &h10", {{Tok::kNumber, "255", 0, 4}, {Tok::kNumber, "16", 5, 9}}},
      // Without a hexadecimal digit after it, &H is the & operator and a word.
      {"&Hx", {{Tok::kOp, "&", 0, 1}, {Tok::kWord, "Hx", 1, 3}}},
      {"a<>b>=c<=d",
       {{Tok::kWord, "a", 0, 1},
        {Tok::kOp, "<>", 1, 3},
        {Tok::kWord, "b", 3, 4},
        {Tok::kOp, ">=", 4, 6},
        {Tok::kWord, "c", 6, 7},
        {Tok::kOp, "<=", 7, 9},
        {Tok::kWord, "d", 9, 10}}},
      // Access also takes =< and => for <= and >=; each still ends after both characters.
      {"a=<b=>c=d",
       {{Tok::kWord, "a", 0, 1},
        {Tok::kOp, "<=", 1, 3},
        {Tok::kWord, "b", 3, 4},
        {Tok::kOp, ">=", 4, 6},
        {Tok::kWord, "c", 6, 7},
        {Tok::kOp, "=", 7, 8},
        {Tok::kWord, "d", 8, 9}}},
      // Split by a space they are two operators.
      {"a < = b",
       {{Tok::kWord, "a", 0, 1},
        {Tok::kOp, "<", 2, 3},
        {Tok::kOp, "=", 4, 5},
        {Tok::kWord, "b", 6, 7}}},
      {"T!Name.x",
       {{Tok::kWord, "T", 0, 1},
        {Tok::kOp, "!", 1, 2},
        {Tok::kWord, "Name", 2, 6},
        {Tok::kOp, ".", 6, 7},
        {Tok::kWord, "x", 7, 8}}},
      {" \t\r\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::vector<Token> tokens = Tokenize(c.text);
    ASSERT_EQ(tokens.size(), c.tokens.size() + 1);
    for (size_t i = 0; i < c.tokens.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(tokens[i].kind, c.tokens[i].kind);
      EXPECT_EQ(tokens[i].text, c.tokens[i].text);
      EXPECT_EQ(tokens[i].begin, c.tokens[i].begin);
      EXPECT_EQ(tokens[i].end, c.tokens[i].end);
    }
    EXPECT_EQ(tokens.back().kind, Tok::kEnd);
    EXPECT_EQ(tokens.back().begin, std::string(c.text).size());
  }
}

TEST(AccessSqlTokensTest, UnclosedOrUnknownTextIsRefusedWithItsReason) {
  const std::pair<const char*, const char*> refused[] = {
      {"[a", "brackets is not closed"}, {"'abc", "not closed"},         {"\"a\"\"", "not closed"},
      {"#1/1/2020", "not closed"},      {"a ~ b", "the character '~'"},
  };
  for (const auto& [text, reason] : refused) {
    SCOPED_TRACE(text);
    try {
      Tokenize(text);
      ADD_FAILURE() << "tokenized";
    } catch (const Untranslatable& e) {
      EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace ferrolyte::access_sql
