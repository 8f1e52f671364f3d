#include "support/window/tab_order.h"

#include <algorithm>
#include <utility>

namespace ferrolyte {

std::string PaddedPosition(int position) {
  std::string text = "00000000" + std::to_string(position);
  return text.substr(text.size() - 8);
}

std::vector<int> TabOrderSequence(const std::vector<TabControl>& controls,
                                  const std::string& form_name) {
  constexpr int kMaxDepth = 10;
  std::vector<std::pair<std::string, int>> keyed;
  for (int i = 0; i < static_cast<int>(controls.size()); ++i) {
    const TabControl& control = controls[i];
    int left = control.left;
    int top = control.top;
    // The container of the control, then the container of that container, and so on.
    std::string container = control.containers.empty() ? "" : control.containers[0].name;
    int steps = 0;
    while (steps < kMaxDepth && !container.empty() && container != form_name) {
      const size_t level = static_cast<size_t>(steps);
      left += control.containers[level].left;
      top += control.containers[level].top;
      container = level + 1 < control.containers.size() ? control.containers[level + 1].name : "";
      ++steps;
    }
    if (steps >= kMaxDepth) continue;
    keyed.emplace_back(PaddedPosition(top) + "," + PaddedPosition(left), i);
  }
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<int> order;
  order.reserve(keyed.size());
  for (const auto& entry : keyed) order.push_back(entry.second);
  return order;
}

}  // namespace ferrolyte
