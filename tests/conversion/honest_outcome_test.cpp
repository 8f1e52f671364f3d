// Dump runs over writer-made files with faults put in on purpose: whatever goes wrong, the
// outcome says what arrived, and no run harms its source.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "accesswriter/writer.h"
#include "conversion/conversion_run.h"
#include "conversion_fixtures.h"
#include "platform/ado.h"
#include "platform/libmdb_handle.h"
#include "platform/source_connection.h"
#include "support/files.h"
#include "support/safe.h"
#include "support/text.h"
#include "testing/parts_database.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;
namespace fs = std::filesystem;

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Offsets in a Jet 4 table definition page.
constexpr size_t kPageSize = 4096;
constexpr size_t kStoredRows = 16;
constexpr size_t kRealIndexCount = 51;
constexpr size_t kFirstIndexEntry = 63;
constexpr size_t kIndexEntrySize = 12;
constexpr size_t kColumnEntrySize = 25;

// Overwrites bytes of a table's definition page, as damage (or a type this build does not
// know) would leave them.
class DefinitionPage {
 public:
  DefinitionPage(const std::string& path, const std::string& table) : path_(path) {
    auto file = AccessFile::Open(path, EngineErrorStyle::kAdo);
    for (const AccessObject& o : file->Objects())
      if (o.name == table) page_ = static_cast<uint32_t>(o.id) & 0x00FFFFFF;
    EXPECT_NE(page_, 0u) << table;
  }
  void SetStoredRows(uint32_t rows) { Write(kStoredRows, &rows, 4); }
  // The type byte of the column's entry; columns are stored in their order.
  void SetColumnType(int column, uint8_t type) {
    std::string page = Bytes(path_).substr(size_t{page_} * kPageSize, kPageSize);
    uint32_t indexes = 0;
    std::memcpy(&indexes, page.data() + kRealIndexCount, 4);
    Write(kFirstIndexEntry + indexes * kIndexEntrySize + column * kColumnEntrySize, &type, 1);
  }

 private:
  void Write(size_t at, const void* data, size_t size) {
    std::fstream f(path_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(size_t{page_} * kPageSize + at));
    f.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::string path_;
  uint32_t page_ = 0;
};

class HonestOutcomeTest : public ::testing::Test {
 protected:
  // Parts (Id, Label) with two rows and Later (N) with one.
  std::string WriteShop() {
    const std::string path = dir_.File("shop.mdb");
    aw::DatabaseWriter db(path);
    aw::Table parts{.name = "Parts"};
    parts.columns = {{.name = "Id", .type = aw::ColumnType::kLong},
                     {.name = "Label", .type = aw::ColumnType::kText, .size = 20}};
    aw::TableWriter& rows = db.AddTable(parts);
    rows.AddRow({1, "bolt"});
    rows.AddRow({2, "nut"});
    aw::Table later{.name = "Later"};
    later.columns = {{.name = "N", .type = aw::ColumnType::kLong}};
    db.AddTable(later).AddRow({7});
    db.Finish();
    return path;
  }

  RunOutcome Convert(const std::string& source, const std::string& dump,
                     const std::string& system_db = "") {
    testing::ScannedSource scanned = testing::ScanEverything(source);
    DictionaryPtr settings = testing::RunSettings(dump, scanned.selection);
    testing::Section(settings)->Set("sourcefilename", source);
    testing::Section(settings)->Set("sourcesystemdatabase", system_db);
    testing::Section(settings)->Set("sourceusername", "admin");
    report_.clear();
    status_ = RecordingStatus();
    return MoveData2MySql(settings, report_, scanned.schema_xml, testing::ContextFor(status_));
  }
  bool Reported(const std::string& part) const { return report_.find(part) != std::string::npos; }

  testing::TempDir dir_;
  testing::ScopedEnv temp_{"TEMP", dir_.path().c_str()};
  std::string report_;
  RecordingStatus status_;
};

// A dump path that names the source (or its workgroup file) would overwrite it.
TEST_F(HonestOutcomeTest, DumpOntoTheSourceIsRefusedBeforeAnythingIsWritten) {
  const std::string source = WriteShop();
  const std::string workgroup =
      testing::WritePartsDatabase(dir_.File("system.mdw"), aw::Format::kJet4, "");
  fs::create_directory(dir_.File("sub"));
  fs::create_symlink(source, dir_.File("link.sql"));
  fs::create_hard_link(source, dir_.File("hard.sql"));
  struct Case {
    std::string dump;
    std::string names;  // what the refusal calls the file
  } cases[] = {
      {source, "the source database"},
      {dir_.File("sub/../shop.mdb"), "the source database"},
      {dir_.path() + "/./shop.mdb", "the source database"},
      {dir_.File("link.sql"), "the source database"},
      {dir_.File("hard.sql"), "the source database"},
      {workgroup, "the workgroup file"},
  };
  const std::string source_bytes = Bytes(source), workgroup_bytes = Bytes(workgroup);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dump);
    const RunOutcome outcome = Convert(source, c.dump, workgroup);
    EXPECT_EQ(outcome.ExitStatus(), 3);
    EXPECT_TRUE(Reported("Error opening dump file: " + c.dump + "\r\n")) << report_;
    EXPECT_TRUE(Reported("\r\nReason: The dump file " + c.dump + " is " + c.names)) << report_;
    EXPECT_EQ(Bytes(source), source_bytes);
    EXPECT_EQ(Bytes(workgroup), workgroup_bytes);
  }
  EXPECT_TRUE(fs::is_symlink(dir_.File("link.sql")));
  for (const auto& entry : fs::directory_iterator(dir_.path()))
    EXPECT_EQ(entry.path().string().find(".incomplete"), std::string::npos) << entry.path();
}

