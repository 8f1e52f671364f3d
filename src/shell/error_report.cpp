#include "shell/error_report.h"

#include <cstdio>
#include <cstdlib>

#include "support/errors.h"
#include "support/version.h"
#include "wizard/settings.h"

namespace ferrolyte {
namespace {

// The report must reach someone even when the log cannot be written.
void TryWriteLog(LogFile& log, const std::string& text) {
  try {
    log.Write(text);
  } catch (const Error& e) {
    std::fprintf(stderr, "Ferrolyte: cannot write the log: %s\n", e.description().c_str());
  }
}

}  // namespace

std::string ErrorReportText(const std::string& procedure, int32_t number,
                            const std::string& description, const std::string& step) {
  return "Error in function '" + procedure + "'\r\n" + "Error: " + NumberWithHex(number) + "\r\n" +
         "Reason: " + description + "\r\n" + "Debug information: " + step + "\r\n" + "\r\n" +
         "Version: " + ProgramVersion() + "\r\n" + "\r\n" +
         "This error message is on the clipboard.\r\n" +
         "The program will now terminate. Have a nice day :)";
}

void ErrorHandler(Program& program, const std::string& procedure, int32_t number,
                  const std::string& description, const std::string& step) {
  const std::string report = ErrorReportText(procedure, number, description, step);
  if (!program.options.hide) program.messages.CopyToClipboard(report);
  TryWriteLog(program.log, report);
  program.messages.Show(report, kMsgCritical, kSettingsAppName, kAnswerOk);
  EndProgram(program, kExitFatal);
}

void HaltError(Program& program, const std::string& message, int exit_status) {
  TryWriteLog(program.log, message);
  // Without a message box the person who started the run would otherwise see nothing.
  if (!program.options.hide) std::fprintf(stderr, "%s: %s\n", kSettingsAppName, message.c_str());
  EndProgram(program, exit_status);
}

void EndProgram(Program& program, int exit_status) {
  TryWriteLog(program.log, "End");
  std::fflush(nullptr);
  if (program.end) program.end(exit_status);
  std::exit(exit_status);
}

}  // namespace ferrolyte
