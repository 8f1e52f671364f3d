// Direct runs whose tables move at once give what the same run in turn gives: the server's
// content, the report, the status lines in the source order and the exit status.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "accesswriter/writer.h"
#include "conversion/conversion_run.h"
#include "conversion/server_run.h"
#include "platform/odbc_test_server.h"
#include "platform/pg_connection.h"
#include "support/safe.h"
#include "support/text.h"
#include "testing/run_context.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;
using namespace server_tests;

constexpr const char* kTables[] = {"Big", "Small", "Keyed", "Dated", "Last"};

class TablesAtOnceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveServer()) GTEST_SKIP() << "no PostgreSQL server (PGPORT unset)";
  }

  // Five tables of different sizes; `duplicate` puts a second 2 under Keyed's unique index,
  // which the server rejects in the middle of the run.
  Source Write(bool duplicate) {
    const std::string path = dir_.File(duplicate ? "dup.mdb" : "shop.mdb");
    aw::DatabaseWriter db(path);
    aw::Table big{.name = "Big"};
    big.columns = {
        {.name = "ID", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement},
        {.name = "Label", .type = aw::ColumnType::kText, .size = 40},
        {.name = "Amount", .type = aw::ColumnType::kDouble}};
    big.indexes = {{.name = "PrimaryKey", .columns = {{"ID"}}, .primary_key = true},
                   {.name = "ByLabel", .columns = {{"Label"}}}};
    aw::TableWriter& big_rows = db.AddTable(big);
    for (int i = 0; i < 3000; ++i)
      big_rows.AddRow({nullptr, "label " + std::to_string(i % 97), i * 0.25});
    aw::Table small{.name = "Small"};
    small.columns = {{.name = "N", .type = aw::ColumnType::kLong}};
    aw::TableWriter& small_rows = db.AddTable(small);
    for (int i = 0; i < 7; ++i) small_rows.AddRow({i});
    aw::Table keyed{.name = "Keyed"};
    keyed.columns = {{.name = "Code", .type = aw::ColumnType::kLong}};
    keyed.indexes = {{.name = "ByCode", .columns = {{"Code"}}, .unique = true}};
    aw::TableWriter& keyed_rows = db.AddTable(keyed);
    for (int i = 1; i <= 400; ++i) keyed_rows.AddRow({i});
    if (duplicate) keyed_rows.AddRow({2});
    for (int i = 401; i <= 450; ++i) keyed_rows.AddRow({i});
    aw::Table dated{.name = "Dated"};
    dated.columns = {{.name = "Note", .type = aw::ColumnType::kMemo},
                     {.name = "Seen", .type = aw::ColumnType::kDateTime}};
    aw::TableWriter& dated_rows = db.AddTable(dated);
    for (int i = 0; i < 1200; ++i)
      dated_rows.AddRow({std::string(static_cast<size_t>(i % 300), 'x'), 40000.5 + i});
    aw::Table last{.name = "Last"};
    last.columns = {{.name = "Word", .type = aw::ColumnType::kText, .size = 10}};
    db.AddTable(last).AddRow({"end"});
    db.Finish();
    return Scan(path);
  }

  struct Converted {
    std::unique_ptr<testing::RunRecord> run;
    std::string report, lines;         // with the database's name taken out
    std::vector<std::string> content;  // per table: its rows' digest, then its indexes
    int64_t sessions_left = -1;
  };

  Converted Convert(const Source& source, int jobs) {
    ScratchDatabase db("at_once", /*create=*/false);
    DictionaryPtr settings = DirectSettings(source, db.name());
    testing::Section(settings)->Set("jobs", std::to_string(jobs));
    Converted c;
    c.run = RunConversion(settings, source);
    c.report = ReplaceAll(c.run->report, db.name(), "DB");
    for (const std::string& line : c.run->status.lines)
      c.lines += ReplaceAll(line, db.name(), "DB") + "\n";
    auto server = ConnectTo(db.name());
    for (const char* table : kTables) {
      const std::string quoted = std::string("\"") + table + "\"";
      c.content.push_back(table +
                          (": " + SafeStr(QueryValue(*server,
                                                     "SELECT count(*) || ' ' || coalesce(md5("
                                                     "string_agg(t::text, '|' ORDER BY "
                                                     "t::text)), '') FROM " +
                                                         quoted + " t"))));
      c.content.push_back(SafeStr(QueryValue(
          *server,
          std::string("SELECT coalesce(string_agg(indexdef, ';' ORDER BY indexdef), '') FROM "
                      "pg_indexes WHERE tablename = '") +
              table + "'")));
    }
    server.reset();
    c.sessions_left = SessionsOn(db.name());
    return c;
  }

  void ExpectSame(const Converted& in_turn, const Converted& at_once) {
    EXPECT_EQ(at_once.run->code, in_turn.run->code);
    EXPECT_EQ(at_once.run->outcome.result, in_turn.run->outcome.result);
    EXPECT_EQ(at_once.report, in_turn.report);
    EXPECT_EQ(at_once.lines, in_turn.lines);
    EXPECT_EQ(at_once.content, in_turn.content);
    ASSERT_EQ(at_once.run->outcome.tables.size(), in_turn.run->outcome.tables.size());
    for (size_t i = 0; i < in_turn.run->outcome.tables.size(); ++i) {
      const TableOutcome& a = at_once.run->outcome.tables[i];
      const TableOutcome& b = in_turn.run->outcome.tables[i];
      EXPECT_EQ(a.source_name, b.source_name);
      EXPECT_EQ(a.result, b.result) << a.source_name;
      EXPECT_EQ(a.rows_moved, b.rows_moved) << a.source_name;
      EXPECT_EQ(a.rows_expected, b.rows_expected) << a.source_name;
      EXPECT_EQ(a.reason, b.reason) << a.source_name;
    }
    EXPECT_EQ(at_once.sessions_left, 0) << "a lane's session outlived the run";
  }

  // Tables of 40 numbers each, in one column.
  Source WriteNumberTables(const std::string& file, const std::vector<std::string>& names) {
    const std::string path = dir_.File(file);
    aw::DatabaseWriter db(path);
    for (const std::string& name : names) {
      aw::Table t{.name = name};
      t.columns = {{.name = "N", .type = aw::ColumnType::kLong}};
      aw::TableWriter& rows = db.AddTable(t);
      for (int i = 0; i < 40; ++i) rows.AddRow({i});
    }
    db.Finish();
    return Scan(path);
  }

  // Every table created on the database from now on holds each row it is given until the
  // advisory lock `key` is free.
  static void HoldRowsOnLock(PgConnection& setup, int key) {
    setup.Execute(
        "CREATE FUNCTION wait_for_lock() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "PERFORM pg_advisory_xact_lock_shared(" +
        std::to_string(key) + "); RETURN NEW; END $$");
    setup.Execute(
        "CREATE FUNCTION hold_rows() RETURNS event_trigger LANGUAGE plpgsql AS $$ DECLARE r "
        "record; BEGIN FOR r IN SELECT * FROM pg_event_trigger_ddl_commands() WHERE command_tag "
        "= 'CREATE TABLE' LOOP EXECUTE format('CREATE TRIGGER held BEFORE INSERT ON %s FOR "
        "EACH ROW EXECUTE FUNCTION wait_for_lock()', r.object_identity); END LOOP; END $$");
    setup.Execute("CREATE EVENT TRIGGER hold_rows ON ddl_command_end EXECUTE FUNCTION hold_rows()");
  }

  TempDir dir_;
};

