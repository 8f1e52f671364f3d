// The tokens of Access SQL text, and the refusal every step of the translation raises.
#pragma once

#include <string>
#include <vector>

#include "conversion/access_sql.h"
#include "support/text.h"

namespace ferrolyte::access_sql {

[[noreturn]] inline void Refuse(const std::string& why) {
  throw Untranslatable(why);
}

inline std::string Lower(const std::string& s) {
  return AsciiLower(s);
}

enum class Tok { kEnd, kNumber, kString, kDate, kWord, kBracket, kOp };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;
  size_t begin = 0, end = 0;  // in the source text
};

// The tokens of the text, ending in one of kind kEnd; throws Untranslatable for an unclosed
// text, date or bracketed name and for a character Access SQL gives no meaning.
std::vector<Token> Tokenize(const std::string& s);

inline bool IsWord(const Token& t, const char* word) {
  return t.kind == Tok::kWord && EqualsIgnoreCase(t.text, word);
}
inline bool IsOp(const Token& t, const char* op) {
  return t.kind == Tok::kOp && t.text == op;
}

}  // namespace ferrolyte::access_sql
