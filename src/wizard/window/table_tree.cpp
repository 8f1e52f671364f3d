#include "wizard/window/table_tree.h"

#include <QPainter>
#include <QPixmap>
#include <QStyledItemDelegate>
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

Qt::CheckState MarkOf(const QModelIndex& index) {
  return static_cast<Qt::CheckState>(index.data(Qt::CheckStateRole).toInt());
}

// The partial mark is only drawn: the model keeps checked and cleared, so that a click or
// Space on a partly marked table clears it instead of checking it again.
class PartialMarkDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (MarkOf(index) != Qt::Checked) return;
    const QAbstractItemModel* model = index.model();
    for (int row = 0; row < model->rowCount(index); ++row) {
      if (MarkOf(model->index(row, 0, index)) != Qt::Checked) {
        option->checkState = Qt::PartiallyChecked;
        return;
      }
    }
  }
};

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

Qt::CheckState ShownCheckState(const QTreeWidgetItem* node) {
  const Qt::CheckState own = node->checkState(0);
  if (own != Qt::Checked) return own;
  for (int i = 0; i < node->childCount(); ++i) {
    if (node->child(i)->checkState(0) != Qt::Checked) return Qt::PartiallyChecked;
  }
  return own;
}

void ShowPartialMarks(QTreeWidget* tree) {
  tree->setItemDelegate(new PartialMarkDelegate(tree));
  // A field's change redraws its table's mark too.
  QObject::connect(tree, &QTreeWidget::itemChanged, tree, [tree](QTreeWidgetItem* node) {
    if (QTreeWidgetItem* table = node->parent()) tree->update(tree->indexFromItem(table));
  });
}

namespace {

// The Queries group: a node that selects nothing itself.
bool IsGroup(const QTreeWidgetItem* node) {
  return node->data(0, kNodePathRole).toString().isEmpty();
}

bool Matches(const QTreeWidgetItem* node, const QString& wanted) {
  return wanted.isEmpty() || node->text(0).contains(wanted, Qt::CaseInsensitive);
}

void SetMark(QTreeWidgetItem* node, Qt::CheckState mark) {
  node->setCheckState(0, mark);
  for (int i = 0; i < node->childCount(); ++i) node->child(i)->setCheckState(0, mark);
}

}  // namespace

void FilterTables(QTreeWidget* tree, const QString& text) {
  const QString wanted = text.trimmed();
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* node = tree->topLevelItem(i);
    if (!IsGroup(node)) {
      node->setHidden(!Matches(node, wanted));
      continue;
    }
    // The queries of the group are filtered as tables are; the group shows while one is left.
    bool any = false;
    for (int q = 0; q < node->childCount(); ++q) {
      node->child(q)->setHidden(!Matches(node->child(q), wanted));
      any = any || !node->child(q)->isHidden();
    }
    node->setHidden(!any);
  }
}

void SetShownChecked(QTreeWidget* tree, bool checked) {
  const Qt::CheckState mark = checked ? Qt::Checked : Qt::Unchecked;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* node = tree->topLevelItem(i);
    if (node->isHidden()) continue;
    if (!IsGroup(node)) {
      SetMark(node, mark);
      continue;
    }
    for (int q = 0; q < node->childCount(); ++q)
      if (!node->child(q)->isHidden()) SetMark(node->child(q), mark);
  }
}

TableCount CountTables(const QTreeWidget* tree) {
  TableCount count;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* node = tree->topLevelItem(i);
    if (IsGroup(node)) continue;
    ++count.total;
    count.selected += node->checkState(0) == Qt::Checked;
  }
  return count;
}

QString SelectionCountText(const TableCount& count) {
  return QStringLiteral("%1 of %2 tables selected").arg(count.selected).arg(count.total);
}

}  // namespace ferrolyte
