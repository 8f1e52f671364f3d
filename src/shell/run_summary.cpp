#include "shell/run_summary.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <regex>

#include "support/product.h"
#include "support/text.h"
#include "support/version.h"

namespace ferrolyte {
namespace {

// The run's reasons carry "Error <number>: " for the log; the person at the terminal wants
// the words of the server, the reader or the system.
std::string WithoutErrorNumbers(const std::string& reason) {
  static const std::regex kNumber("Error -?[0-9]+: ");
  return std::regex_replace(reason, kNumber, "");
}

std::string DumpName(const RunTarget& target) {
  return target.dump_file == "-" ? "standard output" : "'" + target.dump_file + "'";
}

std::string RunFailureWhat(const RunOutcome& outcome, const RunTarget& target) {
  if (outcome.not_connected || outcome.failed_step == "Open connection to destination database")
    return "cannot connect to the server" +
           (target.server.empty() ? std::string() : " " + target.server);
  if (outcome.failed_step == "Open dump file")
    return "cannot write the dump file " + DumpName(target);
  if (!outcome.failed_step.empty())
    return "the conversion failed at \"" + outcome.failed_step + "\"";
  return "the conversion failed";
}

// Columns of the summary: display width counted in characters, not bytes.
size_t Width(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string PadRight(const std::string& text, size_t width) {
  const size_t w = Width(text);
  return w >= width ? text : text + std::string(width - w, ' ');
}

std::string PadLeft(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Seconds(double seconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", seconds);
  return buffer;
}

// The rows the source holds for a table the run reached; none for one it did not.
int64_t RowsRead(const TableOutcome& table) {
  if (table.result == TableResult::kNotStarted) return 0;
  return table.rows_expected.value_or(table.rows_moved);
}

int TableErrors(const TableOutcome& table) {
  return table.result == TableResult::kFailed ? 1 : 0;
}

std::string UtcTime(std::chrono::system_clock::time_point time) {
  const std::time_t t = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  ::gmtime_r(&t, &utc);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return buffer;
}

}  // namespace

const char* RunResultText(RunResult result) {
  switch (result) {
    case RunResult::kCompleted:
      return "completed";
    case RunResult::kCompletedWithFailures:
      return "completed with failures";
    case RunResult::kStoppedOnRequest:
      return "stopped on request";
    case RunResult::kFailed:
      return "failed";
    case RunResult::kRefused:
      return "refused";
  }
  return "failed";
}

std::vector<std::string> FailureLines(const RunOutcome& outcome, const RunTarget& target) {
  std::vector<std::string> lines;
  const auto add = [&](const std::string& what, const std::string& why) {
    lines.push_back(OneLine(what + ": " + WithoutErrorNumbers(why)));
  };
  if (outcome.result == RunResult::kFailed)
    add(RunFailureWhat(outcome, target),
        outcome.reason.empty() ? "the run ended early" : outcome.reason);
  if (outcome.result == RunResult::kRefused) add("the run was refused", outcome.reason);
  if (outcome.result == RunResult::kStoppedOnRequest)
    add("the conversion stopped", "on request, before every table was complete");
  for (const TableOutcome& table : outcome.tables) {
    // Tables the failed or stopped run did not reach are told by the run's own line.
    if (table.result == TableResult::kComplete || table.result == TableResult::kNotStarted)
      continue;
    add("table '" + table.source_name + "' " + TableResultText(table.result),
        table.reason.empty() ? "not every row arrived" : table.reason);
  }
  for (const std::string& rejected : outcome.rejected) add("statement rejected", rejected);
  for (const QueryOutcome& query : outcome.queries)
    if (!query.created) add("query '" + query.name + "' did not become a view", query.reason);
  return lines;
}

std::string SummaryTable(const RunOutcome& outcome, double run_seconds) {
  const std::string kTable = "table", kRead = "read", kWritten = "written", kErrors = "errors",
                    kSeconds = "seconds", kTotal = "total";
  size_t name_width = std::max(kTable.size(), kTotal.size());
  for (const TableOutcome& table : outcome.tables)
    name_width = std::max(name_width, Width(OneLine(table.source_name)));
  size_t read_width = kRead.size(), written_width = kWritten.size(),
         seconds_width = kSeconds.size();
  int64_t read = 0, written = 0;
  int errors = 0;
  for (const TableOutcome& table : outcome.tables) {
    read += RowsRead(table);
    written += table.rows_moved;
    errors += TableErrors(table);
  }
  read_width = std::max(read_width, std::to_string(read).size());
  written_width = std::max(written_width, std::to_string(written).size());
  seconds_width = std::max(seconds_width, Seconds(run_seconds).size());
  const auto row = [&](const std::string& name, const std::string& r, const std::string& w,
                       const std::string& e, const std::string& s) {
    return PadRight(name, name_width) + "  " + PadLeft(r, read_width) + "  " +
           PadLeft(w, written_width) + "  " + PadLeft(e, kErrors.size()) + "  " +
           PadLeft(s, seconds_width);
  };
  std::string out = row(kTable, kRead, kWritten, kErrors, kSeconds) + "\n";
  for (const TableOutcome& table : outcome.tables)
    out += row(OneLine(table.source_name), std::to_string(RowsRead(table)),
               std::to_string(table.rows_moved), std::to_string(TableErrors(table)),
               Seconds(table.seconds)) +
           "\n";
  const double rate = run_seconds > 0 ? static_cast<double>(written) / run_seconds : 0;
  char rate_text[48];
  std::snprintf(rate_text, sizeof rate_text, "%.0f rows/s", rate);
  out += row(kTotal, std::to_string(read), std::to_string(written), std::to_string(errors),
             Seconds(run_seconds)) +
         "  " + rate_text + "\n";
  return out;
}

std::string RunReportJson(const std::string& source, const RunTarget& target,
                          const RunOutcome* outcome, int exit_status, const std::string& reason,
                          const RunTimes& times) {
  using Json = nlohmann::ordered_json;
  Json destination =
      target.direct
          ? Json{{"method", "direct"}, {"server", target.server}, {"database", target.database}}
          : Json{{"method", "dump"}, {"file", target.dump_file}, {"database", target.database}};
  Json tables = Json::array(), queries = Json::array(), rejected = Json::array();
  if (outcome) {
    for (const TableOutcome& table : outcome->tables)
      tables.push_back(
          {{"name", table.source_name},
           {"destination", table.destination_name},
           {"rows", table.rows_moved},
           {"rows_expected", table.rows_expected ? Json(*table.rows_expected) : Json()},
           {"result", TableResultText(table.result)},
           {"reason", table.reason},
           {"seconds", table.seconds}});
    for (const QueryOutcome& query : outcome->queries)
      queries.push_back({{"name", query.name},
                         {"view", query.destination},
                         {"created", query.created},
                         {"reason", query.reason}});
    for (const std::string& statement : outcome->rejected) rejected.push_back(statement);
  }
  const Json document = {
      {"program", kApplicationName},
      {"version", ProgramVersion()},
      {"source", source},
      {"destination", std::move(destination)},
      {"started", UtcTime(times.started)},
      {"ended", UtcTime(times.ended)},
      {"seconds", std::chrono::duration<double>(times.ended - times.started).count()},
      {"exit_status", exit_status},
      {"result", outcome ? RunResultText(outcome->result) : "failed"},
      {"reason", outcome && reason.empty() ? outcome->reason : reason},
      {"tables", std::move(tables)},
      {"queries", std::move(queries)},
      {"rejected", std::move(rejected)},
  };
  return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace ferrolyte
