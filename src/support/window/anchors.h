// Controls placed by position that keep their distances to chosen edges of their parent when
// the window grows: the layout of the design at the design size, the extra space given to
// the controls that can use it.
#pragma once

#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

namespace ferrolyte {

// The parent's edges a control keeps its distance to. Left and right: it grows with the
// parent's width; right alone: it moves; neither: it stays centred. Likewise top and bottom.
enum Edge { kLeftEdge = 1, kTopEdge = 2, kRightEdge = 4, kBottomEdge = 8 };
inline constexpr int kTopLeft = kLeftEdge | kTopEdge;
inline constexpr int kAllEdges = kLeftEdge | kTopEdge | kRightEdge | kBottomEdge;

class Anchors {
 public:
  // Takes the control's present geometry and its parent's present size as the design.
  void Add(QWidget* control, int edges);
  // Places every control for its parent's present size, parents first.
  void Apply() const;

 private:
  struct Entry {
    QWidget* control;
    int edges;
    QRect design;
    QSize parent_design;
    int depth;  // parents are placed before their children
  };
  std::vector<Entry> entries_;
};

}  // namespace ferrolyte
