#include "encoding.h"

#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "accesswriter/writer.h"

namespace accesswriter::internal {

void PutDouble(Bytes& b, double v) {
  Put64(b, std::bit_cast<std::uint64_t>(v));
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = s[i];
    std::uint32_t cp;
    int extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if ((c & 0xe0) == 0xc0) {
      cp = c & 0x1f;
      extra = 1;
    } else if ((c & 0xf0) == 0xe0) {
      cp = c & 0x0f;
      extra = 2;
    } else if ((c & 0xf8) == 0xf0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      throw WriteError("malformed UTF-8 in text value");
    }
    if (i + extra >= s.size()) {
      throw WriteError("truncated UTF-8 sequence in text value");
    }
    for (int k = 1; k <= extra; ++k) {
      unsigned char cc = s[i + k];
      if ((cc & 0xc0) != 0x80) throw WriteError("malformed UTF-8 in text value");
      cp = (cp << 6) | (cc & 0x3f);
    }
    static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10ffff || (cp >= 0xd800 && cp < 0xe000)) {
      throw WriteError("invalid code point in UTF-8 text value");
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xd800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xdc00 + (cp & 0x3ff)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += extra + 1;
  }
  return out;
}

Bytes Utf16Le(const std::u16string& text) {
  Bytes b;
  b.reserve(text.size() * 2);
  for (char16_t c : text) Put16(b, c);
  return b;
}

Bytes EncodeText(const std::u16string& text, bool allow_compression) {
  // A zero byte toggles the compression mode, so NUL and anything above 0xFF stay plain.
  bool compressible = allow_compression && text.size() > 2;
  for (char16_t c : text) {
    if (c == 0 || c > 0xff) {
      compressible = false;
      break;
    }
  }
  if (!compressible) return Utf16Le(text);
  Bytes b;
  b.reserve(text.size() + 2);
  b.push_back(0xff);
  b.push_back(0xfe);
  for (char16_t c : text) b.push_back(static_cast<std::uint8_t>(c));
  return b;
}

ScaledDecimal ParseDecimal(std::string_view text, int scale, int max_digits) {
  std::string_view t = text;
  while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.remove_prefix(1);
  while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.remove_suffix(1);
  ScaledDecimal d;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    d.negative = t[0] == '-';
    t.remove_prefix(1);
  }
  std::string int_digits, frac_digits;
  bool dot = false;
  for (char c : t) {
    if (c == '.' && !dot) {
      dot = true;
    } else if (c >= '0' && c <= '9') {
      (dot ? frac_digits : int_digits).push_back(c);
    } else {
      throw WriteError("not a decimal number: \"" + std::string(text) + "\"");
    }
  }
  if (int_digits.empty() && frac_digits.empty()) {
    throw WriteError("not a decimal number: \"" + std::string(text) + "\"");
  }
  while (!frac_digits.empty() && frac_digits.back() == '0') frac_digits.pop_back();
  if (static_cast<int>(frac_digits.size()) > scale) {
    throw WriteError("\"" + std::string(text) + "\" has more than " + std::to_string(scale) +
                     " decimal places");
  }
  frac_digits.resize(scale, '0');
  std::string all = int_digits + frac_digits;
  std::size_t first = all.find_first_not_of('0');
  all = first == std::string::npos ? std::string() : all.substr(first);
  if (static_cast<int>(all.size()) > max_digits) {
    throw WriteError("\"" + std::string(text) + "\" has more than " + std::to_string(max_digits) +
                     " digits");
  }
  for (char c : all) d.magnitude = d.magnitude * 10 + static_cast<unsigned>(c - '0');
  if (d.magnitude == 0) d.negative = false;
  return d;
}

namespace {

int ParseInt(std::string_view s, std::size_t& pos, int digits, std::string_view whole) {
  int v = 0;
  auto r =
      std::from_chars(s.data() + pos, s.data() + pos + std::min(digits, int(s.size() - pos)), v);
  if (r.ec != std::errc() || r.ptr != s.data() + pos + digits) {
    throw WriteError("not a date: \"" + std::string(whole) + "\"");
  }
  pos += digits;
  return v;
}

}  // namespace

double ParseDateText(std::string_view text) {
  return ToOleDate(ParseDateFields(text));
}

DateTime ParseDateFields(std::string_view text) {
  DateTime t;
  std::size_t pos = 0;
  auto expect = [&](char c) {
    if (pos >= text.size() || text[pos] != c) {
      throw WriteError("not a date: \"" + std::string(text) + "\"");
    }
    ++pos;
  };
  t.year = ParseInt(text, pos, 4, text);
  expect('-');
  t.month = ParseInt(text, pos, 2, text);
  expect('-');
  t.day = ParseInt(text, pos, 2, text);
  if (pos < text.size()) {
    if (text[pos] != ' ' && text[pos] != 'T')
      throw WriteError("not a date: \"" + std::string(text) + "\"");
    ++pos;
    t.hour = ParseInt(text, pos, 2, text);
    expect(':');
    t.minute = ParseInt(text, pos, 2, text);
    if (pos < text.size()) {
      expect(':');
      double sec = 0;
      auto r = std::from_chars(text.data() + pos, text.data() + text.size(), sec);
      if (r.ec != std::errc() || r.ptr != text.data() + text.size()) {
        throw WriteError("not a date: \"" + std::string(text) + "\"");
      }
      t.second = sec;
      pos = text.size();
    }
  }
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
      t.second >= 60) {
    throw WriteError("date out of range: \"" + std::string(text) + "\"");
  }
  return t;
}

