// Start-up: parse the command line, start the log, count the run, check dependencies, load
// the settings, then either hand over to the window or run one conversion unattended.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "conversion/run_outcome.h"
#include "schema/schema_model.h"
#include "shell/program.h"
#include "support/messages.h"
#include "support/run_context.h"
#include "support/status.h"
#include "support/value.h"

namespace ferrolyte {

// The window's part of start-up. Start-up calls these in order, each under its own step
// text so that an error names the step; without a window they are skipped.
class WindowHooks {
 public:
  virtual ~WindowHooks() = default;
  // First of all: the program the window belongs to, for its own messages, log and end.
  virtual void Attach(Program& program) = 0;
  // The window's message boxes, through which the program shows its messages.
  virtual MessagePresenter& Presenter() = 0;  // After the dependency check: hide chkAutocommit, set
                                              // the port and user tool tips.
  virtual void PrepareControls() = 0;
  virtual void InitForm() = 0;
  virtual void RemovePictureTabStops() = 0;
  virtual void LayoutPageFrames() = 0;
  // Also sets the welcome text.
  virtual void SetTabOrder() = 0;
  // Copies the settings into the controls.
  virtual void ApplySettings(const DictionaryPtr& settings) = 0;
  virtual void ScaleDialog() = 0;
  virtual void UpdateSecurityFields() = 0;
  // Navigates from the current page (at start-up "INIT") with the command, e.g. "NEXT".
  virtual void Navigate(const std::string& command) = 0;
  // Where status lines go while the window exists.
  virtual StatusOutput& Status() = 0;
  // Shows the window and runs it until it is closed; returns the exit status.
  virtual int Run() = 0;
};

// The source fields a scan needs.
struct SourceFields {
  std::string file, password, user, system_database;
};

// The scanner and the conversion, passed in so that start-up can be tested without them.
struct ConversionServices {
  // Raises 1000 when a required component is missing.
  std::function<void(StatusOutput&, const Messages&, const ComponentRegistry&)> check_dependencies;
  // Returns the scanned schema; its file copy goes into ctx.temp_folder.
  std::function<SchemaModel(const SourceFields&, const RunContext& ctx)> scan;
  // Appends to the run report; returns what the run did.
  std::function<RunOutcome(const DictionaryPtr& settings, std::string& run_report,
                           const SchemaModel& schema, const RunContext& ctx)>
      convert;
};

// The real scanner and conversion.
ConversionServices DefaultServices();

// What start-up runs with besides the command line; tests pass their own.
struct StartupParts {
  ConversionServices services = DefaultServices();
  // Where messages go without a window; null: standard error.
  MessagePresenter* presenter = nullptr;
  ProgramEnd end;
  Env& env = SystemEnv();
};

// The unattended conversion: ends the program with 2 for settings that cannot be used, else
// scans the source the settings name (into a private folder of the run's own), expands a
// "*" selection, runs the conversion and writes its report to the log; returns the run's
// exit status (143, 129, 141 after SIGTERM, SIGHUP, SIGPIPE). Raises what the scan raises.
// ctx.temp_folder is not used.
int RunUnattended(Program& program, const DictionaryPtr& settings,
                  const ConversionServices& services, const RunContext& ctx);

// True when the words ask for an unattended run, which never needs a window.
bool WantsAutorun(const std::vector<std::string>& args);

// Runs the program for the words after the program path. Without a window (null), a run
// without autorun prints how to start an unattended run. Unattended runs end through
// EndProgram with their run's exit status (143 after SIGTERM, 2 for settings that cannot be
// used); the return value is the window's exit status.
int RunProgram(const std::vector<std::string>& args, WindowHooks* window,
               const StartupParts& parts);
int RunProgram(const std::vector<std::string>& args, WindowHooks* window);

}  // namespace ferrolyte
