// Text encodings and small string helpers. Texts inside the system are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ferrolyte {

// Decodes UTF-16 little-endian bytes; surrogate pairs become one character, an unpaired
// surrogate becomes U+FFFD. An odd last byte is ignored.
std::string Utf16LeToUtf8(const uint8_t* data, size_t size);
// Encodes UTF-8 text as UTF-16 little-endian bytes (invalid sequences become U+FFFD).
std::vector<uint8_t> Utf8ToUtf16Le(std::string_view text);
// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, char32_t code_point);
// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);
// Decodes Windows-1252 bytes (the code page of settings files written on Windows).
std::string Windows1252ToUtf8(std::string_view bytes);

// ASCII-only case changes: locale-independent, leave every other byte alone.
std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);
// Compares two texts without regard to ASCII letter case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// True when text ends with suffix, ignoring ASCII letter case.
bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix);
// Replaces every occurrence of from (not empty) by to, left to right.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
// Removes leading and trailing spaces and tabs.
std::string Trim(std::string_view text);
// Removes leading and trailing spaces only; tabs stay part of the text.
std::string TrimSpaces(std::string_view text);
// Splits at every occurrence of separator (not empty); always yields at least one part.
std::vector<std::string> Split(std::string_view text, std::string_view separator);
// Joins the parts with the separator between them.
std::string Join(const std::vector<std::string>& parts, std::string_view separator);

// The upper-case hexadecimal digit of the low four bits of v.
constexpr char HexDigit(unsigned v) {
  return "0123456789ABCDEF"[v & 15];
}
// The value of a hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char c);

// The text on one line: CR, LF and tab as \r, \n and \t, other control characters as \xHH.
// For names in listings and reports, which Access lets hold line breaks.
std::string PrintableText(std::string_view text);

}  // namespace ferrolyte
