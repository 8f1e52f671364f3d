// The table and field selection: node keys and paths of the table tree, the tables of a
// schema description, and the selection carried from one scan to the next.
#pragma once

#include <string>
#include <vector>

#include "schema/schema_model.h"
#include "support/value.h"

namespace ferrolyte {

// Joins table and field in a node path.
inline constexpr char kPathSeparator = '\\';

// "TBL" + table name.
std::string TableNodeKey(const std::string& table);
// "FLD" + table name + NUL + field name: the NUL keeps table AB/field C apart from A/BC.
std::string FieldNodeKey(const std::string& table, const std::string& field);
// Table name + "\" + field name.
std::string FieldNodePath(const std::string& table, const std::string& field);

// A table of the schema description with its own fields, in document order; or a saved
// query (no fields), which the tree shows in a group of its own.
struct TableNodes {
  std::string name;
  std::vector<std::string> fields;
  bool query = false;
};
// The schema's tables with their fields, by name (a name that could not be read: empty), then
// the linked tables (without fields) and the saved queries.
std::vector<TableNodes> TablesOfSchema(const SchemaModel& schema);
// The node path of a table (its name) or of a query ("Queries!" + its name).
std::string NodePathOf(const TableNodes& node);

// The `sourcetables` entry that selects every table with all its fields.
inline constexpr char kAllTablesPath[] = "*";

// Every table's path followed by its fields' paths, in tree order.
std::vector<std::string> AllPaths(const std::vector<TableNodes>& tables);
// The `sourcetables` value (a list or a single text) with its "*" entries replaced by
// AllPaths, each path listed once; a value without "*" comes back unchanged.
Value ExpandAllTables(const Value& source_tables, const std::vector<TableNodes>& tables);
// The same on the settings' `sourcetables`, against the scanned schema.
void ExpandAllTables(const DictionaryPtr& settings, const SchemaModel& schema);

// The nodes of a check tree in the tree's node order (a table, its fields, the next table).
class CheckTree {
 public:
  virtual ~CheckTree() = default;
  virtual int NodeCount() const = 0;
  virtual std::string NodePath(int node) const = 0;
  virtual bool IsChecked(int node) const = 0;
  virtual void SetChecked(int node, bool checked) = 0;
};

// Every checked node's path, as key and as item, in node order.
DictionaryPtr GetCheckedPaths(const CheckTree& tree);
void SetAllChecked(CheckTree& tree, bool checked);
// Checks exactly the nodes whose path the dictionary holds as a key.
void ApplySelection(CheckTree& tree, const DictionaryPtr& paths);

// The selection carried from one scan to the next: the marks of the old tree, or a selection
// loaded from settings. The window holds one.
class CarriedSelection {
 public:
  // paths() becomes GetCheckedPaths(tree).
  void Capture(const CheckTree& tree);
  // After a scan: everything checked when paths() is empty or holds "*", else ApplySelection.
  void Restore(CheckTree& tree) const;
  // The paths to check after the next scan (each item equals its key); empty: check all.
  const DictionaryPtr& paths() const { return paths_; }
  // Null empties it.
  void set_paths(DictionaryPtr paths);

 private:
  DictionaryPtr paths_ = Dictionary::Create();
};

// The paths of a `sourcetables` value; anything but a list gives an empty dictionary.
DictionaryPtr PathsOfList(const Value& source_tables);

}  // namespace ferrolyte
