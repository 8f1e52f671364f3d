#include "shell/window/message_box.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>

#include "support/text.h"

namespace ferrolyte {
namespace {

QString FromUtf8(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

void ApplyMessageStyle(QMessageBox& box, int style) {
  using SB = QMessageBox::StandardButton;
  QMessageBox::StandardButtons buttons;
  switch (style & 7) {
    case 1:
      buttons = SB::Ok | SB::Cancel;
      break;
    case 2:
      buttons = SB::Abort | SB::Retry | SB::Ignore;
      break;
    case 3:
      buttons = SB::Yes | SB::No | SB::Cancel;
      break;
    case 4:
      buttons = SB::Yes | SB::No;
      break;
    case 5:
      buttons = SB::Retry | SB::Cancel;
      break;
    default:
      buttons = SB::Ok;
      break;
  }
  box.setStandardButtons(buttons);
  switch (style & 0x70) {
    case 16:
      box.setIcon(QMessageBox::Critical);
      break;
    case 32:
      box.setIcon(QMessageBox::Question);
      break;
    case 48:
      box.setIcon(QMessageBox::Warning);
      break;
    case 64:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  // The default button is the first, second or third in the style's own order.
  const int default_index = (style >> 8) & 3;
  static const SB kOrder[6][3] = {{SB::Ok},
                                  {SB::Ok, SB::Cancel},
                                  {SB::Abort, SB::Retry, SB::Ignore},
                                  {SB::Yes, SB::No, SB::Cancel},
                                  {SB::Yes, SB::No},
                                  {SB::Retry, SB::Cancel}};
  const int set = (style & 7) <= 5 ? (style & 7) : 0;
  SB chosen = kOrder[set][default_index < 3 ? default_index : 0];
  if (chosen == SB::NoButton) chosen = kOrder[set][0];
  box.setDefaultButton(chosen);
  if (buttons & SB::Cancel) {
    box.setEscapeButton(SB::Cancel);
  } else if (buttons == SB::Ok) {
    box.setEscapeButton(SB::Ok);
  }
}

int MessageAnswerOf(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Ok:
      return kAnswerOk;
    case QMessageBox::Cancel:
      return kAnswerCancel;
    case QMessageBox::Abort:
      return 3;
    case QMessageBox::Retry:
      return 4;
    case QMessageBox::Ignore:
      return 5;
    case QMessageBox::Yes:
      return kAnswerYes;
    case QMessageBox::No:
      return kAnswerNo;
    default:
      return kAnswerCancel;
  }
}

int QtMessagePresenter::Show(const std::string& text, int style, const std::string& title) {
  QMessageBox box(parent_);
  box.setWindowTitle(FromUtf8(title));
  box.setTextFormat(Qt::PlainText);
  box.setText(FromUtf8(ReplaceAll(text, "\r\n", "\n")));
  ApplyMessageStyle(box, style);
  if (answerer_) return MessageAnswerOf(answerer_(box));
  box.exec();
  return MessageAnswerOf(box.standardButton(box.clickedButton()));
}

void QtMessagePresenter::CopyToClipboard(const std::string& text) {
  QGuiApplication::clipboard()->setText(FromUtf8(ReplaceAll(text, "\r\n", "\n")));
}

}  // namespace ferrolyte
