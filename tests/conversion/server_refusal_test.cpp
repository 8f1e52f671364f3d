// Direct runs against servers that refuse, time out, end sessions or hold tables already:
// every refusal ends in a report and an exit status, nothing the destination held changes
// without the report naming it, and what the run creates works afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "accesswriter/writer.h"
#include "conversion/conversion_run.h"
#include "conversion/server_run.h"
#include "platform/ado.h"
#include "platform/odbc_test_server.h"
#include "platform/pg_connection.h"
#include "support/errors.h"
#include "support/safe.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;
using namespace server_tests;

// A table of an id (an auto number when asked) and a number column, with `rows` rows.
aw::Table NumberTable(const std::string& name, const std::string& id, bool auto_number,
                      std::vector<aw::Index> indexes = {}) {
  aw::Table t{.name = name};
  t.columns = {{.name = id,
                .type = aw::ColumnType::kLong,
                .auto_number = auto_number ? aw::AutoNumber::kIncrement : aw::AutoNumber::kNone},
               {.name = "V", .type = aw::ColumnType::kLong}};
  t.indexes = std::move(indexes);
  return t;
}

void AddRows(aw::TableWriter& writer, int rows, bool auto_number) {
  for (int i = 1; i <= rows; ++i)
    writer.AddRow({auto_number ? aw::Value(nullptr) : aw::Value(i), aw::Value(i * 10)});
}

// A login of its own for one test, dropped after it.
class ScratchRole {
 public:
  ScratchRole(const std::string& stem, const std::string& options)
      : name_(testing::UniqueDatabaseName(stem)) {
    ConnectTo(MaintenanceDb())
        ->Execute("CREATE ROLE \"" + name_ + "\" LOGIN PASSWORD 'pw' " + options);
  }
  ~ScratchRole() {
    try {
      ConnectTo(MaintenanceDb())->Execute("DROP ROLE IF EXISTS \"" + name_ + "\"");
    } catch (const Error&) {
      // A database the test left behind may still belong to it; the cluster goes anyway.
    }
  }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

class ServerRefusalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveServer()) GTEST_SKIP() << "no PostgreSQL server (PGPORT unset)";
  }
  // Orders (3 rows, an auto number and a key) and Notes (2 rows).
  Source Shop() {
    const std::string path = dir_.File("shop.mdb");
    aw::DatabaseWriter db(path);
    AddRows(db.AddTable(
                NumberTable("Orders", "ID", true,
                            {{.name = "PrimaryKey", .columns = {{"ID"}}, .primary_key = true}})),
            3, true);
    AddRows(db.AddTable(NumberTable("Notes", "N", false)), 2, false);
    db.Finish();
    return Scan(path);
  }
  int64_t Count(Connection& c, const std::string& sql) { return SafeLng(QueryValue(c, sql)); }

  TempDir dir_;
};

