// Rows decoded on a worker ahead of the caller: the same rows in the same order, the failure
// at the row where it happened, a bounded queue, a worker that stops with its reader, and a
// file whose other readers keep their turn while a table streams.
#include "platform/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>

#include "accesswriter/writer.h"
#include "platform/access_rows.h"
#include "platform/ado.h"
#include "platform/libmdb_handle.h"
#include "support/errors.h"
#include "support/safe.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;

// Row i holds i and a text of i's length, until `rows`; then fails at `fail_at` if set.
struct Counting {
  int64_t rows = 0;
  int64_t fail_at = -1;
  size_t text = 0;
  std::atomic<int64_t> produced{0};

  ReadAhead::Producer Producer() {
    return [this](ReadAhead::Row& row) {
      const int64_t i = produced.load();
      if (i == fail_at) throw Error(3049, "row " + std::to_string(i) + " is damaged");
      if (rows >= 0 && i >= rows) return false;
      row = {Value(i), Value(std::string(text, 'x'))};
      ++produced;
      return true;
    };
  }
};

TEST(ReadAheadTest, EveryRowArrivesInOrder) {
  const ReadAhead::Limits small{.rows = 4, .bytes = 1 << 20, .batch_rows = 3, .batch_bytes = 1024};
  for (const auto& limits : {small, ReadAhead::Limits{}})
    for (int64_t rows : {0, 1, 2, 3, 4, 63, 64, 65, 2000}) {
      SCOPED_TRACE(std::to_string(rows) + " rows, queue of " + std::to_string(limits.rows));
      std::mutex lock;
      Counting source{.rows = rows};
      ReadAhead ahead(lock, source.Producer(), limits);
      int64_t seen = 0;
      for (const ReadAhead::Row* row = ahead.Next(); row; row = ahead.Next())
        ASSERT_EQ((*row)[0], Value(seen++));
      EXPECT_EQ(seen, rows);
      EXPECT_EQ(ahead.Next(), nullptr);
    }
}

TEST(ReadAheadTest, FailureArrivesAfterTheRowsBeforeIt) {
  for (int64_t fail_at : {0, 1, 5, 63, 64, 130}) {
    SCOPED_TRACE(fail_at);
    std::mutex lock;
    Counting source{.rows = 1000, .fail_at = fail_at};
    ReadAhead ahead(lock, source.Producer(), {.rows = 8, .batch_rows = 4});
    const ReadAhead::Row* last = nullptr;
    int64_t seen = 0;
    try {
      for (const ReadAhead::Row* row = ahead.Next(); row; row = ahead.Next()) {
        last = row;
        ASSERT_EQ((*row)[0], Value(seen++));
      }
      ADD_FAILURE() << "no failure";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), 3049);
      EXPECT_EQ(e.description(), "row " + std::to_string(fail_at) + " is damaged");
    }
    EXPECT_EQ(seen, fail_at);
    // Asked again, it fails again; the row before stays readable.
    EXPECT_THROW(ahead.Next(), Error);
    if (last) {
      EXPECT_EQ((*last)[0], Value(fail_at - 1));
    }
  }
}

// Rows the caller is done with come back to the worker to be filled again, empty, so that
// their memory is freed and reused on the thread that took it.
TEST(ReadAheadTest, RowsTheCallerIsDoneWithComeBackEmptyToBeRefilled) {
  std::mutex lock;
  int64_t produced = 0, arrived_full = 0, arrived_with_room = 0;
  ReadAhead ahead(lock,
                  [&](ReadAhead::Row& row) {
                    if (produced == 2000) return false;
                    if (!row.empty()) ++arrived_full;
                    if (row.capacity() > 0) ++arrived_with_room;
                    row.push_back(Value(produced));
                    row.push_back(Value(std::string(static_cast<size_t>(produced % 50), 'x')));
                    ++produced;
                    return true;
                  },
                  {.rows = 16, .bytes = 1 << 20, .batch_rows = 4, .batch_bytes = 1 << 20});
  int64_t seen = 0;
  for (const ReadAhead::Row* row = ahead.Next(); row; row = ahead.Next(), ++seen) {
    ASSERT_EQ(row->size(), 2u) << "row " << seen;
    ASSERT_EQ((*row)[0], Value(seen));
    ASSERT_EQ(SafeStr((*row)[1]).size(), static_cast<size_t>(seen % 50));
  }
  EXPECT_EQ(seen, 2000);
  EXPECT_EQ(arrived_full, 0);
  EXPECT_GT(arrived_with_room, 1000) << "the caller's rows were not handed back";
}

