// How names and values are written into PostgreSQL statements. Every function depends on its
// arguments alone and never on the process locale. The Append forms write into a buffer the
// caller reuses, for the record transfer's per-row work.
#pragma once

#include <string>

#include "conversion/column_kind.h"
#include "support/value.h"

namespace ferrolyte {

// The largest binary value that is copied; larger ones fail or are left out.
inline constexpr size_t kMaxBlobSize = 500000;

// The name between double quotes, each double quote inside doubled.
std::string QuoteIdentifier(const std::string& name);
void AppendQuotedIdentifier(std::string& out, const std::string& name);

// NULL, or E'...' with backslash, tab, LF, CR, quote, "?" and control characters escaped
// (character 0 becomes a space).
std::string SqlString(const Value& value);
void AppendSqlString(std::string& out, const Value& value);
// What a string column stores for a value that is no text: a float's shortest digits, so that
// every digit is kept, else the value's text.
std::string TextForStringColumn(const Value& value);

// NULL, or the number with "." as separator and no zero before it (".5"): doubles and singles
// as the shortest text that reads back as the same double or float ("1E+300" where that is
// shortest; 'NaN', 'Infinity' and '-0' quoted); every digit of integers and decimal texts.
std::string SqlNumber(const Value& value);
// The number of SqlNumber unquoted ("NaN", "-0" bare), for COPY; false (nothing written) for a
// value that is no number.
bool AppendNumberText(std::string& out, const Value& value);
void AppendSqlNumber(std::string& out, const Value& value);

// NULL, or 'yyyy-mm-dd hh:mm:ss' with ".fff" when the value, rounded to the nearest
// millisecond, has a fraction of a second; a value that is not a date counts as 1899-12-30
// 00:00:00. A Value::PreciseDate adds its microseconds (".ffffff", when not zero).
std::string SqlDateTime(const Value& value);
// The text between SqlDateTime's quotes; false (nothing written) for a null.
bool AppendDateTimeText(std::string& out, const Value& value);
void AppendSqlDateTime(std::string& out, const Value& value);

// E'HEX' of a byte array, E'' of an empty one; null, non-arrays and (with
// ignore_large_blobs) arrays over kMaxBlobSize give E'' for a required column and NULL
// otherwise. Raises 1003 for an oversize array when ignore_large_blobs is off.
std::string SqlBinary(const Value& value, bool ignore_large_blobs, bool required);
void AppendSqlBinary(std::string& out, const Value& value, bool ignore_large_blobs, bool required);

// NULL, or E'\\x' and the bytes in hexadecimal: a bytea literal of any size, an empty array
// included (an empty file is a file).
void AppendSqlBytea(std::string& out, const Value& value);

// The INSERT literal of a value of the column: the literal function of its kind (booleans as
// E'1' / E'0'). Raises what that function raises.
void AppendInsertLiteral(std::string& out, const ColumnSpec& column, const Value& value);

}  // namespace ferrolyte
