#include "conversion/copy_binary.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "conversion/literals.h"
#include "support/oledate.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

// Type oids, fixed in every server's catalog.
constexpr uint32_t kOidBool = 16, kOidBytea = 17, kOidInt8 = 20, kOidInt2 = 21, kOidInt4 = 23,
                   kOidText = 25, kOidFloat4 = 700, kOidFloat8 = 701, kOidBpchar = 1042,
                   kOidVarchar = 1043, kOidDate = 1082, kOidTime = 1083, kOidTimestamp = 1114,
                   kOidNumeric = 1700, kOidUuid = 2950;

template <typename T>
void PutBig(std::string& out, T value) {
  using U = std::make_unsigned_t<T>;
  const auto u = static_cast<U>(value);
  char bytes[sizeof(T)];
  for (size_t i = 0; i < sizeof(T); ++i)
    bytes[i] = static_cast<char>(u >> (8 * (sizeof(T) - 1 - i)));
  out.append(bytes, sizeof(T));
}

void PutNull(std::string& out) {
  PutBig<int32_t>(out, -1);
}

template <typename T>
void PutField(std::string& out, T value) {
  PutBig<int32_t>(out, sizeof(T));
  PutBig(out, value);
}

// The field's bytes as they stand, after their length.
void PutBytes(std::string& out, std::string_view bytes) {
  PutBig(out, static_cast<int32_t>(bytes.size()));
  out.append(bytes);
}

// A text as the server stores it from the COPY line: a NUL becomes a space there too.
void PutText(std::string& out, std::string_view text) {
  PutBig(out, static_cast<int32_t>(text.size()));
  const size_t start = out.size();
  out.append(text);
  for (size_t i = text.find('\0'); i != std::string_view::npos; i = text.find('\0', i + 1))
    out[start + i] = ' ';
}

// What a string column's COPY field holds before its escapes: the text, a float's shortest
// digits, or the value's text. A null is none.
bool StringField(const Value& value, std::string& text) {
  if (value.IsNull()) return false;
  text = value.IsText() ? value.Text() : TextForStringColumn(value);
  return true;
}

// The sixteen bytes of the text as uuid input reads it: braces around it or none, a hyphen
// allowed after any four digits. False for any other text, which the server is to refuse.
bool ParseUuid(std::string_view text, uint8_t (&bytes)[16]) {
  size_t at = 0;
  const bool braces = !text.empty() && text[0] == '{';
  if (braces) ++at;
  for (int i = 0; i < 16; ++i) {
    if (text.size() - at < 2) return false;
    const int high = HexDigitValue(text[at]), low = HexDigitValue(text[at + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<uint8_t>(high * 16 + low);
    at += 2;
    if (at < text.size() && text[at] == '-' && i % 2 == 1 && i < 15) ++at;
  }
  if (braces) {
    if (at >= text.size() || text[at] != '}') return false;
    ++at;
  }
  return at == text.size();
}

bool StringToField(std::string& out, BinaryField field, const Value& value) {
  std::string text;
  if (!StringField(value, text)) {
    PutNull(out);
    return true;
  }
  if (field == BinaryField::kText) {
    PutText(out, text);
    return true;
  }
  uint8_t bytes[16];
  for (char& c : text)
    if (c == '\0') c = ' ';
  if (!ParseUuid(text, bytes)) return false;
  PutBytes(out, std::string_view(reinterpret_cast<const char*>(bytes), 16));
  return true;
}

// A whole number text as integer input reads it, all of it.
bool ParseWhole(std::string_view text, int64_t& n) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  return ec == std::errc() && end == text.data() + text.size();
}

// The float the server reads from the text: the nearest, as its input function finds it.
// False where servers differ (a subnormal result) or refuse (out of range).
template <typename Floating>
bool ParseFloating(std::string_view text, Floating& f) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), f);
  return ec == std::errc() && end == text.data() + text.size() &&
         std::fpclassify(f) != FP_SUBNORMAL;
}

// The server's own NaN: its input function gives the one NaN whatever the text.
void PutFloat8(std::string& out, double d) {
  uint64_t bits;
  if (std::isnan(d)) d = std::numeric_limits<double>::quiet_NaN();
  std::memcpy(&bits, &d, sizeof bits);
  PutField(out, bits);
}

void PutFloat4(std::string& out, float f) {
  uint32_t bits;
  if (std::isnan(f)) f = std::numeric_limits<float>::quiet_NaN();
  std::memcpy(&bits, &f, sizeof bits);
  PutField(out, bits);
}

// A number's text as the text line writes it, rendered once and only when asked for.
class NumberText {
 public:
  explicit NumberText(const Value& value) : value_(value) {}
  std::string_view operator()() {
    if (text_.empty()) AppendNumberText(text_, value_);
    return text_;
  }

