#include "conversion/record_transfer.h"

#include <gtest/gtest.h>

#include "conversion/literals.h"
#include "conversion_fixtures.h"
#include "support/files.h"
#include "support/oledate.h"
#include "support/text.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

using testing::FakeAccess;
using testing::FakeServer;
using testing::FakeTable;

class RecordTransferTest : public ::testing::Test {
 protected:
  RecordTransferTest() {
    auto backend = std::make_unique<FakeAccess>();
    access_ = backend.get();
    source_.AttachBackend(std::move(backend));
    auto server = std::make_unique<FakeServer>(&sent_);
    server_ = server.get();
    server_connection_.AttachBackend(std::move(server));
  }

  RecordTransfer Transfer(Destination* destination) {
    RecordTransfer t;
    t.source = &source_;
    t.destination = destination;
    t.source_table = "T";
    t.destination_table = "T";
    t.source_file_name = "shop.mdb";
    t.destination_database = "velkan";
    t.column_list = false;
    return t;
  }

  // Runs the transfer into the fake server.
  int32_t Direct(RecordTransfer t) {
    ServerDestination d(&server_connection_);
    t.destination = &d;
    return MoveRecords(t, report_, run_.Context());
  }

  FakeAccess* access_;
  FakeServer* server_;
  Connection source_, server_connection_;
  std::vector<std::string> sent_;
  std::string report_;
  testing::TestRun run_;
  RecordingStatus& status_ = run_.status;
};

TEST_F(RecordTransferTest, LiteralByTypeCode) {
  double date = FieldsToOleDate({2009, 3, 7, 14, 5, 9});
  struct Case {
    int type;
    Value value;
    const char* literal;
  } cases[] = {
      {8, Value("a'b"), "E'a''b'"},
      {72, Value("{0A-1}"), "E'{0A-1}'"},
      {129, Value("x"), "E'x'"},
      {130, Value("x"), "E'x'"},
      {200, Value("x"), "E'x'"},
      {201, Value("x"), "E'x'"},
      {202, Value("Zoë?"), "E'Zoë\\x3f'"},
      {203, Value("l1\r\nl2"), "E'l1\\r\\nl2'"},
      {2, Value(-3), "-3"},
      {3, Value(7), "7"},
      {4, Value::Single(0.25f), ".25"},
      {5, Value(1234.5), "1234.5"},
      {6, Value::Decimal("-0.5000"), "-.5000"},
      {14, Value::Decimal("1.5"), "1.5"},
      {16, Value(-1), "-1"},
      {17, Value(255), "255"},
      {18, Value(1), "1"},
      {19, Value(1), "1"},
      {20, Value(int64_t{1} << 40), "1099511627776"},
      {21, Value(1), "1"},
      {131, Value::Decimal("0.001"), ".001"},
      {2, Value::Null(), "NULL"},
      {11, Value(true), "E'1'"},
      {11, Value(false), "E'0'"},
      {11, Value(-1), "E'1'"},
      {11, Value::Null(), "E'0'"},
      {7, Value::Date(date), "'2009-03-07 14:05:09'"},
      {135, Value::Date(date), "'2009-03-07 14:05:09'"},
      {133, Value::Date(date), "'2009-03-07 14:05:09'"},
      {7, Value::Null(), "NULL"},
      {128, Value::FromBytes({1, 0xab}), "E'01AB'"},
      {204, Value::FromBytes({}), "E''"},  // empty, which is not null
      {205, Value::Null(), "NULL"},
      {999, Value("odd"), "E'odd'"},
  };
  FakeTable table;
  std::vector<Value> row;
  std::string expected = "INSERT INTO \"T\" VALUES (";
  for (size_t i = 0; i < std::size(cases); ++i) {
    table.names.push_back("c" + std::to_string(i));
    table.types.push_back(cases[i].type);
    row.push_back(cases[i].value);
    expected += std::string(i ? ", " : "") + cases[i].literal;
  }
  table.rows.push_back(row);
  access_->tables["T"] = table;
  EXPECT_EQ(Direct(Transfer(nullptr)), 1);
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0], expected + ")");
  EXPECT_EQ(access_->statements, (std::vector<std::string>{"CountRows [T]", "OpenRows [T] *"}));
}

