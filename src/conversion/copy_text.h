// Rows in PostgreSQL's COPY text format, the form pg_dump writes: one line per row, fields
// separated by tabs, NULL as \N, backslash escapes for backslash and control characters.
//
// Each field is rendered from the typed value, making the server store what the value's INSERT
// literal (literals.h) stores: numbers and dates share the literal functions' text.
#pragma once

#include <string>
#include <string_view>

#include "conversion/column_kind.h"
#include "support/value.h"

namespace ferrolyte {

// The line that ends the data of a COPY block in a script.
inline constexpr const char* kCopyEndOfData = "\\.";

// "COPY <quoted table> (<column list>) FROM stdin"; without the list when it is empty.
std::string CopyFromStdin(const std::string& quoted_table, const std::string& column_list);

// Appends the COPY field of a value of the column: what AppendInsertLiteral's literal stores.
// Raises what that raises (1003 for an oversize binary, a damaged date).
void AppendCopyValue(std::string& out, const ColumnSpec& column, const Value& value);

}  // namespace ferrolyte
