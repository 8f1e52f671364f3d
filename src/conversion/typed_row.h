// A row as the source hands it to a destination, and its two renderings: the INSERT statement
// and the COPY text line. Each destination renders a row once, in the form it sends.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "conversion/column_kind.h"
#include "support/value.h"

namespace ferrolyte {

// A value per column, each with its column's spec. The values need only live for the call
// they are passed to.
struct TypedRow {
  std::span<const ColumnSpec> columns;
  std::span<const Value* const> values;
};

// "INSERT INTO <quoted table> (<column list>) VALUES (", without the list when it is empty.
std::string InsertPrefix(const std::string& quoted_table, const std::string& column_list);
// Appends the row's INSERT (the prefix, its literals, ")"), without ";".
void AppendInsertRow(std::string& out, std::string_view prefix, const TypedRow& row);
// Appends the row's COPY text line, without the line end.
void AppendCopyRow(std::string& out, const TypedRow& row);

}  // namespace ferrolyte
