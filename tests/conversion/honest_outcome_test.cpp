// Dump runs over writer-made files with faults put in on purpose: whatever goes wrong, the
// outcome says what arrived, and no run harms its source.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
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
#include "testing/fault_env.h"
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

constexpr size_t kPageSize = 4096;

class HonestOutcomeTest : public ::testing::Test {
 protected:
  // Parts (Id, Label) with two rows and Later (N) with one.
  std::string WriteShop(std::optional<uint32_t> parts_stored_rows = std::nullopt) {
    const std::string path = dir_.File("shop.mdb");
    aw::DatabaseWriter db(path);
    aw::Table parts{.name = "Parts", .stored_rows = parts_stored_rows};
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
                     const std::string& system_db = "", Env& env = SystemEnv()) {
    testing::ScannedSource scanned = testing::ScanEverything(source);
    DictionaryPtr settings = testing::RunSettings(dump, scanned.selection);
    testing::Section(settings)->Set("sourcefilename", source);
    testing::Section(settings)->Set("sourcesystemdatabase", system_db);
    testing::Section(settings)->Set("sourceusername", "admin");
    report_.clear();
    status_ = RecordingStatus();
    return ConvertDatabase(settings, report_, scanned.schema,
                           testing::ContextFor(status_, "", env));
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

// The source cannot be read part way through (a share dropped, a disk failing): the table
// being read fails with the read error, the run says so, and the dump never takes its name.
TEST_F(HonestOutcomeTest, ASourceReadErrorFailsTheTableBeingRead) {
  const std::string source = dir_.File("big.mdb");
  constexpr int kRows = 2000;
  {
    aw::DatabaseWriter db(source);
    aw::Table t{.name = "Big"};
    t.columns = {{.name = "Text", .type = aw::ColumnType::kText, .size = 200}};
    aw::TableWriter& rows = db.AddTable(t);
    for (int i = 0; i < kRows; ++i) rows.AddRow({std::string(150, 'x')});
    db.Finish();
  }
  const std::string dump = dir_.File("out.sql");
  testing::FaultEnv counting;
  ASSERT_EQ(Convert(source, dump, "", counting).ExitStatus(), 0) << report_;
  const int reads = counting.Calls(testing::FileCall::kRead);
  ASSERT_GT(reads, 10);
  fs::remove(dump);
  for (int nth : {reads / 2, reads - 1}) {
    SCOPED_TRACE(nth);
    testing::FaultEnv env;
    env.FailCall(testing::FileCall::kRead, nth, EIO, "big.mdb");
    const RunOutcome outcome = Convert(source, dump, "", env);
    EXPECT_EQ(outcome.ExitStatus(), 3) << report_;
    EXPECT_NE(outcome.result, RunResult::kCompleted);
    const TableOutcome* big = outcome.Find("Big");
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->result, TableResult::kFailed) << report_;
    // The system's reason and the file it met it in, in the outcome, the report and the log.
    const std::string named = "could not be read from the file '" + source + "' at page ";
    const std::string why = std::string(": ") + std::strerror(EIO) + ".";
    for (const std::string& part : {named, why})
      EXPECT_NE(big->reason.find(part), std::string::npos) << big->reason;
    EXPECT_LT(big->rows_moved, kRows);
    EXPECT_TRUE(Reported("Disk or network error. The table 'Big' " + named)) << report_;
    EXPECT_TRUE(Reported(why)) << report_;
    EXPECT_TRUE(Reported("\r\nBig: failed")) << report_;
    const auto logged = [&](const std::string& part) {
      return std::any_of(status_.log.begin(), status_.log.end(), [&](const std::string& line) {
        return line.find(part) != std::string::npos;
      });
    };
    EXPECT_TRUE(logged(named) && logged(why)) << Join(status_.log, "\n");
    EXPECT_FALSE(fs::exists(dump));
    fs::remove(dump + ".incomplete");
  }
}

// Access leaves the count its definition stores stale: the run moves the live rows of the
// pages and only says what the definition holds.
TEST_F(HonestOutcomeTest, StaleStoredRowCountOnlyAddsAReportLine) {
  for (uint32_t stored : {3u, 1u}) {
    SCOPED_TRACE(stored);
    const std::string source = WriteShop(stored);
    const RunOutcome outcome = Convert(source, dir_.File("out.sql"));
    EXPECT_EQ(outcome.ExitStatus(), 0) << report_;
    const std::string note =
        "the table definition stores " + std::to_string(stored) + " rows; 2 were found and moved";
    EXPECT_TRUE(Reported("Table: Parts\r\n- " + note + "\r\n- 2 records moved\r\n")) << report_;
    EXPECT_EQ(outcome.Find("Parts")->notes, std::vector<std::string>{note});
    EXPECT_EQ(outcome.Find("Parts")->rows_moved, 2);
    EXPECT_TRUE(outcome.Find("Later")->notes.empty());
  }
}

// Rows on pages of the table that its usage map does not list: the walk misses them, the
// census of the pages does not, and the table fails.
TEST_F(HonestOutcomeTest, RowsTheWalkMissesFailTheTable) {
  const std::string source = dir_.File("big.mdb");
  {
    aw::DatabaseWriter db(source);
    aw::Table big{.name = "Big"};
    big.columns = {{.name = "Text", .type = aw::ColumnType::kText, .size = 100}};
    aw::TableWriter& rows = db.AddTable(big);
    for (int i = 0; i < 200; ++i) rows.AddRow({std::string(90, 'x')});
    db.Finish();
  }
  // The inline usage map: kind 0, the first page, then one bit per page; the last page's
  // bit goes.
  std::string image = Bytes(source);
  const uint32_t definition = 3;
  uint32_t map = 0;
  std::memcpy(&map, image.data() + definition * kPageSize + 55, 4);
  const size_t map_page = (map >> 8) * kPageSize;
  uint16_t map_at = 0;
  std::memcpy(&map_at, image.data() + map_page + 14 + 2 * (map & 0xFF), 2);
  uint32_t first = 0;
  std::memcpy(&first, image.data() + map_page + map_at + 1, 4);
  uint32_t last = 0;
  for (uint32_t p = first; (p + 1) * kPageSize <= image.size(); ++p)
    if (image[p * kPageSize] == 0x01 && image.compare(p * kPageSize + 4, 4, "\x03\0\0\0", 4) == 0)
      last = p;
  ASSERT_GT(last, first);
  image[map_page + map_at + 5 + (last - first) / 8] &=
      static_cast<char>(~(1 << ((last - first) % 8)));
  std::ofstream(source, std::ios::binary | std::ios::trunc) << image;

  const RunOutcome outcome = Convert(source, dir_.File("out.sql"));
  EXPECT_EQ(outcome.ExitStatus(), 3);
  const TableOutcome& big = *outcome.Find("Big");
  EXPECT_EQ(big.result, TableResult::kPartial);
  ASSERT_LT(big.rows_moved, 200);
  const std::string numbers =
      std::to_string(big.rows_moved) + " records moved, the table's data pages hold 200 live rows";
  EXPECT_EQ(big.reason, numbers);
  EXPECT_TRUE(Reported("- Row count differs for table 'Big': " + numbers + "\r\n")) << report_;
}

// Real Access files: the live rows of a table's pages are the rows a walk finds.
TEST_F(HonestOutcomeTest, CountOfLiveRowsEqualsTheWalkOnRealFiles) {
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
      const int64_t live = source.CountRows(TableRows(table));
      auto rows = source.OpenRows(TableRows(table));
      int64_t walked = 0;
      for (; !rows->Eof(); rows->MoveNext()) ++walked;
      EXPECT_EQ(live, walked);
      ++tables;
    }
  }
  EXPECT_GT(tables, 0);
}

