#include "wizard/window/table_tree.h"

#include <QPainter>
#include <QPixmap>
#include <QTreeWidget>

namespace ferrolyte {
namespace {

QPixmap ImageCanvas() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// A grid with a dark header row: a table.
QIcon TableImage() {
  QPixmap pixmap = ImageCanvas();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing, false);
  const QColor line(0x2f, 0x55, 0x7a);
  p.fillRect(QRect(3, 5, 26, 22), Qt::white);
  p.fillRect(QRect(3, 5, 26, 7), QColor(0x33, 0x67, 0x91));
  p.setPen(QPen(line, 2));
  p.drawRect(QRect(3, 5, 26, 22));
  p.drawLine(3, 19, 29, 19);
  p.drawLine(14, 12, 14, 27);
  return QIcon(pixmap);
}

// A single row with a marked cell: one field of a table.
QIcon FieldImage() {
  QPixmap pixmap = ImageCanvas();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.fillRect(QRect(3, 11, 26, 10), Qt::white);
  p.fillRect(QRect(4, 12, 9, 8), QColor(0xe0, 0x8a, 0x00));
  p.setPen(QPen(QColor(0x2f, 0x55, 0x7a), 2));
  p.drawRect(QRect(3, 11, 26, 10));
  return QIcon(pixmap);
}

// A sheet with lines of text: a saved query, which Access shows beside the tables.
QIcon QueryImage() {
  QPixmap pixmap = ImageCanvas();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.fillRect(QRect(5, 3, 22, 26), Qt::white);
  p.setPen(QPen(QColor(0x2f, 0x55, 0x7a), 2));
  p.drawRect(QRect(5, 3, 22, 26));
  p.setPen(QPen(QColor(0xe0, 0x8a, 0x00), 2));
  for (int y = 10; y <= 22; y += 6) p.drawLine(9, y, 23, y);
  return QIcon(pixmap);
}

QTreeWidgetItem* Node(const std::string& key, const std::string& path, const std::string& text,
                      const std::string& image, const ImageList& images) {
  auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(text)});
  item->setData(0, kNodeKeyRole, QString::fromStdString(key));
  item->setData(0, kNodePathRole, QString::fromStdString(path));
  item->setData(0, kNodeImageRole, QString::fromStdString(image));
  if (auto it = images.find(image); it != images.end()) item->setIcon(0, it->second);
  // A table's mark and its fields' marks are independent: no automatic tristate.
  item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsAutoTristate);
  item->setCheckState(0, Qt::Unchecked);
  return item;
}

}  // namespace

ImageList TreeImages() {
  return {{"table", TableImage()}, {"field", FieldImage()}, {"query", QueryImage()}};
}

void FillTableTree(QTreeWidget* tree, const std::vector<TableNodes>& tables,
                   const ImageList& images) {
  tree->clear();
  QList<QTreeWidgetItem*> roots;
  QTreeWidgetItem* queries = nullptr;
  for (const TableNodes& table : tables) {
    if (table.query) {
      // The group itself selects nothing: its queries do, each by its own path.
      if (!queries) {
        queries = new QTreeWidgetItem(QStringList{QStringLiteral("Queries")});
        queries->setData(0, kNodeKeyRole, QStringLiteral("GRPQueries"));
        queries->setFlags(queries->flags() & ~Qt::ItemIsUserCheckable);
      }
      queries->addChild(Node("QRY" + table.name, NodePathOf(table), table.name, "query", images));
      continue;
    }
    QTreeWidgetItem* node = Node(TableNodeKey(table.name), table.name, table.name, "table", images);
    for (const std::string& field : table.fields) {
      node->addChild(Node(FieldNodeKey(table.name, field), FieldNodePath(table.name, field), field,
                          "field", images));
    }
    roots << node;
  }
  // Added in one go: a database of many tables fills without a redraw per node.
  if (queries) roots << queries;
  tree->addTopLevelItems(roots);
}

TreeChecks::TreeChecks(QTreeWidget* tree) {
  for (QTreeWidgetItemIterator it(tree); *it; ++it)
    if (!(*it)->data(0, kNodePathRole).toString().isEmpty()) nodes_.push_back(*it);
}

std::string TreeChecks::NodePath(int node) const {
  return nodes_[node]->data(0, kNodePathRole).toString().toStdString();
}

bool TreeChecks::IsChecked(int node) const {
  return nodes_[node]->checkState(0) == Qt::Checked;
}

void TreeChecks::SetChecked(int node, bool checked) {
  nodes_[node]->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

void SetAllExpanded(QTreeWidget* tree, bool expanded) {
  if (expanded) {
    tree->expandAll();
  } else {
    tree->collapseAll();
  }
}

}  // namespace ferrolyte
