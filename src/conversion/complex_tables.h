// Attachment and multi-value columns as child tables of their own (complexcolumns=TABLES):
// one row per file or value, with the owning row's primary key.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "conversion/table_definition.h"
#include "platform/ado.h"
#include "schema/schema_model.h"

namespace ferrolyte {

// Access types of attachment (101) and multi-value (102 to 109) columns.
bool IsComplexType(int32_t type);

// The fields of the table's primary key in key order; empty when it has none.
std::vector<const SchemaField*> PrimaryKeyFields(const SchemaTable& table);

// The table without the given columns (by name).
SchemaTable WithoutColumns(const SchemaTable& table, const std::vector<std::string>& columns);

struct ChildTable {
  TableDefinition definition;  // closed: ready to send
  std::string foreign_key;     // ALTER TABLE ... REFERENCES the owner, cascading
  std::string index;           // CREATE INDEX on the owner's key
  bool attachments = false;    // files (else values)
  SourceRows rows;             // the column's files or values with the owner's keys
};

// The child table of a complex column: the owner's key columns (named and typed as in the
// owner, not serial), then FileName, FileType and FileData (bytea) for an attachment, or
// Value for a multi-value column (spelt by options.identifier_case); its rows read as the
// source's rows of that column.
// `owner_source` is the owner's name where its rows are read; `owner_columns` maps the owner's
// source column names to their destination names. Raises the errors of the fields' names and types.
ChildTable ComplexChildTable(const SchemaTable& owner, const std::string& owner_source,
                             const SchemaField& column, const std::string& owner_destination,
                             const std::unordered_map<std::string, std::string>& owner_columns,
                             const std::string& child_destination,
                             const DefinitionOptions& options);

}  // namespace ferrolyte