// Type codes the engine does not know, in a well-formed definition, fixed or variable, also
// one whose number is a DAO type the definitions map: each column moves as hexadecimal text
// with a line naming it and its code, and every other column and table moves.
TEST_F(HonestOutcomeTest, ColumnsOfUnknownTypesMoveAsHexadecimalText) {
  const std::string source = dir_.File("types.accdb");
  {
    aw::DatabaseWriter db(source, {.format = aw::Format::kAce12});
    aw::Table parts{.name = "Parts"};
    parts.columns = {{.name = "Id", .type = aw::ColumnType::kLong},
                     {.name = "Fixed",
                      .type = static_cast<aw::ColumnType>(0x46),
                      .size = 4,
                      .fixed_length = true},
                     {.name = "Varying", .type = static_cast<aw::ColumnType>(0x47), .size = 10},
                     {.name = "Float", .type = static_cast<aw::ColumnType>(0x15), .size = 10},
                     {.name = "Label", .type = aw::ColumnType::kText, .size = 20}};
    aw::TableWriter& rows = db.AddTable(parts);
    rows.AddRow({1, aw::Value::Bytes({1, 2, 3, 4}), aw::Value::Bytes({0xAB}),
                 aw::Value::Bytes({0xFF, 0}), "bolt"});
    rows.AddRow({2, nullptr, nullptr, nullptr, "nut"});
    aw::Table later{.name = "Later"};
    later.columns = {{.name = "N", .type = aw::ColumnType::kLong}};
    db.AddTable(later).AddRow({7});
    db.Finish();
  }
  const std::string dump = dir_.File("out.sql");
  const RunOutcome outcome = Convert(source, dump);
  EXPECT_EQ(outcome.ExitStatus(), 0) << report_;
  for (const auto& [column, code] : {std::pair{"Fixed", 70}, {"Varying", 71}, {"Float", 21}})
    EXPECT_TRUE(Reported("- Column '" + std::string(column) + "' has the Access type code " +
                         std::to_string(code) +
                         ", which has no PostgreSQL type: its values are carried as hexadecimal "
                         "text\r\n"))
        << report_;
  const std::string text = ReadTextFile(dump, "");
  EXPECT_NE(text.find("  \"Float\" TEXT, \r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("INSERT INTO \"Parts\" (\"Id\", \"Fixed\", \"Varying\", \"Float\", "
                      "\"Label\") VALUES (1, E'01020304', E'AB', E'FF00', E'bolt');"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("VALUES (2, NULL, NULL, NULL, E'nut');"), std::string::npos) << text;
  EXPECT_NE(text.find("INSERT INTO \"Later\" (\"N\") VALUES (7);"), std::string::npos);
}

// A system table is read for the feature that needs it alone: damaged, it fails that
// feature, never the scan or the tables.
TEST_F(HonestOutcomeTest, DamagedSystemTableFailsOnlyTheFeatureThatReadsIt) {
  const struct {
    const char* table;
    const char* setting;
    std::string why;       // how the report begins to say so
    bool dump_incomplete;  // as for the feature's other failures: a failed query keeps the name
  } cases[] = {
      {"MSysRelationships", "transferrelationships",
       "\r\nRELATIONSHIPS\r\n------------\r\n- the relationships cannot be read: The table "
       "'MSysRelationships' is damaged: data page ",
       true},
      {"MSysQueries", "transferqueries",
       "the saved queries cannot be read: The table 'MSysQueries' is damaged: data page ", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    const std::string source = dir_.File("system.mdb");
    {
      aw::DatabaseWriter db(source, {.damaged_table = c.table});
      aw::Table parts{.name = "Parts"};
      parts.columns = {{.name = "Id", .type = aw::ColumnType::kLong}};
      parts.indexes = {{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true}};
      db.AddTable(parts).AddRow({1});
      aw::Table uses{.name = "Uses"};
      uses.columns = {{.name = "Part", .type = aw::ColumnType::kLong}};
      db.AddTable(uses).AddRow({1});
      db.AddRelationship({.name = "PartsUses",
                          .primary_table = "Parts",
                          .primary_columns = {"Id"},
                          .foreign_table = "Uses",
                          .foreign_columns = {"Part"}});
      db.AddQuery({.name = "qParts", .tables = {{"Parts", ""}}, .columns = {{"[Id]", ""}}});
      db.Finish();
    }
    const testing::ScannedSource scanned = testing::ScanEverything(source);
    for (bool on : {false, true}) {
      SCOPED_TRACE(on);
      const std::string dump = dir_.File("out.sql");
      for (const std::string& file : {dump, dump + ".incomplete"}) fs::remove(file);
      std::vector<std::string> selection = scanned.selection;
      selection.push_back("Queries!qParts");
      DictionaryPtr settings = testing::RunSettings(dump, selection);
      testing::Section(settings)->Set("sourcefilename", source);
      testing::Section(settings)->Set(c.setting, on ? 1 : 0);
      report_.clear();
      const RunOutcome outcome =
          ConvertDatabase(settings, report_, scanned.schema, testing::ContextFor(status_));
      for (const char* table : {"Parts", "Uses"})
        EXPECT_EQ(outcome.Find(table)->result, TableResult::kComplete) << table;
      EXPECT_EQ(outcome.ExitStatus(), on ? 3 : 0) << report_;
      EXPECT_EQ(Reported(c.why), on) << report_;
      EXPECT_EQ(FileExists(dump + ".incomplete"), on && c.dump_incomplete);
    }
  }
}

}  // namespace
}  // namespace ferrolyte
