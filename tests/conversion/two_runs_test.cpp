// Two conversions in one process, each on its own thread with its own context: they must not
// share a cancel flag, a schema file or anything else that changes what either writes.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "accesswriter/writer.h"
#include "conversion/conversion_run.h"
#include "conversion_fixtures.h"
#include "schema/access_scanner.h"
#include "support/files.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;
using testing::TempDir;

// A file of its own per run: different tables, row counts and column kinds, so that output
// of one landing in the other's dump shows.
std::string WriteSource(const TempDir& dir, const std::string& name, int rows, bool memos) {
  aw::Table t{.name = name};
  t.columns = {
      {.name = "Id", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement},
      {.name = "Label", .type = aw::ColumnType::kText, .size = 80},
  };
  if (memos) t.columns.push_back({.name = "Notes", .type = aw::ColumnType::kMemo});
  t.indexes = {{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true}};
  const std::string path = dir.File(name + ".mdb");
  aw::DatabaseWriter db(path);
  aw::TableWriter& w = db.AddTable(t);
  for (int i = 0; i < rows; ++i) {
    std::vector<aw::Value> row = {nullptr, name + " row " + std::to_string(i)};
    if (memos) row.emplace_back(std::string(300 + i % 700, static_cast<char>('a' + i % 26)));
    w.AddRow(row);
  }
  db.Finish();
  return path;
}

struct Conversion {
  std::string source, dump;
  testing::TestRun run;
  RunOutcome outcome;
  std::string report;

  // Scans the source and writes its dump, everything through this conversion's context.
  void Go() {
    PrivateFolder folder(FolderPart(dump));
    run.temp_folder = folder.path();
    const SchemaModel schema = ScanAccessDatabase(source, "", "", "", run.Context());
    std::vector<std::string> selection;
    for (const SchemaTable& t : schema.tables) selection.push_back(t.name.value());
    DictionaryPtr settings = testing::RunSettings(dump, selection);
    testing::Section(settings)->Set("sourcefilename", source);
    outcome = ConvertDatabase(settings, report, schema, run.Context());
  }
  std::string Dump() const { return ReadTextFile(dump, "utf-8"); }
};

class TwoRunsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    customers_.source = WriteSource(dir_, "Customers", 3000, false);
    articles_.source = WriteSource(dir_, "Articles", 2000, true);
    customers_.dump = dir_.File("customers_alone.sql");
    articles_.dump = dir_.File("articles_alone.sql");
    customers_.Go();
    articles_.Go();
    ASSERT_EQ(customers_.outcome.ExitStatus(), 0) << customers_.report;
    ASSERT_EQ(articles_.outcome.ExitStatus(), 0) << articles_.report;
  }

  // Converts the two files again, at the same time, into dumps named after `tag`.
  void SideBySide(Conversion& customers, Conversion& articles, const std::string& tag) {
    customers.source = customers_.source;
    articles.source = articles_.source;
    customers.dump = dir_.File("customers_" + tag + ".sql");
    articles.dump = dir_.File("articles_" + tag + ".sql");
    std::thread first([&customers] { customers.Go(); });
    std::thread second([&articles] { articles.Go(); });
    first.join();
    second.join();
  }

  TempDir dir_;
  Conversion customers_, articles_;  // each alone, one after the other
};

TEST_F(TwoRunsTest, SideBySideTheyWriteWhatEachWritesAlone) {
  Conversion a, b;
  SideBySide(a, b, "together");

  EXPECT_EQ(a.outcome.ExitStatus(), 0) << a.report;
  EXPECT_EQ(b.outcome.ExitStatus(), 0) << b.report;
  EXPECT_EQ(a.Dump(), customers_.Dump());
  EXPECT_EQ(b.Dump(), articles_.Dump());
}

TEST_F(TwoRunsTest, CancellingOneLeavesTheOtherComplete) {
  Conversion stopped, goes_on;

  // The cancel comes while the other run is in the middle of its rows: it waits at its
  // first rows until the cancel was given.
  std::mutex m;
  std::condition_variable changed;
  bool cancelled = false;
  // Rows are being moved once the run has said so and handled events twice since.
  auto in_rows = [](const testing::TestRun& run) {
    static constexpr char kMoving[] = "  Moving records";
    const auto& lines = run.status.lines;
    return !lines.empty() && lines.back() == kMoving;
  };
  int stopped_events = 0, goes_on_events = 0;
  stopped.run.status.on_events = [&] {
    if (!in_rows(stopped.run) || ++stopped_events < 3) return;
    stopped.run.cancel = true;
    std::lock_guard lock(m);
    cancelled = true;
    changed.notify_all();
  };
  bool waited = false;
  goes_on.run.status.on_events = [&] {
    if (waited || !in_rows(goes_on.run) || ++goes_on_events < 3) return;
    waited = true;
    std::unique_lock lock(m);
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return cancelled; }));
  };
  SideBySide(stopped, goes_on, "one_stopped");

  ASSERT_TRUE(waited) << "the other run never reached its rows";
  EXPECT_EQ(stopped.outcome.result, RunResult::kStoppedOnRequest) << stopped.report;
  EXPECT_EQ(stopped.outcome.ExitStatus(), kExitStoppedOnRequest);
  EXPECT_EQ(goes_on.outcome.result, RunResult::kCompleted) << goes_on.report;
  ASSERT_EQ(goes_on.outcome.tables.size(), 1u);
  EXPECT_EQ(goes_on.outcome.tables[0].rows_moved, 2000);
  EXPECT_EQ(goes_on.Dump(), articles_.Dump());
}

}  // namespace
}  // namespace ferrolyte
