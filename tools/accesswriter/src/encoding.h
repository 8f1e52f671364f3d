// Byte-level helpers shared by the writer: little-endian packing, text and number encoding.
#ifndef FERROLYTE_TOOLS_ACCESSWRITER_ENCODING_H_
#define FERROLYTE_TOOLS_ACCESSWRITER_ENCODING_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "accesswriter/writer.h"

namespace accesswriter::internal {

using Bytes = std::vector<std::uint8_t>;

inline void Put8(Bytes& b, std::uint8_t v) {
  b.push_back(v);
}
inline void Put16(Bytes& b, std::uint16_t v) {
  b.push_back(v & 0xff);
  b.push_back(v >> 8);
}
inline void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xff);
}
inline void Put64(Bytes& b, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back((v >> (8 * i)) & 0xff);
}
inline void Set16(std::uint8_t* p, std::uint16_t v) {
  p[0] = v & 0xff;
  p[1] = v >> 8;
}
inline void Set32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xff;
}
void PutDouble(Bytes& b, double v);

// Decodes UTF-8 into UTF-16 code units; throws WriteError on malformed input.
std::u16string Utf8ToUtf16(std::string_view utf8);

// UTF-16LE bytes of `text`.
Bytes Utf16Le(const std::u16string& text);

// Stored form of a text value: Jet 4 compressed (0xFF 0xFE + one byte per character) when
// every character fits in one byte and that is shorter, else plain UTF-16LE.
Bytes EncodeText(const std::u16string& text, bool allow_compression);

// Parses "-123.4500" into an unscaled integer at `scale` digits; throws WriteError when the
// text is not a number, has more fraction digits than `scale`, or exceeds `max_digits`.
struct ScaledDecimal {
  bool negative = false;
  unsigned __int128 magnitude = 0;
};
ScaledDecimal ParseDecimal(std::string_view text, int scale, int max_digits);

// Parses "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.fff]]" (or with 'T') into calendar fields, or
// straight into an OLE date.
DateTime ParseDateFields(std::string_view text);
double ParseDateText(std::string_view text);

// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(int year, int month, int day);

// Parses "YYYY-MM-DD[( |T)HH:MM[:SS[.fffffff]]]" (up to 7 fraction digits, years 0001..9999)
// into days since 0001-01-01 and 100 ns ticks into the day; throws WriteError otherwise.
void ParseExtendedDateText(std::string_view text, std::int64_t& days, std::int64_t& ticks);

// Parses a GUID with or without braces into its 16 stored bytes (mixed-endian).
Bytes ParseGuid(std::string_view text);

// RC4 keystream applied in place.
void Rc4(const std::uint8_t* key, std::size_t key_len, std::uint8_t* data, std::size_t len);

}  // namespace accesswriter::internal

#endif  // FERROLYTE_TOOLS_ACCESSWRITER_ENCODING_H_
