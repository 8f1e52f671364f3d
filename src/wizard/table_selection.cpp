#include "wizard/table_selection.h"

#include "support/safe.h"

namespace ferrolyte {
namespace {

DictionaryPtr& Selected() {
  static DictionaryPtr paths = Dictionary::Create();
  return paths;
}

}  // namespace

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

std::vector<TableNodes> TablesOfSchema(const pugi::xml_document& schema) {
  std::vector<TableNodes> tables;
  for (const pugi::xpath_node& table : schema.select_nodes("/AccessDatabase/Tables/Table")) {
    TableNodes entry{table.node().child("Name").text().get(), {}};
    // Only the table's own fields: index fields live under Indexes.
    for (const pugi::xpath_node& field : table.node().select_nodes("Fields/Field")) {
      entry.fields.emplace_back(field.node().child("Name").text().get());
    }
    tables.push_back(std::move(entry));
  }
  return tables;
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

void CaptureSelection(const CheckTree& tree) {
  SetSelectedPaths(GetCheckedPaths(tree));
}

void RestoreSelection(CheckTree& tree) {
  const DictionaryPtr paths = SelectedPaths();
  if (paths->Count() == 0) {
    SetAllChecked(tree, true);
  } else {
    ApplySelection(tree, paths);
  }
}

DictionaryPtr SelectedPaths() {
  return Selected();
}

void SetSelectedPaths(DictionaryPtr paths) {
  Selected() = paths ? std::move(paths) : Dictionary::Create();
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
