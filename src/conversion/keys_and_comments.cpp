#include "conversion/keys_and_comments.h"

#include "conversion/literals.h"
#include "conversion/table_definition.h"
#include "platform/dao.h"
#include "support/safe.h"

namespace ferrolyte {
namespace {

std::string Text(const pugi::xml_node& node, const char* child) {
  return node.child(child).text().as_string();
}

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

std::vector<ForeignKey> ForeignKeysOf(const pugi::xml_document& schema,
                                      const DefinedTables& tables) {
  auto find = [&](const std::string& name) -> const DefinedTable* {
    auto it = tables.find(name);
    return it == tables.end() ? nullptr : &it->second;
  };
  std::vector<ForeignKey> keys;
  for (pugi::xpath_node found : schema.select_nodes("*/Relations/Relation")) {
    const pugi::xml_node relation = found.node();
    ForeignKey key;
    key.name = Text(relation, "Name");
    key.foreign_table = Text(relation, "ForeignTable");
    key.table = Text(relation, "Table");
    const DefinedTable* table = find(key.table);
    const DefinedTable* foreign = find(key.foreign_table);
    if (!table && !foreign) continue;
    std::vector<std::pair<std::string, std::string>> pairs;
    std::vector<std::string> columns, foreign_columns;
    for (pugi::xml_node field : relation.child("Fields").children("Field")) {
      pairs.emplace_back(Text(field, "Name"), Text(field, "ForeignName"));
      columns.push_back(pairs.back().first);
      foreign_columns.push_back(pairs.back().second);
    }
    const auto attributes = static_cast<uint32_t>(SafeLng(Value(Text(relation, "Attributes"))));
    key.not_created =
        NotCreatedBecause(attributes, table, key.table, foreign, key.foreign_table, pairs);
    if (key.not_created.empty()) {
      key.statement = "ALTER TABLE " + QuoteIdentifier(foreign->destination_name) +
                      " ADD CONSTRAINT " + QuoteIdentifier(ShortenedName(key.name)) +
                      " FOREIGN KEY " + ColumnList(*foreign, foreign_columns) + " REFERENCES " +
                      QuoteIdentifier(table->destination_name) + " " + ColumnList(*table, columns);
      if (attributes & kDaoRelationUpdateCascade) key.statement += " ON UPDATE CASCADE";
      if (attributes & kDaoRelationDeleteCascade) key.statement += " ON DELETE CASCADE";
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

std::vector<Comment> CommentsOf(const pugi::xml_node& table, const DefinedTable& defined) {
  std::vector<Comment> comments;
  const std::string name = Text(table, "Name");
  const std::string quoted_table = QuoteIdentifier(defined.destination_name);
  if (std::string description = Text(table, "Description"); !description.empty())
    comments.push_back(
        {name, "COMMENT ON TABLE " + quoted_table + " IS " + SqlString(Value(description))});
  for (pugi::xml_node field : table.child("Fields").children("Field")) {
    auto column = defined.columns.find(Text(field, "Name"));
    if (column == defined.columns.end()) continue;
    std::string comment = Text(field, "Description");
    // The destination holds the values Access computed, not the computation.
    if (std::string expression = Text(field, "Expression"); !expression.empty())
      comment += (comment.empty() ? "" : "\n") + std::string("Calculated: ") + expression;
    if (comment.empty()) continue;
    comments.push_back({name + "\\" + column->first, "COMMENT ON COLUMN " + quoted_table + "." +
                                                         QuoteIdentifier(column->second) + " IS " +
                                                         SqlString(Value(comment))});
  }
  return comments;
}

}  // namespace ferrolyte
