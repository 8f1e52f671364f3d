#include "shell/error_report.h"

#include <cstdio>
#include <cstdlib>

#include "support/errors.h"
#include "support/product.h"
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
                            const std::string& description, const std::string& step,
                            const ReportForm& form) {
  return "Error in function '" + procedure + "'\r\n" +
         "Error: " + (form.named_error ? NamedError(number) : NumberWithHex(number)) + "\r\n" +
         "Reason: " + description + "\r\n" + "Debug information: " + step + "\r\n" + "\r\n" +
         "Version: " + ProgramVersion() + "\r\n" + "\r\n" +
         (form.on_clipboard ? "This error message is on the clipboard.\r\n" : "") +
         "The program will now terminate. Have a nice day :)";
}

void TellFailure(const std::string& what, const std::string& why) {
  std::string line = why;
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  std::fprintf(stderr, "%s: %s: %s\n", kApplicationName, what.c_str(), line.c_str());
}

void ErrorHandler(Program& program, const std::string& procedure, int32_t number,
                  const std::string& description, const std::string& step,
                  const std::string& what) {
  const bool command_line = program.options.command_line_form;
  const bool copied = !command_line && !program.options.hide && program.messages.has_clipboard();
  const std::string report =
      ErrorReportText(procedure, number, description, step, {command_line, copied});
  if (copied) program.messages.CopyToClipboard(report);
  TryWriteLog(program.log, report);
  program.end_reason = description;
  if (command_line)
    TellFailure(what.empty() ? "error in " + step : what, description);
  else
    program.messages.Show(report, kMsgCritical, kSettingsAppName, kAnswerOk);
  EndProgram(program, kExitFatal);
}

void HaltError(Program& program, const std::string& message, int exit_status) {
  TryWriteLog(program.log, message);
  program.end_reason = message;
  // Without a message box the person who started the run would otherwise see nothing.
  if (program.options.command_line_form)
    std::fprintf(stderr, "%s: %s\n", kApplicationName, message.c_str());
  else if (!program.options.hide)
    std::fprintf(stderr, "%s: %s\n", kSettingsAppName, message.c_str());
  EndProgram(program, exit_status);
}

void EndProgram(Program& program, int exit_status) {
  TryWriteLog(program.log, "End");
  if (exit_status != kExitOk)
    std::fprintf(stderr, "%s: the run's report is in %s\n", kApplicationName,
                 program.log.path().c_str());
  std::fflush(nullptr);
  if (program.end) program.end(exit_status);
  std::exit(exit_status);
}

}  // namespace ferrolyte
