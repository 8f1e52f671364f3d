#include "conversion/typed_row.h"

#include "conversion/copy_text.h"
#include "conversion/literals.h"

namespace ferrolyte {

std::string InsertPrefix(const std::string& quoted_table, const std::string& column_list) {
  std::string prefix = "INSERT INTO " + quoted_table;
  // A table selected without column entries has no list: "()" would fail every row.
  if (!column_list.empty()) prefix += " (" + column_list + ")";
  prefix += " VALUES (";
  return prefix;
}

void AppendInsertRow(std::string& out, std::string_view prefix, const TypedRow& row) {
  out += prefix;
  for (size_t i = 0; i < row.values.size(); ++i) {
    if (i) out += ", ";
    AppendInsertLiteral(out, row.columns[i], *row.values[i]);
  }
  out += ')';
}

void AppendCopyRow(std::string& out, const TypedRow& row) {
  for (size_t i = 0; i < row.values.size(); ++i) {
    if (i) out += '\t';
    AppendCopyValue(out, row.columns[i], *row.values[i]);
  }
}

}  // namespace ferrolyte
