#include "wizard/table_selection.h"

#include <algorithm>
#include <unordered_set>

#include "conversion/views.h"
#include "support/safe.h"
#include "wizard/settings.h"

namespace ferrolyte {

std::string TableNodeKey(const std::string& table) {
  return "TBL" + table;
}

std::string FieldNodeKey(const std::string& table, const std::string& field) {
  std::string key = "FLD" + table;
  key += '\0';
  return key + field;
}

std::string FieldNodePath(const std::string& table, const std::string& field) {
  return table + kPathSeparator + field;
}

namespace {

std::string NameOrEmpty(const Checked<std::string>& name) {
  return name.has_value() ? name.value() : std::string();
}

}  // namespace

std::vector<TableNodes> TablesOfSchema(const SchemaModel& schema) {
  std::vector<TableNodes> tables;
  for (const SchemaTable& table : schema.tables) {
    TableNodes entry{NameOrEmpty(table.name), {}};
    for (const SchemaField& field : table.fields) entry.fields.push_back(NameOrEmpty(field.name));
    tables.push_back(std::move(entry));
  }
  // Linked tables: their fields are known only once the run reads their back-end.
  for (const SchemaLink& link : schema.links) tables.push_back({link.name, {}});
  for (const SchemaQuery& query : schema.queries) tables.push_back({query.name, {}, true});
  return tables;
}

std::string NodePathOf(const TableNodes& node) {
  return node.query ? QueryEntry(node.name) : node.name;
}

std::vector<std::string> AllPaths(const std::vector<TableNodes>& tables) {
  std::vector<std::string> paths;
  for (const TableNodes& table : tables) {
    paths.push_back(NodePathOf(table));
    for (const std::string& field : table.fields) paths.push_back(FieldNodePath(table.name, field));
  }
  return paths;
}

Value ExpandAllTables(const Value& source_tables, const std::vector<TableNodes>& tables) {
  std::vector<std::string> entries;
  if (source_tables.IsText()) {
    entries.push_back(source_tables.Text());
  } else if (source_tables.IsList()) {
    for (const Value& item : source_tables.List()) entries.push_back(SafeStr(item));
  }
  if (std::find(entries.begin(), entries.end(), kAllTablesPath) == entries.end())
    return source_tables;
  std::vector<std::string> expanded;
  std::unordered_set<std::string> listed;
  auto add = [&](const std::string& path) {
    if (listed.insert(path).second) expanded.push_back(path);
  };
  for (const std::string& entry : entries) {
    if (entry != kAllTablesPath) {
      add(entry);
      continue;
    }
    for (const std::string& path : AllPaths(tables)) add(path);
  }
  return Value::TextList(expanded);
}

void ExpandAllTables(const DictionaryPtr& settings, const SchemaModel& schema) {
  const DictionaryPtr section = SettingsSection(settings);
  if (!section) return;
  const Value& current = section->Item("sourcetables");
  Value expanded = ExpandAllTables(current, TablesOfSchema(schema));
  if (!(expanded == current)) section->Set("sourcetables", std::move(expanded));
}

DictionaryPtr GetCheckedPaths(const CheckTree& tree) {
  DictionaryPtr paths = Dictionary::Create();
  for (int i = 0; i < tree.NodeCount(); ++i) {
    if (!tree.IsChecked(i)) continue;
    const std::string path = tree.NodePath(i);
    paths->Set(path, path);
  }
  return paths;
}

void SetAllChecked(CheckTree& tree, bool checked) {
  for (int i = 0; i < tree.NodeCount(); ++i) tree.SetChecked(i, checked);
}

void ApplySelection(CheckTree& tree, const DictionaryPtr& paths) {
  for (int i = 0; i < tree.NodeCount(); ++i) {
    tree.SetChecked(i, paths && paths->Exists(tree.NodePath(i)));
  }
}

void CarriedSelection::Capture(const CheckTree& tree) {
  set_paths(GetCheckedPaths(tree));
}

void CarriedSelection::Restore(CheckTree& tree) const {
  if (paths_->Count() == 0 || paths_->Exists(kAllTablesPath)) {
    SetAllChecked(tree, true);
  } else {
    ApplySelection(tree, paths_);
  }
}

void CarriedSelection::set_paths(DictionaryPtr paths) {
  paths_ = paths ? std::move(paths) : Dictionary::Create();
}

DictionaryPtr PathsOfList(const Value& source_tables) {
  DictionaryPtr paths = Dictionary::Create();
  if (!source_tables.IsList()) return paths;
  for (const Value& item : source_tables.List()) {
    const std::string path = SafeStr(item);
    paths->Set(path, path);
  }
  return paths;
}

}  // namespace ferrolyte
