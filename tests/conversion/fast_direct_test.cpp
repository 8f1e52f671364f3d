// The direct transfer sends several rows per round trip. On the throw-away server, every
// outcome a user can see must equal sending each row alone: the rows left in the table, the
// run report with its "SQL: " line, the status lines, the count returned.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "conversion/destination.h"
#include "conversion/literals.h"
#include "conversion/record_transfer.h"
#include "conversion_fixtures.h"
#include "platform/ado.h"
#include "platform/odbc_test_server.h"
#include "platform/pg_connection.h"
#include "support/status.h"
#include "testing/fake_clock.h"

namespace ferrolyte {
namespace {

using testing::ConnectTo;
using testing::FakeAccess;
using testing::FakeTable;
using testing::QueryValue;
using testing::ScratchDatabase;

struct Outcome {
  int32_t moved = 0;
  std::string report;
  std::vector<std::string> lines;
  int64_t events = 0;
  std::string progress_text;
  std::string table;             // every row left on the server, in ID order
  std::vector<int> shown;        // each progress position shown while the rows moved
  int64_t inserts_rendered = 0;  // INSERTs built for rows that went with COPY
  int64_t binary_rows = 0;       // rows committed with binary COPY
};

class FastDirectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveServer()) GTEST_SKIP() << "no PostgreSQL server (PGPORT unset)";
    db_ = std::make_unique<ScratchDatabase>("fast");
    server_ = ConnectTo(db_->name());
    auto backend = std::make_unique<FakeAccess>();
    access_ = backend.get();
    source_.AttachBackend(std::move(backend));
  }
  void TearDown() override { server_.reset(); }

  // A source table of `rows` rows whose Name is "poison" at the given 1-based rows.
  // `memo` > 0 gives every row a memo of that many bytes.
  void Source(int rows, const std::vector<int>& poisoned, size_t memo = 0) {
    FakeTable t;
    t.names = {"ID", "Name", "Memo"};
    t.types = {3, 202, 203};
    for (int i = 1; i <= rows; ++i) {
      bool bad = std::find(poisoned.begin(), poisoned.end(), i) != poisoned.end();
      Value note = memo    ? Value(std::string(memo, 'm'))
                   : i % 7 ? Value::Null()
                           : Value(std::string("O'Brien; \\ \xC3\xA4 ;;"));
      t.rows.push_back({Value(static_cast<int64_t>(i)),
                        Value(bad ? std::string("poison") : "row " + std::to_string(i)), note});
    }
    access_->tables["T"] = std::move(t);
  }

  // Moves the source table into a fresh server table, `rows_per_round_trip` at a time, or
  // with COPY in chunks of `copy_chunk` rows. `cancel_at` > 0 clicks Cancel when the progress
  // reaches that row; `at_events` runs at each event processing of the transfer (1 for the
  // "Moving records" line, then 2 after row 10, 3 after row 20 ...).
  Outcome Move(const std::string& table, size_t rows_per_round_trip, int cancel_at = 0,
               size_t copy_chunk = 0, const std::function<void(int)>& at_events = nullptr) {
    server_->Execute("CREATE TABLE \"" + table +
                     "\" (\"ID\" int PRIMARY KEY, \"Name\" varchar(20) CHECK (\"Name\" <> "
                     "'poison'), \"Memo\" text)");
    std::unique_ptr<PgConnection> session;  // outlives the destination that uses it
    ServerDestination destination(server_.get());
    destination.set_rows_per_round_trip(rows_per_round_trip);
    if (copy_chunk > 0) {
      session = std::make_unique<PgConnection>(
          PgParameters{testing::ServerHost(), testing::ServerPort(), db_->name(),
                       testing::ServerUser(), testing::ServerPassword()});
      // The chunks' clock moves only when a test moves it.
      destination.set_row_session(session.get(), clock_);
      destination.set_rows_per_chunk(copy_chunk);
      session_pid_ = session->QueryValue("SELECT pg_backend_pid()").value();
    }
    RecordTransfer t;
    t.source = &source_;
    t.destination = &destination;
    t.source_table = "T";
    t.destination_table = table;
    t.destination_column_list = "\"ID\", \"Name\", \"Memo\"";
    t.source_file_name = "shop.mdb";
    t.destination_database = "velkan";
    RecordingStatus status;
    int calls = 0;
    Outcome o;
    status.on_events = [&] {
      if (status.progress_position > 0 &&
          (o.shown.empty() || o.shown.back() != status.progress_position))
        o.shown.push_back(status.progress_position);
      if (cancel_at > 0 && status.progress_position == cancel_at) cancel_ = true;
      if (at_events && !status.lines.empty() && status.lines.back() == "  Moving records")
        at_events(++calls);
    };
    cancel_ = false;
    o.moved = MoveRecords(
        t, o.report, {status, cancel_, testing::TestComponents(), SystemEnv(), "UNITTEST", ""});
    o.lines = status.lines;
    o.events = status.events_processed;
    o.progress_text = status.progress_text;
    o.inserts_rendered = destination.copy_rows_rendered_as_insert();
    o.binary_rows = destination.copy_rows_sent_binary();
    // The table name differs between the two runs; the statements must not otherwise.
    for (size_t at; (at = o.report.find(table)) != std::string::npos;)
      o.report.replace(at, table.size(), "TABLE");
    o.table = QueryValue(*server_,
                         "SELECT coalesce(string_agg(\"ID\" || '|' || \"Name\" || '|' || "
                         "coalesce(\"Memo\", '-'), E'\\n' ORDER BY \"ID\"), '') FROM \"" +
                             table + "\"")
                  .Text();
    return o;
  }

  // Runs both ways and checks that nothing a user can see differs.
  void ExpectSameAsOneByOne(const std::string& label, int cancel_at = 0) {
    Outcome alone = Move("alone_" + label, 1, cancel_at);
    // Round trips smaller than, not dividing, equal to and larger than the progress step.
    for (size_t per_trip :
         {size_t{2}, size_t{7}, ServerDestination::kRowsPerRoundTrip, size_t{100}}) {
      std::string where = label + " by " + std::to_string(per_trip);
      Outcome batched = Move("batched_" + label, per_trip, cancel_at);
      EXPECT_EQ(batched.moved, alone.moved) << where;
      EXPECT_EQ(batched.report, alone.report) << where;
      EXPECT_EQ(batched.lines, alone.lines) << where;
      EXPECT_EQ(batched.events, alone.events) << where;
      EXPECT_EQ(batched.progress_text, alone.progress_text) << where;
      EXPECT_EQ(batched.table, alone.table) << where;
      if (per_trip == ServerDestination::kRowsPerRoundTrip) last_ = batched;
      if (per_trip != 100) server_->Execute("DROP TABLE \"batched_" + label + "\"");
    }
    if (cancel_at > 0) return;  // a cancel inside a chunk leaves the chunk out: below
    // COPY chunks of 20 rows, and one chunk for the whole table. Only the progress differs:
    // it advances a chunk at a time.
    for (size_t chunk : {size_t{20}, size_t{100}}) {
      std::string where = label + " in COPY chunks of " + std::to_string(chunk);
      Outcome copied = Move("copied_" + label, 1, 0, chunk);
      EXPECT_EQ(copied.moved, alone.moved) << where;
      EXPECT_EQ(copied.report, alone.report) << where;
      EXPECT_EQ(copied.lines, alone.lines) << where;
      EXPECT_EQ(copied.table, alone.table) << where;
      if (chunk == 20) last_copied_ = copied;
      if (chunk != 100) server_->Execute("DROP TABLE \"copied_" + label + "\"");
    }
  }

  int64_t Rows(const std::string& table) {
    return QueryValue(*server_, "SELECT COUNT(*) FROM \"" + table + "\"").AsInteger();
  }

  std::unique_ptr<ScratchDatabase> db_;
  std::string session_pid_;  // of the COPY session of the last Move
  std::shared_ptr<Connection> server_;
  FakeAccess* access_ = nullptr;
  Connection source_;
  Outcome last_;
  Outcome last_copied_;
  CancelToken cancel_{false};
  testing::FakeClock clock_;
};