// The worker never runs further ahead than its queue, the caller's rows and one batch, by
// rows or by bytes; destroying the reader of an endless table returns.
TEST(ReadAheadTest, TheQueueIsBoundedAndStopsWithItsReader) {
  struct Case {
    const char* what;
    ReadAhead::Limits limits;
    size_t text;
    int64_t bound;
  };
  const Case cases[] = {
      {"by rows",
       {.rows = 16, .bytes = 1 << 30, .batch_rows = 4, .batch_bytes = 1 << 30},
       10,
       2 * (16 + 4) + 4},
      {"by bytes",
       {.rows = 100000, .bytes = 200000, .batch_rows = 100000, .batch_bytes = 50000},
       10000,
       2 * (20 + 5) + 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::mutex lock;
    Counting source{.rows = -1, .text = c.text};
    {
      ReadAhead ahead(lock, source.Producer(), c.limits);
      for (int64_t taken = 1; taken <= 2000; ++taken) {
        ASSERT_NE(ahead.Next(), nullptr);
        ASSERT_LE(source.produced.load() - taken, c.bound) << "after " << taken << " rows";
      }
    }
    const int64_t at_end = source.produced.load();
    EXPECT_LE(at_end, 2000 + c.bound);
  }
}

// A table of long texts and a table of attachments on long-value pages, read through the
// provider: another table's files, counts and the catalogue are read while the long table
// streams, and every value of both arrives as written.
class AccessReadAheadTest : public ::testing::Test {
 protected:
  static constexpr int kRows = 3000;

  static std::string Note(int i) {
    return std::string(500 + i % 700, static_cast<char>('a' + i % 26));
  }
  static Bytes File(int doc, int n) {
    return Bytes(4000 + 997 * n, static_cast<uint8_t>(doc * 7 + n));
  }

  void SetUp() override {
    path_ = dir_.File("streams.accdb");
    aw::DatabaseWriter db(path_, {.format = aw::Format::kAce12});
    aw::Table big{.name = "Big"};
    big.columns = {{.name = "Id", .type = aw::ColumnType::kLong},
                   {.name = "Note", .type = aw::ColumnType::kMemo}};
    aw::TableWriter& rows = db.AddTable(big);
    for (int i = 0; i < kRows; ++i) rows.AddRow({i, Note(i)});
    aw::Table docs{.name = "Docs"};
    docs.columns = {{.name = "Id", .type = aw::ColumnType::kLong},
                    {.name = "Files",
                     .type = aw::ColumnType::kComplex,
                     .complex = aw::ComplexKind::kAttachment}};
    aw::TableWriter& files = db.AddTable(docs);
    for (int d = 0; d < 20; ++d) {
      std::vector<aw::Attachment> attached;
      for (int n = 0; n < 3; ++n)
        attached.push_back(
            {"f" + std::to_string(d) + "_" + std::to_string(n) + ".bin", File(d, n), n == 1});
      files.AddRow({d, aw::Value::Attachments(attached)});
    }
    db.Finish();
    connection_.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path_ + ";");
  }

  // Every file of Docs as written, read while `streaming` is open.
  void ReadEveryFile() {
    SourceRows asked{.table = "Docs",
                     .complex_column = "Files",
                     .columns = {{"Id", false}, {"FileName", true}, {"FileData", true}}};
    EXPECT_EQ(connection_.CountRows(asked), 60);
    int seen = 0;
    for (auto rs = connection_.OpenRows(asked); !rs->Eof(); rs->MoveNext(), ++seen) {
      const int d = SafeLng(rs->FieldValue(0));
      const int n = seen % 3;
      ASSERT_EQ(SafeStr(rs->FieldValue(1)),
                "f" + std::to_string(d) + "_" + std::to_string(n) + ".bin");
      ASSERT_EQ(rs->FieldValue(2).AsBytes(), File(d, n));
    }
    EXPECT_EQ(seen, 60);
  }

  testing::TempDir dir_;
  std::string path_;
  Connection connection_;
};

