// Message boxes and the clipboard. The window installs a presenter that shows real boxes;
// without one a message goes to standard error and the caller's default answer is returned.
#pragma once

#include <string>

namespace ferrolyte {

// Message box styles (combinable) and answers, with the values callers store and compare.
enum MessageStyle : int {
  kMsgOkOnly = 0,
  kMsgOkCancel = 1,
  kMsgYesNoCancel = 3,
  kMsgYesNo = 4,
  kMsgCritical = 16,
  kMsgQuestion = 32,
  kMsgExclamation = 48,
  kMsgInformation = 64,
  kMsgDefaultButton2 = 256,
};
enum MessageAnswer : int { kAnswerOk = 1, kAnswerCancel = 2, kAnswerYes = 6, kAnswerNo = 7 };

class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  // Shows a modal box and returns the answer.
  virtual int Show(const std::string& text, int style, const std::string& title) = 0;
  // Puts the text on the clipboard.
  virtual void CopyToClipboard(const std::string& text) = 0;
};

// Installs the presenter (null removes it). The window does this while it exists.
void SetMessagePresenter(MessagePresenter* presenter);

// The only way a message is shown. With the hide flag nothing is shown and default_answer
// is returned; without a presenter the text goes to standard error and default_answer is
// returned.
int ShowMessage(const std::string& text, int style, const std::string& title, int default_answer);

// Puts the text on the clipboard when a presenter exists; does nothing otherwise.
void CopyToClipboard(const std::string& text);

}  // namespace ferrolyte
