// Rows in PostgreSQL's binary COPY format, rendered straight from the typed values for the
// server columns they go to. A value goes in binary only when the server then stores exactly
// what the COPY text line (copy_text.h) would make it store; for anything else the encoder
// says no, and the rows go as text.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "conversion/column_kind.h"
#include "conversion/typed_row.h"

namespace ferrolyte {

// What opens and what ends the data of a binary COPY: signature, no flags, no extension;
// a field count of -1.
inline constexpr std::string_view kBinaryCopyHeader{"PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0", 19};
inline constexpr std::string_view kBinaryCopyTrailer{"\377\377", 2};

// How the values of a column are written for the server column's type.
enum class BinaryField {
  kNone,  // no exact binary form: the table goes as text
  kText,
  kUuid,
  kBool,
  kInt2,
  kInt4,
  kInt8,
  kFloat4,
  kFloat8,
  kNumeric,
  kDate,
  kTime,
  kTimestamp,
  kBytea,
};

// The encoding of the column's values into a server column of the type (its oid); kNone for
// the pairs without one (money and timestamptz, whose text depends on session settings, too).
BinaryField BinaryFieldFor(const ColumnSpec& column, uint32_t server_type);

// Appends the row as one binary COPY tuple, each field as the field kinds say. False, with
// `out` as it was, when a value has no exact binary form; raises what AppendCopyRow raises,
// with `out` as it was.
bool AppendBinaryRow(std::string& out, std::span<const BinaryField> fields, const TypedRow& row);

// Appends the value of binary numeric for the number text as numeric input reads it
// ("-12.3400", ".5", "1E+20", "NaN"): false, nothing written, for any other text and for the
// infinities, which not every server's numeric holds.
bool AppendBinaryNumeric(std::string& out, std::string_view text);

}  // namespace ferrolyte
