#include "support/safe.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "support/errors.h"
#include "support/oledate.h"
#include "support/text.h"

namespace ferrolyte {

std::optional<double> ParseNumericText(std::string_view text) {
  std::string t = Trim(text);
  if (t.empty()) return std::nullopt;
  if (t.size() > 2 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h' || t[1] == 'O' || t[1] == 'o')) {
    int base = (t[1] == 'H' || t[1] == 'h') ? 16 : 8;
    uint32_t v = 0;
    auto [p, ec] = std::from_chars(t.data() + 2, t.data() + t.size(), v, base);
    if (ec != std::errc() || p != t.data() + t.size()) return std::nullopt;
    // &H literals are 32-bit signed, as the platform reads them.
    return static_cast<double>(static_cast<int32_t>(v));
  }
  size_t start = (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (start == t.size() || !(std::isdigit(static_cast<unsigned char>(t[start])) || t[start] == '.'))
    return std::nullopt;
  double v = 0;
  auto [p, ec] = std::from_chars(t.data() + start, t.data() + t.size(), v);
  if (ec != std::errc() || p != t.data() + t.size()) return std::nullopt;
  return t[0] == '-' ? -v : v;
}

std::string FormatSignificant(double value, int digits) {
  if (value == 0) return "0";
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, digits);
  std::string s(buf, p);
  for (char& c : s)
    if (c == 'e') c = 'E';
  return s;
}

std::string ConvertToText(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kEmpty:
      return "";
    case Value::Kind::kNull:
      throw Error(errc::kInvalidNull, "Invalid use of Null");
    case Value::Kind::kBoolean:
      return value.AsBoolean() ? "True" : "False";
    case Value::Kind::kInteger:
      return std::to_string(value.AsInteger());
    case Value::Kind::kSingle:
      return FormatSignificant(value.AsSingle(), 7);
    case Value::Kind::kDouble:
      return FormatSignificant(value.AsDouble(), 15);
    case Value::Kind::kDecimal:
      return value.DecimalText();
    case Value::Kind::kDate: {
      double serial = value.DateSerial();
      std::string full = FormatIsoDateTime(OleDateToFields(serial));
      if (serial == std::trunc(serial)) return full.substr(0, 10);
      if (std::fabs(serial) < 1) return full.substr(11);
      return full;
    }
    case Value::Kind::kText:
      return value.Text();
    case Value::Kind::kBytes: {
      const Bytes& b = value.AsBytes();
      return Utf16LeToUtf8(b.data(), b.size());
    }
    case Value::Kind::kList:
    case Value::Kind::kDictionary:
      break;
  }
  throw Error(errc::kTypeMismatch, "Type mismatch");
}

std::string SafeStr(const Value& value) {
  try {
    return ConvertToText(value);
  } catch (const Error&) {
    return "";
  }
}

namespace {

std::optional<double> ToNumber(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kEmpty:
      return 0.0;
    case Value::Kind::kBoolean:
    case Value::Kind::kInteger:
    case Value::Kind::kSingle:
    case Value::Kind::kDouble:
    case Value::Kind::kDecimal:
    case Value::Kind::kDate:
      return value.AsDouble();
    case Value::Kind::kText: {
      if (EqualsIgnoreCase(Trim(value.Text()), "true")) return -1.0;
      if (EqualsIgnoreCase(Trim(value.Text()), "false")) return 0.0;
      return ParseNumericText(value.Text());
    }
    default:
      return std::nullopt;
  }
}

}  // namespace

bool SafeBool(const Value& value) {
  auto n = ToNumber(value);
  return n && *n != 0;
}

int32_t SafeLng(const Value& value) {
  if (value.kind() == Value::Kind::kInteger) {
    int64_t i = value.AsInteger();
    if (i < std::numeric_limits<int32_t>::min() || i > std::numeric_limits<int32_t>::max())
      return 0;
    return static_cast<int32_t>(i);
  }
  auto n = ToNumber(value);
  if (!n || std::isnan(*n)) return 0;
  double r = std::nearbyint(*n);  // the default rounding mode rounds halves to even
  if (r < -2147483648.0 || r > 2147483647.0) return 0;
  return static_cast<int32_t>(r);
}

double SafeDate(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kDate:
      return value.DateSerial();
    case Value::Kind::kInteger:
    case Value::Kind::kSingle:
    case Value::Kind::kDouble:
    case Value::Kind::kDecimal:
      return value.AsDouble();
    case Value::Kind::kText:
      return ParseDateText(value.Text()).value_or(0.0);
    default:
      return 0.0;
  }
}

}  // namespace ferrolyte
