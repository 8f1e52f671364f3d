#include "shell/log_status.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include "shell/progress_line.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

// What the handlers set: a handler cannot reach a run's context, so these are the process's.
volatile std::sig_atomic_t interrupted = 0;
volatile std::sig_atomic_t terminated = 0;  // the signal's number
CancelToken signal_stop{false};
CancelToken signal_end{false};

void OnInterrupt(int) {
  interrupted = 1;
  // The next interrupt ends the program at once.
  std::signal(SIGINT, SIG_DFL);
}

// Only async-signal-safe work here: the run notices the flag before its next row, ends, and
// its report is written to the log outside the handler.
void OnTerminate(int signal) {
  if (!terminated) terminated = signal;
  signal_stop.store(true, std::memory_order_relaxed);
  signal_end.store(true, std::memory_order_relaxed);
  // A second SIGTERM or SIGHUP ends the program at once. SIGPIPE stays caught: the writes
  // that follow (the dump's last line, a status line) would raise it again.
  if (signal != SIGPIPE) std::signal(signal, SIG_DFL);
}

constexpr auto kProgressInterval = std::chrono::milliseconds(200);

// The terminal's columns; 0 when it does not say.
size_t TerminalWidth(std::FILE* terminal) {
  winsize size{};
  if (::ioctl(::fileno(terminal), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGHUP:
      return "SIGHUP";
    case SIGPIPE:
      return "SIGPIPE";
    default:
      return "SIGTERM";
  }
}

}  // namespace

void InstallInterruptHandler() {
  std::signal(SIGINT, OnInterrupt);
  for (int signal : {SIGTERM, SIGHUP, SIGPIPE}) std::signal(signal, OnTerminate);
}

CancelToken& SignalStop() {
  return signal_stop;
}

const CancelToken& SignalEnd() {
  return signal_end;
}

bool TerminationRequested() {
  return terminated != 0;
}

int TerminationExitStatus() {
  return 128 + terminated;
}

LogStatus::LogStatus(LogFile& log, CancelToken& cancel, std::FILE* terminal)
    : LogStatus(log, cancel, terminal, terminal && ::isatty(::fileno(terminal))) {}

LogStatus::LogStatus(LogFile& log, CancelToken& cancel, std::FILE* terminal, bool show, bool plain)
    : log_(log), plain_(plain), cancel_(cancel), terminal_(terminal), show_(show) {}

bool PlainTerminal() {
  const char* term = std::getenv("TERM");
  const char* no_color = std::getenv("NO_COLOR");
  return (term && std::string(term) == "dumb") || (no_color && *no_color);
}

void LogStatus::ClearProgress() {
  if (!progress_shown_) return;
  if (plain_)
    std::fprintf(terminal_, "\r%s\r", std::string(progress_width_, ' ').c_str());
  else
    std::fputs("\r\033[K", terminal_);
  progress_shown_ = false;
}

void LogStatus::AddStatusLine(const std::string& text) {
  log_.Write(text);
  if (show_) {
    ClearProgress();
    std::fprintf(terminal_, "%s\n", ReplaceAll(text, "\r\n", "\n").c_str());
    std::fflush(terminal_);
  }
  ProcessEvents();
}

void LogStatus::WriteLog(const std::string& text) {
  log_.Write(text);
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
  std::string line = ProgressLine(text, percent, figures_, TerminalWidth(terminal_));
  const size_t width = line.size();
  if (plain_) {
    // Blanks over what the longer line before left.
    if (progress_shown_ && width < progress_width_)
      line += std::string(progress_width_ - width, ' ');
    std::fprintf(terminal_, "\r%s", line.c_str());
  } else {
    std::fprintf(terminal_, "\r\033[K%s", line.c_str());
  }
  progress_width_ = std::max(width, progress_shown_ ? progress_width_ : 0);
  std::fflush(terminal_);
  progress_shown_ = true;
}

void LogStatus::ProcessEvents() {
  if (interrupted) {
    interrupted = 0;
    cancel_.store(true, std::memory_order_relaxed);
    if (show_) {
      ClearProgress();
      std::fputs(
          "Interrupted: the table being copied stops at the next multiple of 10 rows (press "
          "Ctrl+C again to quit)\n",
          terminal_);
    }
  }
  if (terminated && !termination_shown_) {
    termination_shown_ = true;
    log_.Write(std::string("Terminated (") + SignalName(terminated) +
               "): the transfer stops before the next row");
  }
}

}  // namespace ferrolyte
