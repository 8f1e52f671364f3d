// Helpers for tests of the program's end: an end handler that throws instead of exiting,
// a presenter that records messages, and the log read back without time stamps.
#pragma once

#include <string>
#include <vector>

#include "shell/error_report.h"
#include "shell/log.h"
#include "shell/messages.h"
#include "shell/program_flags.h"
#include "support/files.h"
#include "support/text.h"

namespace ferrolyte::testing {

// Thrown by the test end handler; deliberately not a std::exception, so that start-up's
// error handling lets it through as the real process end would.
struct ProgramEnded {
  int status;
};

struct RecordingPresenter : MessagePresenter {
  int Show(const std::string& text, int style, const std::string& title) override {
    shown.push_back({text, style, title});
    return answer;
  }
  void CopyToClipboard(const std::string& text) override { clipboard.push_back(text); }
  struct Message {
    std::string text;
    int style;
    std::string title;
  };
  std::vector<Message> shown;
  std::vector<std::string> clipboard;
  int answer = kAnswerOk;
};

// Installs the throwing end handler and fresh flags for one test.
class ProgramEndScope {
 public:
  ProgramEndScope() {
    Flags() = ProgramFlags{};
    SetProgramEndHandler([](int status) { throw ProgramEnded{status}; });
  }
  ~ProgramEndScope() {
    SetProgramEndHandler(nullptr);
    SetMessagePresenter(nullptr);
    Flags() = ProgramFlags{};
  }
};

// The log's entries without their time stamps; continuation lines joined back with CR LF.
inline std::vector<std::string> LogEntries() {
  std::vector<std::string> entries;
  if (!FileExists(LogFileName())) return entries;
  for (const std::string& line : Split(ReadTextFile(LogFileName(), ""), "\r\n")) {
    if (line.size() >= 20 && line.compare(0, 20, std::string(19, ' ') + "\t") == 0)
      entries.back() += "\r\n" + line.substr(20);
    else if (line.size() >= 20)
      entries.push_back(line.substr(20));
  }
  return entries;
}

}  // namespace ferrolyte::testing
