// The end of the program: the fatal error report, the halt with a log line, the plain end.
// Each writes "End" to the log last and then ends the process with an exit status.
#pragma once

#include <cstdint>
#include <string>

#include "conversion/run_outcome.h"
#include "shell/program.h"

namespace ferrolyte {

// Exit statuses of the program; a run's own (0, 2, 3, 130) come from its RunOutcome, those
// of the signals that end it (143, 129, 141) from TerminationExitStatus.
enum ExitStatus : int {
  kExitOk = 0,        // the conversion completed
  kExitFatal = 1,     // an error report was written (start-up failure, unreadable source)
  kExitSettings = 2,  // autorun without settings, a settings file that cannot be loaded
                      // or settings that cannot mean what they say
  // A selected table was not fully moved, or a statement failed: the run's own status.
  kExitConversion = kExitTablesNotMoved,
};

// How the report reads: the number in decimal and hex or named (NamedError), and whether it
// says that it is on the clipboard.
struct ReportForm {
  bool named_error = false;
  bool on_clipboard = true;
};

// The report ErrorHandler shows: function, number, reason, step, version.
std::string ErrorReportText(const std::string& procedure, int32_t number,
                            const std::string& description, const std::string& step,
                            const ReportForm& form = {});

// Writes the report to the clipboard (when there is one and it is not hidden), the log and a
// message, then ends the program with kExitFatal. In the command-line forms the report goes
// to the log only and standard error gets "ferrolyte: <what>: <description>" (what: "error
// in <step>" when empty).
[[noreturn]] void ErrorHandler(Program& program, const std::string& procedure, int32_t number,
                               const std::string& description, const std::string& step,
                               const std::string& what = "");

// "ferrolyte: <what>: <why>" on standard error, the form of every failure of the
// command-line forms; line breaks in `why` become spaces.
void TellFailure(const std::string& what, const std::string& why);

// Writes the message to the log (and, unless hidden, to standard error) and ends the
// program; no message box is shown.
[[noreturn]] void HaltError(Program& program, const std::string& message,
                            int exit_status = kExitSettings);

// Writes "End" to the log and ends the process with the status (through program.end). A
// status other than 0 also tells on standard error where the log is.
[[noreturn]] void EndProgram(Program& program, int exit_status = kExitOk);

}  // namespace ferrolyte
