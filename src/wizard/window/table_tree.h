// The table tree tvSourceTables: filling it from the scanned tables and reading and setting
// its check marks through the node paths.
#pragma once

#include <QIcon>
#include <QString>
#include <map>
#include <string>
#include <vector>

#include "wizard/table_selection.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace ferrolyte {

// Item data roles of a tree node.
inline constexpr int kNodeKeyRole = Qt::UserRole;
inline constexpr int kNodePathRole = Qt::UserRole + 1;
inline constexpr int kNodeImageRole = Qt::UserRole + 2;

// tvImages: the node pictures by key ("table", "field", "query").
using ImageList = std::map<std::string, QIcon>;
ImageList TreeImages();

// Replaces the nodes by one collapsed table node per table with its field nodes below, and
// the saved queries in a group "Queries" after them (a node per query, key "QRY" + name).
void FillTableTree(QTreeWidget* tree, const std::vector<TableNodes>& tables,
                   const ImageList& images);

// The tree's nodes that select something (not the Queries group), in node order, as a check
// tree. Holds the nodes of the moment it
// was made: make a new one after the tree is refilled.
class TreeChecks : public CheckTree {
 public:
  explicit TreeChecks(QTreeWidget* tree);
  int NodeCount() const override { return static_cast<int>(nodes_.size()); }
  std::string NodePath(int node) const override;
  bool IsChecked(int node) const override;
  void SetChecked(int node, bool checked) override;

 private:
  std::vector<QTreeWidgetItem*> nodes_;
};

// Expands or collapses every node.
void SetAllExpanded(QTreeWidget* tree, bool expanded);

}  // namespace ferrolyte
