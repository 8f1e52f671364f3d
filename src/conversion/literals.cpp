#include "conversion/literals.h"

#include <charconv>
#include <cmath>

#include "support/errors.h"
#include "support/oledate.h"
#include "support/safe.h"

namespace ferrolyte {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

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
        out += kHexDigits[c >> 4];
        out += kHexDigits[c & 15];
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
void AppendFloating(std::string& out, Floating value) {
  // PostgreSQL reads these words only inside quotes.
  if (std::isnan(value)) {
    out += "'NaN'";
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "'-Infinity'" : "'Infinity'";
    return;
  }
  if (value == 0 && std::signbit(value)) {
    // Unquoted, -0 is the integer 0 negated, which is 0.
    out += "'-0'";
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
  } else if (value.kind() == Value::Kind::kSingle || value.kind() == Value::Kind::kDouble) {
    // A number in a text column keeps every digit too.
    char buf[64];
    char* end = value.kind() == Value::Kind::kSingle
                    ? std::to_chars(buf, buf + sizeof buf, value.AsSingle()).ptr
                    : std::to_chars(buf, buf + sizeof buf, value.AsDouble()).ptr;
    AppendEscapedText(out, std::string(buf, end));
  } else {
    AppendEscapedText(out, ConvertToText(value));
  }
}

std::string SqlString(const Value& value) {
  std::string out;
  AppendSqlString(out, value);
  return out;
}

void AppendSqlNumber(std::string& out, const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kInteger: {
      char buf[24];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value.AsInteger());
      out.append(buf, end);
      return;
    }
    case Value::Kind::kBoolean:
      out += value.AsBoolean() ? '1' : '0';
      return;
    case Value::Kind::kSingle:
      AppendFloating(out, value.AsSingle());
      return;
    case Value::Kind::kDouble:
    case Value::Kind::kDate:
      AppendFloating(out, value.AsDouble());
      return;
    case Value::Kind::kDecimal: {
      const std::string& t = value.DecimalText();
      AppendWithoutLeadingZero(out, t.data(), t.data() + t.size());
      return;
    }
    case Value::Kind::kText:
      // Quoted, the server converts it to the column's type or rejects it with a clear
      // message; guessing a number here could change the value unnoticed.
      AppendEscapedText(out, value.Text());
      return;
    default:
      out += "NULL";
  }
}

std::string SqlNumber(const Value& value) {
  std::string out;
  AppendSqlNumber(out, value);
  return out;
}

void AppendSqlDateTime(std::string& out, const Value& value) {
  if (value.IsNull()) {
    out += "NULL";
    return;
  }
  int64_t day = 0, ticks = 0;
  if (value.PreciseDateParts(day, ticks)) {
    // TIMESTAMP keeps microseconds: the seventh digit of the 100 ns ticks is cut off.
    DateTimeFields f = OleDayToFields(day);
    int64_t seconds = ticks / 10000000, micros = ticks % 10000000 / 10;
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "'%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day,
                          static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                          static_cast<int>(seconds % 60));
    out.append(buf, static_cast<size_t>(n));
    if (micros != 0) {
      n = std::snprintf(buf, sizeof buf, ".%06d", static_cast<int>(micros));
      out.append(buf, static_cast<size_t>(n));
    }
    out += '\'';
    return;
  }
  // Raises for a serial outside the years 1 to 9999 (a damaged value): never a bad literal.
  DateTimeFields f = OleDateToMillisecondFields(SafeDate(value));
  // One per date column and row: formatted by hand, snprintf was a tenth of a dump run.
  char buf[25] = "'0000-00-00 00:00:00.000";
  auto two = [&buf](int at, int v) {
    buf[at] = static_cast<char>('0' + v / 10 % 10);
    buf[at + 1] = static_cast<char>('0' + v % 10);
  };
  two(1, f.year / 100);
  two(3, f.year % 100);
  two(6, f.month);
  two(9, f.day);
  two(12, f.hour);
  two(15, f.minute);
  two(18, f.second);
  // The stored double carries fractions of a second; a whole second stays whole.
  if (f.millisecond != 0) {
    buf[21] = static_cast<char>('0' + f.millisecond / 100);
    two(22, f.millisecond % 100);
    out.append(buf, 24);
  } else {
    out.append(buf, 20);
  }
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
    *p++ = kHexDigits[b >> 4];
    *p++ = kHexDigits[b & 15];
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
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 15];
  }
  out += '\'';
}

std::string SqlBinary(const Value& value, bool ignore_large_blobs, bool required) {
  std::string out;
  AppendSqlBinary(out, value, ignore_large_blobs, required);
  return out;
}

}  // namespace ferrolyte
