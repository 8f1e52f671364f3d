// Rows in PostgreSQL's COPY text format, the form pg_dump writes: one line per row, fields
// separated by tabs, NULL as \N, backslash escapes for backslash and control characters.
//
// Each field is derived from the value's SQL literal (literals.h), so a value arrives the
// same whether it travels in an INSERT or in a COPY: the literal functions stay the one
// place that decides a value's text.
#pragma once

#include <string>
#include <string_view>

namespace ferrolyte {

// The line that ends the data of a COPY block in a script.
inline constexpr const char* kCopyEndOfData = "\\.";

// "COPY <quoted table> (<column list>) FROM stdin"; without the list when it is empty.
std::string CopyFromStdin(const std::string& quoted_table, const std::string& column_list);

// Appends the COPY field that makes the server store what the literal stores. The literal
// is one the literal functions write: NULL, E'...' (with PostgreSQL's escapes), '...', or
// an unquoted number. Raises error 5 for any other text.
void AppendCopyField(std::string& out, std::string_view literal);

}  // namespace ferrolyte
