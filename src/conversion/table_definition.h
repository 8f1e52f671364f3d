// The PostgreSQL definition of one table of the schema description: CREATE TABLE with its
// columns and key clauses, the statements that follow the data (sequences, indexes), and the
// column lists and required flags the record transfer needs.
#pragma once

#include <optional>
#include <pugixml.hpp>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "conversion/destination_names.h"
#include "schema/schema_model.h"

namespace ferrolyte {

// The settings a definition depends on, read once per run.
struct DefinitionOptions {
  // The entries of `sourcetables`: table names and "table\column" paths.
  std::unordered_set<std::string> selection;
  bool transfer_autonumbers = true;
  bool transfer_default_values = true;
  bool transfer_indexes = true;
  std::string storage_engine;                              // lower case
  IdentifierCase identifier_case = IdentifierCase::kKeep;  // of every name the table gets

  bool IsColumnSelected(const std::string& table, const std::string& column) const {
    return selection.count(table + "\\" + column) != 0;
  }
};

struct TableDefinition {
  // "CREATE TABLE ... (" and the column definitions; still open: the run closes it.
  std::string create_text;
  // "[a], [b]" and "\"a\", \"b\"" of the listed columns; both empty when none is listed.
  std::string source_column_list;
  std::string destination_column_list;
  // One flag per defined column, in column order.
  std::vector<bool> required;
  // The last auto-number column, when auto numbers are transferred.
  std::string autonumber_column;
  // Sent after the table's data, in order.
  std::vector<std::string> sequence_statements;
  std::vector<std::string> index_statements;
  // The destination name of every column of the table (shortened where it is too long).
  std::unordered_map<std::string, std::string> destination_columns;
  // (source name, destination name) of each defined column whose name was shortened.
  std::vector<std::pair<std::string, std::string>> shortened_columns;
  // (source name, destination name) of each defined column whose folded name another
  // column of the table has.
  std::vector<std::pair<std::string, std::string>> renamed_columns;
  // The Type of each defined column, by source name; for a column of Type 0, the type code
  // its table definition stores.
  std::unordered_map<std::string, int32_t> column_types;
  // Per column whether it goes whole into bytea (a child table's files).
  std::vector<bool> bytea;
  // (source column name, Access default) of each default left out: an expression without
  // an exact PostgreSQL form for the column's type.
  std::vector<std::pair<std::string, std::string>> dropped_defaults;
  // (index name, name given) of each index whose usual name was taken in the schema.
  std::vector<std::pair<std::string, std::string>> renamed_indexes;
};

// PostgreSQL keeps only the first 63 bytes of a name. A name that fits is returned as it is;
// a longer one keeps a prefix cut at a character boundary and ends in "_" and eight hex
// digits of a hash of the whole name. With `taken` (the names given so far in the same
// scope) the result differs from each of them and is added to it.
std::string ShortenedName(const std::string& name,
                          std::unordered_set<std::string>* taken = nullptr);

// The column definitions of a table; raises the error of a defined column's Name or Type
// (91 when missing, 13 "Type mismatch" when not an integer).
TableDefinition BuildTableDefinition(const SchemaTable& table, const std::string& source_table,
                                     const std::string& destination_table,
                                     const DefinitionOptions& options);

// The PostgreSQL type a field gets in CREATE TABLE, without NOT NULL and DEFAULT ("SERIAL"
// for a transferred auto number). Raises the error of its Type.
std::string ColumnTypeText(const SchemaField& field, const DefinitionOptions& options);

// An Access date literal (#1/15/2020#, #1/15/2020 3:04:05 PM#, #10:30:00#; month first) as
// ISO text, the time alone when `time_only`; nothing when the text is no such literal.
std::optional<std::string> IsoFromDateLiteral(const std::string& text, bool time_only);

// The statement that moves a serial column's sequence past the loaded values.
std::string SequenceStatement(const std::string& destination_table, const std::string& column);

// Appends primary-key and unique clauses to the open table text and collects the CREATE
// INDEX statements; an index is written only when each of its columns is listed. `definition`
// is the table's own from BuildTableDefinition. With `schema_names` (the names of tables,
// indexes and sequences in the destination schema) an index whose name is taken gets a number
// ("T_I_1"), is listed in renamed_indexes, and its name is added. Raises 91 for an index column
// the table does not have, and the error of an index's Primary, Unique or Name, or of a
// column's Name.
void AddIndexDefinitions(const SchemaTable& table, const std::string& source_table,
                         const std::string& destination_table, const DefinitionOptions& options,
                         TableDefinition& definition,
                         std::unordered_set<std::string>* schema_names = nullptr);

// The names the server gives the objects it makes with the table: the sequence of each
// transferred auto number, the index of its primary key and of each unique constraint, as it
// names them when nothing has taken them yet (column names folded, not made distinct).
std::vector<std::string> ServerGeneratedNames(const SchemaTable& table,
                                              const std::string& destination_table,
                                              const DefinitionOptions& options);

}  // namespace ferrolyte
