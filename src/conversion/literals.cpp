#include "conversion/literals.h"

#include <charconv>
#include <cmath>

#include "support/errors.h"
#include "support/oledate.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

void AppendEscapedText(std::string& out, const std::string& text) {
  out += "E'";
  size_t run = 0;  // start of the bytes not yet copied: most texts need no escaping at all
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 32 && c != '\\' && c != '\'' && c != '?') continue;
    out.append(text, run, i - run);
    run = i + 1;
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\'':
        out += "''";
        break;
      case '?':
        out += "\\x3f";
        break;
      case 0:
        out += ' ';
        break;
      default:
        out += "\\x";
        out += HexDigit(c >> 4);
        out += HexDigit(c);
    }
  }
  out.append(text, run, std::string::npos);
  out += '\'';
}

// A number text without the zero before the period: "0.5" -> ".5", "-0.25" -> "-.25".
void AppendWithoutLeadingZero(std::string& out, const char* begin, const char* end) {
  if (end - begin >= 2 && begin[0] == '0' && begin[1] == '.') {
    ++begin;
  } else if (end - begin >= 3 && begin[0] == '-' && begin[1] == '0' && begin[2] == '.') {
    out += '-';
    begin += 2;
  }
  out.append(begin, end);
}

// The shortest text that reads back as the same number: a Single as the same float (2583.2092,
// 16777216), a Double as the same double.
template <typename Floating>
void AppendFloating(std::string& out, Floating value, bool quoted_words) {
  // PostgreSQL reads these words only inside quotes in SQL; COPY takes them bare.
  const char* word = nullptr;
  if (std::isnan(value)) {
    word = "NaN";
  } else if (std::isinf(value)) {
    word = value < 0 ? "-Infinity" : "Infinity";
  } else if (value == 0 && std::signbit(value)) {
    // Unquoted, -0 is the integer 0 negated, which is 0.
    word = "-0";
  }
  if (word) {
    if (quoted_words) out += '\'';
    out += word;
    if (quoted_words) out += '\'';
    return;
  }
  char buf[64];
  char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  for (char* p = buf; p != end; ++p)
    if (*p == 'e') *p = 'E';
  AppendWithoutLeadingZero(out, buf, end);
}

}  // namespace

