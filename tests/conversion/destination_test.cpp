// Every destination is fed the same typed rows; each must send them in its own form, whole,
// and nothing of a row it cannot render.
#include "conversion/destination.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "conversion/literals.h"
#include "conversion_fixtures.h"
#include "support/errors.h"
#include "support/files.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

using testing::FakeServer;

struct RowCase {
  const char* what;
  std::vector<ColumnSpec> columns;
  std::vector<Value> values;
  std::string column_list;
  std::string insert;     // the row's INSERT, without ";"
  std::string copy_line;  // the row's COPY line
};

std::vector<RowCase> RowCases() {
  return {
      {"mixed kinds",
       {{ColumnKind::kNumber}, {ColumnKind::kString}, {ColumnKind::kBoolean}},
       {Value(int64_t{7}), Value("a\tb'"), Value(true)},
       "\"n\", \"s\", \"b\"",
       "INSERT INTO \"T\" (\"n\", \"s\", \"b\") VALUES (7, E'a\\tb''', E'1')",
       "7\ta\\tb'\t1"},
      {"nulls",
       {{ColumnKind::kString}, {ColumnKind::kNumber}, {ColumnKind::kBytea}},
       {Value::Null(), Value::Null(), Value::Null()},
       "\"s\", \"n\", \"f\"",
       "INSERT INTO \"T\" (\"s\", \"n\", \"f\") VALUES (NULL, NULL, NULL)",
       "\\N\t\\N\t\\N"},
      {"one column, no column list",
       {{ColumnKind::kBinary}},
       {Value::FromBytes({0x0A, 0xFF})},
       "",
       "INSERT INTO \"T\" VALUES (E'0AFF')",
       "0AFF"},
  };
}

std::vector<const Value*> Pointers(const std::vector<Value>& values) {
  std::vector<const Value*> out;
  for (const Value& v : values) out.push_back(&v);
  return out;
}

// What each destination leaves behind after the rows: the dump's text or the statements sent.
class DestinationTest : public ::testing::Test {
 protected:
  DestinationTest() {
    auto server = std::make_unique<FakeServer>(&sent_);
    server_ = server.get();
    server_connection_.AttachBackend(std::move(server));
  }

  // Writes the rows through a dump destination of the given form and returns the file.
  std::string Dump(bool copy_blocks, const std::vector<ColumnSpec>& columns,
                   const std::vector<std::vector<Value>>& rows, const std::string& column_list,
                   int64_t* written = nullptr) {
    const std::string path = dir_.File(copy_blocks ? "copy.sql" : "insert.sql");
    {
      DumpFile dump(SystemEnv(), path);
      std::unique_ptr<Destination> d = MakeDumpDestination(dump, copy_blocks);
      Feed(*d, columns, rows, column_list);
      if (written) *written = d->rows_written();
      dump.Close();
    }
    return ReadTextFile(path, "");
  }

  // Writes the rows through the server destination, one row per round trip.
  std::vector<std::string> Server(const std::vector<ColumnSpec>& columns,
                                  const std::vector<std::vector<Value>>& rows,
                                  const std::string& column_list, int64_t* written = nullptr) {
    sent_.clear();
    ServerDestination d(&server_connection_);
    d.set_rows_per_round_trip(1);
    Feed(d, columns, rows, column_list);
    if (written) *written = d.rows_written();
    return sent_;
  }

  // Begins, writes each row (a failing one is caught and counted), ends.
  void Feed(Destination& d, const std::vector<ColumnSpec>& columns,
            const std::vector<std::vector<Value>>& rows, const std::string& column_list) {
    d.BeginRows("\"T\"", column_list);
    for (const std::vector<Value>& row : rows) {
      const std::vector<const Value*> values = Pointers(row);
      try {
        d.WriteRow({columns, values});
      } catch (const Error& e) {
        failures_.push_back(e.number());
      }
    }
    d.EndRows();
  }

  testing::TempDir dir_;
  std::vector<std::string> sent_;
  FakeServer* server_ = nullptr;
  Connection server_connection_;
  std::vector<int32_t> failures_;
};

TEST_F(DestinationTest, TheSameTypedRowInEachForm) {
  for (const RowCase& c : RowCases()) {
    SCOPED_TRACE(c.what);
    const std::vector<std::vector<Value>> rows = {c.values};
    EXPECT_EQ(Dump(false, c.columns, rows, c.column_list), c.insert + ";\r\n");
    const std::string copy_head =
        "COPY \"T\"" + (c.column_list.empty() ? "" : " (" + c.column_list + ")") + " FROM stdin;";
    EXPECT_EQ(Dump(true, c.columns, rows, c.column_list),
              copy_head + "\r\n" + c.copy_line + "\r\n\\.\r\n");
    EXPECT_EQ(Server(c.columns, rows, c.column_list), std::vector<std::string>{c.insert});
  }
}

TEST_F(DestinationTest, ARowThatCannotBeRenderedLeavesNothingOfItself) {
  // The second row's blob is over the limit: its first field renders, its second raises.
  const std::vector<ColumnSpec> columns = {{ColumnKind::kString}, {ColumnKind::kBinary}};
  const std::vector<std::vector<Value>> rows = {
      {Value("a"), Value::FromBytes({0x01})},
      {Value("b"), Value::FromBytes(Bytes(kMaxBlobSize + 1, 0x41))},
      {Value("c"), Value::Null()},
  };
  struct Form {
    const char* what;
    std::string expected;
  } forms[] = {
      {"insert dump",
       "INSERT INTO \"T\" VALUES (E'a', E'01');\r\nINSERT INTO \"T\" VALUES (E'c', "
       "NULL);\r\n"},
      {"copy dump", "COPY \"T\" FROM stdin;\r\na\t01\r\nc\t\\N\r\n\\.\r\n"},
      {"server", "INSERT INTO \"T\" VALUES (E'a', E'01')|INSERT INTO \"T\" VALUES (E'c', NULL)"},
  };
  for (const Form& f : forms) {
    SCOPED_TRACE(f.what);
    failures_.clear();
    int64_t written = 0;
    std::string got;
    if (f.what == std::string("server")) {
      for (const std::string& s : Server(columns, rows, "", &written))
        got += (got.empty() ? "" : "|") + s;
    } else {
      got = Dump(f.what == std::string("copy dump"), columns, rows, "", &written);
    }
    EXPECT_EQ(got, f.expected);
    EXPECT_EQ(written, 2);
    EXPECT_EQ(failures_, std::vector<int32_t>{1003});
  }
}

TEST_F(DestinationTest, HeldInsertsGoOutWhenTheRowsEnd) {
  // Fewer rows than a round trip holds: ending the rows sends them, in one trip.
  const std::vector<ColumnSpec> columns = {{ColumnKind::kNumber}};
  sent_.clear();
  ServerDestination d(&server_connection_);
  d.BeginRows("\"T\"", "");
  const std::vector<Value> values = {Value(int64_t{1}), Value(int64_t{2}), Value(int64_t{3})};
  for (const Value& v : values) {
    const Value* one[] = {&v};
    d.WriteRow({columns, one});
  }
  EXPECT_TRUE(sent_.empty());
  EXPECT_EQ(d.rows_written(), 0);
  d.EndRows();
  EXPECT_EQ(sent_, (std::vector<std::string>{"INSERT INTO \"T\" VALUES (1);INSERT INTO \"T\" "
                                             "VALUES (2);INSERT INTO \"T\" VALUES (3)"}));
  EXPECT_EQ(d.rows_written(), 3);
}

}  // namespace
}  // namespace ferrolyte
