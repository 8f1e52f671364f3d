#include "conversion/copy_text.h"

#include "support/errors.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

[[noreturn]] void RaiseUnknownLiteral(std::string_view literal) {
  constexpr size_t kShown = 40;
  std::string shown(literal.substr(0, kShown));
  if (literal.size() > kShown) shown += "...";
  throw Error(errc::kInvalidCall,
              "Invalid procedure call or argument: no COPY field for the literal " + shown);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One stored byte as COPY's text format writes it: backslash and the control characters
// with a letter of their own escaped, everything else as it is.
void AppendCopyByte(std::string& out, char c) {
  switch (c) {
    case '\\':
      out += "\\\\";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\v':
      out += "\\v";
      return;
    case '\0':
      // The server refuses a zero byte in text either way; this keeps the refusal its own.
      out += "\\x00";
      return;
    default:
      out += c;
  }
}

// Reads up to `max` digits of the base at text[i], advancing i.
uint32_t Digits(std::string_view text, size_t& i, size_t max, int base) {
  uint32_t v = 0;
  for (size_t n = 0; n < max && i < text.size(); ++n) {
    int d = base == 8 ? (text[i] >= '0' && text[i] <= '7' ? text[i] - '0' : -1) : HexValue(text[i]);
    if (d < 0) break;
    v = v * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
    ++i;
  }
  return v;
}

// The body of an E'...' literal, unescaped as the server reads it, then escaped for COPY.
void AppendEscapeStringBody(std::string& out, std::string_view body, std::string_view literal) {
  for (size_t i = 0; i < body.size();) {
    // Most text needs no change at all: copy it in runs.
    size_t run = i;
    while (i < body.size() && body[i] != '\\' && body[i] != '\'' &&
           static_cast<unsigned char>(body[i]) >= 0x20)
      ++i;
    out.append(body, run, i - run);
    if (i >= body.size()) break;
    char c = body[i];
    if (c == '\'') {
      if (i + 1 >= body.size() || body[i + 1] != '\'') RaiseUnknownLiteral(literal);
      out += '\'';
      i += 2;
      continue;
    }
    if (c != '\\') {
      AppendCopyByte(out, c);
      ++i;
      continue;
    }
    if (++i >= body.size()) RaiseUnknownLiteral(literal);
    char e = body[i];
    switch (e) {
      case 'b':
        AppendCopyByte(out, '\b');
        ++i;
        break;
      case 'f':
        AppendCopyByte(out, '\f');
        ++i;
        break;
      case 'n':
        AppendCopyByte(out, '\n');
        ++i;
        break;
      case 'r':
        AppendCopyByte(out, '\r');
        ++i;
        break;
      case 't':
        AppendCopyByte(out, '\t');
        ++i;
        break;
      case 'x': {
        size_t start = ++i;
        uint32_t v = Digits(body, i, 2, 16);
        if (i == start) {
          AppendCopyByte(out, 'x');  // "\x" without digits is the letter
        } else {
          AppendCopyByte(out, static_cast<char>(v));
        }
        break;
      }
      case 'u':
      case 'U': {
        size_t width = e == 'u' ? 4 : 8, start = ++i;
        uint32_t v = Digits(body, i, width, 16);
        if (i - start != width) RaiseUnknownLiteral(literal);
        std::string utf8;
        AppendUtf8(utf8, static_cast<char32_t>(v));
        for (char u : utf8) AppendCopyByte(out, u);
        break;
      }
      default:
        if (e >= '0' && e <= '7') {
          AppendCopyByte(out, static_cast<char>(Digits(body, i, 3, 8) & 0xFF));
        } else {
          AppendCopyByte(out, e);  // any other escaped character stands for itself
          ++i;
        }
    }
  }
}

bool IsNumberText(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'E' || c == 'e'))
      return false;
  return true;
}

}  // namespace

std::string CopyFromStdin(const std::string& quoted_table, const std::string& column_list) {
  std::string s = "COPY " + quoted_table;
  if (!column_list.empty()) s += " (" + column_list + ")";
  return s + " FROM stdin";
}

void AppendCopyField(std::string& out, std::string_view literal) {
  if (literal == "NULL") {
    out += "\\N";
    return;
  }
  const bool escaped = literal.size() >= 3 && (literal[0] == 'E' || literal[0] == 'e') &&
                       literal[1] == '\'' && literal.back() == '\'';
  if (escaped) {
    AppendEscapeStringBody(out, literal.substr(2, literal.size() - 3), literal);
    return;
  }
  if (literal.size() >= 2 && literal.front() == '\'' && literal.back() == '\'') {
    // A standard string: backslashes are plain characters, a doubled quote is one.
    std::string_view body = literal.substr(1, literal.size() - 2);
    for (size_t i = 0; i < body.size(); ++i) {
      if (body[i] == '\'') {
        if (i + 1 >= body.size() || body[i + 1] != '\'') RaiseUnknownLiteral(literal);
        ++i;
      }
      AppendCopyByte(out, body[i]);
    }
    return;
  }
  if (!IsNumberText(literal)) RaiseUnknownLiteral(literal);
  out += literal;
}

}  // namespace ferrolyte