std::int64_t DaysFromCivil(int year, int month, int day) {
  int y = year - (month <= 2 ? 1 : 0);
  int era = (y >= 0 ? y : y - 399) / 400;
  unsigned yoe = static_cast<unsigned>(y - era * 400);
  unsigned doy = static_cast<unsigned>((153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1);
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<std::int64_t>(era) * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void ParseExtendedDateText(std::string_view text, std::int64_t& days, std::int64_t& ticks) {
  auto fail = [&]() { throw WriteError("not a date: \"" + std::string(text) + "\""); };
  std::size_t pos = 0;
  auto expect = [&](char c) {
    if (pos >= text.size() || text[pos] != c) fail();
    ++pos;
  };
  int year = ParseInt(text, pos, 4, text);
  expect('-');
  int month = ParseInt(text, pos, 2, text);
  expect('-');
  int day = ParseInt(text, pos, 2, text);
  int hour = 0, minute = 0, second = 0;
  std::int64_t fraction = 0;
  if (pos < text.size()) {
    if (text[pos] != ' ' && text[pos] != 'T') fail();
    ++pos;
    hour = ParseInt(text, pos, 2, text);
    expect(':');
    minute = ParseInt(text, pos, 2, text);
    if (pos < text.size()) {
      expect(':');
      second = ParseInt(text, pos, 2, text);
      if (pos < text.size()) {
        expect('.');
        int digits = 0;
        for (; pos < text.size(); ++pos, ++digits) {
          if (digits == 7 || text[pos] < '0' || text[pos] > '9') fail();
          fraction = fraction * 10 + (text[pos] - '0');
        }
        if (digits == 0) fail();
        for (; digits < 7; ++digits) fraction *= 10;
      }
    }
  }
  if (year < 1 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
    fail();
  // A day past the month's end would silently move into the next month.
  if ((month < 12 ? DaysFromCivil(year, month + 1, 1) : DaysFromCivil(year + 1, 1, 1)) <=
      DaysFromCivil(year, month, day))
    fail();
  days = DaysFromCivil(year, month, day) - DaysFromCivil(1, 1, 1);
  ticks = (hour * 3600LL + minute * 60LL + second) * 10000000LL + fraction;
}

Bytes ParseGuid(std::string_view text) {
  std::string hex;
  for (char c : text) {
    if (c == '{' || c == '}' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      throw WriteError("not a GUID: \"" + std::string(text) + "\"");
    }
    hex.push_back(c);
  }
  if (hex.size() != 32) throw WriteError("not a GUID: \"" + std::string(text) + "\"");
  std::uint8_t raw[16];
  for (int i = 0; i < 16; ++i) {
    raw[i] = static_cast<std::uint8_t>(std::stoi(hex.substr(i * 2, 2), nullptr, 16));
  }
  // The first three groups are stored little-endian, the last two as written.
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  Bytes out(16);
  for (int i = 0; i < 16; ++i) out[i] = raw[kOrder[i]];
  return out;
}

void Rc4(const std::uint8_t* key, std::size_t key_len, std::uint8_t* data, std::size_t len) {
  std::uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % key_len]) & 0xff;
    std::swap(s[i], s[j]);
  }
  int i = 0, j = 0;
  for (std::size_t k = 0; k < len; ++k) {
    i = (i + 1) & 0xff;
    j = (j + s[i]) & 0xff;
    std::swap(s[i], s[j]);
    data[k] ^= s[(s[i] + s[j]) & 0xff];
  }
}

}  // namespace accesswriter::internal

namespace accesswriter {

double ToOleDate(const DateTime& t) {
  // Days from civil (Howard Hinnant's algorithm), shifted so 1899-12-30 is day 0.
  int y = t.year - (t.month <= 2 ? 1 : 0);
  int era = (y >= 0 ? y : y - 399) / 400;
  unsigned yoe = static_cast<unsigned>(y - era * 400);
  unsigned doy = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  long days = static_cast<long>(era) * 146097 + static_cast<long>(doe) - 719468;  // 1970-01-01
  days += 25569;                                                                  // to 1899-12-30
  double frac = (t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0;
  // Before day 0 the fraction still counts forward from midnight, so it is added as magnitude.
  return days >= 0 ? days + frac : days - frac;
}

}  // namespace accesswriter
