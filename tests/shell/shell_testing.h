// Helpers for tests of the program's end: a program whose end throws instead of exiting, a
// presenter that records messages, and the log read back without time stamps.
#pragma once

#include <string>
#include <vector>

#include "shell/error_report.h"
#include "shell/log.h"
#include "shell/program.h"
#include "support/files.h"
#include "support/messages.h"
#include "support/text.h"
#include "testing/run_context.h"

namespace ferrolyte::testing {

// Thrown by the test end; deliberately not a std::exception, so that start-up's error
// handling lets it through as the real process end would.
struct ProgramEnded {
  int status;
};

inline ProgramEnd ThrowingEnd() {
  return [](int status) { throw ProgramEnded{status}; };
}

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

// A program for one test: its log where LogFileName(SystemEnv()) points when it is made, messages
// through the presenter, an end that throws ProgramEnded.
struct TestProgram : Program {
  explicit TestProgram(MessagePresenter* presenter = nullptr)
      : Program(TestComponents(), ThrowingEnd()), presenter(presenter) {
    messages = Messages(presenter);
  }
  // As the hide option leaves it.
  void Hide() {
    options.hide = true;
    messages = Messages(presenter, true);
  }
  MessagePresenter* presenter;
};

// The log's entries without their time stamps; continuation lines joined back with CR LF.
inline std::vector<std::string> LogEntries(Env& env = SystemEnv()) {
  std::vector<std::string> entries;
  if (!FileExists(LogFileName(env))) return entries;
  for (const std::string& line : Split(ReadTextFile(LogFileName(env), ""), "\r\n")) {
    if (line.size() >= 20 && line.compare(0, 20, std::string(19, ' ') + "\t") == 0)
      entries.back() += "\r\n" + line.substr(20);
    else if (line.size() >= 20)
      entries.push_back(line.substr(20));
  }
  return entries;
}

}  // namespace ferrolyte::testing