 private:
  const Value& value_;
  std::string text_;
};

bool IntegerToField(std::string& out, BinaryField field, const Value& value, NumberText& text) {
  const Value::Kind kind = value.kind();
  int64_t n = 0;
  if (kind == Value::Kind::kInteger) {
    n = value.AsInteger();
  } else if (kind == Value::Kind::kBoolean) {
    n = value.AsBoolean() ? 1 : 0;
  } else if (!ParseWhole(text(), n)) {
    return false;
  }
  if (field == BinaryField::kInt8) {
    PutField(out, n);
  } else if (field == BinaryField::kInt4) {
    if (n < INT32_MIN || n > INT32_MAX) return false;
    PutField(out, static_cast<int32_t>(n));
  } else {
    if (n < INT16_MIN || n > INT16_MAX) return false;
    PutField(out, static_cast<int16_t>(n));
  }
  return true;
}

// Float8 takes a double or a date as it is, float4 a single.
template <typename Floating>
bool FloatToField(std::string& out, const Value& value, NumberText& text) {
  constexpr bool kEight = std::is_same_v<Floating, double>;
  const Value::Kind kind = value.kind();
  Floating f = 0;
  const bool exact = kEight ? kind == Value::Kind::kDouble || kind == Value::Kind::kDate
                            : kind == Value::Kind::kSingle;
  if (exact) {
    // The shortest digits read back as this very value.
    if constexpr (kEight)
      f = value.AsDouble();
    else
      f = value.AsSingle();
    if (std::fpclassify(f) == FP_SUBNORMAL) return false;
  } else if (kind == Value::Kind::kInteger || kind == Value::Kind::kBoolean) {
    // Both the conversion and the server's reading of the digits round to the nearest.
    f = kind == Value::Kind::kBoolean ? static_cast<Floating>(value.AsBoolean() ? 1 : 0)
                                      : static_cast<Floating>(value.AsInteger());
  } else if (!ParseFloating(text(), f)) {
    return false;
  }
  if constexpr (kEight)
    PutFloat8(out, f);
  else
    PutFloat4(out, f);
  return true;
}

bool NumericToField(std::string& out, const Value& value, NumberText& text) {
  PutBig<int32_t>(out, 0);
  const size_t at = out.size();
  // A decimal's own text: the text line only drops the zero before its point.
  const std::string_view number =
      value.kind() == Value::Kind::kDecimal ? std::string_view(value.DecimalText()) : text();
  if (!AppendBinaryNumeric(out, number)) {
    out.resize(at - 4);
    return false;
  }
  const auto size = static_cast<uint32_t>(out.size() - at);
  for (int i = 0; i < 4; ++i) out[at - 4 + i] = static_cast<char>(size >> (24 - 8 * i));
  return true;
}

bool NumberToField(std::string& out, BinaryField field, const Value& value) {
  // Values the text line writes as they come are rendered as it renders them, then read as
  // the server reads them: one text, one stored value.
  switch (value.kind()) {
    case Value::Kind::kInteger:
    case Value::Kind::kBoolean:
    case Value::Kind::kSingle:
    case Value::Kind::kDouble:
    case Value::Kind::kDate:
    case Value::Kind::kDecimal:
      break;
    case Value::Kind::kText:
      // A text is the server's to read or refuse.
      return false;
    default:
      PutNull(out);
      return true;
  }
  NumberText text(value);
  switch (field) {
    case BinaryField::kInt2:
    case BinaryField::kInt4:
    case BinaryField::kInt8:
      return IntegerToField(out, field, value, text);
    case BinaryField::kFloat8:
      return FloatToField<double>(out, value, text);
    case BinaryField::kFloat4:
      return FloatToField<float>(out, value, text);
    case BinaryField::kNumeric:
      return NumericToField(out, value, text);
    default:
      return false;
  }
}

bool BooleanToField(std::string& out, BinaryField field, const Value& value) {
  const bool on = value.kind() == Value::Kind::kBoolean ? value.AsBoolean() : SafeLng(value) != 0;
  switch (field) {
    case BinaryField::kBool:
      PutField(out, static_cast<uint8_t>(on));
      return true;
    case BinaryField::kInt2:
      PutField(out, static_cast<int16_t>(on));
      return true;
    case BinaryField::kInt4:
      PutField(out, static_cast<int32_t>(on));
      return true;
    case BinaryField::kInt8:
      PutField(out, static_cast<int64_t>(on));
      return true;
    default:
      return false;
  }
}

