#include "conversion/complex_tables.h"

#include <algorithm>
#include <unordered_set>

#include "conversion/literals.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

constexpr int32_t kAttachment = errc::kAttachment.number;

// The PostgreSQL type of one value of a multi-value column.
std::string ValueType(int32_t type) {
  switch (type) {
    case 102:
    case 103:
      return "SMALLINT";
    case 104:
      return "INTEGER";
    case 105:
      return "REAL";
    case 106:
      return "DOUBLE PRECISION";
    case 107:
      return "VARCHAR(38)";
    case 108:
      return "NUMERIC";
    default:
      return "TEXT";
  }
}

}  // namespace

bool IsComplexType(int32_t type) {
  return type >= 101 && type <= 109;
}

std::vector<const SchemaField*> PrimaryKeyFields(const SchemaTable& table) {
  std::vector<const SchemaField*> fields;
  for (const SchemaIndex& index : table.indexes) {
    if (!index.primary.has_value() || !index.primary.value()) continue;
    for (const SchemaIndexField& key : index.fields) {
      if (!key.name.has_value()) return {};
      auto field =
          std::find_if(table.fields.begin(), table.fields.end(), [&](const SchemaField& f) {
            return f.name.has_value() && f.name.value() == key.name.value();
          });
      if (field == table.fields.end()) return {};
      fields.push_back(&*field);
    }
    return fields;
  }
  return fields;
}

SchemaTable WithoutColumns(const SchemaTable& table, const std::vector<std::string>& columns) {
  SchemaTable shaped = table;
  std::erase_if(shaped.fields, [&](const SchemaField& f) {
    return f.name.has_value() &&
           std::find(columns.begin(), columns.end(), f.name.value()) != columns.end();
  });
  return shaped;
}

ChildTable ComplexChildTable(const SchemaTable& owner, const std::string& owner_source,
                             const SchemaField& column, const std::string& owner_destination,
                             const std::unordered_map<std::string, std::string>& owner_columns,
                             const std::string& child_destination,
                             const DefinitionOptions& options) {
  ChildTable child;
  child.attachments = column.type.value() == kAttachment;
  TableDefinition& def = child.definition;
  const std::string quoted = QuoteIdentifier(child_destination);
  def.create_text = "CREATE TABLE " + quoted + " (";
  std::unordered_set<std::string> taken;
  std::string keys, destination;
  child.rows.table = owner_source;
  child.rows.complex_column = column.name.value();
  auto add = [&](const std::string& name, const std::string& type, const SourceColumn& from,
                 bool required, bool bytea, int32_t access_type) {
    const std::string wanted = FoldIdentifier(name, options.identifier_case);
    std::string unique = wanted;
    for (int n = 2; !taken.insert(AsciiLower(unique)).second; ++n)
      unique = wanted + "_" + std::to_string(n);
    def.create_text += std::string(def.required.empty() ? "" : ", ") + "\r\n  " +
                       QuoteIdentifier(unique) + " " + type + (required ? " NOT NULL" : "");
    child.rows.columns.push_back(from);
    destination += (destination.empty() ? "" : ", ") + QuoteIdentifier(unique);
    def.required.push_back(required);
    def.bytea.push_back(bytea);
    def.destination_columns[unique] = unique;
    def.column_types[unique] = access_type;
    return unique;
  };
  for (const SchemaField* key : PrimaryKeyFields(owner)) {
    const std::string& name = key->name.value();
    std::string type = ColumnTypeText(*key, options);
    if (type == "SERIAL") type = "INTEGER";
    const std::string at =
        add(owner_columns.at(name), type, {name, false}, true, false, key->type.value());
    keys += (keys.empty() ? "" : ", ") + QuoteIdentifier(at);
  }
  auto value = [](const char* part) { return SourceColumn{part, true}; };
  if (child.attachments) {
    add("FileName", "VARCHAR(255)", value("FileName"), true, false, 10);
    add("FileType", "VARCHAR(255)", value("FileType"), false, false, 10);
    add("FileData", "BYTEA", value("FileData"), false, true, 11);
  } else {
    add("Value", ValueType(column.type.value()), value("Value"), false, false, column.type.value());
  }
  def.create_text += "\r\n)";
  def.destination_column_list = destination;
  const std::string owner_keys = [&] {
    std::string list;
    for (const SchemaField* key : PrimaryKeyFields(owner))
      list += (list.empty() ? "" : ", ") + QuoteIdentifier(owner_columns.at(key->name.value()));
    return list;
  }();
  child.index = "CREATE INDEX " + QuoteIdentifier(ShortenedName(child_destination + "_owner")) +
                " ON " + quoted + " (" + keys + ")";
  child.foreign_key = "ALTER TABLE " + quoted + " ADD CONSTRAINT " +
                      QuoteIdentifier(ShortenedName(child_destination + "_owner_fkey")) +
                      " FOREIGN KEY (" + keys + ") REFERENCES " +
                      QuoteIdentifier(owner_destination) + " (" + owner_keys +
                      ") ON UPDATE CASCADE ON DELETE CASCADE";
  return child;
}

}  // namespace ferrolyte
