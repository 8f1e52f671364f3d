// Message boxes and the clipboard of the window: the presenter behind its Messages.
#pragma once

#include <QMessageBox>
#include <functional>
#include <string>

#include "support/messages.h"

class QWidget;

namespace ferrolyte {

// Sets the box's icon, buttons and default button from a message style (16 stop, 32
// question, 48 exclamation, 64 information; 0 OK ... 5 Retry/Cancel; 256 second default).
void ApplyMessageStyle(QMessageBox& box, int style);
// The answer code of a box button (1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore, 6 Yes, 7 No).
int MessageAnswerOf(QMessageBox::StandardButton button);

class QtMessagePresenter : public MessagePresenter {
 public:
  // Boxes are owned by the parent's window (may be null).
  explicit QtMessagePresenter(QWidget* parent = nullptr) : parent_(parent) {}

  int Show(const std::string& text, int style, const std::string& title) override;
  void CopyToClipboard(const std::string& text) override;

  // Answers boxes without showing them: the function sees the prepared box and returns
  // the button to press. For tests; an empty function restores real boxes.
  using Answerer = std::function<QMessageBox::StandardButton(QMessageBox& box)>;
  void set_answerer(Answerer answerer) { answerer_ = std::move(answerer); }

 private:
  QWidget* parent_;
  Answerer answerer_;
};

}  // namespace ferrolyte
