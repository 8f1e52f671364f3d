// Tolerant conversions that never fail, and the ordinary conversions they are built on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/value.h"

namespace ferrolyte {

// The value as text; "" for the empty value, null, lists, dictionaries and any failure.
std::string SafeStr(const Value& value);
// The value as a boolean; false on failure.
bool SafeBool(const Value& value);
// The value as a 32-bit signed integer (halves round to even); 0 on failure or overflow.
int32_t SafeLng(const Value& value);
// The value as an OLE date serial; 0 (1899-12-30 00:00:00) on failure.
double SafeDate(const Value& value);

// The ordinary conversion to text: booleans "True"/"False", numbers in invariant form,
// dates "yyyy-mm-dd[ hh:mm:ss]", bytes as UTF-16LE text. Raises 94 "Invalid use of Null"
// for null and 13 "Type mismatch" for lists and dictionaries.
std::string ConvertToText(const Value& value);
// Parses a whole numeric text: optional spaces, sign, digits with "." as decimal separator,
// optional exponent, or "&H"/"&O" prefixed hexadecimal/octal. Nothing when any other
// character is present.
std::optional<double> ParseNumericText(std::string_view text);
// A double with at most `digits` significant digits, locale-independent: no exponent between
// 1E-5 and 1E+digits, else "1E+20" / "1.5E-07" style; a zero before the period.
std::string FormatSignificant(double value, int digits);

}  // namespace ferrolyte