// Refusals of CREATE DATABASE and DROP DATABASE are the commonest a server gives: each ends
// the run with its error block and exit status 3.
TEST_F(ServerRefusalTest, RefusedDatabaseStatementsEndWithTheErrorBlock) {
  const Source shop = Shop();
  ScratchRole no_createdb("nocreatedb", "NOCREATEDB");
  ScratchRole hasty("hasty", "SUPERUSER");
  ConnectTo(MaintenanceDb())
      ->Execute("ALTER ROLE \"" + hasty.name() + "\" SET statement_timeout = '300ms'");
  ScratchDatabase busy("busy");
  auto other_session = ConnectTo(busy.name());
  ScratchDatabase fresh("fresh", /*create=*/false);
  // A statement that outlasts the timeout for certain: one that waits for a lock.
  ScratchDatabase locked("locked");
  ConnectTo(locked.name())->Execute("CREATE TABLE \"Orders\" (mine int)");
  PgConnection holder({testing::ServerHost(), testing::ServerPort(), locked.name(),
                       testing::ServerUser(), testing::ServerPassword()});
  holder.Execute("BEGIN");
  holder.Execute("LOCK TABLE \"Orders\" IN ACCESS EXCLUSIVE MODE");
  struct Case {
    std::string user, database;
    bool drop;
    std::string reason;
  } cases[] = {
      {no_createdb.name(), fresh.name(), false,
       "Reason: ERROR: permission denied to create database"},
      {hasty.name(), locked.name(), false, "canceling statement due to statement timeout"},
      {testing::ServerUser(), busy.name(), true, "is being accessed by other users"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    DictionaryPtr settings = DirectSettings(shop, c.database);
    testing::Section(settings)->Set("destinationusername", c.user);
    if (c.user != testing::ServerUser())
      testing::Section(settings)->Set("destinationpassword", "pw");
    testing::Section(settings)->Set("dropdatabase", c.drop ? 1 : 0);
    auto run = RunConversion(settings, shop);
    EXPECT_EQ(run->code, 3) << run->report;
    EXPECT_TRUE(Contains(run->report, "Function: ConvertDatabase\r\n")) << run->report;
    EXPECT_TRUE(Contains(run->report, c.reason)) << run->report;
    EXPECT_TRUE(Contains(run->report, "\r\nResult: failed (")) << run->report;
  }
  // The database in use is still there.
  EXPECT_EQ(Count(*other_session, "SELECT 1"), 1);
  holder.Execute("ROLLBACK");
}

// Order (auto number Line_ID) and Order_Line (auto number ID) both get a sequence the server
// wants to call Order_Line_ID_seq: each table's next row must still get its own next number,
// after a direct run and after the dump is loaded.
TEST_F(ServerRefusalTest, SequencesFollowTheirOwnTablesWhenTheirNamesCollide) {
  const std::string path = dir_.File("orders.mdb");
  {
    aw::DatabaseWriter db(path);
    AddRows(db.AddTable(NumberTable("Order", "Line_ID", true)), 3, true);
    AddRows(db.AddTable(NumberTable("Order_Line", "ID", true)), 5, true);
    db.Finish();
  }
  const Source source = Scan(path);
  ScratchDatabase direct("seq", false), loaded("seqdump", false);
  const DictionaryPtr settings = DirectSettings(source, direct.name());
  auto run = RunConversion(settings, source);
  ASSERT_EQ(run->code, 0) << run->report;
  LoadDumpInto(source, settings, loaded.name(), "INSERT");
  for (const ScratchDatabase* db : {&direct, &loaded}) {
    SCOPED_TRACE(db->name());
    auto c = ConnectTo(db->name());
    EXPECT_EQ(Count(*c, "INSERT INTO \"Order\" (\"V\") VALUES (0) RETURNING \"Line_ID\""), 4);
    EXPECT_EQ(Count(*c, "INSERT INTO \"Order_Line\" (\"V\") VALUES (0) RETURNING \"ID\""), 6);
  }
}

// Index names made of table and index name can be another table's name or another index's;
// the destination may hold an unrelated table of that name too. Direct and dumped, every
// table and every index arrives.
TEST_F(ServerRefusalTest, IndexNamesThatWouldCollideStillArrive) {
  const std::string path = dir_.File("names.mdb");
  {
    aw::DatabaseWriter db(path);
    auto index = [](const std::string& name) {
      return std::vector<aw::Index>{{.name = name, .columns = {{"V"}}}};
    };
    for (const aw::Table& t :
         {NumberTable("Cust", "ID", false, index("City")), NumberTable("Cust_City", "ID", false),
          NumberTable("A", "ID", false, index("B_C")), NumberTable("A_B", "ID", false, index("C")),
          NumberTable("T", "ID", false, index("I"))})
      AddRows(db.AddTable(t), 2, false);
    db.Finish();
  }
  const Source source = Scan(path);
  ScratchDatabase direct("names"), loaded("namesdump", false);
  ConnectTo(direct.name())->Execute("CREATE TABLE \"T_I\" (kept int)");
  const DictionaryPtr settings = DirectSettings(source, direct.name());
  auto run = RunConversion(settings, source);
  ASSERT_EQ(run->code, 0) << run->report;
  EXPECT_TRUE(Contains(run->report, "- Index 'I' named 'T_I_1': 'T_I' is the name of another"))
      << run->report;
  LoadDumpInto(source, settings, loaded.name(), "COPY");
  for (const ScratchDatabase* db : {&direct, &loaded}) {
    SCOPED_TRACE(db->name());
    auto c = ConnectTo(db->name());
    EXPECT_EQ(Count(*c, "SELECT count(*) FROM pg_indexes WHERE schemaname = 'public'"), 4);
    for (const char* table : {"Cust", "Cust_City", "A", "A_B", "T"})
      EXPECT_EQ(Count(*c, std::string("SELECT count(*) FROM \"") + table + "\""), 2) << table;
  }
  EXPECT_EQ(Count(*ConnectTo(direct.name()), "SELECT count(*) FROM \"T_I\""), 0);
}

// A table of the same name that holds the user's rows: the command-line form refuses before
// anything is written; the other forms replace it and say so, with the rows it held. With
// dropdatabase the whole database goes, and its tables are named the same way.
TEST_F(ServerRefusalTest, ExistingTablesAreRefusedOrNamedWithTheirRows) {
  const Source shop = Shop();
  ScratchDatabase db("existing");
  ConnectTo(db.name())->Execute(
      "CREATE TABLE \"Orders\" (mine int); INSERT INTO \"Orders\" "
      "SELECT generate_series(1, 1000); CREATE TABLE \"Other\" (x int)");
  DictionaryPtr settings = DirectSettings(shop, db.name());
  auto refusing = [](RunContext& ctx) { ctx.refuse_existing_tables = true; };

  auto refused = RunConversion(settings, shop, refusing);
  EXPECT_EQ(refused->code, 2) << refused->report;
  EXPECT_EQ(refused->outcome.result, RunResult::kRefused);
  EXPECT_TRUE(Contains(refused->outcome.reason,
                       "holds tables this run would replace: 'Orders' "
                       "(1000 records); nothing was written"))
      << refused->outcome.reason;
  auto c = ConnectTo(db.name());
  EXPECT_EQ(Count(*c, "SELECT count(mine) FROM \"Orders\""), 1000);
  EXPECT_EQ(Count(*c, "SELECT count(*) FROM pg_tables WHERE tablename = 'Notes'"), 0);

  auto replaced = RunConversion(settings, shop);
  EXPECT_EQ(replaced->code, 0) << replaced->report;
  EXPECT_TRUE(Contains(replaced->report,
                       "Table: Orders\r\n- The existing table 'Orders', which "
                       "held 1000 records, was dropped\r\n"))
      << replaced->report;
  EXPECT_EQ(Count(*c, "SELECT count(*) FROM \"Orders\""), 3);

  testing::Section(settings)->Set("dropdatabase", 1);
  c.reset();
  auto drop_refused = RunConversion(settings, shop, refusing);
  EXPECT_EQ(drop_refused->code, 2) << drop_refused->report;
  EXPECT_TRUE(Contains(drop_refused->outcome.reason,
                       "would drop its tables 'Notes' (2 records), 'Orders' (3 records), "
                       "'Other' (0 records)"))
      << drop_refused->outcome.reason;
  auto dropped = RunConversion(settings, shop);
  EXPECT_EQ(dropped->code, 0) << dropped->report;
  EXPECT_TRUE(Contains(dropped->report, "Database '" + db.name() +
                                            "' dropped, with its tables:\r\n- 'Notes': 2 "
                                            "records\r\n- 'Orders': 3 records\r\n- 'Other': 0 "
                                            "records\r\n"))
      << dropped->report;
}

// dropdatabase never drops the database the run connects to first, nor a template.
TEST_F(ServerRefusalTest, DropDatabaseSparesTheMaintenanceDatabaseAndTemplates) {
  const Source shop = Shop();
  for (const std::string& database : {MaintenanceDb(), std::string("template1")}) {
    SCOPED_TRACE(database);
    DictionaryPtr settings = DirectSettings(shop, database);
    testing::Section(settings)->Set("dropdatabase", 1);
    testing::Section(settings)->Set("sourcetables", Value::TextList(std::vector<std::string>{}));
    auto run = RunConversion(settings, shop);
    EXPECT_EQ(run->code, 2) << run->report;
    EXPECT_TRUE(Contains(run->report, "The database '" + database + "' is not dropped: it is "))
        << run->report;
    EXPECT_EQ(Count(*ConnectTo(MaintenanceDb()),
                    "SELECT count(*) FROM pg_database WHERE datname = '" + database + "'"),
              1);
  }
}

// The rows go over a session of their own while the statement session waits for the
// sequence, COMMIT and index steps: a server that ends idle sessions must not end it, and
// one that ends it anyway fails the table instead of calling it complete.
TEST_F(ServerRefusalTest, StatementSessionWaitingThroughTheRowsIsKeptOrFailsTheTable) {
  const std::string path = dir_.File("slow.mdb");
  {
    aw::DatabaseWriter db(path);
    AddRows(
        db.AddTable(NumberTable("Slow", "ID", true,
                                {{.name = "PrimaryKey", .columns = {{"ID"}}, .primary_key = true},
                                 {.name = "ByV", .columns = {{"V"}}}})),
        300, true);
    db.Finish();
  }
  const Source source = Scan(path);

  ScratchDatabase idle("idle");
  ConnectTo(MaintenanceDb())
      ->Execute("ALTER DATABASE \"" + idle.name() + "\" SET idle_session_timeout = '1s'");
  // Slow rows: 30 progress steps of 100 ms keep the statement session idle for three seconds.
  auto slow_rows = [](RunContext& ctx) {
    static_cast<RecordingStatus&>(ctx.status).on_events = [] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    };
  };
  auto kept = RunConversion(DirectSettings(source, idle.name()), source, slow_rows);
  EXPECT_EQ(kept->code, 0) << kept->report;
  auto c = ConnectTo(idle.name());
  EXPECT_EQ(Count(*c, "INSERT INTO \"Slow\" (\"V\") VALUES (0) RETURNING \"ID\""), 301);
  c.reset();

  ScratchDatabase killed("killed");
  bool ended = false;
  int row_events = 0;
  auto end_statement_session = [&](RunContext& ctx) {
    auto& status = static_cast<RecordingStatus&>(ctx.status);
    status.on_events = [&] {
      // Every tenth row, once the rows go: after the first twenty.
      if (ended || status.lines.empty() || status.lines.back() != "  Moving records" ||
          ++row_events < 3)
        return;
      // The first session of the run on the database is the one of the statements.
      ended = SafeBool(QueryValue(
          *ConnectTo(MaintenanceDb()),
          "SELECT COALESCE((SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
          "datname = '" +
              killed.name() + "' ORDER BY backend_start LIMIT 1), false)"));
    };
  };
  auto lost = RunConversion(DirectSettings(source, killed.name()), source, end_statement_session);
  ASSERT_TRUE(ended);
  EXPECT_EQ(lost->code, 3) << lost->report;
  ASSERT_EQ(lost->outcome.tables.size(), 1u);
  EXPECT_EQ(lost->outcome.tables[0].result, TableResult::kFailed) << lost->report;
  EXPECT_TRUE(Contains(lost->outcome.tables[0].reason, "setting the sequence failed"))
      << lost->outcome.tables[0].reason;
  EXPECT_EQ(lost->outcome.result, RunResult::kFailed) << lost->report;
}