// The day and the time of day of the date's text, counted from 2000-01-01 as the server
// counts. False for a year the four-digit text cannot write.
bool DateFromEpoch(const Value& value, int64_t& days, int64_t& micros) {
  static const int64_t k2000 = DaysFromOleEpoch(2000, 1, 1);
  int64_t day = 0, ticks = 0;
  if (value.PreciseDateParts(day, ticks)) {
    const DateTimeFields f = OleDayToFields(day);
    if (f.year < 1 || f.year > 9999 || ticks < 0 || ticks >= 864000000000) return false;
    days = DaysFromOleEpoch(f.year, f.month, f.day) - k2000;
    // TIMESTAMP keeps microseconds: the seventh digit of the 100 ns ticks is cut off.
    micros = ticks / 10;
    return true;
  }
  // Raises for a serial outside the years 1 to 9999, as the text does.
  const DateTimeFields f = OleDateToMillisecondFields(SafeDate(value));
  days = DaysFromOleEpoch(f.year, f.month, f.day) - k2000;
  micros =
      ((int64_t{f.hour} * 60 + f.minute) * 60 + f.second) * 1000000 + int64_t{f.millisecond} * 1000;
  return true;
}

bool DateToField(std::string& out, BinaryField field, const Value& value) {
  if (value.IsNull()) {
    PutNull(out);
    return true;
  }
  int64_t days = 0, micros = 0;
  if (!DateFromEpoch(value, days, micros)) return false;
  switch (field) {
    case BinaryField::kTimestamp:
      PutField(out, days * 86400000000 + micros);
      return true;
    case BinaryField::kDate:
      PutField(out, static_cast<int32_t>(days));
      return true;
    case BinaryField::kTime:
      PutField(out, micros);
      return true;
    default:
      return false;
  }
}

// The hexadecimal text a binary column's COPY field holds, or its empty value.
bool BinaryToField(std::string& out, const ColumnSpec& column, const Value& value) {
  auto empty_value = [&] {
    if (column.required) {
      PutBig<int32_t>(out, 0);
    } else {
      PutNull(out);
    }
  };
  if (value.kind() != Value::Kind::kBytes) {
    empty_value();
    return true;
  }
  const Bytes& bytes = value.AsBytes();
  if (bytes.size() > kMaxBlobSize) {
    if (column.ignore_large_blobs) {
      empty_value();
      return true;
    }
    // The literal function raises the error the INSERT path raises.
    std::string unused;
    AppendSqlBinary(unused, value, false, column.required);
  }
  PutBig(out, static_cast<int32_t>(bytes.size() * 2));
  for (uint8_t b : bytes) {
    out += HexDigit(b >> 4);
    out += HexDigit(b);
  }
  return true;
}

bool ByteaToField(std::string& out, const Value& value) {
  if (value.kind() != Value::Kind::kBytes) {
    PutNull(out);
    return true;
  }
  const Bytes& bytes = value.AsBytes();
  PutBytes(out, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  return true;
}

bool AppendField(std::string& out, const ColumnSpec& column, BinaryField field,
                 const Value& value) {
  switch (column.kind) {
    case ColumnKind::kString:
    case ColumnKind::kText:
      return StringToField(out, field, value);
    case ColumnKind::kNumber:
      return NumberToField(out, field, value);
    case ColumnKind::kBoolean:
      return BooleanToField(out, field, value);
    case ColumnKind::kDateTime:
      return DateToField(out, field, value);
    case ColumnKind::kBinary:
      return BinaryToField(out, column, value);
    case ColumnKind::kBytea:
      return ByteaToField(out, value);
  }
  return false;
}

bool IsTextType(uint32_t oid) {
  return oid == kOidText || oid == kOidVarchar || oid == kOidBpchar;
}

}  // namespace

BinaryField BinaryFieldFor(const ColumnSpec& column, uint32_t server_type) {
  switch (column.kind) {
    case ColumnKind::kString:
    case ColumnKind::kText:
      if (IsTextType(server_type)) return BinaryField::kText;
      return server_type == kOidUuid ? BinaryField::kUuid : BinaryField::kNone;
    case ColumnKind::kNumber:
    case ColumnKind::kBoolean:
      switch (server_type) {
        case kOidInt2:
          return BinaryField::kInt2;
        case kOidInt4:
          return BinaryField::kInt4;
        case kOidInt8:
          return BinaryField::kInt8;
        case kOidBool:
          return column.kind == ColumnKind::kBoolean ? BinaryField::kBool : BinaryField::kNone;
        default:
          break;
      }
      if (column.kind == ColumnKind::kBoolean) return BinaryField::kNone;
      if (server_type == kOidFloat4) return BinaryField::kFloat4;
      if (server_type == kOidFloat8) return BinaryField::kFloat8;
      return server_type == kOidNumeric ? BinaryField::kNumeric : BinaryField::kNone;
    case ColumnKind::kDateTime:
      if (server_type == kOidTimestamp) return BinaryField::kTimestamp;
      if (server_type == kOidDate) return BinaryField::kDate;
      return server_type == kOidTime ? BinaryField::kTime : BinaryField::kNone;
    case ColumnKind::kBinary:
      // Hexadecimal digits read as bytea's escape form are those very bytes.
      return IsTextType(server_type) || server_type == kOidBytea ? BinaryField::kText
                                                                 : BinaryField::kNone;
    case ColumnKind::kBytea:
      return server_type == kOidBytea ? BinaryField::kBytea : BinaryField::kNone;
  }
  return BinaryField::kNone;
}