TEST_F(RecordTransferTest, ColumnListAndRequiredFlags) {
  access_->tables["T"] = {{"A", "B", "C"}, {3, 204, 3}, {{Value(1), Value::Null(), Value(2)}}};
  RecordTransfer t = Transfer(nullptr);
  t.source_rows = TableRows("T", {"B", "A"});
  t.destination_column_list = "\"B\", \"A\"";
  t.column_list = true;
  t.required = {true, false};
  EXPECT_EQ(Direct(t), 1);
  EXPECT_EQ(access_->statements.back(), "OpenRows [T] [B], [A]");
  EXPECT_EQ(sent_, std::vector<std::string>{"INSERT INTO \"T\" (\"B\", \"A\") VALUES (E'', 1)"});

  // Selected without column entries: every column, and no empty column list.
  t.source_rows.columns.clear();
  t.destination_column_list.clear();
  t.required.clear();
  EXPECT_EQ(Direct(t), 1);
  EXPECT_EQ(access_->statements.back(), "OpenRows [T] *");
  EXPECT_EQ(sent_.back(), "INSERT INTO \"T\" VALUES (1, NULL, 2)");
}

// Each column whose texts lost a NUL is named once, with the number of its values that did;
// a column without one gets no line.
TEST_F(RecordTransferTest, NulCharactersAreReportedPerColumn) {
  const std::string nul("a\0b", 3);
  access_->tables["T"] = {{"Name", "Note", "Clean"},
                          {202, 203, 202},
                          {{Value(nul), Value(nul + nul), Value("x")},
                           {Value("plain"), Value(nul), Value("y")},
                           {Value(nul), Value::Null(), Value("z")}}};
  EXPECT_EQ(Direct(Transfer(nullptr)), 3);
  auto has = [](const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  };
  EXPECT_TRUE(has(sent_.at(0), "INSERT INTO \"T\" VALUES (E'a b', E'a ba b', E'x');")) << sent_[0];
  const std::string rest =
      " values hold the character NUL, which PostgreSQL text cannot hold; "
      "each NUL became a space\r\n";
  EXPECT_TRUE(has(report_, "- Table 'T', column 'Name': 2" + rest)) << report_;
  EXPECT_TRUE(has(report_, "- Table 'T', column 'Note': 2" + rest)) << report_;
  EXPECT_FALSE(has(report_, "'Clean'")) << report_;
  int status_lines = 0;
  for (const std::string& l : status_.lines) status_lines += has(l, "column 'Name': 2 values");
  EXPECT_EQ(status_lines, 1);
}

TEST_F(RecordTransferTest, EmptyTableIntoDump) {
  access_->tables["T"] = {{"A"}, {3}, {}};
  testing::TempDir dir;
  {
    DumpFile dump(SystemEnv(), dir.File("d.sql"));
    auto d = MakeDumpDestination(dump, false);
    EXPECT_EQ(MoveRecords(Transfer(d.get()), report_, run_.Context()), 0);
    dump.Close();
  }
  EXPECT_EQ(ReadTextFile(dir.File("d.sql"), ""), "-- 0 records\r\n\r\n");
  EXPECT_EQ(status_.lines, (std::vector<std::string>{"  Moving records", "  0 records moved"}));
  EXPECT_EQ(status_.progress_page, "PROGRESS");
  EXPECT_EQ(status_.progress_max, 1);
  EXPECT_EQ(status_.progress_position, 0);
  EXPECT_EQ(report_, "");
}

