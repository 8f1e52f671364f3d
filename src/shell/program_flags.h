// The program-wide flags: set at start-up from the command line, by the conversion run and
// by the window. They are the only process-wide mutable state of the program.
#pragma once

#include <string>

namespace ferrolyte {

struct ProgramFlags {
  // From the command line.
  bool autorun = false;
  bool hide = false;
  bool clear_log = false;
  bool first_write = true;  // the next log entry starts a new log file when clear_log is set
  bool unit_test = false;
  bool save_passwords = false;
  std::string success_command;  // stored only; nothing runs them
  std::string error_command;
  // The conversion run.
  bool transfer_running = false;
  bool abort_requested = false;
  // The main form.
  bool settings_loading = false;
  bool source_changed = false;
  std::string current_page;
};

// The one set of flags of this process.
ProgramFlags& Flags();

}  // namespace ferrolyte