void AppendQuotedIdentifier(std::string& out, const std::string& name) {
  out += '"';
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

std::string QuoteIdentifier(const std::string& name) {
  std::string out;
  out.reserve(name.size() + 2);
  AppendQuotedIdentifier(out, name);
  return out;
}

void AppendSqlString(std::string& out, const Value& value) {
  if (value.IsNull()) {
    out += "NULL";
  } else if (value.IsText()) {
    AppendEscapedText(out, value.Text());
  } else {
    AppendEscapedText(out, TextForStringColumn(value));
  }
}

std::string TextForStringColumn(const Value& value) {
  if (value.kind() != Value::Kind::kSingle && value.kind() != Value::Kind::kDouble)
    return ConvertToText(value);
  char buf[64];
  char* end = value.kind() == Value::Kind::kSingle
                  ? std::to_chars(buf, buf + sizeof buf, value.AsSingle()).ptr
                  : std::to_chars(buf, buf + sizeof buf, value.AsDouble()).ptr;
  return std::string(buf, end);
}

std::string SqlString(const Value& value) {
  std::string out;
  AppendSqlString(out, value);
  return out;
}

namespace {

// False for a value that is no number (nothing was written).
bool AppendNumberForm(std::string& out, const Value& value, bool quoted_words) {
  switch (value.kind()) {
    case Value::Kind::kInteger: {
      char buf[24];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value.AsInteger());
      out.append(buf, end);
      return true;
    }
    case Value::Kind::kBoolean:
      out += value.AsBoolean() ? '1' : '0';
      return true;
    case Value::Kind::kSingle:
      AppendFloating(out, value.AsSingle(), quoted_words);
      return true;
    case Value::Kind::kDouble:
    case Value::Kind::kDate:
      AppendFloating(out, value.AsDouble(), quoted_words);
      return true;
    case Value::Kind::kDecimal: {
      const std::string& t = value.DecimalText();
      AppendWithoutLeadingZero(out, t.data(), t.data() + t.size());
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

bool AppendNumberText(std::string& out, const Value& value) {
  return AppendNumberForm(out, value, false);
}

void AppendSqlNumber(std::string& out, const Value& value) {
  if (AppendNumberForm(out, value, true)) return;
  if (value.kind() == Value::Kind::kText) {
    // Quoted, the server converts it to the column's type or rejects it with a clear
    // message; guessing a number here could change the value unnoticed.
    AppendEscapedText(out, value.Text());
    return;
  }
  out += "NULL";
}

std::string SqlNumber(const Value& value) {
  std::string out;
  AppendSqlNumber(out, value);
  return out;
}

bool AppendDateTimeText(std::string& out, const Value& value) {
  if (value.IsNull()) return false;
  int64_t day = 0, ticks = 0;
  if (value.PreciseDateParts(day, ticks)) {
    // TIMESTAMP keeps microseconds: the seventh digit of the 100 ns ticks is cut off.
    DateTimeFields f = OleDayToFields(day);
    int64_t seconds = ticks / 10000000, micros = ticks % 10000000 / 10;
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day,
                          static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                          static_cast<int>(seconds % 60));
    out.append(buf, static_cast<size_t>(n));
    if (micros != 0) {
      n = std::snprintf(buf, sizeof buf, ".%06d", static_cast<int>(micros));
      out.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  // Raises for a serial outside the years 1 to 9999 (a damaged value): never a bad literal.
  DateTimeFields f = OleDateToMillisecondFields(SafeDate(value));
  // One per date column and row: formatted by hand, snprintf was a tenth of a dump run.
  char buf[24] = "0000-00-00 00:00:00.000";
  auto two = [&buf](int at, int v) {
    buf[at] = static_cast<char>('0' + v / 10 % 10);
    buf[at + 1] = static_cast<char>('0' + v % 10);
  };
  two(0, f.year / 100);
  two(2, f.year % 100);
  two(5, f.month);
  two(8, f.day);
  two(11, f.hour);
  two(14, f.minute);
  two(17, f.second);
  // The stored double carries fractions of a second; a whole second stays whole.
  if (f.millisecond != 0) {
    buf[20] = static_cast<char>('0' + f.millisecond / 100);
    two(21, f.millisecond % 100);
    out.append(buf, 23);
  } else {
    out.append(buf, 19);
  }
  return true;
}

void AppendSqlDateTime(std::string& out, const Value& value) {
  if (value.IsNull()) {
    out += "NULL";
    return;
  }
  out += '\'';
  AppendDateTimeText(out, value);
  out += '\'';
}

std::string SqlDateTime(const Value& value) {
  std::string out;
  AppendSqlDateTime(out, value);
  return out;
}

void AppendSqlBinary(std::string& out, const Value& value, bool ignore_large_blobs, bool required) {
  // An empty text, not 0x00: PostgreSQL reads 0x00 as a syntax error, losing the table.
  const char* empty_value = required ? "E''" : "NULL";
  if (value.kind() != Value::Kind::kBytes) {
    out += empty_value;
    return;
  }
  const Bytes& bytes = value.AsBytes();
  // An empty value is a value, in optional columns too: NULL would say there is none.
  if (bytes.empty()) {
    out += "E''";
    return;
  }
  if (bytes.size() > kMaxBlobSize) {
    if (ignore_large_blobs) {
      out += empty_value;
      return;
    }
    throw Error(errc::kBinaryTooLarge,
                "The maximum blob size of " + std::to_string(kMaxBlobSize) +
                    " bytes was exceeded by a blob of " + std::to_string(bytes.size()) +
                    " bytes. There is an advanced option to ignore BLOBs that are too "
                    "large.");
  }
  size_t start = out.size();
  out.resize(start + 2 + bytes.size() * 2 + 1);
  char* p = out.data() + start;
  *p++ = 'E';
  *p++ = '\'';
  for (uint8_t b : bytes) {
    *p++ = HexDigit(b >> 4);
    *p++ = HexDigit(b);
  }
  *p = '\'';
}

void AppendSqlBytea(std::string& out, const Value& value) {
  if (value.kind() != Value::Kind::kBytes) {
    out += "NULL";
    return;
  }
  const Bytes& bytes = value.AsBytes();
  out.reserve(out.size() + 6 + bytes.size() * 2);
  out += "E'\\\\x";
  for (uint8_t b : bytes) {
    out += HexDigit(b >> 4);
    out += HexDigit(b);
  }
  out += '\'';
}

std::string SqlBinary(const Value& value, bool ignore_large_blobs, bool required) {
  std::string out;
  AppendSqlBinary(out, value, ignore_large_blobs, required);
  return out;
}

ColumnKind KindOfType(int type) {
  switch (type) {
    case 8:
    case 72:
    case 129:
    case 130:
    case 200:
    case 201:
    case 202:
    case 203:
      return ColumnKind::kString;
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 14:
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
    case 131:
      return ColumnKind::kNumber;
    case 11:
      return ColumnKind::kBoolean;
    case 7:
    case 133:  // date only
    case 134:  // time only: the server takes the time part of the full literal
    case 135:
      return ColumnKind::kDateTime;
    case 128:
    case 204:
    case 205:
      return ColumnKind::kBinary;
    default:
      // Anything else goes as quoted text, which the server converts to the column's type;
      // leaving the place empty would make every row a syntax error.
      return ColumnKind::kText;
  }
}

void AppendInsertLiteral(std::string& out, const ColumnSpec& column, const Value& value) {
  switch (column.kind) {
    case ColumnKind::kString:
    case ColumnKind::kText:
      AppendSqlString(out, value);
      return;
    case ColumnKind::kNumber:
      AppendSqlNumber(out, value);
      return;
    case ColumnKind::kBoolean: {
      // True is -1 in the source; both true and false arrive as 1 and 0.
      bool on = value.kind() == Value::Kind::kBoolean ? value.AsBoolean() : SafeLng(value) != 0;
      out += on ? "E'1'" : "E'0'";
      return;
    }
    case ColumnKind::kDateTime:
      AppendSqlDateTime(out, value);
      return;
    case ColumnKind::kBinary:
      AppendSqlBinary(out, value, column.ignore_large_blobs, column.required);
      return;
    case ColumnKind::kBytea:
      AppendSqlBytea(out, value);
      return;
  }
}

}  // namespace ferrolyte
