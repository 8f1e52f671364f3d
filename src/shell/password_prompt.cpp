#include "shell/password_prompt.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <stdexcept>

#include "platform/ado.h"
#include "platform/crypto_errors.h"
#include "support/errors.h"
#include "support/files.h"

namespace ferrolyte {
namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

struct termios saved_terminal;
volatile std::sig_atomic_t echo_off = 0;

// A signal while echo is off must not leave the user's terminal without echo.
void RestoreAndRaise(int signal_number) {
  if (echo_off) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  echo_off = 0;
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

bool CanPromptForPassword() {
  return ::isatty(STDIN_FILENO) == 1;
}

std::optional<std::string> PromptPassword(const std::string& prompt) {
  struct sigaction restore = {};
  struct sigaction previous[std::size(kEndingSignals)] = {};
  restore.sa_handler = RestoreAndRaise;
  sigemptyset(&restore.sa_mask);
  const bool terminal = ::tcgetattr(STDIN_FILENO, &saved_terminal) == 0;
  if (terminal) {
    for (size_t i = 0; i < std::size(kEndingSignals); ++i)
      ::sigaction(kEndingSignals[i], &restore, &previous[i]);
    struct termios quiet = saved_terminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    echo_off = 1;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  // Only now: what is typed once the prompt shows must neither echo nor be flushed away.
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);

  std::string line;
  bool got_line = false;
  char c;
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (c == '\n') {
      got_line = true;
      break;
    }
    line += c;
  }

  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
    echo_off = 0;
    for (size_t i = 0; i < std::size(kEndingSignals); ++i)
      ::sigaction(kEndingSignals[i], &previous[i], nullptr);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (!got_line && line.empty()) return std::nullopt;
  return line;
}

std::string ReadPasswordFile(const std::string& path) {
  std::string text;
  try {
    const std::vector<uint8_t> bytes = ReadFile(path, 1 << 20);
    text.assign(bytes.begin(), bytes.end());
  } catch (const Error& e) {
    throw std::invalid_argument("cannot read the password file '" + path + "': " + e.description());
  }
  const size_t end = text.find('\n');
  if (end != std::string::npos) text.resize(end);
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

bool IsPasswordRefusal(int32_t error_number) {
  return KindOfError(error_number) == ErrorKind::kPassword;
}

}  // namespace ferrolyte
