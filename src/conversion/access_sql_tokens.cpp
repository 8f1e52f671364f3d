#include "conversion/access_sql_tokens.h"

#include <cctype>

namespace ferrolyte::access_sql {
namespace {

bool IsWordStart(unsigned char c) {
  return std::isalpha(c) || c == '_' || c >= 0x80;
}
bool IsWordChar(unsigned char c) {
  return std::isalnum(c) || c == '_' || c >= 0x80;
}

// The text or date between the quote at `start` and its closing one; in a text a doubled
// quote stands for one. Refuses one that is not closed.
Token QuotedToken(const std::string& s, size_t start, char quote, Tok kind) {
  size_t i = start + 1;
  std::string text;
  for (;;) {
    if (i >= s.size()) Refuse("a text or date in the expression is not closed: " + s);
    if (s[i] == quote) {
      if (kind == Tok::kString && i + 1 < s.size() && s[i + 1] == quote) {
        text += quote;
        i += 2;
        continue;
      }
      ++i;
      break;
    }
    text += s[i++];
  }
  return {kind, text, start, i};
}

// Where the decimal number at `i` ends: its digits, a fraction and an exponent that has
// digits ("1e" is the number 1 and the word e).
size_t DecimalEnd(const std::string& s, size_t i) {
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
      i = j;
    }
  }
  return i;
}

// The &H number at `start` as a number token of its decimal digits.
Token HexToken(const std::string& s, size_t start) {
  size_t i = start + 2;
  unsigned long long v = 0;
  while (i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i])))
    v = v * 16 + static_cast<unsigned long long>(std::stoi(std::string(1, s[i++]), nullptr, 16));
  return {Tok::kNumber, std::to_string(v), start, i};
}

// The operator at `i`, =< and => read as <= and >=; refuses a character Access SQL gives no
// meaning.
Token OperatorToken(const std::string& s, size_t i) {
  struct Two {
    const char* access;
    const char* op;
  };
  static constexpr Two kTwo[] = {
      {"<>", "<>"}, {"<=", "<="}, {">=", ">="}, {"=<", "<="}, {"=>", ">="}};
  for (const Two& two : kTwo)
    if (s.compare(i, 2, two.access) == 0) return {Tok::kOp, two.op, i, i + 2};
  const char c = s[i];
  if (std::string("+-*/\\^&=<>(),.!;").find(c) == std::string::npos)
    Refuse(std::string("the character '") + c + "' has no meaning the translation knows: " + s);
  return {Tok::kOp, std::string(1, c), i, i + 1};
}

}  // namespace

std::vector<Token> Tokenize(const std::string& s) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    if (c == '[') {
      const size_t close = s.find(']', i + 1);
      if (close == std::string::npos) Refuse("a name in brackets is not closed: " + s);
      tokens.push_back({Tok::kBracket, s.substr(i + 1, close - i - 1), i, close + 1});
    } else if (c == '"' || c == '\'') {
      tokens.push_back(QuotedToken(s, i, static_cast<char>(c), Tok::kString));
    } else if (c == '#') {
      tokens.push_back(QuotedToken(s, i, '#', Tok::kDate));
    } else if (std::isdigit(c) || (c == '.' && i + 1 < s.size() && std::isdigit(s[i + 1]))) {
      const size_t end = DecimalEnd(s, i);
      tokens.push_back({Tok::kNumber, s.substr(i, end - i), i, end});
    } else if (c == '&' && i + 2 < s.size() && (s[i + 1] == 'H' || s[i + 1] == 'h') &&
               std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      tokens.push_back(HexToken(s, i));
    } else if (IsWordStart(c)) {
      size_t end = i;
      while (end < s.size() && IsWordChar(static_cast<unsigned char>(s[end]))) ++end;
      if (end < s.size() && s[end] == '$') ++end;  // Left$, Format$ ...
      tokens.push_back({Tok::kWord, s.substr(i, end - i), i, end});
    } else {
      tokens.push_back(OperatorToken(s, i));
    }
    i = tokens.back().end;
  }
  tokens.push_back({Tok::kEnd, "", s.size(), s.size()});
  return tokens;
}

}  // namespace ferrolyte::access_sql
