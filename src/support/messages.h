// Message boxes and the clipboard. The window's presenter shows real boxes; without one a
// message goes to standard error; with the hide option nothing is shown. In every case the
// caller's default answer stands for a box nobody saw.
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

// The only way a message is shown: through the presenter (which must outlive this), on
// standard error without one, not at all when hidden.
class Messages {
 public:
  explicit Messages(MessagePresenter* presenter = nullptr, bool hidden = false)
      : presenter_(presenter), hidden_(hidden) {}

  // Hidden: shows nothing and returns default_answer. Without a presenter: writes
  // "title: text" to standard error and returns default_answer.
  int Show(const std::string& text, int style, const std::string& title, int default_answer) const;
  // Puts the text on the clipboard when there is a presenter, hidden or not.
  void CopyToClipboard(const std::string& text) const;
  bool hidden() const { return hidden_; }
  // False without a presenter: nothing can put a text on a clipboard.
  bool has_clipboard() const { return presenter_ != nullptr; }

 private:
  MessagePresenter* presenter_;
  bool hidden_;
};

}  // namespace ferrolyte
