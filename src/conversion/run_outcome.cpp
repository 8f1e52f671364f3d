#include "conversion/run_outcome.h"

#include "support/text.h"

namespace ferrolyte {
namespace {

std::string Records(const TableOutcome& t) {
  if (!t.records_transferred) return "records not transferred";
  std::string text = std::to_string(t.rows_moved);
  if (t.rows_expected) text += " of " + std::to_string(*t.rows_expected);
  return text + " records";
}

std::string TableLine(const TableOutcome& t) {
  std::string line = t.source_name;
  if (!t.destination_name.empty() && t.destination_name != t.source_name)
    line += " -> " + t.destination_name;
  line += ": ";
  line += TableResultText(t.result);
  const bool nothing_read = t.result == TableResult::kFailed && !t.rows_expected && !t.rows_moved;
  if (t.result != TableResult::kNotStarted && !nothing_read) line += " (" + Records(t) + ")";
  if (!t.reason.empty()) line += ": " + t.reason;
  // A name may hold line breaks; one of them must not start a line of its own.
  return PrintableText(line);
}

std::string TablesNotMoved(const RunOutcome& o) {
  return std::to_string(o.TablesNotComplete()) + " of " + std::to_string(o.tables.size()) +
         " tables not fully moved";
}

// What went wrong in a run that went through: tables, queries, rejected statements.
std::string Failures(const RunOutcome& o) {
  std::vector<std::string> parts;
  if (o.TablesNotComplete() > 0 || (o.rejected.empty() && o.QueriesNotCreated() == 0))
    parts.push_back(TablesNotMoved(o));
  if (o.QueriesNotCreated() > 0)
    parts.push_back(std::to_string(o.QueriesNotCreated()) + " of " +
                    std::to_string(o.queries.size()) + " queries not created");
  if (!o.rejected.empty())
    parts.push_back(std::to_string(o.rejected.size()) +
                    (o.rejected.size() == 1 ? " statement rejected" : " statements rejected"));
  std::string text;
  for (const std::string& p : parts) text += (text.empty() ? "" : ", ") + p;
  return text;
}

std::string QueryLine(const QueryOutcome& q) {
  std::string line = "Query " + q.name;
  if (q.created) return PrintableText(line + " -> " + q.destination + ": view created");
  return PrintableText(line + ": not created: " + q.reason);
}

std::string ResultLine(const RunOutcome& o) {
  const std::string tables = TablesNotMoved(o);
  switch (o.result) {
    case RunResult::kCompleted:
      return "Result: completed";
    case RunResult::kCompletedWithFailures:
      if (o.TablesNotComplete() == 0 && o.QueriesNotCreated() > 0)
        return "Result: completed with failed queries (" + Failures(o) + ")";
      if (o.TablesNotComplete() == 0)
        return "Result: completed with rejected statements (" + Failures(o) + ")";
      return "Result: completed with failed tables (" + Failures(o) + ")";
    case RunResult::kStoppedOnRequest:
      return "Result: stopped on request (" + tables + ")";
    case RunResult::kFailed:
      return "Result: failed (" + (o.reason.empty() ? tables : o.reason) + ")";
    case RunResult::kRefused:
      return "Result: refused (" + o.reason + ")";
  }
  return "";
}

}  // namespace

int RunOutcome::ExitStatus() const {
  switch (result) {
    case RunResult::kCompleted:
      return 0;
    case RunResult::kStoppedOnRequest:
      return AnyTableFailed() ? kExitTablesNotMoved : kExitStoppedOnRequest;
    case RunResult::kFailed:
      return not_connected ? 1 : kExitTablesNotMoved;
    case RunResult::kCompletedWithFailures:
      return kExitTablesNotMoved;
    case RunResult::kRefused:
      return 2;
  }
  return kExitTablesNotMoved;
}

int RunOutcome::QueriesNotCreated() const {
  int n = 0;
  for (const QueryOutcome& q : queries) n += !q.created;
  return n;
}

int RunOutcome::TablesNotComplete() const {
  int n = 0;
  for (const TableOutcome& t : tables) n += t.result != TableResult::kComplete;
  return n;
}

bool RunOutcome::AnyTableFailed() const {
  for (const TableOutcome& t : tables)
    if (t.result == TableResult::kFailed) return true;
  return false;
}

TableOutcome* RunOutcome::Find(const std::string& source_name) {
  for (TableOutcome& t : tables)
    if (t.source_name == source_name) return &t;
  return nullptr;
}

const TableOutcome* RunOutcome::Find(const std::string& source_name) const {
  return const_cast<RunOutcome*>(this)->Find(source_name);
}

const char* TableResultText(TableResult result) {
  switch (result) {
    case TableResult::kComplete:
      return "complete";
    case TableResult::kPartial:
      return "partial";
    case TableResult::kFailed:
      return "failed";
    case TableResult::kNotStarted:
      return "not started";
  }
  return "";
}

std::string ResultSection(const RunOutcome& outcome) {
  std::string text = "\r\nRESULT\r\n------------\r\n";
  for (const TableOutcome& t : outcome.tables) text += TableLine(t) + "\r\n";
  for (const QueryOutcome& q : outcome.queries) text += QueryLine(q) + "\r\n";
  for (const std::string& r : outcome.rejected) text += "Rejected: " + r + "\r\n";
  if (!outcome.incomplete_dump.empty())
    text += "The dump is incomplete and was left as " + outcome.incomplete_dump + "\r\n";
  return text + ResultLine(outcome) + "\r\n";
}

std::string FinalStatusLine(const RunOutcome& outcome) {
  switch (outcome.result) {
    case RunResult::kCompleted:
      return "  Transfer completed";
    case RunResult::kCompletedWithFailures:
      return "  Transfer incomplete: " + Failures(outcome);
    case RunResult::kStoppedOnRequest:
      return "  Transfer was aborted";
    case RunResult::kFailed:
      return "  Transfer failed";
    case RunResult::kRefused:
      return "  Transfer refused";
  }
  return "";
}

std::string OneLine(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

}  // namespace ferrolyte
