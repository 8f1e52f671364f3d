#include "support/window/anchors.h"

#include <QWidget>
#include <algorithm>

namespace ferrolyte {
namespace {

// Start and length along one axis for a parent that grew by `growth`.
std::pair<int, int> Along(int start, int length, int growth, bool near, bool far) {
  if (near && far) return {start, length + growth};
  if (far) return {start + growth, length};
  if (near) return {start, length};
  return {start + growth / 2, length};
}

}  // namespace

void Anchors::Add(QWidget* control, int edges) {
  int depth = 0;
  for (QWidget* w = control->parentWidget(); w; w = w->parentWidget()) ++depth;
  const Entry entry{control, edges, control->geometry(), control->parentWidget()->size(), depth};
  entries_.insert(
      std::upper_bound(entries_.begin(), entries_.end(), entry,
                       [](const Entry& a, const Entry& b) { return a.depth < b.depth; }),
      entry);
}

void Anchors::Apply() const {
  for (const Entry& e : entries_) {
    const QSize now = e.control->parentWidget()->size();
    const auto [x, width] =
        Along(e.design.x(), e.design.width(), now.width() - e.parent_design.width(),
              e.edges & kLeftEdge, e.edges & kRightEdge);
    const auto [y, height] =
        Along(e.design.y(), e.design.height(), now.height() - e.parent_design.height(),
              e.edges & kTopEdge, e.edges & kBottomEdge);
    e.control->setGeometry(x, y, width, height);
  }
}

}  // namespace ferrolyte
