#include "shell/log_status.h"

#include <unistd.h>

#include <csignal>

#include "conversion/run_outcome.h"
#include "shell/log.h"
#include "shell/program_flags.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

volatile std::sig_atomic_t interrupted = 0;
volatile std::sig_atomic_t terminated = 0;
bool termination_shown = false;

void OnInterrupt(int) {
  interrupted = 1;
  // The next interrupt ends the program at once.
  std::signal(SIGINT, SIG_DFL);
}

// Only async-signal-safe work here: the run notices the flag before its next row, ends, and
// its report is written to the log outside the handler.
void OnTerminate(int) {
  terminated = 1;
  stop_before_next_row.store(true, std::memory_order_relaxed);
  std::signal(SIGTERM, SIG_DFL);
}

constexpr auto kProgressInterval = std::chrono::milliseconds(200);

}  // namespace

void InstallInterruptHandler() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnTerminate);
}

bool TerminationRequested() {
  return terminated != 0;
}

LogStatus::LogStatus(std::FILE* terminal)
    : LogStatus(terminal, terminal && ::isatty(::fileno(terminal))) {}

LogStatus::LogStatus(std::FILE* terminal, bool show) : terminal_(terminal), show_(show) {}

void LogStatus::ClearProgress() {
  if (!progress_shown_) return;
  std::fputs("\r\033[K", terminal_);
  progress_shown_ = false;
}

void LogStatus::AddStatusLine(const std::string& text) {
  ::ferrolyte::WriteLog(text);
  if (show_) {
    ClearProgress();
    std::fprintf(terminal_, "%s\n", ReplaceAll(text, "\r\n", "\n").c_str());
    std::fflush(terminal_);
  }
  ProcessEvents();
}

void LogStatus::WriteLog(const std::string& text) {
  ::ferrolyte::WriteLog(text);
}

void LogStatus::SetProgressRange(const std::string& page, int64_t min, int64_t max) {
  progress_visible_ = AsciiUpper(page) == "PROGRESS";
  min_ = min;
  max_ = max > 0 ? max : 1;
  last_progress_ = {};
}

void LogStatus::SetProgress(const std::string& text, int64_t position) {
  if (!show_ || !progress_visible_) return;
  auto now = std::chrono::steady_clock::now();
  if (position < max_ && now - last_progress_ < kProgressInterval) return;
  last_progress_ = now;
  int64_t span = max_ - min_;
  int percent = span > 0 ? static_cast<int>((position - min_) * 100 / span) : 0;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  std::fprintf(terminal_, "\r\033[K  %s  %d%%", text.c_str(), percent);
  std::fflush(terminal_);
  progress_shown_ = true;
}

void LogStatus::ProcessEvents() {
  if (interrupted) {
    interrupted = 0;
    Flags().abort_requested = true;
    if (show_) {
      ClearProgress();
      std::fputs(
          "Interrupted: the table being copied stops at the next multiple of 10 rows (press "
          "Ctrl+C again to quit)\n",
          terminal_);
    }
  }
  if (terminated && !termination_shown) {
    termination_shown = true;
    ::ferrolyte::WriteLog("Terminated: the transfer stops before the next row");
  }
}

}  // namespace ferrolyte