TEST_F(TablesAtOnceTest, ThreeJobsGiveWhatOneGives) {
  const Source source = Write(/*duplicate=*/false);
  const Converted in_turn = Convert(source, 1);
  ASSERT_EQ(in_turn.run->code, 0) << in_turn.report;
  ASSERT_EQ(in_turn.content[0].rfind("Big: 3000 ", 0), 0u) << in_turn.content[0];
  ExpectSame(in_turn, Convert(source, 3));
}

// The rejected row fails Keyed alone; the tables after it are reported after it, although
// they may have finished first.
TEST_F(TablesAtOnceTest, ATableFailingInTheMiddleKeepsTheOrderAndTheExitStatus) {
  const Source source = Write(/*duplicate=*/true);
  const Converted in_turn = Convert(source, 1);
  ASSERT_EQ(in_turn.run->code, 3) << in_turn.report;
  const TableOutcome* keyed = in_turn.run->outcome.Find("Keyed");
  ASSERT_TRUE(keyed);
  ASSERT_EQ(keyed->result, TableResult::kFailed);
  const Converted at_once = Convert(source, 3);
  ExpectSame(in_turn, at_once);
  const size_t failure = at_once.report.find("Error moving data");
  ASSERT_NE(failure, std::string::npos);
  EXPECT_LT(at_once.report.find("Table: Keyed"), failure);
  EXPECT_GT(at_once.report.find("Table: Last"), failure);
  EXPECT_GT(at_once.report.find("Table: Small"), failure);
}

