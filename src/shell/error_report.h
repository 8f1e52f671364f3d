// The end of the program: the fatal error report, the halt with a log line, the plain end.
// Each writes "End" to the log last and then ends the process with an exit status.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace ferrolyte {

// Exit statuses of the program; a run's own (0, 3, 130, 143) come from its RunOutcome.
enum ExitStatus : int {
  kExitOk = 0,          // the conversion completed
  kExitFatal = 1,       // an error report was written (start-up failure, unreadable source)
  kExitSettings = 2,    // autorun without settings, a settings file that cannot be loaded
                        // or settings that cannot mean what they say
  kExitConversion = 3,  // a selected table was not fully moved, or a statement failed
};

// The report ErrorHandler shows: function, number in decimal and hex, reason, step, version.
std::string ErrorReportText(const std::string& procedure, int32_t number,
                            const std::string& description, const std::string& step);

// Writes the report to the clipboard (unless hidden), the log and a message, then ends
// the program with kExitFatal.
[[noreturn]] void ErrorHandler(const std::string& procedure, int32_t number,
                               const std::string& description, const std::string& step);

// Writes the message to the log and ends the program; no message is shown.
[[noreturn]] void HaltError(const std::string& message, int exit_status = kExitSettings);

// Writes "End" to the log and ends the process with the status.
[[noreturn]] void EndProgram(int exit_status = kExitOk);

// Replaces what ends the process after "End" is logged (default: std::exit). The handler
// must not return; tests install one that throws. Null restores the default.
void SetProgramEndHandler(std::function<void(int exit_status)> handler);

}  // namespace ferrolyte
