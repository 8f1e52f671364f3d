// What `ferrolyte tables` shows: the tables of an Access file with their row and column
// counts, and each column's Access type beside the PostgreSQL type a conversion gives it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "schema/schema_model.h"
#include "support/components.h"

namespace ferrolyte {

struct ColumnListing {
  std::string name, access_type;
  std::string postgresql_type;  // empty for a table no conversion moves
};

struct TableListing {
  std::string name;
  std::string kind;             // "table", "linked" or "system"
  std::optional<int64_t> rows;  // unknown for a linked table or an unreadable one
  std::optional<int> columns;   // unknown for a linked table
  std::vector<ColumnListing> column_list;
};

// The Access name of a field type code ("Long Integer", "Text (50)" with its size),
// "AutoNumber" for an auto-number Long Integer and "Hyperlink" for a hyperlink Memo; type 0,
// which the engine does not know, by the code its table definition stores ("unknown type 70").
std::string AccessTypeName(int type, int32_t size, bool autonumber, bool hyperlink,
                           int stored_type);

// The tables of the scanned schema, the ones a conversion moves, with their columns; rows are
// left unknown.
std::vector<TableListing> ListSchemaTables(const SchemaModel& schema);

// Reads the file: the scanned tables and, with all, the linked and system tables too, in the
// engine's order; rows as the provider counts them (CountRows). Raises the engine's or
// the provider's error when the file cannot be opened.
std::vector<TableListing> ReadTableListing(const std::string& file, const std::string& password,
                                           bool all, const ComponentRegistry& components);

// Aligned text, one table a line (with columns, one indented line per column below it);
// with kinds, a Kind column too. Unknown counts show as "-".
std::string FormatTableListing(const std::vector<TableListing>& tables, bool columns, bool kinds);

// {"source": ..., "tables": [{"name", "kind", "rows", "column_count", "columns"?}]}; unknown
// counts are null; "columns" (name, access_type, postgresql_type) only with columns.
std::string TableListingJson(const std::string& source, const std::vector<TableListing>& tables,
                             bool columns);

}  // namespace ferrolyte
