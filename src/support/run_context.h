// What a scan or a conversion needs from outside itself, handed in by whoever starts it (the
// shell, the window, a test): nothing of it is process-wide, so two runs in one process
// cannot touch each other.
#pragma once

#include <atomic>
#include <string>

#include "support/clock.h"
#include "support/components.h"
#include "support/env.h"
#include "support/status.h"

namespace ferrolyte {

// Asks a run to stop before its next row. Any thread may set it; a lock-free atomic, so that
// what a signal handler sets can be one.
using CancelToken = std::atomic<bool>;
static_assert(CancelToken::is_always_lock_free);

struct RunContext {
  StatusOutput& status;
  const CancelToken& cancel;
  // The classes the run creates by name (connections, record sets, the engine).
  const ComponentRegistry& components;
  // The files, variables and folders the run sees.
  Env& env;
  // The program version dumps name ("1.0.1"; "UNITTEST" with the unittest option).
  std::string version_text;
  // A folder of the run's own (a PrivateFolder): the scan's file copy of the schema goes
  // there. Empty: no copy.
  std::string temp_folder;
  const Clock& clock = SystemClock();
  // A destination table that exists already makes a direct run refuse before it writes
  // anything, instead of replacing it (the command-line form's rule).
  bool refuse_existing_tables = false;
  // Set once the run has to end at once (SIGTERM): whatever the server runs for it is
  // cancelled. Null: statements run to their end.
  const CancelToken* end_now = nullptr;
  // The command-line forms: the report's error blocks name their error ("E_FAIL: Unspecified
  // error.") and leave out the window's lines about drivers and functions.
  bool named_errors = false;

  bool Cancelled() const { return cancel.load(std::memory_order_relaxed); }
};

}  // namespace ferrolyte
