// The keyboard tab chain of a window, set from where its controls sit on screen.
#pragma once

class QWidget;

namespace ferrolyte {

// Orders the named controls of the form top to bottom, then left to right, and links the
// focusable ones into Qt's tab chain in that order.
void SetTabOrder(QWidget* form);

}  // namespace ferrolyte
