#include "conversion/keys_and_comments.h"

#include <unordered_set>

#include "conversion/literals.h"
#include "conversion/table_definition.h"
#include "platform/dao.h"
#include "support/value.h"

namespace ferrolyte {
namespace {

// Why the relationship cannot become a foreign key; empty when it can.
std::string NotCreatedBecause(uint32_t attributes, const DefinedTable* table,
                              const std::string& table_name, const DefinedTable* foreign,
                              const std::string& foreign_name,
                              const std::vector<std::pair<std::string, std::string>>& pairs) {
  if (attributes & kDaoRelationDontEnforce)
    return "Access does not enforce its referential integrity";
  if (pairs.empty()) return "it names no columns";
  for (const auto& [defined, name] : {std::pair{table, table_name}, {foreign, foreign_name}})
    if (!defined) return "the table '" + name + "' is not selected";
  for (const auto& [column, foreign_column] : pairs) {
    if (!table->columns.count(column))
      return "the column '" + table_name + "\\" + column + "' is not selected";
    if (!foreign->columns.count(foreign_column))
      return "the column '" + foreign_name + "\\" + foreign_column + "' is not selected";
  }
  for (const auto& [defined, name] : {std::pair{table, table_name}, {foreign, foreign_name}})
    if (!defined->created) return "the table '" + name + "' was not created";
  return "";
}

std::string ColumnList(const DefinedTable& table, const std::vector<std::string>& columns) {
  std::string list;
  for (const std::string& column : columns)
    list += (list.empty() ? "" : ", ") + QuoteIdentifier(table.columns.at(column));
  return "(" + list + ")";
}

}  // namespace

std::vector<ForeignKey> ForeignKeysOf(const std::vector<SchemaRelation>& relations,
                                      const DefinedTables& tables, IdentifierCase names) {
  // A key's name is its table's: two that fold alike on one table are numbered.
  std::unordered_map<std::string, std::unordered_set<std::string>> taken;
  auto find = [&](const std::string& name) -> const DefinedTable* {
    auto it = tables.find(name);
    return it == tables.end() ? nullptr : &it->second;
  };
  std::vector<ForeignKey> keys;
  for (const SchemaRelation& relation : relations) {
    ForeignKey key;
    key.name = relation.name;
    key.foreign_table = relation.foreign_table;
    key.table = relation.table;
    const DefinedTable* table = find(key.table);
    const DefinedTable* foreign = find(key.foreign_table);
    if (!table && !foreign) continue;
    std::vector<std::pair<std::string, std::string>> pairs;
    std::vector<std::string> columns, foreign_columns;
    for (const SchemaRelationField& field : relation.fields) {
      pairs.emplace_back(field.name, field.foreign_name);
      columns.push_back(field.name);
      foreign_columns.push_back(field.foreign_name);
    }
    const uint32_t attributes = relation.attributes;
    key.not_created =
        NotCreatedBecause(attributes, table, key.table, foreign, key.foreign_table, pairs);
    if (key.not_created.empty()) {
      key.wanted = ShortenedName(FoldIdentifier(key.name, names));
      key.constraint = NumberedName(key.wanted, taken[foreign->destination_name]);
      key.statement = "ALTER TABLE " + QuoteIdentifier(foreign->destination_name) +
                      " ADD CONSTRAINT " + QuoteIdentifier(key.constraint) + " FOREIGN KEY " +
                      ColumnList(*foreign, foreign_columns) + " REFERENCES " +
                      QuoteIdentifier(table->destination_name) + " " + ColumnList(*table, columns);
      if (attributes & kDaoRelationUpdateCascade) key.statement += " ON UPDATE CASCADE";
      if (attributes & kDaoRelationDeleteCascade) key.statement += " ON DELETE CASCADE";
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

std::vector<Comment> CommentsOf(const SchemaTable& table, const DefinedTable& defined) {
  std::vector<Comment> comments;
  const std::string& name = table.name.value();
  const std::string quoted_table = QuoteIdentifier(defined.destination_name);
  if (!table.description.empty())
    comments.push_back(
        {name, "COMMENT ON TABLE " + quoted_table + " IS " + SqlString(Value(table.description))});
  for (const SchemaField& field : table.fields) {
    auto column = defined.columns.find(field.name.value());
    if (column == defined.columns.end()) continue;
    std::string comment = field.description;
    // The destination holds the values Access computed, not the computation.
    if (!field.expression.empty())
      comment += (comment.empty() ? "" : "\n") + std::string("Calculated: ") + field.expression;
    // Nor the default it could not carry over.
    auto dropped = defined.dropped_defaults.find(field.name.value());
    if (dropped != defined.dropped_defaults.end())
      comment += (comment.empty() ? "" : "\n") + std::string("Access default: ") + dropped->second;
    if (comment.empty()) continue;
    comments.push_back({name + "\\" + column->first, "COMMENT ON COLUMN " + quoted_table + "." +
                                                         QuoteIdentifier(column->second) + " IS " +
                                                         SqlString(Value(comment))});
  }
  return comments;
}

}  // namespace ferrolyte
