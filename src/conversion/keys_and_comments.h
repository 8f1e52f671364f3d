// What the run sends after every table has its rows and indexes: the foreign keys of the
// relationships between selected tables, and the comments that carry the descriptions.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "conversion/destination_names.h"
#include "schema/schema_model.h"

namespace ferrolyte {

// A selected table as the run defined it at the destination.
struct DefinedTable {
  std::string destination_name;  // prefix and shortening applied
  // Source name -> destination name of each column the table was defined with.
  std::unordered_map<std::string, std::string> columns;
  bool created = true;  // false when the server refused its CREATE TABLE
  // Source name -> Access default of each column whose default was left out.
  std::unordered_map<std::string, std::string> dropped_defaults;
};

// Defined tables by source name.
using DefinedTables = std::unordered_map<std::string, DefinedTable>;

// One relationship of the schema description that touches a defined table.
struct ForeignKey {
  std::string name;           // the relationship's name in Access
  std::string foreign_table;  // the referencing table's source name
  std::string table;          // the referenced table's source name
  // The constraint's name, and the one it would have had if no other key of its table had
  // taken it; both empty without a statement.
  std::string constraint, wanted;
  // ALTER TABLE ... ADD CONSTRAINT ... FOREIGN KEY ... REFERENCES ...; empty when the
  // relationship does not become a foreign key, and then `not_created` says why.
  std::string statement;
  std::string not_created;
};

// The relationships of the schema description in document order, each with its
// statement or the reason it has none: integrity not enforced in Access, a table or column
// not selected, a table the server refused. Relationships between tables that are both
// unselected are left out. Constraints are named by `names`, numbered where two meet.
std::vector<ForeignKey> ForeignKeysOf(const std::vector<SchemaRelation>& relations,
                                      const DefinedTables& tables,
                                      IdentifierCase names = IdentifierCase::kKeep);

struct Comment {
  std::string on;  // "table" or "table\column", source names
  std::string statement;
};

// COMMENT ON TABLE and COMMENT ON COLUMN for the table's description and those of its
// defined columns, in column order; a calculated column's comment also gives its expression.
// The table was defined, so its name and those of its columns read.
std::vector<Comment> CommentsOf(const SchemaTable& table, const DefinedTable& defined);

}  // namespace ferrolyte
