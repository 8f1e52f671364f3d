// Run Now: keeping the settings in wizard.ini, the progress page, the conversion and the
// result page, with the step numbers that error reports quote.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "conversion/run_outcome.h"
#include "support/messages.h"
#include "support/run_context.h"
#include "support/status.h"
#include "support/value.h"
#include "wizard/page_flow.h"

namespace ferrolyte {

// What the result page says beside the report.
struct ResultLines {
  std::string load_command;  // a completed dump: the command that loads it, else empty
  std::string first_error;   // a run that failed or lost a table: its first error, else empty
};

// What the run page needs from the window beyond the page flow's view.
class RunPageView {
 public:
  virtual ~RunPageView() = default;
  virtual void ShowFrame(const std::string& frame) = 0;
  virtual void ShowButton(NavButton button) = 0;
  virtual void FocusButton(NavButton button) = 0;
  // The button Enter presses from now on; none: Enter presses nothing.
  virtual void SetDefaultButton(std::optional<NavButton> button) = 0;
  virtual void SetHeader(const std::string& title, const std::string& note) = 0;
  // The settings dictionary of the controls, passwords included.
  virtual DictionaryPtr BuildSettings() = 0;
  virtual void ClearStatusList() = 0;
  virtual void SetBusyPointer(bool busy) = 0;
  // Shows the report text with the caret after its last character.
  virtual void ShowReport(const std::string& report) = 0;
  // The result page's lines beside the report: the log file (the view knows its own) and
  // how to load the dump.
  virtual void ShowResultLines(const ResultLines& lines) = 0;
  virtual StatusOutput& Status() = 0;
  virtual const Messages& messages() const = 0;
  // The Cancel button's request to the running transfer, and whether one runs (Cancel then
  // asks about the transfer, not the wizard).
  virtual CancelToken& CancelRequest() = 0;
  virtual void SetTransferRunning(bool running) = 0;
};

// The result page's lines of the run.
ResultLines ResultLinesOf(const RunOutcome& outcome, const DictionaryPtr& settings);

// The psql command that loads the dump whole, the file name quoted for a POSIX shell when it
// needs it. The dump connects to the database it creates by itself.
std::string DumpLoadCommand(const std::string& dump_file);

// What the program's options say about Run Now.
struct RunPageOptions {
  bool autorun = false;         // an unattended run keeps no wizard.ini
  bool save_passwords = false;  // wizard.ini keeps the passwords
  std::string settings_file;    // where wizard.ini is kept
};

// The conversion: appends to the report and returns what it did; raises what happens
// before the destination opens.
using RunConversion =
    std::function<RunOutcome(const DictionaryPtr& settings, std::string& report, StatusOutput&)>;

// Writes the settings without passwords (unless options.save_passwords) to
// DefaultSettingsFile, shows the progress page, runs the conversion with the full settings
// and ends on the result page; returns the run's outcome (a Cancel is a stop on request).
// A run that failed or lost a table then shows its first error in a message. The transfer
// counts as running while `convert` runs. Error 1004 becomes an error block, a "Missing ODBC
// Driver" message, the result page and a failed outcome; any other error is raised again
// with its step number.
RunOutcome WizardNavigateRun(RunPageView& view, std::string& page, std::string& run_report,
                             const RunConversion& convert, const RunPageOptions& options);

// The result page: frame, Back, header, Exit focused and default, page "SAVESETTINGS", the
// report and its lines.
void ShowResultPage(RunPageView& view, std::string& page, const std::string& run_report,
                    const ResultLines& lines);

}  // namespace ferrolyte