// Ending the run (SIGTERM) while every lane waits on the server: each lane's wait is
// cancelled at once, not only before its next row, and every table keeps exactly the rows the
// run reports for it; a table the run would replace but never began keeps its rows. The waits
// are rows a trigger holds until an advisory lock is free.
TEST_F(TablesAtOnceTest, EndingRunCancelsEveryLaneWaitingOnTheServer) {
  const std::vector<std::string> names = {"W1", "W2", "W3", "W4", "W5"};
  const Source source = WriteNumberTables("waits.mdb", names);
  ScratchDatabase db("lane_waits");
  const PgParameters where{testing::ServerHost(), testing::ServerPort(), db.name(),
                           testing::ServerUser(), testing::ServerPassword()};
  PgConnection setup(where);
  setup.Execute("CREATE TABLE \"W5\" AS SELECT pg_catalog.generate_series(1, 7) AS \"N\"");
  HoldRowsOnLock(setup, 4242);
  PgConnection holder(where);
  holder.QueryValue("SELECT pg_advisory_lock(4242)");

  DictionaryPtr settings = DirectSettings(source, db.name());
  testing::Section(settings)->Set("jobs", "3");
  RecordingStatus status;
  CancelToken stop{false}, end_now{false};
  std::string report;
  auto run = std::async(std::launch::async, [&] {
    RunContext ctx{status, stop, testing::TestComponents(), SystemEnv(), "UNITTEST", ""};
    ctx.end_now = &end_now;
    return ConvertDatabase(settings, report, source.schema, ctx);
  });
  // Hang guards only: what is checked is how the run ends, not how fast.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int64_t waiting = 0;
  while (waiting < 3 && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    waiting =
        SafeLng(Value(setup
                          .QueryValue("SELECT count(*) FROM pg_stat_activity WHERE wait_event = "
                                      "'advisory' AND datname = current_database()")
                          .value_or("0")));
  }
  EXPECT_EQ(waiting, 3) << "the lanes never all waited on the server";
  stop = true;  // as SIGTERM sets both
  end_now = true;
  const bool ended = run.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  // Unblocked either way, so that a run that ignored the cancel still ends and fails here.
  holder.QueryValue("SELECT pg_advisory_unlock(4242)");
  EXPECT_TRUE(ended) << "the cancel did not reach the waiting lanes";
  const RunOutcome outcome = run.get();
  EXPECT_NE(outcome.ExitStatus(), 0) << report;
  EXPECT_TRUE(Contains(report, "canceling statement due to user request")) << report;

  setup.Execute("DROP EVENT TRIGGER hold_rows");
  const TableOutcome* replaced = outcome.Find("W5");
  ASSERT_TRUE(replaced);
  EXPECT_EQ(replaced->rows_moved, 0);
  EXPECT_EQ(setup.QueryValue("SELECT count(*) FROM \"W5\"").value_or(""), "7")
      << "a table the run replaces was dropped before its rows could move";
  int created = 0;
  for (const std::string& name : names) {
    if (name == "W5") continue;
    const TableOutcome* table = outcome.Find(name);
    ASSERT_TRUE(table) << name;
    const std::optional<std::string> held =
        setup.QueryValue("SELECT count(*) FROM pg_catalog.pg_class WHERE relname = '" + name + "'");
    if (held.value_or("0") == "0") {
      // Never begun: a run in turn that stopped would not have created it either.
      EXPECT_EQ(table->rows_moved, 0) << name;
      continue;
    }
    ++created;
    EXPECT_NE(table->result, TableResult::kComplete) << name << ": " << report;
    EXPECT_EQ(table->rows_moved,
              SafeLng(Value(setup.QueryValue("SELECT count(*) FROM \"" + name + "\"").value())))
        << name;
    EXPECT_TRUE(Contains(report, "Table: " + name)) << report;
  }
  EXPECT_GE(created, 3) << report;
  // A closed session's server process ends a moment later; the deadline is a hang guard.
  int64_t sessions = SessionsOn(db.name());
  for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
       sessions > 2 && std::chrono::steady_clock::now() < until; sessions = SessionsOn(db.name()))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(sessions, 2) << "a lane's session outlived the run";
}

