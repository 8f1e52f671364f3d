#include "schema/schema_document.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "schema/query_model.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

const char* Flag(bool value) {
  return value ? "1" : "0";
}

void AppendIndexes(pugi::xml_node table_node, const SchemaTable& table) {
  pugi::xml_node indexes_node = table_node.append_child("Indexes");
  for (const SchemaIndex& index : table.indexes) {
    pugi::xml_node node = indexes_node.append_child("Index");
    AppendTextElement(node, "Name", index.name.value());
    AppendTextElement(node, "Primary", Flag(index.primary.value()));
    AppendTextElement(node, "Unique", Flag(index.unique.value()));
    AppendTextElement(node, "IgnoreNulls", Flag(index.ignore_nulls));
    AppendTextElement(node, "Foreign", Flag(index.foreign));
    pugi::xml_node fields = node.append_child("Fields");
    for (const SchemaIndexField& column : index.fields) {
      pugi::xml_node field = fields.append_child("Field");
      AppendTextElement(field, "Name", column.name.value());
      AppendTextElement(field, "Descending", Flag(column.descending));
    }
  }
}

void AppendFields(pugi::xml_node table_node, const SchemaTable& table) {
  pugi::xml_node fields_node = table_node.append_child("Fields");
  for (const SchemaField& field : table.fields) {
    pugi::xml_node node = fields_node.append_child("Field");
    AppendTextElement(node, "Name", field.name.value());
    AppendTextElement(node, "Required", Flag(field.required));
    AppendTextElement(node, "DefaultValue", field.default_value);
    AppendTextElement(node, "Size", std::to_string(field.size));
    AppendTextElement(node, "Scale", std::to_string(field.scale));
    AppendTextElement(node, "Type", std::to_string(field.type.value()));
    AppendAttributesElement(node, field.attributes);
    // After the elements every reader expects: the values of a calculated column are copied
    // as they are stored; its expression stays on record.
    AppendTextElement(node, "Expression", field.expression);
    AppendTextElement(node, "Description", field.description);
    AppendTextElement(node, "ValidationRule", field.validation_rule);
    AppendTextElement(node, "ValidationText", field.validation_text);
    AppendTextElement(node, "AllowZeroLength", Flag(field.allow_zero_length));
    if (field.type.value() == 0)
      AppendTextElement(node, "StoredType", std::to_string(field.stored_type));
  }
}

void AppendRelations(pugi::xml_node root, const SchemaModel& model) {
  pugi::xml_node relations_node = root.append_child("Relations");
  if (!model.relations_unreadable.empty())
    AppendTextElement(relations_node, "Unreadable", model.relations_unreadable);
  for (const SchemaRelation& relation : model.relations) {
    pugi::xml_node node = relations_node.append_child("Relation");
    AppendTextElement(node, "Name", relation.name);
    AppendTextElement(node, "Table", relation.table);
    AppendTextElement(node, "ForeignTable", relation.foreign_table);
    AppendAttributesElement(node, relation.attributes);
    pugi::xml_node fields = node.append_child("Fields");
    for (const SchemaRelationField& pair : relation.fields) {
      pugi::xml_node field = fields.append_child("Field");
      AppendTextElement(field, "Name", pair.name);
      AppendTextElement(field, "ForeignName", pair.foreign_name);
    }
  }
}

// Each query with its rows as Access keeps them, and for the reader the SQL they make.
void AppendQueries(pugi::xml_node root, const SchemaModel& model) {
  pugi::xml_node queries_node = root.append_child("Queries");
  if (!model.queries_unreadable.empty())
    AppendTextElement(queries_node, "Unreadable", model.queries_unreadable);
  for (const SchemaQuery& query : model.queries) {
    pugi::xml_node node = queries_node.append_child("Query");
    AppendTextElement(node, "Name", query.name);
    AppendTextElement(node, "Flags", std::to_string(query.flags));
    pugi::xml_node rows = node.append_child("Rows");
    for (const SchemaQueryRow& r : query.rows) {
      pugi::xml_node row = rows.append_child("Row");
      AppendTextElement(row, "Attribute", std::to_string(r.attribute));
      AppendTextElement(row, "Flag", std::to_string(r.flag));
      AppendTextElement(row, "Name1", r.name1);
      AppendTextElement(row, "Name2", r.name2);
      AppendTextElement(row, "Expression", r.expression);
    }
    AppendTextElement(node, "SQL", AccessSql(ReadQueryModel(query)));
  }
}

}  // namespace

void WriteSchemaDocument(const SchemaModel& model, pugi::xml_document& document) {
  pugi::xml_node root = document.append_child("AccessDatabase");
  pugi::xml_node tables_node = root.append_child("Tables");
  for (const SchemaTable& table : model.tables) {
    pugi::xml_node node = tables_node.append_child("Table");
    AppendTextElement(node, "Name", table.name.value());
    AppendAttributesElement(node, table.attributes);
    AppendIndexes(node, table);
    AppendFields(node, table);
    AppendTextElement(node, "Description", table.description);
    AppendTextElement(node, "ValidationRule", table.validation_rule);
    AppendTextElement(node, "ValidationText", table.validation_text);
  }
  AppendRelations(root, model);
  AppendQueries(root, model);
  pugi::xml_node links_node = root.append_child("LinkedTables");
  for (const SchemaLink& link : model.links) {
    pugi::xml_node node = links_node.append_child("LinkedTable");
    AppendTextElement(node, "Name", link.name);
    AppendTextElement(node, "SourceTableName", link.source_table);
    AppendTextElement(node, "Connect", link.connect);
  }
}

pugi::xml_node AppendTextElement(pugi::xml_node parent, const char* name, const std::string& text) {
  pugi::xml_node node = parent.append_child(name);
  if (!text.empty()) node.text().set(text.c_str());
  return node;
}

pugi::xml_node AppendAttributesElement(pugi::xml_node parent, uint32_t word) {
  pugi::xml_node node =
      AppendTextElement(parent, "Attributes", std::to_string(static_cast<int32_t>(word)));
  for (int bit = 1; bit <= 32; ++bit)
    if (word & (uint32_t{1} << (bit - 1)))
      node.append_attribute(("Bit" + std::to_string(bit)).c_str()).set_value("1");
  return node;
}

std::string NormaliseBooleanDefault(const std::string& engine_text) {
  // "=True" and " Yes " are what Access holds when the user typed them so.
  std::string upper = AsciiUpper(Trim(engine_text));
  if (!upper.empty() && upper[0] == '=') upper = Trim(upper.substr(1));
  if (upper == "TRUE" || upper == "YES" || upper == "1" || upper == "-1") return "1";
  if (upper == "FALSE" || upper == "NO" || upper == "0") return "0";
  if (upper.empty()) return "";
  if (upper == "NULL") return "NULL";
  return SafeBool(Value(engine_text)) ? "1" : "0";
}

std::string SchemaXmlText(const pugi::xml_document& document) {
  std::ostringstream out;
  document.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return out.str();
}

std::string SchemaFilePath(const std::string& folder) {
  return StripTrailingSeparators(folder) + "/access.xml";
}

void SaveSchemaFile(const SchemaModel& model, const std::string& folder) {
  pugi::xml_document document;
  WriteSchemaDocument(model, document);
  const std::string path = SchemaFilePath(folder);
  // Only this program writes into the folder, so the name can be freed and made anew.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    throw Error(errc::kFileAccess,
                "Path/File access error: " + path + " (" + std::strerror(errno) + ")");
  const std::string text = SchemaXmlText(document);
  CreatePrivateFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace ferrolyte
