// Calculated columns (Access 2010 and later). Their definition carries a flag, their
// ResultType property names the type of the values Access stores, their Expression property
// how it computes them; each stored value is wrapped: 16 header bytes, the value's length
// (32 bits), the value in the form of the result type, 3 more bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/libmdb_handle.h"

namespace ferrolyte {

// The extended flag bits of a calculated column's definition.
inline constexpr uint8_t kCalculatedColumnFlags = 0xC0;
// Header bytes before a wrapped value, and all bytes a wrapper adds.
inline constexpr size_t kCalculatedHeader = 20;
inline constexpr size_t kCalculatedOverhead = 23;

struct CalculatedColumn {
  int position = -1;    // in table->columns
  int result_type = 0;  // the libmdb column type of the stored values
  std::string expression;
  // Text results: the longest text the column holds, in characters.
  int32_t text_size = 255;
};

// The calculated columns of a table read through AccessFile::OpenTable on the file's own
// handle (clones carry no properties), found by the flag in its raw definition.
std::vector<CalculatedColumn> FindCalculatedColumns(const AccessFile::RawDefinition& raw,
                                                    MdbTableDef* table);
// The same for a table read through OpenTable on any handle of the file (a clone too). Only
// tables with an Expression property have their raw definition read (a clone per table
// made a dump of 2000 small tables 15% slower).
std::vector<CalculatedColumn> CalculatedColumnsOf(AccessFile& file, MdbTableDef* table);
// The entry for a column position, or null for an ordinary column.
const CalculatedColumn* CalculatedAt(const std::vector<CalculatedColumn>& columns, int position);

// The value inside a stored wrapper. False when the bytes are too few for the header; a
// length beyond the bytes there is cut to them.
bool UnwrapCalculatedValue(const uint8_t* data, size_t size, const uint8_t*& value,
                           size_t& value_size);

// The exact text of a calculated Decimal result: a 16-bit length, the scale, a sign byte and
// up to 16 magnitude bytes (a 32-bit word first when their count is not a multiple of 8, then
// 64-bit words, most significant first, each little-endian). False for a malformed value.
bool CalculatedDecimalText(const uint8_t* data, size_t size, std::string& text);

}  // namespace ferrolyte
