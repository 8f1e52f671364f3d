// The status output of the window: the status list, the log file and the progress bar of
// the progress page.
#pragma once

#include "shell/log.h"
#include "support/status.h"

class QLabel;
class QProgressBar;
class QTreeWidget;

namespace ferrolyte {

class WindowStatus : public StatusOutput {
 public:
  // `figures` shows the run's figures beside the progress text of `label`.
  WindowStatus(QTreeWidget* list, QProgressBar* bar, QLabel* label, QLabel* figures)
      : list_(list), bar_(bar), label_(label), figures_(figures) {}
  // Where log lines go (must outlive this); none before the window is attached to a program.
  void set_log(LogFile* log) { log_ = log; }

  // Appends an item keyed "K" + its position from 1, scrolls to it, logs the line and
  // lets the window handle pending events (a click on Cancel among them).
  void AddStatusLine(const std::string& text) override;
  void WriteLog(const std::string& text) override;
  // Hides the bar; for the page "PROGRESS" (any letter case) shows it again with the range.
  void SetProgressRange(const std::string& page, int64_t min, int64_t max) override;
  void SetProgress(const std::string& text, int64_t position) override;
  void SetProgressFigures(const ProgressFigures& figures) override;
  void ProcessEvents() override;

 private:
  QTreeWidget* list_;
  QProgressBar* bar_;
  QLabel* label_;
  QLabel* figures_;
  LogFile* log_ = nullptr;
};

}  // namespace ferrolyte
