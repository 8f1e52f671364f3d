// The table tree tvSourceTables: filling it from the scanned tables and reading and setting
// its check marks through the node paths.
#pragma once

#include <QIcon>
#include <QString>
#include <map>
#include <string>
#include <vector>

#include "wizard/page_flow.h"
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

// The mark a node shows: a checked table with a field that is not checked shows a partial
// mark; its own mark stays checked, so a click clears it.
Qt::CheckState ShownCheckState(const QTreeWidgetItem* node);
// Lets the tree draw the marks ShownCheckState gives.
void ShowPartialMarks(QTreeWidget* tree);

// Shows only the tables whose names hold the text (letter case ignored; empty: all).
void FilterTables(QTreeWidget* tree, const QString& text);
// Sets the marks of the shown tables and of all their fields; hidden tables keep theirs.
void SetShownChecked(QTreeWidget* tree, bool checked);
// The table nodes, and how many of them are checked.
TableCount CountTables(const QTreeWidget* tree);
// "N of M tables selected".
QString SelectionCountText(const TableCount& count);

}  // namespace ferrolyte
