// The keyboard tab order of a form, recomputed from where its controls sit on screen:
// top to bottom, then left to right.
#pragma once

#include <string>
#include <vector>

namespace ferrolyte {

// One container a control sits in, nearest first: its name and its position inside its
// own container.
struct TabContainer {
  std::string name;
  int left = 0;
  int top = 0;
};

// A control as the form lists it: its position inside its container and the chain of
// containers up to (and including) the form itself.
struct TabControl {
  std::string name;
  int left = 0;
  int top = 0;
  std::vector<TabContainer> containers;
};

// The sort key of a position: the last 8 characters of "00000000" + the decimal number.
std::string PaddedPosition(int position);

// The indexes into `controls` in tab order. A control's position is summed up through at
// most 10 containers, stopping at an empty name or the form's own name; a control whose
// chain is deeper gets no place. Keys "top,left" compare as plain text, so a negative
// position sorts by its characters, not its value. Equal keys keep the form's order.
std::vector<int> TabOrderSequence(const std::vector<TabControl>& controls,
                                  const std::string& form_name);

}  // namespace ferrolyte