// A device is written as it is, and a write it refuses fails the run where it happens.
TEST_F(HonestOutcomeTest, DiskFullIsAFailureNotACompletion) {
  struct stat st {};
  if (::stat("/dev/full", &st) != 0 || !S_ISCHR(st.st_mode)) GTEST_SKIP() << "no /dev/full";
  const std::string small = WriteShop();
  // Rows enough to fill the dump's buffer before the end, so that a row write fails.
  const std::string large = dir_.File("large.mdb");
  {
    aw::DatabaseWriter db(large);
    aw::Table t{.name = "Big"};
    t.columns = {{.name = "Text", .type = aw::ColumnType::kText, .size = 200}};
    aw::TableWriter& rows = db.AddTable(t);
    for (int i = 0; i < 2000; ++i) rows.AddRow({std::string(150, 'x')});
    db.Finish();
  }
  for (const std::string& source : {small, large}) {
    SCOPED_TRACE(source);
    const RunOutcome outcome = Convert(source, "/dev/full");
    EXPECT_EQ(outcome.result, RunResult::kFailed) << report_;
    EXPECT_EQ(outcome.ExitStatus(), 3);
    EXPECT_TRUE(Reported("Reason: Disk full\r\n")) << report_;
    EXPECT_FALSE(Reported("\r\nSQL: ")) << "no statement was at fault: " << report_;
    EXPECT_NE(status_.lines.back(), "  Transfer completed");
    for (const TableOutcome& t : outcome.tables) EXPECT_NE(t.result, TableResult::kComplete);
  }
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  for (const auto& entry : fs::directory_iterator("/dev"))
    EXPECT_EQ(entry.path().string().find("full.incomplete"), std::string::npos) << entry.path();
}

// The run holds the rows it walked against the count the table definition stores.
TEST_F(HonestOutcomeTest, StoredRowCountThatDiffersFailsTheRun) {
  for (uint32_t stored : {3u, 1u}) {
    SCOPED_TRACE(stored);
    const std::string source = WriteShop();
    DefinitionPage(source, "Parts").SetStoredRows(stored);
    const RunOutcome outcome = Convert(source, dir_.File("out.sql"));
    EXPECT_EQ(outcome.ExitStatus(), 3);
    EXPECT_EQ(outcome.Find("Parts")->result,
              stored > 2 ? TableResult::kPartial : TableResult::kFailed);
    EXPECT_TRUE(
        Reported("- Row count differs for table 'Parts': 2 records moved, the source "
                 "table definition stores " +
                 std::to_string(stored) + "\r\n"))
        << report_;
    EXPECT_EQ(outcome.Find("Later")->result, TableResult::kComplete);
  }
}

// Real Access files: the count the engine stores is the count of rows a walk finds.
TEST_F(HonestOutcomeTest, StoredRowCountEqualsTheWalkOnRealFiles) {
  const fs::path folder = fs::path(FERROLYTE_SOURCE_DIR) / "../shared/access";
  if (!fs::is_directory(folder)) GTEST_SKIP() << "no shared Access files";
  int tables = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string path = entry.path().string();
    if (!EndsWithIgnoreCase(path, ".mdb") && !EndsWithIgnoreCase(path, ".accdb")) continue;
    testing::ScannedSource scanned;
    Connection source;
    try {
      scanned = testing::ScanEverything(path);
      source.Open(BuildSourceConnectionString(path, "", "", ""));
    } catch (const Error&) {
      continue;  // encrypted and password-protected files
    }
    for (const std::string& table : scanned.tables) {
      SCOPED_TRACE(path + " " + table);
      const int64_t stored =
          SafeLng(source.Execute("SELECT COUNT(*) FROM [" + table + "]")->FieldValue(0));
      auto rows = source.Execute("SELECT * FROM [" + table + "]");
      int64_t walked = 0;
      for (; !rows->Eof(); rows->MoveNext()) ++walked;
      EXPECT_EQ(stored, walked);
      ++tables;
    }
  }
  EXPECT_GT(tables, 0);
}

// A column of a type the provider cannot name keeps its bytes, and no later table is lost.
TEST_F(HonestOutcomeTest, ColumnWithoutATypeMovesAsHexadecimalText) {
  const std::string source = WriteShop();
  DefinitionPage(source, "Parts").SetColumnType(0, 0x11);
  {
    Connection check;
    check.Open(BuildSourceConnectionString(source, "", "", ""));
    ASSERT_EQ(check.Execute("SELECT * FROM [Parts]")->FieldType(0), 0) << "the patch missed";
  }
  const std::string dump = dir_.File("out.sql");
  const RunOutcome outcome = Convert(source, dump);
  EXPECT_EQ(outcome.ExitStatus(), 0) << report_;
  EXPECT_TRUE(
      Reported("- Column 'Id' has the Access type code 17, which has no PostgreSQL type: "
               "its values are carried as hexadecimal text\r\n"))
      << report_;
  const std::string text = ReadTextFile(dump, "");
  EXPECT_NE(text.find("INSERT INTO \"Parts\" (\"Id\", \"Label\") VALUES (E'01000000', E'bolt');"),
            std::string::npos);
  EXPECT_NE(text.find("INSERT INTO \"Later\" (\"N\") VALUES (7);"), std::string::npos);
}

}  // namespace
}  // namespace ferrolyte