TEST_F(RecordTransferTest, ProgressEveryTenRowsAndCancel) {
  FakeTable table{{"N"}, {3}, {}};
  for (int i = 1; i <= 100; ++i) table.rows.push_back({Value(i)});
  access_->tables["T"] = table;
  std::vector<std::string> texts;
  // The Cancel click arrives while row 25 is moved; the window handles it at the next
  // event processing.
  status_.on_events = [&] {
    if (status_.progress_position > 0 && (texts.empty() || texts.back() != status_.progress_text))
      texts.push_back(status_.progress_text);
    if (status_.progress_position >= 25) run_.cancel = true;
  };
  testing::TempDir dir;
  {
    DumpFile dump(SystemEnv(), dir.File("d.sql"));
    auto d = MakeDumpDestination(dump, false);
    TableOutcome outcome;
    EXPECT_EQ(MoveRecords(Transfer(d.get()), report_, run_.Context(), &outcome), 30);
    EXPECT_EQ(outcome.result, TableResult::kPartial);
    EXPECT_EQ(outcome.rows_moved, 30);
    EXPECT_EQ(outcome.rows_expected, 100);
    EXPECT_EQ(outcome.reason, "stopped on request");
    dump.Close();
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"shop.mdb - T -> velkan (10/100)",
                                             "shop.mdb - T -> velkan (20/100)",
                                             "shop.mdb - T -> velkan (30/100)"}));
  EXPECT_EQ(status_.progress_max, 100);
  std::vector<std::string> lines = Split(ReadTextFile(dir.File("d.sql"), ""), "\r\n");
  ASSERT_EQ(lines.size(), 33u);
  EXPECT_EQ(lines[0], "INSERT INTO \"T\" VALUES (1);");
  EXPECT_EQ(lines[29], "INSERT INTO \"T\" VALUES (30);");
  EXPECT_EQ(lines[30], "-- 30 records");
  EXPECT_EQ(lines[31], "");
  EXPECT_EQ(status_.lines.back(), "  30 records moved");
}

TEST_F(RecordTransferTest, Failures) {
  struct Case {
    const char* what;
    FakeTable table;
    bool fail_count;
    bool reject_insert;
    int32_t number;
    const char* reason_start;
    bool sql_line;
  } cases[] = {
      {"blob",
       {{"B"}, {205}, {{Value::FromBytes(Bytes(kMaxBlobSize + 1, 0))}}},
       false,
       false,
       1003,
       "The maximum blob size",
       false},
      {"count", {{"A"}, {3}, {{Value(1)}}}, true, false, -2147217865, "The table", false},
      {"insert", {{"A"}, {3}, {{Value(1)}}}, false, true, kAdoRejectedStatement, "ERROR:", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    access_->tables["T"] = c.table;
    access_->fail_count = c.fail_count;
    server_->reject = [&](const std::string& sql) {
      return c.reject_insert && sql.find("INSERT") == 0;
    };
    report_.clear();
    status_.lines.clear();
    ServerDestination d(&server_connection_);
    TableOutcome outcome;
    EXPECT_EQ(MoveRecords(Transfer(&d), report_, run_.Context(), &outcome), -1);
    EXPECT_EQ(outcome.result, TableResult::kFailed);
    EXPECT_EQ(outcome.rows_moved, 0);
    EXPECT_EQ(outcome.reason.rfind("Error " + std::to_string(c.number) + ": " + c.reason_start, 0),
              0u)
        << outcome.reason;
    EXPECT_EQ(status_.lines.back(), "  Error moving data");
    std::vector<std::string> lines = Split(report_, "\r\n");
    ASSERT_EQ(lines.size(), c.sql_line ? 5u : 4u) << report_;
    EXPECT_EQ(lines[0], "Error moving data");
    EXPECT_EQ(lines[1], "Error: " + std::to_string(c.number));
    EXPECT_EQ(lines[2].rfind(std::string("Reason: ") + c.reason_start, 0), 0u) << lines[2];
    if (c.sql_line) {
      EXPECT_EQ(lines[3], "SQL: INSERT INTO \"T\" VALUES (1)");
    }
  }
}

TEST_F(RecordTransferTest, OversizeBlobIgnoredWhenAsked) {
  access_->tables["T"] = {
      {"A", "B"}, {3, 205}, {{Value(1), Value::FromBytes(Bytes(kMaxBlobSize + 1, 0))}}};
  RecordTransfer t = Transfer(nullptr);
  t.ignore_large_blobs = true;
  EXPECT_EQ(Direct(t), 1);
  EXPECT_EQ(sent_, std::vector<std::string>{"INSERT INTO \"T\" VALUES (1, NULL)"});
}

}  // namespace
}  // namespace ferrolyte