TEST_F(FastDirectTest, RejectedRowLeavesTheRowsBeforeItAndIsNamed) {
  // First, last and middle of a round trip (and of a COPY chunk: 1, 20, 21), the very
  // first row and the very last.
  for (int bad : {23, 1, 10, 11, 20, 21, 45}) {
    Source(45, {bad, bad + 3});
    std::string label = "r" + std::to_string(bad);
    ExpectSameAsOneByOne(label);
    EXPECT_EQ(last_.moved, -1) << label;
    EXPECT_EQ(Rows("batched_" + label), bad - 1) << label;
    std::string sql = "SQL: INSERT INTO \"TABLE\" (\"ID\", \"Name\", \"Memo\") VALUES (" +
                      std::to_string(bad) + ", E'poison', ";
    EXPECT_NE(last_.report.find(sql), std::string::npos) << last_.report;
    EXPECT_NE(last_.report.find("Error: -2147217900\r\nReason: ERROR: new row for relation"),
              std::string::npos)
        << last_.report;
    // Only the rejected statement is quoted, never the batch it travelled in.
    EXPECT_EQ(last_.report.find("SQL: "), last_.report.rfind("SQL: ")) << last_.report;
    EXPECT_EQ(last_.report.find(");INSERT"), std::string::npos) << last_.report;
  }
  // Long rows: a chunk is streamed while it fills, and the server refuses it before its end.
  Source(300, {150}, 1000);
  ExpectSameAsOneByOne("streamed");
  EXPECT_EQ(last_copied_.moved, -1);
  EXPECT_EQ(Rows("copied_streamed"), 149);
}

