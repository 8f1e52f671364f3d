#include "shell/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "shell/log_status.h"
#include "support/errors.h"
#include "support/files.h"
#include "testing/temp_dir.h"
#include "wizard/settings.h"

namespace ferrolyte {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(FormatLogEntryTest, StampsAndAlignsContinuationLines) {
  const std::tm t = At(2024, 3, 5, 14, 7, 9);
  const std::string indent = std::string(19, ' ') + "\t";
  struct Case {
    std::string message, entry;
  };
  const Case cases[] = {
      {"a\r\nb", "2024-03-05 14:07:09\ta\r\n" + indent + "b\r\n"},
      {"", "2024-03-05 14:07:09\t\r\n"},
      {"lone\nfeed", "2024-03-05 14:07:09\tlone\r\n" + indent + "feed\r\n"},
      {"ends\r\n", "2024-03-05 14:07:09\tends\r\n" + indent + "\r\n"},
      {"cr\ronly", "2024-03-05 14:07:09\tcr\ronly\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatLogEntry(t, c.message), c.entry);
  EXPECT_EQ(FormatTimeStamp(At(987, 12, 31, 0, 0, 0)), "0987-12-31 00:00:00");
  EXPECT_EQ(FormatTimeStamp(t).size(), 19u);
}

// Each entry one second after the last.
class TickingClock : public Clock {
 public:
  std::tm LocalTime() const override { return At(2024, 3, 5, 14, 7, second_++); }

 private:
  mutable int second_ = 0;
};

class LogFileTest : public ::testing::Test {
 protected:
  std::string LogText() { return ReadTextFile(LogFileName(SystemEnv()), ""); }

  TempDir dir_;
  ScopedEnv appdata_{"APPDATA", dir_.path().c_str()};
  TickingClock clock_;
  LogFile log_{LogFileName(SystemEnv()), clock_};
  CancelToken cancel_{false};
};

TEST_F(LogFileTest, LivesInTheSettingsFolderNamedAfterTheProgram) {
  EXPECT_EQ(FolderPart(LogFileName(SystemEnv())), SettingsFolder(SystemEnv()) + "/");
  EXPECT_EQ(FileNamePart(LogFileName(SystemEnv())), "ferrolyte_tests.log");
}

TEST_F(LogFileTest, InitKeepsEarlierRunsAndEntriesAppend) {
  log_.Init();
  EXPECT_TRUE(FolderExists(SettingsFolder(SystemEnv()), false));
  log_.Write("first run");
  log_.Init();
  log_.Write("Begin");
  log_.Write("two\r\nlines");
  EXPECT_EQ(LogText(),
            "2024-03-05 14:07:00\tfirst run\r\n"
            "2024-03-05 14:07:01\tBegin\r\n"
            "2024-03-05 14:07:02\ttwo\r\n" +
                std::string(19, ' ') + "\tlines\r\n");
  EXPECT_FALSE(FileExists(LogFileName(SystemEnv()) + ".1"));
  // Its lines name files, servers and users: nobody else reads them.
  struct stat st {};
  ASSERT_EQ(::stat(LogFileName(SystemEnv()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST_F(LogFileTest, InitMovesALogPastTheLimitAsideReplacingTheOlderOne) {
  MkDirRecurse(SettingsFolder(SystemEnv()));
  WriteTextFile(LogFileName(SystemEnv()) + ".1", "oldest\r\n");
  const std::string at_limit(LogFile::kRotateBytes, 'x');
  WriteTextFile(LogFileName(SystemEnv()), at_limit);
  log_.Init();
  EXPECT_EQ(ReadTextFile(LogFileName(SystemEnv()) + ".1", ""), "oldest\r\n");
  log_.Write("y");
  log_.Init();
  EXPECT_EQ(ReadTextFile(LogFileName(SystemEnv()) + ".1", "").size(), at_limit.size() + 23);
  EXPECT_FALSE(FileExists(LogFileName(SystemEnv())));
  log_.Write("after");
  EXPECT_EQ(LogText(), "2024-03-05 14:07:01\tafter\r\n");
}

TEST_F(LogFileTest, ClearLogTruncatesOnlyTheFirstEntry) {
  MkDirRecurse(SettingsFolder(SystemEnv()));
  WriteTextFile(LogFileName(SystemEnv()), "old\r\n");
  log_.set_clear_first(true);
  log_.Write("one");
  log_.Write("two");
  EXPECT_EQ(LogText(), "2024-03-05 14:07:00\tone\r\n2024-03-05 14:07:01\ttwo\r\n");

  // Without clearlog the first entry appends.
  WriteTextFile(LogFileName(SystemEnv()), "old\r\n");
  LogFile appending(LogFileName(SystemEnv()), clock_);
  appending.Write("three");
  EXPECT_EQ(LogText(), "old\r\n2024-03-05 14:07:02\tthree\r\n");
}

TEST_F(LogFileTest, UnwritableLogRaises) {
  // The folder is not created again once Init has run.
  try {
    log_.Write("x");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 76);
    EXPECT_NE(e.description().find(LogFileName(SystemEnv())), std::string::npos);
  }
}

class TerminalCapture {
 public:
  TerminalCapture() : file_(std::tmpfile()) {}
  ~TerminalCapture() { std::fclose(file_); }
  std::FILE* get() { return file_; }
  std::string Text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string out;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
    return out;
  }

 private:
  std::FILE* file_;
};

TEST_F(LogFileTest, LogStatusWritesTheLogAndShowsLinesOnATerminal) {
  log_.Init();
  TerminalCapture terminal;
  LogStatus status(log_, cancel_, terminal.get(), true, false);
  status.AddStatusLine("Table: Orders");
  status.SetProgressRange("PROGRESS", 0, 20);
  status.SetProgress("Orders", 20);
  status.AddStatusLine("  Transfer completed");
  status.WriteLog("log only");
  EXPECT_EQ(LogText(),
            "2024-03-05 14:07:00\tTable: Orders\r\n"
            "2024-03-05 14:07:01\t  Transfer completed\r\n"
            "2024-03-05 14:07:02\tlog only\r\n");
  EXPECT_EQ(terminal.Text(),
            "Table: Orders\n"
            "\r\033[K  Orders  100%"
            "\r\033[K  Transfer completed\n");
}

TEST_F(LogFileTest, LogStatusShowsNothingWithoutATerminal) {
  log_.Init();
  TerminalCapture terminal;
  LogStatus status(log_, cancel_, terminal.get());  // a plain file is no terminal
  status.AddStatusLine("line");
  status.SetProgressRange("PROGRESS", 0, 0);
  status.SetProgress("x", 1);
  EXPECT_EQ(terminal.Text(), "");
  EXPECT_EQ(LogText(), "2024-03-05 14:07:00\tline\r\n");
}

TEST_F(LogFileTest, ProgressOnlyForTheProgressPage) {
  log_.Init();
  TerminalCapture terminal;
  LogStatus status(log_, cancel_, terminal.get(), true, false);
  status.SetProgressRange("SELECT_TABLES", 0, 5);
  status.SetProgress("hidden", 5);
  status.SetProgressRange("progress", 0, 0);  // range 0..1
  status.SetProgress("T", 1);
  EXPECT_EQ(terminal.Text(), "\r\033[K  T  100%");
}

TEST_F(LogFileTest, PlainTerminalGetsNoEscapeCodes) {
  log_.Init();
  TerminalCapture terminal;
  LogStatus status(log_, cancel_, terminal.get(), true, true);
  status.SetProgressRange("PROGRESS", 0, 100);
  status.SetProgress("Orders (10/100)", 100);
  status.SetProgressRange("PROGRESS", 0, 1);
  status.SetProgress("T", 1);
  status.AddStatusLine("done");
  // A shorter line blanks what the longer one left; a status line blanks the progress line.
  EXPECT_EQ(terminal.Text(),
            "\r  Orders (10/100)  100%"
            "\r  T  100%" +
                std::string(14, ' ') + "\r" + std::string(23, ' ') + "\rdone\n");
  EXPECT_EQ(terminal.Text().find('\033'), std::string::npos);
}

TEST_F(LogFileTest, DumbTerminalOrNoColorMeansPlain) {
  struct Case {
    const char *term, *no_color;
    bool plain;
  } cases[] = {{"dumb", nullptr, true},
               {"xterm", "1", true},
               {"xterm", "", false},
               {"xterm-256color", nullptr, false},
               {nullptr, nullptr, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.term ? c.term : "(unset)") + " " + (c.no_color ? c.no_color : "-"));
    ScopedEnv term("TERM", c.term);
    ScopedEnv no_color("NO_COLOR", c.no_color);
    EXPECT_EQ(PlainTerminal(), c.plain);
  }
}

}  // namespace
}  // namespace ferrolyte