bool AppendBinaryRow(std::string& out, std::span<const BinaryField> fields, const TypedRow& row) {
  const size_t start = out.size();
  if (fields.size() != row.values.size() || row.values.size() > INT16_MAX) return false;
  try {
    PutBig(out, static_cast<int16_t>(row.values.size()));
    for (size_t i = 0; i < row.values.size(); ++i) {
      if (!AppendField(out, row.columns[i], fields[i], *row.values[i])) {
        out.resize(start);
        return false;
      }
    }
  } catch (...) {
    out.resize(start);
    throw;
  }
  return true;
}

bool AppendBinaryNumeric(std::string& out, std::string_view text) {
  constexpr uint16_t kPositive = 0x0000, kNegative = 0x4000, kNaN = 0xC000;
  if (text == "NaN") {
    for (uint16_t part : {uint16_t{0}, uint16_t{0}, kNaN, uint16_t{0}}) PutBig(out, part);
    return true;
  }
  auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  size_t at = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++at;
  // The digits before the point and after it, as they stand in the text.
  const size_t whole_start = at;
  while (at < text.size() && is_digit(text[at])) ++at;
  const std::string_view whole = text.substr(whole_start, at - whole_start);
  std::string_view fraction;
  if (at < text.size() && text[at] == '.') {
    const size_t fraction_start = ++at;
    while (at < text.size() && is_digit(text[at])) ++at;
    fraction = text.substr(fraction_start, at - fraction_start);
  }
  if (whole.empty() && fraction.empty()) return false;
  int64_t exponent = 0;
  if (at < text.size()) {
    if (text[at] != 'E' && text[at] != 'e') return false;
    ++at;
    if (at < text.size() && text[at] == '+') ++at;
    auto [end, ec] = std::from_chars(text.data() + at, text.data() + text.size(), exponent);
    // Numeric input takes exponents up to 1000 either way.
    if (ec != std::errc() || end != text.data() + text.size() || exponent > 1000 ||
        exponent < -1000)
      return false;
  }
  const size_t count = whole.size() + fraction.size();
  auto digit = [&](size_t i) { return i < whole.size() ? whole[i] : fraction[i - whole.size()]; };
  const int64_t dscale = std::max<int64_t>(0, static_cast<int64_t>(fraction.size()) - exponent);
  size_t first = 0;
  while (first < count && digit(first) == '0') ++first;
  // Floor division: a base-10000 digit covers the powers 4g .. 4g+3.
  auto group_of = [](int64_t power) { return power >= 0 ? power / 4 : -((-power + 3) / 4); };
  // The power of ten of the first nonzero digit.
  const int64_t top =
      static_cast<int64_t>(whole.size()) - 1 - static_cast<int64_t>(first) + exponent;
  const int64_t weight = first < count ? group_of(top) : 0;
  if (weight > INT16_MAX || weight < INT16_MIN || dscale > 0x3FFF) return false;
  // A value's groups fit on the stack but for the longest texts: one allocation less per value.
  const size_t most_groups = (count - first) / 4 + 2;
  int16_t stack_groups[40] = {};
  std::vector<int16_t> heap_groups;
  int16_t* groups = stack_groups;
  if (most_groups > std::size(stack_groups)) {
    heap_groups.assign(most_groups, 0);
    groups = heap_groups.data();
  }
  static const int16_t kScale[] = {1, 10, 100, 1000};
  size_t used = 0;
  for (size_t i = first; i < count; ++i) {
    const int64_t power = top - static_cast<int64_t>(i - first);
    const int64_t group = group_of(power);
    const auto slot = static_cast<size_t>(weight - group);
    groups[slot] =
        static_cast<int16_t>(groups[slot] + (digit(i) - '0') * kScale[power - 4 * group]);
    used = slot + 1;
  }
  while (used > 0 && groups[used - 1] == 0) --used;
  PutBig(out, static_cast<int16_t>(used));
  PutBig(out, static_cast<int16_t>(used == 0 ? 0 : weight));
  // Zero has no sign: "-0" reads as 0.
  PutBig(out, used == 0 || !negative ? kPositive : kNegative);
  PutBig(out, static_cast<uint16_t>(dscale));
  for (size_t i = 0; i < used; ++i) PutBig(out, groups[i]);
  return true;
}

}  // namespace ferrolyte