TEST_F(FastDirectTest, CancelAtRowThirtyLeavesThirtyRows) {
  Source(100, {});
  ExpectSameAsOneByOne("cancel", 30);
  EXPECT_EQ(last_.moved, 30);
  EXPECT_EQ(Rows("batched_cancel"), 30);
  EXPECT_EQ(last_.progress_text, "shop.mdb - T -> velkan (30/100)");
  EXPECT_EQ(last_.lines.back(), "  30 records moved");
}

TEST_F(FastDirectTest, AllRowsArriveWhateverTheLastRoundTripHolds) {
  for (int rows : {0, 1, 9, 10, 11, 37}) {
    Source(rows, {});
    std::string label = "n" + std::to_string(rows);
    ExpectSameAsOneByOne(label);
    EXPECT_EQ(last_.moved, rows) << label;
    EXPECT_EQ(Rows("batched_" + label), rows) << label;
  }
}

TEST_F(FastDirectTest, FailureOutsideTheServerStillSendsTheRowsReadBeforeIt) {
  // A value over the size limit ends the table with 1003; the held rows before it must be
  // on the server as if each had been sent alone, and a rejected one among them wins.
  for (bool poison_before : {false, true}) {
    FakeTable t;
    t.names = {"ID", "Name", "Memo"};
    t.types = {3, 202, 205};
    for (int i = 1; i <= 16; ++i)
      t.rows.push_back({Value(static_cast<int64_t>(i)),
                        Value(poison_before && i == 13 ? std::string("poison") : std::string("x")),
                        i == 15 ? Value::FromBytes(Bytes(kMaxBlobSize + 1, 0x41)) : Value::Null()});
    access_->tables["T"] = std::move(t);
    std::string label = poison_before ? "blob_after_reject" : "blob";
    ExpectSameAsOneByOne(label);
    EXPECT_EQ(last_.moved, -1) << label;
    EXPECT_EQ(Rows("batched_" + label), poison_before ? 12 : 14) << label;
    EXPECT_NE(last_.report.find(poison_before ? "Error: -2147217900" : "Error: 1003"),
              std::string::npos)
        << last_.report;
    EXPECT_EQ(last_.report.find("SQL: ") != std::string::npos, poison_before) << last_.report;
  }
}

