// Where the scanner and the conversion report what they are doing: the status list, the log
// file and the progress bar. The window implements it with its controls; an unattended run
// with the log file (and the terminal when there is one).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/run_progress.h"

namespace ferrolyte {

class StatusOutput {
 public:
  virtual ~StatusOutput() = default;
  // Shows the line in the status list, writes it to the log and lets pending events run.
  virtual void AddStatusLine(const std::string& text) = 0;
  // Writes the text to the log file only.
  virtual void WriteLog(const std::string& text) = 0;
  // Resets the progress bar of the named page to the range min..max (max <= min shows 0..1).
  virtual void SetProgressRange(const std::string& page, int64_t min, int64_t max) = 0;
  // Moves the progress bar and shows the text beside it.
  virtual void SetProgress(const std::string& text, int64_t position) = 0;
  // The run's figures (table N of M, rows per second, time left) to show beside the progress
  // text: sent when a table begins and just before each SetProgress of its rows.
  virtual void SetProgressFigures(const ProgressFigures& figures) { (void)figures; }
  // Lets the user interface process pending events; a Cancel click is handled here.
  virtual void ProcessEvents() = 0;
};

// Keeps everything in memory: for tests, and for callers that show nothing.
class RecordingStatus : public StatusOutput {
 public:
  void AddStatusLine(const std::string& text) override {
    lines.push_back(text);
    ProcessEvents();
  }
  void WriteLog(const std::string& text) override { log.push_back(text); }
  void SetProgressRange(const std::string& page, int64_t min, int64_t max) override {
    progress_page = page;
    progress_min = min;
    progress_max = max <= min ? min + 1 : max;
    progress_position = min;
  }
  void SetProgress(const std::string& text, int64_t position) override {
    progress_text = text;
    progress_position = position;
  }
  void SetProgressFigures(const ProgressFigures& f) override {
    figures = f;
    ++figures_sent;
  }
  void ProcessEvents() override {
    ++events_processed;
    if (on_events) on_events();
  }

  std::vector<std::string> lines;
  std::vector<std::string> log;
  std::string progress_page, progress_text;
  int64_t progress_min = 0, progress_max = 1, progress_position = 0;
  int64_t events_processed = 0;
  ProgressFigures figures;  // the last ones sent
  int64_t figures_sent = 0;
  // Runs whenever events are processed: tests use it to click Cancel at a chosen moment.
  std::function<void()> on_events;
};

}  // namespace ferrolyte