// A run that has to end now (SIGTERM) while the server keeps it waiting, here for a lock
// another session holds: the wait is cancelled and the run ends with its report.
TEST_F(ServerRefusalTest, EndingRunLeavesAServerWait) {
  const Source shop = Shop();
  ScratchDatabase db("locked");
  ConnectTo(db.name())->Execute("CREATE TABLE \"Orders\" (mine int)");
  PgConnection holder({testing::ServerHost(), testing::ServerPort(), db.name(),
                       testing::ServerUser(), testing::ServerPassword()});
  holder.Execute("BEGIN");
  holder.Execute("LOCK TABLE \"Orders\" IN ACCESS EXCLUSIVE MODE");

  CancelToken end_now{false};
  std::thread terminate([&] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    end_now = true;
  });
  const auto start = std::chrono::steady_clock::now();
  auto run = RunConversion(DirectSettings(shop, db.name()), shop,
                           [&](RunContext& ctx) { ctx.end_now = &end_now; });
  const auto waited = std::chrono::steady_clock::now() - start;
  terminate.join();
  EXPECT_EQ(run->code, 3) << run->report;
  EXPECT_TRUE(Contains(run->report, "canceling statement due to user request")) << run->report;
  // Not a timing target: a run that kept waiting would hold the lock's wait forever.
  EXPECT_LT(waited, std::chrono::seconds(60));
  holder.Execute("ROLLBACK");
}

}  // namespace
}  // namespace ferrolyte