TEST_F(FastDirectTest, TheNextTableIsNotBlamedForTheLastRejectedRow) {
  Source(5, {3});
  access_->tables["U"] = {
      {"ID", "Name", "Memo"},
      {3, 202, 205},
      {{Value(int64_t{1}), Value("x"), Value::FromBytes(Bytes(kMaxBlobSize + 1, 0x41))}}};
  PgConnection session({testing::ServerHost(), testing::ServerPort(), db_->name(),
                        testing::ServerUser(), testing::ServerPassword()});
  for (bool copy : {false, true}) {
    ServerDestination destination(server_.get());
    if (copy) destination.set_row_session(&session);
    std::string reports[2];
    for (int i = 0; i < 2; ++i) {
      const std::string table = std::string(copy ? "c" : "i") + (i ? "U" : "T");
      server_->Execute(
          "CREATE TABLE \"" + table +
          "\" (\"ID\" int, \"Name\" text CHECK (\"Name\" <> 'poison'), \"Memo\" text)");
      RecordTransfer t;
      t.source = &source_;
      t.destination = &destination;
      t.source_table = i ? "U" : "T";
      t.destination_table = table;
      RecordingStatus status;
      EXPECT_EQ(MoveRecords(t, reports[i], testing::ContextFor(status)), -1);
    }
    EXPECT_NE(reports[0].find("\r\nSQL: INSERT"), std::string::npos) << reports[0];
    // The blob of the next table fails before any of its rows is sent: no statement to name.
    EXPECT_NE(reports[1].find("Error: 1003"), std::string::npos) << reports[1];
    EXPECT_EQ(reports[1].find("SQL: "), std::string::npos) << reports[1];
  }
}

// --- rows with COPY, in chunks of 20: what differs from sending each row alone ----------

TEST_F(FastDirectTest, CancelInsideACopyChunkLeavesWhatTheProgressShowed) {
  Source(100, {});
  // Confirmed after row 30: the chunk of rows 21 to 40 is not committed yet.
  Outcome o = Move("copy_cancel", 1, 0, 20, [this](int call) {
    if (call == 4) cancel_ = true;
  });
  EXPECT_EQ(o.moved, 20);
  EXPECT_EQ(Rows("copy_cancel"), 20);
  EXPECT_EQ(o.progress_text, "shop.mdb - T -> velkan (20/100)");
  EXPECT_EQ(o.lines.back(), "  20 records moved");
  EXPECT_EQ(o.report, "");
}

TEST_F(FastDirectTest, LostCopySessionFailsTheTableWithTheChunksCommitted) {
  Source(100, {});
  Outcome o = Move("copy_lost", 1, 0, 20, [this](int call) {
    if (call == 4) server_->Execute("SELECT pg_terminate_backend(" + session_pid_ + ", 10000)");
  });
  EXPECT_EQ(o.moved, -1);
  EXPECT_EQ(Rows("copy_lost"), 20);
  EXPECT_EQ(o.progress_text, "shop.mdb - T -> velkan (20/100)");
  EXPECT_EQ(o.report.rfind("Error moving data\r\nError: -2147467259\r\nReason: ", 0), 0u)
      << o.report;
  // Where the work stopped: the first row the server does not hold.
  EXPECT_NE(
      o.report.find("\r\nSQL: INSERT INTO \"TABLE\" (\"ID\", \"Name\", \"Memo\") VALUES (21, "),
      std::string::npos)
      << o.report;
}

// --- rows with COPY: INSERTs built for a replay only; streamed between commits -----------

