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

}  // namespace

std::vector<Token> Tokenize(const std::string& s) {
  std::vector<Token> tokens;
  size_t i = 0;
  auto quoted = [&](char quote, Tok kind) {
    const size_t start = i++;
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
    tokens.push_back({kind, text, start, i});
  };
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '[') {
      const size_t close = s.find(']', i + 1);
      if (close == std::string::npos) Refuse("a name in brackets is not closed: " + s);
      tokens.push_back({Tok::kBracket, s.substr(i + 1, close - i - 1), i, close + 1});
      i = close + 1;
    } else if (c == '"' || c == '\'') {
      quoted(static_cast<char>(c), Tok::kString);
    } else if (c == '#') {
      quoted('#', Tok::kDate);
    } else if (std::isdigit(c) || (c == '.' && i + 1 < s.size() && std::isdigit(s[i + 1]))) {
      const size_t start = i;
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
      tokens.push_back({Tok::kNumber, s.substr(start, i - start), start, i});
    } else if (c == '&' && i + 2 < s.size() && (s[i + 1] == 'H' || s[i + 1] == 'h') &&
               std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      const size_t start = i;
      i += 2;
      unsigned long long v = 0;
      while (i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i])))
        v = v * 16 +
            static_cast<unsigned long long>(std::stoi(std::string(1, s[i++]), nullptr, 16));
      tokens.push_back({Tok::kNumber, std::to_string(v), start, i});
    } else if (IsWordStart(c)) {
      const size_t start = i;
      while (i < s.size() && IsWordChar(static_cast<unsigned char>(s[i]))) ++i;
      if (i < s.size() && s[i] == '$') ++i;  // Left$, Format$ ...
      tokens.push_back({Tok::kWord, s.substr(start, i - start), start, i});
    } else {
      static const char* kTwo[] = {"<>", "<=", ">=", "=<", "=>"};
      std::string op(1, static_cast<char>(c));
      for (const char* two : kTwo)
        if (s.compare(i, 2, two) == 0) op = two;
      if (op == "=<") op = "<=";
      if (op == "=>") op = ">=";
      if (op.size() == 1 &&
          std::string("+-*/\\^&=<>(),.!;").find(static_cast<char>(c)) == std::string::npos)
        Refuse(std::string("the character '") + static_cast<char>(c) +
               "' has no meaning the translation knows: " + s);
      tokens.push_back({Tok::kOp, op, i, i + (s.compare(i, 2, op) == 0 ? op.size() : 1)});
      i = tokens.back().end;
    }
  }
  tokens.push_back({Tok::kEnd, "", s.size(), s.size()});
  return tokens;
}

}  // namespace ferrolyte::access_sql
