// COPY chunks on the throw-away server: what stays after a rejected row, a cancel and a lost
// session must be what sending every row alone would leave.
#include "conversion/copy_chunks.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/ado.h"
#include "platform/odbc_test_server.h"
#include "platform/pg_connection.h"
#include "support/errors.h"

namespace ferrolyte {
namespace {

using testing::ConnectTo;
using testing::QueryValue;
using testing::ScratchDatabase;

class CopyChunksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FERROLYTE_REQUIRE_SERVER();
    db_ = std::make_unique<ScratchDatabase>("chunks");
    odbc_ = ConnectTo(db_->name());
    session_ = std::make_unique<PgConnection>(
        PgParameters{testing::ServerHost(), testing::ServerPort(), db_->name(),
                     testing::ServerUser(), testing::ServerPassword()});
    chunks_ = std::make_unique<CopyChunks>(
        *session_, [this](const std::string& insert) { odbc_->Execute(insert); });
  }

  void NewTable() {
    odbc_->Execute("DROP TABLE IF EXISTS t");
    odbc_->Execute(
        "CREATE TABLE t (id int PRIMARY KEY, name varchar(300) CHECK (name <> 'poison'))");
    chunks_->set_copy_statement("COPY \"t\" (\"id\", \"name\") FROM stdin");
  }

  static std::string Insert(int id, const std::string& name) {
    return "INSERT INTO \"t\" (\"id\", \"name\") VALUES (" + std::to_string(id) + ", E'" + name +
           "')";
  }
  void Add(int id, const std::string& name) {
    chunks_->Add(Insert(id, name), std::to_string(id) + "\t" + name);
  }

  int64_t Rows() { return QueryValue(*odbc_, "SELECT count(*) FROM t").AsInteger(); }
  int64_t LastId() { return QueryValue(*odbc_, "SELECT coalesce(max(id), 0) FROM t").AsInteger(); }

  std::unique_ptr<ScratchDatabase> db_;
  std::shared_ptr<Connection> odbc_;
  std::unique_ptr<PgConnection> session_;
  std::unique_ptr<CopyChunks> chunks_;
};

TEST_F(CopyChunksTest, RejectedRowLeavesTheRowsBeforeItAndIsNamed) {
  struct Case {
    const char* label;
    std::vector<int> chunks;  // rows per chunk, committed in turn
    int bad;                  // 1-based row of the table
    bool duplicate;           // refused as a duplicate key instead of by the check
    size_t name_size;         // long names stream the chunk while it is being filled
  } cases[] = {
      {"first of a chunk", {20, 20}, 21, false, 5},
      {"last of a chunk", {20, 20}, 20, false, 5},
      {"inside a chunk", {30}, 17, true, 5},
      {"last of the table", {20, 15}, 35, false, 5},
      {"only row", {1}, 1, false, 5},
      {"while streaming", {3000}, 100, false, 290},
  };
  for (const Case& c : cases) {
    NewTable();
    int id = 0;
    std::string refused_insert;
    bool raised = false;
    try {
      for (int rows : c.chunks) {
        for (int i = 0; i < rows; ++i) {
          ++id;
          std::string name = id == c.bad && !c.duplicate ? "poison" : std::string(c.name_size, 'x');
          int key = id == c.bad && c.duplicate ? 1 : id;
          if (id == c.bad) refused_insert = Insert(key, name);
          Add(key, name);
        }
        chunks_->Commit();
      }
    } catch (const Error& e) {
      raised = true;
      EXPECT_EQ(e.number(), kAdoRejectedStatement) << c.label;
      // The reason is the one the row's own INSERT gets through the ODBC driver.
      EXPECT_TRUE(e.description().starts_with(c.duplicate ? "ERROR: duplicate key value"
                                                          : "ERROR: new row for relation"))
          << c.label << ": " << e.description();
      EXPECT_TRUE(e.description().ends_with("; Error while executing the query")) << c.label;
    }
    EXPECT_TRUE(raised) << c.label;
    EXPECT_EQ(chunks_->rejected_row(), refused_insert) << c.label;
    EXPECT_EQ(Rows(), c.bad - 1) << c.label;
    EXPECT_EQ(LastId(), c.bad - 1) << c.label;
    EXPECT_EQ(chunks_->held_rows(), 0u) << c.label;
    EXPECT_FALSE(session_->InTransaction()) << c.label;
  }
  EXPECT_EQ(chunks_->committed_rows(), 20 + 19 + 16 + 34 + 0 + 99);
}

TEST_F(CopyChunksTest, DiscardLeavesOnlyCommittedChunks) {
  NewTable();
  for (int id = 1; id <= 20; ++id) Add(id, "a");
  chunks_->Commit();
  // Enough to have been streamed, and a few that were not.
  for (int id = 21; id <= 2000; ++id) Add(id, std::string(100, 'b'));
  chunks_->Discard();
  EXPECT_EQ(Rows(), 20);
  EXPECT_FALSE(session_->in_copy());
  for (int id = 21; id <= 25; ++id) Add(id, "c");
  chunks_->Commit();
  EXPECT_EQ(Rows(), 25);
  EXPECT_EQ(chunks_->committed_rows(), 25);
}

TEST_F(CopyChunksTest, LostSessionIsAConnectionFailureNamingTheChunk) {
  NewTable();
  for (int id = 1; id <= 10; ++id) Add(id, "a");
  chunks_->Commit();
  for (int id = 11; id <= 20; ++id) Add(id, "b");
  const std::string pid = session_->QueryValue("SELECT pg_backend_pid()").value();
  odbc_->Execute("SELECT pg_terminate_backend(" + pid + ", 10000)");
  try {
    chunks_->Commit();
    ADD_FAILURE() << "no error raised";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kAdoGenericError) << e.description();
  }
  EXPECT_EQ(chunks_->rejected_row(), Insert(11, "b"));
  EXPECT_EQ(Rows(), 10);
}

}  // namespace
}  // namespace ferrolyte
