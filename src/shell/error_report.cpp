#include "shell/error_report.h"

#include <cstdio>
#include <cstdlib>

#include "shell/log.h"
#include "shell/messages.h"
#include "shell/program_flags.h"
#include "support/errors.h"
#include "support/version.h"
#include "wizard/settings.h"

namespace ferrolyte {
namespace {

std::function<void(int)>& EndHandler() {
  static std::function<void(int)> handler;
  return handler;
}

// The report must reach someone even when the log cannot be written.
void TryWriteLog(const std::string& text) {
  try {
    WriteLog(text);
  } catch (const Error& e) {
    std::fprintf(stderr, "Ferrolyte: cannot write the log: %s\n", e.description().c_str());
  }
}

}  // namespace

std::string ErrorReportText(const std::string& procedure, int32_t number,
                            const std::string& description, const std::string& step) {
  return "Error in function '" + procedure + "'\r\n" + "Error: " + NumberWithHex(number) + "\r\n" +
         "Reason: " + description + "\r\n" + "Debug information: " + step + "\r\n" + "\r\n" +
         "Version: " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
         std::to_string(kVersionRevision) + "\r\n" + "\r\n" +
         "This error message is on the clipboard.\r\n" +
         "The program will now terminate. Have a nice day :)";
}

void ErrorHandler(const std::string& procedure, int32_t number, const std::string& description,
                  const std::string& step) {
  const std::string report = ErrorReportText(procedure, number, description, step);
  if (!Flags().hide) CopyToClipboard(report);
  TryWriteLog(report);
  ShowMessage(report, kMsgCritical, kSettingsAppName, kAnswerOk);
  EndProgram(kExitFatal);
}

void HaltError(const std::string& message, int exit_status) {
  TryWriteLog(message);
  // Without a message box the person who started the run would otherwise see nothing.
  if (!Flags().hide) std::fprintf(stderr, "%s: %s\n", kSettingsAppName, message.c_str());
  EndProgram(exit_status);
}

void EndProgram(int exit_status) {
  TryWriteLog("End");
  std::fflush(nullptr);
  if (EndHandler()) EndHandler()(exit_status);
  std::exit(exit_status);
}

void SetProgramEndHandler(std::function<void(int)> handler) {
  EndHandler() = std::move(handler);
}

}  // namespace ferrolyte
