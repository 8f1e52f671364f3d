#include "shell/window/status_view.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>
#include <algorithm>
#include <limits>

#include "support/text.h"

namespace ferrolyte {
namespace {

int ClampToInt(int64_t value) {
  return static_cast<int>(
      std::clamp<int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

void WindowStatus::AddStatusLine(const std::string& text) {
  const int n = list_->topLevelItemCount();
  auto* item = new QTreeWidgetItem(list_, QStringList{QString::fromStdString(text)});
  item->setData(0, Qt::UserRole, QStringLiteral("K%1").arg(n + 1));
  list_->scrollToItem(item);
  WriteLog(text);
  ProcessEvents();
}

void WindowStatus::WriteLog(const std::string& text) {
  if (log_) log_->Write(text);
}

void WindowStatus::SetProgressRange(const std::string& page, int64_t min, int64_t max) {
  bar_->hide();
  if (AsciiUpper(page) != "PROGRESS") return;
  bar_->show();
  bar_->setRange(ClampToInt(min), max > 0 ? ClampToInt(max) : 1);
  bar_->setValue(bar_->minimum());
}

void WindowStatus::SetProgress(const std::string& text, int64_t position) {
  label_->setText(QString::fromStdString(text));
  bar_->setValue(ClampToInt(position));
}

void WindowStatus::SetProgressFigures(const ProgressFigures& figures) {
  figures_->setText(QString::fromStdString(ProgressFiguresText(figures)));
}

void WindowStatus::ProcessEvents() {
  QCoreApplication::processEvents();
}

}  // namespace ferrolyte
