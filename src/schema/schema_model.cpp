#include "schema/schema_model.h"

#include <cmath>
#include <optional>

#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

std::string Text(const pugi::xml_node& node, const char* child) {
  return node.child(child).text().as_string();
}

// The text of a child element; error 91 naming the element when it is missing.
Checked<std::string> RequiredChildText(const pugi::xml_node& node, const char* child) {
  pugi::xml_node c = node.child(child);
  if (!c)
    return Error(errc::kObjectNotSet, std::string("The schema description has no ") + child +
                                          " element in " + node.name() + " '" + Text(node, "Name") +
                                          "'");
  return std::string(c.text().as_string());
}

// Applies a strict conversion to a required text, keeping the first error on the way.
template <typename T>
Checked<T> Converted(const Checked<std::string>& text, T (*convert)(const std::string&)) {
  try {
    return convert(text.value());
  } catch (const Error& e) {
    return e;
  }
}

bool FlagOr(const std::string& text, bool fallback) {
  try {
    return DirectBool(text);
  } catch (const Error&) {
    return fallback;
  }
}

// The elements of `child` inside every group element: a hand-made document may split them.
template <typename F>
void ForEachGrouped(const pugi::xml_node& node, const char* group, const char* child, F each) {
  for (pugi::xml_node g : node.children(group))
    for (pugi::xml_node c : g.children(child)) each(c);
}

// The Attributes element's word with its BitN attributes: a hand-made document may give
// only the one or the other.
uint32_t AttributeWord(const pugi::xml_node& node) {
  const pugi::xml_node attributes = node.child("Attributes");
  auto word = static_cast<uint32_t>(SafeLng(Value(std::string(attributes.text().as_string()))));
  for (int bit = 1; bit <= 32; ++bit)
    if (attributes.attribute(("Bit" + std::to_string(bit)).c_str()))
      word |= uint32_t{1} << (bit - 1);
  return word;
}

SchemaIndex ReadIndex(const pugi::xml_node& node) {
  SchemaIndex index;
  index.name = RequiredChildText(node, "Name");
  index.primary = Converted(RequiredChildText(node, "Primary"), DirectBool);
  index.unique = Converted(RequiredChildText(node, "Unique"), DirectBool);
  index.ignore_nulls = FlagOr(Text(node, "IgnoreNulls"), false);
  index.foreign = FlagOr(Text(node, "Foreign"), true);
  ForEachGrouped(node, "Fields", "Field", [&](const pugi::xml_node& field) {
    index.fields.push_back(
        {RequiredChildText(field, "Name"), FlagOr(Text(field, "Descending"), false)});
  });
  return index;
}

SchemaRelation ReadRelation(const pugi::xml_node& node) {
  SchemaRelation relation;
  relation.name = Text(node, "Name");
  relation.table = Text(node, "Table");
  relation.foreign_table = Text(node, "ForeignTable");
  relation.attributes = AttributeWord(node);
  ForEachGrouped(node, "Fields", "Field", [&](const pugi::xml_node& field) {
    relation.fields.push_back({Text(field, "Name"), Text(field, "ForeignName")});
  });
  return relation;
}

}  // namespace

int32_t DirectLong(const std::string& text) {
  std::optional<double> n = ParseNumericText(text);
  if (!n || *n != std::trunc(*n) || *n < -2147483648.0 || *n > 2147483647.0)
    throw Error(errc::kTypeMismatch, "Type mismatch");
  return static_cast<int32_t>(*n);
}

bool DirectBool(const std::string& text) {
  std::string t = Trim(text);
  if (EqualsIgnoreCase(t, "true")) return true;
  if (EqualsIgnoreCase(t, "false")) return false;
  std::optional<double> n = ParseNumericText(t);
  if (!n) throw Error(errc::kTypeMismatch, "Type mismatch");
  return *n != 0;
}

SchemaField ReadSchemaField(const pugi::xml_node& node) {
  SchemaField field;
  field.name = RequiredChildText(node, "Name");
  field.type = Converted(RequiredChildText(node, "Type"), DirectLong);
  field.size = SafeLng(Value(Text(node, "Size")));
  field.scale = SafeLng(Value(Text(node, "Scale")));
  field.required = SafeBool(Value(Text(node, "Required")));
  field.attributes = AttributeWord(node);
  field.default_value = Text(node, "DefaultValue");
  field.expression = Text(node, "Expression");
  field.description = Text(node, "Description");
  field.validation_rule = Text(node, "ValidationRule");
  field.validation_text = Text(node, "ValidationText");
  field.allow_zero_length = FlagOr(Text(node, "AllowZeroLength"), true);
  field.stored_type = SafeLng(Value(Text(node, "StoredType")));
  return field;
}

SchemaTable ReadSchemaTable(const pugi::xml_node& node) {
  SchemaTable table;
  table.name = RequiredChildText(node, "Name");
  table.attributes = AttributeWord(node);
  table.description = Text(node, "Description");
  table.validation_rule = Text(node, "ValidationRule");
  table.validation_text = Text(node, "ValidationText");
  ForEachGrouped(node, "Fields", "Field",
                 [&](const pugi::xml_node& f) { table.fields.push_back(ReadSchemaField(f)); });
  ForEachGrouped(node, "Indexes", "Index",
                 [&](const pugi::xml_node& i) { table.indexes.push_back(ReadIndex(i)); });
  return table;
}

SchemaModel ReadSchemaText(const std::string& text) {
  pugi::xml_document document;
  // parse_eol would turn a table named with CR LF into one with LF, which the source lacks.
  if (!document.load_string(text.c_str(), pugi::parse_default & ~pugi::parse_eol)) return {};
  return ReadSchemaModel(document);
}

SchemaModel ReadSchemaModel(const pugi::xml_document& document) {
  SchemaModel model;
  for (pugi::xpath_node found : document.select_nodes("*/Tables/Table"))
    model.tables.push_back(ReadSchemaTable(found.node()));
  for (pugi::xpath_node found : document.select_nodes("*/Relations/Relation"))
    model.relations.push_back(ReadRelation(found.node()));
  for (pugi::xpath_node found : document.select_nodes("*/Queries/Query")) {
    const pugi::xml_node node = found.node();
    SchemaQuery query;
    query.name = Text(node, "Name");
    query.flags = static_cast<uint32_t>(SafeLng(Value(Text(node, "Flags"))));
    ForEachGrouped(node, "Rows", "Row", [&](const pugi::xml_node& row) {
      query.rows.push_back({SafeLng(Value(Text(row, "Attribute"))),
                            SafeLng(Value(Text(row, "Flag"))), Text(row, "Name1"),
                            Text(row, "Name2"), Text(row, "Expression")});
    });
    model.queries.push_back(std::move(query));
  }
  for (pugi::xpath_node found : document.select_nodes("*/LinkedTables/LinkedTable")) {
    const pugi::xml_node node = found.node();
    model.links.push_back(
        {Text(node, "Name"), Text(node, "SourceTableName"), Text(node, "Connect")});
  }
  if (pugi::xpath_node unreadable = document.select_node("*/Relations/Unreadable"))
    model.relations_unreadable = unreadable.node().text().get();
  if (pugi::xpath_node unreadable = document.select_node("*/Queries/Unreadable"))
    model.queries_unreadable = unreadable.node().text().get();
  return model;
}

}  // namespace ferrolyte