// A lane's session lost in the middle ends the run as losing the session ends a run in turn:
// the destination could not be written any more. The lane takes no more tables (each would
// fail at once), every table the destination holds is reported with the rows it holds, and
// none is left behind that the report calls not started.
TEST_F(TablesAtOnceTest, ALostLaneEndsTheRunAsInTurn) {
  const std::vector<std::string> names = {"L1", "L2", "L3", "L4", "L5"};
  const Source source = WriteNumberTables("lost.mdb", names);
  ScratchDatabase db("lane_lost");
  const PgParameters where{testing::ServerHost(), testing::ServerPort(), db.name(),
                           testing::ServerUser(), testing::ServerPassword()};
  PgConnection setup(where);
  HoldRowsOnLock(setup, 4343);
  PgConnection holder(where);
  holder.QueryValue("SELECT pg_advisory_lock(4343)");

  DictionaryPtr settings = DirectSettings(source, db.name());
  testing::Section(settings)->Set("jobs", "2");
  RecordingStatus status;
  CancelToken stop{false};
  std::string report;
  auto run = std::async(std::launch::async, [&] {
    RunContext ctx{status, stop, testing::TestComponents(), SystemEnv(), "UNITTEST", ""};
    return ConvertDatabase(settings, report, source.schema, ctx);
  });
  // Hang guards only.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  const std::string waiting =
      "FROM pg_stat_activity WHERE wait_event = 'advisory' AND datname = current_database()";
  while (SafeLng(Value(setup.QueryValue("SELECT count(*) " + waiting).value_or("0"))) < 2 &&
         std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::string killed =
      setup.QueryValue("SELECT pid " + waiting + " ORDER BY backend_start LIMIT 1").value_or("");
  ASSERT_FALSE(killed.empty()) << "no lane waited on the server";
  setup.Execute("SELECT pg_terminate_backend(" + killed + ", 10000)");
  holder.QueryValue("SELECT pg_advisory_unlock(4343)");
  ASSERT_EQ(run.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  const RunOutcome outcome = run.get();
  setup.Execute("DROP EVENT TRIGGER hold_rows");

  EXPECT_EQ(outcome.result, RunResult::kFailed) << report;
  EXPECT_EQ(outcome.reason.rfind("the destination could not be written any more: ", 0), 0u)
      << outcome.reason;
  EXPECT_NE(outcome.ExitStatus(), 0);
  int failed = 0;
  for (const std::string& name : names) {
    const TableOutcome* table = outcome.Find(name);
    ASSERT_TRUE(table) << name;
    if (table->result == TableResult::kFailed) ++failed;
    EXPECT_FALSE(Contains(table->reason, "no connection")) << name << ": " << table->reason;
    EXPECT_NE(table->reason, "stopped on request") << name;
    const bool held =
        setup.QueryValue("SELECT count(*) FROM pg_catalog.pg_class WHERE relname = '" + name + "'")
            .value_or("0") != "0";
    if (!held) {
      EXPECT_EQ(table->result, TableResult::kNotStarted) << name << ": " << report;
      continue;
    }
    EXPECT_NE(table->result, TableResult::kNotStarted) << name << " is held but not reported";
    EXPECT_EQ(table->rows_moved,
              SafeLng(Value(setup.QueryValue("SELECT count(*) FROM \"" + name + "\"").value())))
        << name;
  }
  EXPECT_EQ(failed, 1) << report;
  EXPECT_EQ(outcome.Find("L5")->result, TableResult::kNotStarted) << report;
}

}  // namespace
}  // namespace ferrolyte