TEST_F(FastDirectTest, OnlyARejectedChunkHasItsRowsBuiltAsInserts) {
  Source(100, {});
  Outcome clean = Move("built_clean", 1, 0, 20);
  EXPECT_EQ(clean.moved, 100);
  EXPECT_EQ(clean.inserts_rendered, 0);
  // The rows went in binary, so the rejected chunks below are binary ones.
  EXPECT_EQ(clean.binary_rows, 100);
  // The third row of the first, second or third chunk at fault: the chunks accepted before
  // it add no INSERT, and the report still quotes the rejected one.
  std::vector<int64_t> built;
  for (int bad : {3, 23, 43}) {
    Source(100, {bad});
    const std::string label = "built_" + std::to_string(bad);
    Outcome o = Move(label, 1, 0, 20);
    EXPECT_EQ(o.moved, -1) << label;
    EXPECT_EQ(Rows(label), bad - 1) << label;
    EXPECT_NE(o.report.find("\r\nSQL: INSERT INTO \"TABLE\" (\"ID\", \"Name\", \"Memo\") VALUES (" +
                            std::to_string(bad) + ", E'poison', "),
              std::string::npos)
        << o.report;
    EXPECT_GT(o.inserts_rendered, 0) << label;
    // The chunks before the rejected one's.
    EXPECT_EQ(o.binary_rows, (bad - 1) / 20 * 20) << label;
    built.push_back(o.inserts_rendered);
  }
  EXPECT_EQ(built[1], built[0]);
  EXPECT_EQ(built[2], built[0]);
}

TEST_F(FastDirectTest, AStopKeepsTheRowsStreamedSinceTheLastCommit) {
  // One chunk could hold the table: only the clock streams or commits its rows. The clock moves
  // while rows 21 to 30 are read; Cancel comes after row 30.
  struct Case {
    const char* what;
    std::chrono::milliseconds moved_by;
    int64_t committed_before_the_stop;
    int kept;
  } cases[] = {
      {"standing clock", std::chrono::milliseconds(0), 0, 0},
      {"stream time", CopyChunks::kStreamTime, 0, 30},
      {"chunk time", CopyChunks::kChunkTime, 30, 30},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Source(100, {});
    const std::string table = "stop_" + std::to_string(n++);
    int64_t committed = -1;
    Outcome o = Move(table, 1, 0, 1000, [&](int call) {
      if (call == 3) clock_.Advance(c.moved_by);
      if (call == 4) {
        committed = Rows(table);
        cancel_ = true;
      }
    });
    EXPECT_EQ(committed, c.committed_before_the_stop);
    EXPECT_EQ(o.moved, c.kept);
    EXPECT_EQ(Rows(table), c.kept);
    EXPECT_EQ(o.shown, c.kept ? std::vector<int>{c.kept} : std::vector<int>{});
    EXPECT_EQ(o.lines.back(), "  " + std::to_string(c.kept) + " records moved");
  }
}

TEST_F(FastDirectTest, ARejectedRowTakesTheStreamedRowsAfterItOffTheProgress) {
  // Rows 1 to 30 are streamed and shown; row 25 is refused when the chunk commits.
  Source(100, {25});
  Outcome o = Move("stream_rejected", 1, 0, 1000, [this](int call) {
    if (call == 3) clock_.Advance(CopyChunks::kStreamTime);
  });
  EXPECT_EQ(o.moved, -1);
  EXPECT_EQ(Rows("stream_rejected"), 24);
  ASSERT_FALSE(o.shown.empty());
  EXPECT_EQ(o.shown.front(), 30);
  EXPECT_EQ(o.progress_text, "shop.mdb - T -> velkan (24/100)");
  EXPECT_NE(
      o.report.find("\r\nSQL: INSERT INTO \"TABLE\" (\"ID\", \"Name\", \"Memo\") VALUES (25, "),
      std::string::npos)
      << o.report;
}

TEST_F(FastDirectTest, ProgressComesEachStreamTimeWhileAChunkIsOpen) {
  // The clock moves while each ten rows are read, from row 11 on; enough rows for a chunk to
  // commit on its age on the way.
  const int rows = static_cast<int>(10 * (CopyChunks::kChunkTime / CopyChunks::kStreamTime + 10));
  Source(rows, {});
  Outcome o = Move("copy_every", 1, 0, 1000, [this](int call) {
    if (call >= 2) clock_.Advance(CopyChunks::kStreamTime);
  });
  std::vector<int> each_ten_after_the_first;
  for (int row = 20; row <= rows; row += 10) each_ten_after_the_first.push_back(row);
  EXPECT_EQ(o.shown, each_ten_after_the_first);
  EXPECT_EQ(o.moved, rows);
  EXPECT_EQ(Rows("copy_every"), rows);
}

}  // namespace
}  // namespace ferrolyte
