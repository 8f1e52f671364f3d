// The status output of an unattended run: every status line goes to the log file and, when
// standard error is a terminal, also to the terminal together with a progress indication.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "shell/log.h"
#include "support/run_context.h"
#include "support/status.h"

namespace ferrolyte {

// True when TERM is "dumb" or NO_COLOR is set (to anything but the empty text): the terminal
// gets no escape codes.
bool PlainTerminal();

class LogStatus : public StatusOutput {
 public:
  // Writes to the log; an interrupt sets `cancel`. Shows lines on `terminal` when it is a
  // terminal (standard error by default). Both must outlive this.
  LogStatus(LogFile& log, CancelToken& cancel, std::FILE* terminal = stderr);
  // Forces the terminal display on or off (for tests, which have no terminal). Plain: no
  // escape codes (TERM=dumb, NO_COLOR); the progress line is overwritten with blanks.
  LogStatus(LogFile& log, CancelToken& cancel, std::FILE* terminal, bool show,
            bool plain = PlainTerminal());

  void AddStatusLine(const std::string& text) override;
  void WriteLog(const std::string& text) override;
  void SetProgressRange(const std::string& page, int64_t min, int64_t max) override;
  void SetProgress(const std::string& text, int64_t position) override;
  // Kept for the next progress line.
  void SetProgressFigures(const ProgressFigures& figures) override { figures_ = figures; }
  // Turns an interrupt (Ctrl+C) received since the last call into a stop request.
  void ProcessEvents() override;

 private:
  void ClearProgress();

  LogFile& log_;
  bool plain_;
  size_t progress_width_ = 0;  // of the progress line shown
  CancelToken& cancel_;
  std::FILE* terminal_;
  bool show_;
  bool progress_shown_ = false;
  bool termination_shown_ = false;
  bool progress_visible_ = false;  // a range was set for the progress page
  int64_t min_ = 0, max_ = 1;
  std::chrono::steady_clock::time_point last_progress_{};
  ProgressFigures figures_;
};

// Makes the first interrupt signal (Ctrl+C) ask the running conversion to stop (the table
// being copied stops at the next multiple of 10 rows, where LogStatus looks for it); a
// second one ends the program as usual. SIGTERM, SIGHUP (the terminal closed) and SIGPIPE
// (the reader of a pipe went away) set SignalStop() and SignalEnd() at once, so the
// conversion stops before its next row, what the server runs for it is cancelled and its
// report still reaches the log; a second SIGTERM or SIGHUP ends the program at once.
void InstallInterruptHandler();
// The stop request of the unattended run: the one a signal handler can reach.
CancelToken& SignalStop();
// Set with SignalStop() by the ending signals: the run's server waits are cancelled.
const CancelToken& SignalEnd();
// True once SIGTERM, SIGHUP or SIGPIPE was received.
bool TerminationRequested();
// 128 + the number of the first of them: 143, 129 or 141, as a shell reports it.
int TerminationExitStatus();

}  // namespace ferrolyte
