// Unattended dump runs whose dump file fails at one call: the exit status, the log's report
// and the result line say so with the system's reason, and the final name never holds a
// dump that did not complete.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "accesswriter/writer.h"
#include "conversion/conversion_fixtures.h"
#include "shell/shell_testing.h"
#include "shell/startup.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "testing/fault_env.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;
using testing::FaultEnv;
using testing::FileCall;

class DumpFaultTest : public ::testing::Test {
 protected:
  // Big: rows enough for several of the dump's buffer writes.
  std::string WriteSource() {
    const std::string path = dir_.File("big.mdb");
    aw::DatabaseWriter db(path);
    aw::Table t{.name = "Big"};
    t.columns = {{.name = "Text", .type = aw::ColumnType::kText, .size = 200}};
    aw::TableWriter& rows = db.AddTable(t);
    for (int i = 0; i < 2000; ++i) rows.AddRow({std::string(150, 'x')});
    db.Finish();
    return path;
  }

  // The program's log goes where the env's config folder says.
  int RunWith(FaultEnv& env, const std::string& source) {
    env.SetVariable("APPDATA", dir_.path());
    MkDirRecurse(SettingsFolder(env));
    DictionaryPtr settings = testing::RunSettings(dump_, testing::ScanEverything(source).selection);
    testing::Section(settings)->Set("sourcefilename", source);
    Program program(testing::TestComponents(), testing::ThrowingEnd(), env);
    program.options.unit_test = true;
    RecordingStatus status;
    return RunUnattended(program, settings, DefaultServices(),
                         testing::ContextFor(status, "", env));
  }
  std::string LogPath() {
    FaultEnv env;
    env.SetVariable("APPDATA", dir_.path());
    return LogFileName(env);
  }

  bool StagingLeft() const {
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      if (entry.path().filename().string().starts_with("out.sql.incomplete.")) return true;
    return false;
  }

  testing::TempDir dir_;
  const std::string dump_ = dir_.File("out.sql");
};

TEST_F(DumpFaultTest, AFailedDumpCallFailsTheRunWithItsReason) {
  const std::string source = WriteSource();
  struct Case {
    FileCall call;
    int nth;  // 0: no fault
    int err;
    std::string reason;  // as the report's Reason line gives it
  } cases[] = {
      {FileCall::kWrite, 0, 0, ""},
      {FileCall::kWrite, 1, ENOSPC, "Disk full"},
      {FileCall::kWrite, 3, EIO, "Device I/O error: Input/output error"},
      {FileCall::kSync, 1, EIO, "Device I/O error: Input/output error"},
      {FileCall::kSync, 1, ENOSPC, "Disk full"},
      {FileCall::kClose, 1, EIO, "Device I/O error: Input/output error"},
      {FileCall::kRename, 1, EIO, "Path/File access error: " + dump_ + " (Input/output error)"},
      {FileCall::kRename, 1, ENOSPC, "Disk full: " + dump_ + " (No space left on device)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.call)) + " #" + std::to_string(c.nth) +
                 " errno " + std::to_string(c.err));
    std::filesystem::remove(dump_);
    std::filesystem::remove(dump_ + ".incomplete");
    std::filesystem::remove(LogPath());
    FaultEnv env;
    if (c.nth > 0) env.FailCall(c.call, c.nth, c.err, "out.sql");
    const int exit_status = RunWith(env, source);
    const std::string log = ReadTextFile(LogPath(), "");
    EXPECT_FALSE(StagingLeft());
    if (c.nth == 0) {
      EXPECT_EQ(exit_status, 0) << log;
      EXPECT_TRUE(PathIsFile(dump_));
      EXPECT_NE(log.find("Result: completed"), std::string::npos) << log;
      continue;
    }
    EXPECT_GE(env.Calls(c.call), c.nth) << "the fault was never reached";
    EXPECT_EQ(exit_status, 3) << log;
    EXPECT_NE(log.find("Reason: " + c.reason + "\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Result: failed ("), std::string::npos) << log;
    EXPECT_NE(log.find("\tBig: failed"), std::string::npos) << log;
    EXPECT_FALSE(PathIsFile(dump_)) << "a dump that did not complete took the final name";
    ASSERT_TRUE(PathIsFile(dump_ + ".incomplete"));
    // Until the close the file is still open for the reason's comment line.
    if (c.call == FileCall::kWrite || c.call == FileCall::kSync) {
      EXPECT_NE(ReadTextFile(dump_ + ".incomplete", "").find("\r\n-- INCOMPLETE DUMP: "),
                std::string::npos);
    }
  }
}

}  // namespace
}  // namespace ferrolyte
