// What healthy Access files hold around their rows: entries of deleted rows, rows moved to
// another page, stale stored row counts. None of it is damage, and no row is lost to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "accesswriter/writer.h"
#include "platform/ado.h"
#include "platform/libmdb_handle.h"
#include "support/errors.h"
#include "support/safe.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;

aw::Table Orders(std::optional<uint32_t> stored_rows = std::nullopt) {
  aw::Table t{.name = "Orders", .stored_rows = stored_rows};
  t.columns = {{.name = "Id", .type = aw::ColumnType::kLong},
               {.name = "Name", .type = aw::ColumnType::kText, .size = 30}};
  return t;
}

std::string Rows(const std::string& path, int64_t* counted = nullptr) {
  Connection c;
  c.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path + ";");
  std::string rows;
  for (auto rs = c.OpenRows(TableRows("Orders")); !rs->Eof(); rs->MoveNext())
    rows += SafeStr(rs->FieldValue(0)) + ":" + SafeStr(rs->FieldValue(1)) + " ";
  if (counted) *counted = c.CountRows(TableRows("Orders"));
  return rows;
}

TEST(LiveRowsTest, DeletedAndMovedEntriesLeaveEveryLiveRowAsWritten) {
  testing::TempDir dir;
  struct Case {
    const char* what;
    std::function<void(aw::TableWriter&)> write;
    std::string rows;  // in page order: moved rows are read on the page they went to
  } cases[] = {
      {"deleted at the page's end, at row 0 and after live rows",
       [](aw::TableWriter& t) {
         t.AddDeletedRow(aw::DeletedRow::kAtPageEnd);
         t.AddRow({1, "one"});
         t.AddDeletedRow(aw::DeletedRow::kAtPageEnd);
         t.AddDeletedRow(aw::DeletedRow::kAtPageEnd);
         t.AddRow({2, "two"});
       },
       "1:one 2:two "},
      {"deleted where the previous row starts, as Access leaves them",
       [](aw::TableWriter& t) {
         t.AddDeletedRow(aw::DeletedRow::kAtPrevious);
         t.AddDeletedRow(aw::DeletedRow::kAtPrevious);
         t.AddRow({1, "one"});
         t.AddDeletedRow(aw::DeletedRow::kAtPrevious);
         t.AddRow({2, "two"});
         t.AddDeletedRow(aw::DeletedRow::kAtPrevious);
       },
       "1:one 2:two "},
      {"deleted rows that keep their bytes",
       [](aw::TableWriter& t) {
         t.AddRow({1, "one"});
         t.AddDeletedRow(aw::DeletedRow::kKeepsBytes, {9, "gone"});
         t.AddRow({2, "two"});
       },
       "1:one 2:two "},
      {"a row moved to another page",
       [](aw::TableWriter& t) {
         t.AddRow({1, "one"});
         t.AddMovedRow({2, "moved"});
         t.AddDeletedRow(aw::DeletedRow::kAtPrevious);
         t.AddRow({3, "three"});
       },
       "1:one 3:three 2:moved "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.File("rows.accdb");
    {
      aw::DatabaseWriter db(path, {.format = aw::Format::kAce12});
      c.write(db.AddTable(Orders()));
      db.Finish();
    }
    int64_t counted = -1;
    EXPECT_EQ(Rows(path, &counted), c.rows);
    EXPECT_EQ(counted, static_cast<int64_t>(std::count(c.rows.begin(), c.rows.end(), ' ')));
  }
}

// The count is the census of the pages: a stored count that differs is taken for stale,
// unless a page of the table no longer accounts for its own rows.
TEST(LiveRowsTest, CountIsTheLiveRowsOfThePagesNotTheStoredCount) {
  testing::TempDir dir;
  const std::string path = dir.File("count.mdb");
  for (uint32_t stored : {7u, 1u, 3u}) {
    SCOPED_TRACE(stored);
    {
      aw::DatabaseWriter db(path);
      aw::TableWriter& t = db.AddTable(Orders(stored));
      for (int i = 1; i <= 3; ++i) t.AddRow({i, "row"});
      db.Finish();
    }
    int64_t counted = -1;
    EXPECT_EQ(Rows(path, &counted), "1:row 2:row 3:row ");
    EXPECT_EQ(counted, 3);
    EXPECT_EQ(AccessFile::Open(path, EngineErrorStyle::kAdo)->Census(3, "Orders").live_rows, 3);
  }

  // The page's row count lowered by one: the last row drops out of the walk and the census
  // alike, and only the stored count and the page's free space still know of it.
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  std::string image = bytes.str();
  uint32_t page = 0;
  for (uint32_t p = 1; p * 4096 < image.size() && !page; ++p)
    if (image[p * 4096] == 0x01 && image[p * 4096 + 4] == 3 && image[p * 4096 + 5] == 0) page = p;
  ASSERT_NE(page, 0u);
  image[page * 4096 + 12] = static_cast<char>(image[page * 4096 + 12] - 1);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << image;
  try {
    Rows(path, nullptr);
    int64_t counted = -1;
    Rows(path, &counted);
    ADD_FAILURE() << "counted " << counted;
  } catch (const Error& e) {
    EXPECT_EQ(e.description(), "The table 'Orders' is damaged: data page " + std::to_string(page) +
                                   ": its row count does not match its free space.");
  }
}

}  // namespace
}  // namespace ferrolyte
