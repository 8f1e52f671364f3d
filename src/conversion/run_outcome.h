// What a conversion run did, as a value: per selected table whether it arrived whole, and
// how the run as a whole ended. The exit status, the report's result section and the final
// status line are all derived from this one value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ferrolyte {

enum class TableResult {
  kComplete,    // every row the source holds is at the destination
  kPartial,     // some rows are (a stop on request, or a row walk that ended short)
  kFailed,      // the table or its rows were refused, or it is not in the source
  kNotStarted,  // the run ended before it
};

enum class RunResult {
  kCompleted,              // every selected table is complete
  kCompletedWithFailures,  // the run went through, but some table or statement failed
  kStoppedOnRequest,       // Ctrl+C, Cancel or SIGTERM
  kFailed,                 // the run itself ended early (source unreadable, destination lost)
  kRefused,                // nothing was written: the destination holds what it would replace
};

struct TableOutcome {
  std::string source_name;       // as the source holds it
  std::string destination_name;  // prefix and shortening applied
  TableResult result = TableResult::kNotStarted;
  int64_t rows_moved = 0;
  // The live rows the source's data pages hold for the table (which its walk must find);
  // empty when they were not counted.
  std::optional<int64_t> rows_expected;
  bool records_transferred = true;  // false with transferrecords off
  std::string reason;               // why it is partial or failed; one line
  double seconds = 0;               // from its CREATE TABLE to its last row
  // Facts the user must know even when the table is complete: shortened names, a name
  // matched without regard to case, columns carried as hexadecimal text, lost keys.
  std::vector<std::string> notes;
};

// A selected query: the view it became, or why it did not become one.
struct QueryOutcome {
  std::string name;         // in Access
  std::string destination;  // the view's name
  bool created = false;
  std::string reason;  // one line; for a created view, what went wrong after (its comment)
};

struct RunOutcome {
  RunResult result = RunResult::kCompleted;
  std::vector<TableOutcome> tables;  // every selected table, in the order of the run
  std::string reason;                // why the run failed; one line
  std::string failed_step;           // what the run was doing when it failed ("Open dump file")
  std::string incomplete_dump;       // where a dump that did not complete was left
  // Statements after the tables that the server refused (foreign keys, comments), and
  // relationships that could not be read, each "what: error" on one line; the run went on
  // after each.
  std::vector<std::string> rejected;
  // Every selected query, when queries are transferred.
  std::vector<QueryOutcome> queries;
  // The run failed at its first connection to the server: nothing there was changed.
  bool not_connected = false;

  // 0 completed; 1 failed at the first connection to the server; 3 a table not fully moved
  // or a statement failed; 130 stopped on request (3 when a table had failed before the
  // stop); 2 refused before anything was written.
  int ExitStatus() const;
  // Selected tables that are not complete.
  int TablesNotComplete() const;
  // Selected queries without a view.
  int QueriesNotCreated() const;
  bool AnyTableFailed() const;
  // The selected table of that source name, or null.
  TableOutcome* Find(const std::string& source_name);
  const TableOutcome* Find(const std::string& source_name) const;
};

inline constexpr int kExitStoppedOnRequest = 130;  // as shells report SIGINT
// A selected table was not fully moved, or the run failed after it connected.
inline constexpr int kExitTablesNotMoved = 3;

// "complete", "partial", "failed", "not started".
const char* TableResultText(TableResult result);
// The report's result section: a heading, one line per selected table, the run's result;
// CR LF after every line.
std::string ResultSection(const RunOutcome& outcome);
// The last status line of a run: "  Transfer completed" only when it completed.
std::string FinalStatusLine(const RunOutcome& outcome);
// The text without CR and LF, so that it stays on one line (of a report, of a comment).
std::string OneLine(const std::string& text);

}  // namespace ferrolyte