TEST_F(AccessReadAheadTest, OtherReadsOfTheFileInterleaveWithAStreamingTable) {
  auto rs = connection_.OpenRows(TableRows("Big"));
  int seen = 0;
  for (; !rs->Eof(); rs->MoveNext(), ++seen) {
    ASSERT_EQ(rs->FieldValue(0), Value(int64_t{seen}));
    ASSERT_EQ(rs->FieldValue(1).Text(), Note(seen));
    if (seen % 150 != 1) continue;
    ReadEveryFile();
    EXPECT_EQ(connection_.CountRows(TableRows("Big")), kRows);
    auto catalogue = connection_.OpenSchema(kAdSchemaColumns);
    int columns = 0;
    for (; !catalogue->Eof(); catalogue->MoveNext()) ++columns;
    EXPECT_GE(columns, 4);
    // A second stream of the same table beside the first.
    auto other = connection_.OpenRows(TableRows("Big", {"Note"}));
    for (int i = 0; i < 50; ++i, other->MoveNext()) ASSERT_EQ(other->FieldValue(0).Text(), Note(i));
  }
  EXPECT_EQ(seen, kRows);
}

TEST_F(AccessReadAheadTest, ARecordSetLeftMidwayLeavesTheFileReadable) {
  for (int left_at : {0, 1, 700}) {
    SCOPED_TRACE(left_at);
    {
      auto rs = connection_.OpenRows(TableRows("Big"));
      for (int i = 0; i < left_at; ++i) rs->MoveNext();
    }
    ReadEveryFile();
  }
  int seen = 0;
  for (auto rs = connection_.OpenRows(TableRows("Big", {"Id"})); !rs->Eof(); rs->MoveNext()) ++seen;
  EXPECT_EQ(seen, kRows);
}

// A data page that is no longer one: the rows of the pages before it arrive, then the error,
// exactly as the reader on its own gives them.
TEST_F(AccessReadAheadTest, DamageRaisesAtTheRowTheReaderRaisesIt) {
  connection_.Close();
  std::ostringstream bytes;
  bytes << std::ifstream(path_, std::ios::binary).rdbuf();
  std::string image = bytes.str();
  const size_t page_size = 4096;
  uint32_t definition = 0;
  {
    auto file = AccessFile::Open(path_, EngineErrorStyle::kAdo);
    definition = static_cast<uint32_t>(file->OpenTable("Big")->entry->table_pg);
  }
  std::vector<uint32_t> data_pages;
  for (uint32_t p = 1; (p + 1) * page_size <= image.size(); ++p) {
    const size_t at = p * page_size;
    const uint32_t owner = static_cast<uint8_t>(image[at + 4]) |
                           static_cast<uint8_t>(image[at + 5]) << 8 |
                           static_cast<uint8_t>(image[at + 6]) << 16;
    if (image[at] == 0x01 && owner == definition) data_pages.push_back(p);
  }
  ASSERT_GE(data_pages.size(), 3u);
  image[data_pages[2] * page_size] = 0x03;
  std::ofstream(path_, std::ios::binary | std::ios::trunc) << image;

  auto file = AccessFile::Open(path_, EngineErrorStyle::kAdo);
  MdbHandlePtr mdb = file->Clone();
  MdbTablePtr table = file->OpenTable("Big", mdb.get());
  RowReader reader(mdb.get(), table.get(), {0, 1});
  int64_t alone = 0;
  std::string alone_error;
  try {
    while (reader.Next()) ++alone;
  } catch (const Error& e) {
    alone_error = e.description();
  }
  ASSERT_GT(alone, 0);
  ASSERT_NE(alone_error.find("not a data page"), std::string::npos) << alone_error;

  Connection c;
  c.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path_ + ";");
  auto rs = c.OpenRows(TableRows("Big"));
  int64_t streamed = 0;
  try {
    for (; !rs->Eof(); rs->MoveNext()) {
      ASSERT_EQ(rs->FieldValue(1).Text(), Note(static_cast<int>(streamed)));
      ++streamed;
    }
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.description(), alone_error);
  }
  EXPECT_EQ(streamed, alone);
}

}  // namespace
}  // namespace ferrolyte
