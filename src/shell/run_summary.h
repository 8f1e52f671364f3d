// What the convert form tells at the end of a run: a line for each failure, a table of the
// tables with their rows and times, and the same outcome as JSON for scripts.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "conversion/run_outcome.h"

namespace ferrolyte {

// Where the run wrote to, for the failure lines and the JSON.
struct RunTarget {
  bool direct = false;
  std::string dump_file;  // "-" for standard output
  std::string server;     // host[:port] as given
  std::string database;
};

// "<what failed>: <why>" for each failure of the run (the reason without its error number),
// one line each; nothing for a completed run.
std::vector<std::string> FailureLines(const RunOutcome& outcome, const RunTarget& target);

// One row per table (read: the rows the source holds; written; errors; seconds), then a total
// line with the rate over the whole run; "\n" after each line.
std::string SummaryTable(const RunOutcome& outcome, double run_seconds);

// The outcome for scripts: version, source, destination, start and end (UTC, ISO 8601), the
// seconds, the exit status, the result with its reason, each table (name, destination,
// rows, rows_expected, result, reason, seconds), the queries and the rejected statements.
// `outcome` null: the run ended before it had one (then `reason` says why).
struct RunTimes {
  std::chrono::system_clock::time_point started, ended;
};
std::string RunReportJson(const std::string& source, const RunTarget& target,
                          const RunOutcome* outcome, int exit_status, const std::string& reason,
                          const RunTimes& times);

// "completed", "completed with failures", "stopped on request", "failed", "refused".
const char* RunResultText(RunResult result);

}  // namespace ferrolyte
