#include "shell/run_summary.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace ferrolyte {
namespace {

TableOutcome Table(const std::string& name, TableResult result, int64_t moved,
                   std::optional<int64_t> expected, const std::string& reason = "") {
  TableOutcome t;
  t.source_name = t.destination_name = name;
  t.result = result;
  t.rows_moved = moved;
  t.rows_expected = expected;
  t.reason = reason;
  t.seconds = 1.25;
  return t;
}

TEST(FailureLinesTest, OneLinePerFailureWithoutErrorNumbers) {
  const RunTarget dump{.dump_file = "/srv/x.sql"}, server{.direct = true, .server = "db:5433"};
  RunOutcome failed;
  failed.result = RunResult::kFailed;
  failed.failed_step = "Open dump file";
  failed.reason = "Error 75: Path/File access error: /srv/x.sql (Permission denied)";
  failed.tables = {Table("A", TableResult::kNotStarted, 0, 4)};
  EXPECT_EQ(FailureLines(failed, dump),
            std::vector<std::string>{"cannot write the dump file '/srv/x.sql': Path/File access "
                                     "error: /srv/x.sql (Permission denied)"});
  failed.failed_step = "Open connection to destination database";
  failed.not_connected = true;
  failed.reason = "Error -2147467259: FATAL:  password authentication failed for user \"u\"";
  EXPECT_EQ(FailureLines(failed, server),
            std::vector<std::string>{"cannot connect to the server db:5433: FATAL:  password "
                                     "authentication failed for user \"u\""});

  RunOutcome partly;
  partly.result = RunResult::kCompletedWithFailures;
  partly.tables = {Table("A", TableResult::kComplete, 4, 4),
                   // A line break in a name must not break the line.
                   Table("B\r\nC", TableResult::kFailed, 0, 2,
                         "CREATE TABLE was rejected: Error -2147217900: syntax error"),
                   Table("D", TableResult::kPartial, 1, 2)};
  partly.rejected = {"foreign key 'fk': Error 5: refused"};
  partly.queries = {{"Q1", "Q1", true, ""}, {"Q2", "Q2", false, "uses Forms!X"}};
  EXPECT_EQ(FailureLines(partly, dump),
            (std::vector<std::string>{
                "table 'B  C' failed: CREATE TABLE was rejected: syntax error",
                "table 'D' partial: not every row arrived",
                "statement rejected: foreign key 'fk': refused",
                "query 'Q2' did not become a view: uses Forms!X",
            }));
  RunOutcome complete;
  complete.tables = {Table("A", TableResult::kComplete, 4, 4)};
  EXPECT_TRUE(FailureLines(complete, dump).empty());
}

TEST(SummaryTableTest, RowsReadWrittenErrorsSecondsAndTheRate) {
  RunOutcome outcome;
  outcome.tables = {Table("Zoë", TableResult::kComplete, 1000, 1000),
                    Table("Lines", TableResult::kFailed, 10, std::nullopt, "x"),
                    Table("Later", TableResult::kNotStarted, 0, 20)};
  EXPECT_EQ(SummaryTable(outcome, 4.0),
            "table  read  written  errors  seconds\n"
            "Zoë    1000     1000       0      1.2\n"
            "Lines    10       10       1      1.2\n"
            "Later     0        0       0      1.2\n"
            "total  1010     1010       1      4.0  252 rows/s\n");
}

TEST(RunReportJsonTest, HoldsTheOutcomeOrTheReasonThereIsNone) {
  RunOutcome outcome;
  outcome.result = RunResult::kCompletedWithFailures;
  outcome.tables = {Table("T", TableResult::kFailed, 3, 5, "Error 3043: Disk or network error.")};
  const RunTimes times{std::chrono::system_clock::from_time_t(86400),
                       std::chrono::system_clock::from_time_t(86402)};
  nlohmann::json j = nlohmann::json::parse(RunReportJson(
      "/a.mdb", {.direct = true, .server = "h", .database = "d"}, &outcome, 3, "", times));
  EXPECT_EQ(j["started"], "1970-01-02T00:00:00Z");
  EXPECT_EQ(j["ended"], "1970-01-02T00:00:02Z");
  EXPECT_EQ(j["seconds"], 2.0);
  EXPECT_EQ(j["exit_status"], 3);
  EXPECT_EQ(j["result"], "completed with failures");
  EXPECT_EQ(j["destination"],
            nlohmann::json::parse(R"({"method":"direct","server":"h","database":"d"})"));
  EXPECT_EQ(j["tables"][0]["rows"], 3);
  EXPECT_EQ(j["tables"][0]["rows_expected"], 5);
  EXPECT_EQ(j["tables"][0]["result"], "failed");
  EXPECT_EQ(j["tables"][0]["reason"], "Error 3043: Disk or network error.");

  j = nlohmann::json::parse(
      RunReportJson("/a.mdb", {.dump_file = "-"}, nullptr, 1, "Unrecognized format", times));
  EXPECT_EQ(j["result"], "failed");
  EXPECT_EQ(j["reason"], "Unrecognized format");
  EXPECT_TRUE(j["tables"].empty());
  EXPECT_EQ(j["destination"]["file"], "-");
}

}  // namespace
}  // namespace ferrolyte
