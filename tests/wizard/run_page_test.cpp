#include "wizard/run_page.h"

#include <gtest/gtest.h>

#include "support/errors.h"
#include "support/files.h"
#include "support/messages.h"
#include "testing/temp_dir.h"
#include "wizard/form_settings.h"
#include "wizard/ini_file.h"
#include "wizard/settings.h"

namespace ferrolyte {
namespace {

// Records what the run page does to the window, in order.
class FakeRunView : public RunPageView {
 public:
  void ShowFrame(const std::string& frame) override { events.push_back("frame " + frame); }
  void ShowButton(NavButton b) override {
    events.push_back(std::string("show ") + NavButtonName(b));
  }
  void FocusButton(NavButton b) override {
    events.push_back(std::string("focus ") + NavButtonName(b));
  }
  void SetDefaultButton(std::optional<NavButton> b) override {
    events.push_back(std::string("default ") + (b ? NavButtonName(*b) : "none"));
  }
  void SetHeader(const std::string& title, const std::string&) override {
    events.push_back("title " + title);
  }
  DictionaryPtr BuildSettings() override { return BuildSettingsFrom(form); }
  void ClearStatusList() override { events.push_back("clear status"); }
  void SetBusyPointer(bool busy) override { events.push_back(busy ? "busy" : "idle"); }
  void ShowReport(const std::string& report) override { shown_report = report; }
  void ShowResultLines(const ResultLines& l) override { lines = l; }
  StatusOutput& Status() override { return status; }
  const Messages& messages() const override { return shown_through; }
  CancelToken& CancelRequest() override { return cancel; }
  void SetTransferRunning(bool on) override { running = on; }

  FormSettings form = [] {
    FormSettings f;
    f.source_password = "src-pw";
    f.password = "dst-pw";
    f.source_tables = {"T"};
    return f;
  }();
  std::vector<std::string> events;
  std::string shown_report;
  ResultLines lines;
  RecordingStatus status;
  Messages shown_through;
  CancelToken cancel{true};  // left over from a cancelled run
  bool running = false;
};

class CountingPresenter : public MessagePresenter {
 public:
  int Show(const std::string& text, int style, const std::string& title) override {
    texts.push_back(text);
    titles.push_back(title);
    styles.push_back(style);
    return kAnswerOk;
  }
  void CopyToClipboard(const std::string&) override {}
  std::vector<std::string> texts, titles;
  std::vector<int> styles;
};

class RunPageTest : public ::testing::Test {
 protected:
  void SetUp() override { view_.shown_through = Messages(&presenter_); }
  testing::TempDir dir_;
  // Made with its folders by the run page.
  const std::string settings_file_ = dir_.File("cfg/Quorvane/Ferrolyte/wizard.ini");
  const RunPageOptions options_{.settings_file = settings_file_};
  CountingPresenter presenter_;
  FakeRunView view_;
  std::string page_ = "TRANSFER_OPTIONS";
  std::string report_ = "left over from the last run";
};

TEST_F(RunPageTest, KeepsSettingsWithoutPasswordsButRunsWithThem) {
  DictionaryPtr seen;
  bool file_existed_during_run = false;
  WizardNavigateRun(
      view_, page_, report_,
      [&](const DictionaryPtr& settings, std::string& report, StatusOutput&) {
        seen = settings;
        file_existed_during_run = FileExists(settings_file_);
        EXPECT_EQ(page_, "PROGRESS");
        EXPECT_TRUE(report.empty());
        EXPECT_FALSE(view_.cancel);
        EXPECT_TRUE(view_.running);
        report += "Tables: 1\r\n";
        return RunOutcome{};
      },
      options_);
  EXPECT_FALSE(view_.running);
  ASSERT_TRUE(seen);
  EXPECT_TRUE(file_existed_during_run);
  EXPECT_EQ(SettingsSection(seen)->Item("sourcepassword").Text(), "src-pw");
  EXPECT_EQ(SettingsSection(seen)->Item("destinationpassword").Text(), "dst-pw");
  const DictionaryPtr kept = SettingsSection(ReadIniFile(settings_file_));
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->Item("sourcepassword").Text(), "");
  EXPECT_EQ(kept->Item("destinationpassword").Text(), "");
  EXPECT_EQ(kept->Item("sourcetables").List().at(0).Text(), "T");

  EXPECT_EQ(page_, "SAVESETTINGS");
  EXPECT_EQ(view_.shown_report, "Tables: 1\r\n");
  ASSERT_EQ(view_.status.log.size(), 1u);
  EXPECT_EQ(view_.status.log[0], "Tables: 1\r\n");
  EXPECT_EQ(view_.events,
            (std::vector<std::string>{"frame frameProgress", "show cmdCancel", "focus cmdCancel",
                                      "default none", "title Conversion In Progress",
                                      "clear status", "busy", "idle", "frame frameSaveSettings",
                                      "show cmdBack", "title Conversion Result", "show cmdExit",
                                      "focus cmdExit", "default cmdExit"}));
  EXPECT_TRUE(presenter_.texts.empty());
}

TEST_F(RunPageTest, ResultPageSaysHowToLoadTheDumpAndWhatFailedFirst) {
  auto table = [](const char* name, TableResult result, const char* reason) {
    TableOutcome t;
    t.source_name = name;
    t.result = result;
    t.reason = reason;
    return t;
  };
  struct Case {
    const char* name;
    bool direct;
    std::string dump_file;
    RunOutcome outcome;
    std::string load_command, first_error;
  };
  RunOutcome failed{.result = RunResult::kFailed,
                    .reason = "the dump file could not be written: Disk full"};
  RunOutcome lost_table{.result = RunResult::kCompletedWithFailures};
  lost_table.tables = {table("Customers", TableResult::kComplete, ""),
                       table("Orders", TableResult::kFailed, "ERROR: value too long"),
                       table("Items", TableResult::kPartial, "stopped")};
  RunOutcome rejected_key{.result = RunResult::kCompletedWithFailures};
  rejected_key.rejected = {"foreign key Orders_Customers: ERROR: no unique constraint"};
  const Case cases[] = {
      {"dump",
       false,
       "/data/shop.sql",
       {},
       "psql -v ON_ERROR_STOP=1 -d postgres -f /data/shop.sql",
       ""},
      {"dump in a folder with a space and a quote",
       false,
       "/data/My Files/o'k.sql",
       {},
       "psql -v ON_ERROR_STOP=1 -d postgres -f '/data/My Files/o'\\''k.sql'",
       ""},
      {"direct", true, "/data/shop.sql", {}, "", ""},
      {"failed dump", false, "/data/shop.sql", failed, "",
       "the dump file could not be written: Disk full"},
      {"a table lost", false, "/data/shop.sql", lost_table, "", "Orders: ERROR: value too long"},
      {"a key refused", true, "", rejected_key, "",
       "foreign key Orders_Customers: ERROR: no unique constraint"},
      {"stopped on request", false, "/data/shop.sql",
       RunOutcome{.result = RunResult::kStoppedOnRequest}, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    presenter_.texts.clear();
    view_.form.direct = c.direct;
    view_.form.dump_file = c.dump_file;
    WizardNavigateRun(
        view_, page_, report_,
        [&](const DictionaryPtr&, std::string&, StatusOutput&) { return c.outcome; }, options_);
    EXPECT_EQ(view_.lines.load_command, c.load_command);
    EXPECT_EQ(view_.lines.first_error, c.first_error);
    if (c.first_error.empty()) {
      EXPECT_TRUE(presenter_.texts.empty());
    } else {
      ASSERT_EQ(presenter_.texts.size(), 1u);
      EXPECT_EQ(presenter_.texts[0],
                "The conversion did not complete. The first error:\r\n\r\n" + c.first_error);
      EXPECT_EQ(presenter_.styles[0], kMsgExclamation);
    }
    page_ = "TRANSFER_OPTIONS";
  }
}

TEST_F(RunPageTest, SavePasswordsKeepsThemAndAutorunWritesNothing) {
  auto convert = [](const DictionaryPtr&, std::string&, StatusOutput&) { return RunOutcome{}; };
  WizardNavigateRun(view_, page_, report_, convert,
                    {.save_passwords = true, .settings_file = settings_file_});
  EXPECT_EQ(SettingsSection(ReadIniFile(settings_file_))->Item("sourcepassword").Text(), "src-pw");

  testing::TempDir other;
  const std::string elsewhere = other.File("wizard.ini");
  WizardNavigateRun(view_, page_, report_, convert, {.autorun = true, .settings_file = elsewhere});
  EXPECT_FALSE(FileExists(elsewhere));
  EXPECT_EQ(page_, "SAVESETTINGS");
}

TEST_F(RunPageTest, MissingDriverEndsOnTheResultPageWithAnErrorBlock) {
  const std::string text = "No 32 bit PostgreSQL Unicode ODBC driver was found on your computer.";
  const RunOutcome outcome = WizardNavigateRun(
      view_, page_, report_,
      [&](const DictionaryPtr&, std::string& report, StatusOutput&) -> RunOutcome {
        report += "Settings\r\n";
        throw Error(1004, text);
      },
      options_);
  EXPECT_EQ(page_, "SAVESETTINGS");
  EXPECT_EQ(outcome.ExitStatus(), 3);
  EXPECT_FALSE(view_.running);
  EXPECT_EQ(view_.shown_report, "Settings\r\n\r\nERROR\r\n------------\r\n" + text + "\r\n");
  ASSERT_EQ(presenter_.titles.size(), 1u);
  EXPECT_EQ(presenter_.titles[0], "Missing ODBC Driver");
  EXPECT_EQ(presenter_.texts[0], text);
  EXPECT_EQ(presenter_.styles[0], kMsgExclamation);
  EXPECT_EQ(view_.status.log.back(), view_.shown_report);
}

TEST_F(RunPageTest, OtherErrorsNameTheStepAndStayOnTheProgressPage) {
  try {
    WizardNavigateRun(
        view_, page_, report_,
        [](const DictionaryPtr&, std::string&, StatusOutput&) -> RunOutcome {
          throw Error(3024, "Could not find file 'x.mdb'.");
        },
        options_);
    FAIL() << "the error was swallowed";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3024);
    EXPECT_EQ(e.source(), "Velkan.modWizard.WizardNavigateRun");
    EXPECT_EQ(e.description(),
              "Error in modWizard.WizardNavigateRun line 300. 3024: Could not find file 'x.mdb'.");
  }
  EXPECT_EQ(page_, "PROGRESS");
  EXPECT_FALSE(view_.running);
  EXPECT_TRUE(view_.status.log.empty());
  EXPECT_EQ(view_.events.back(), "busy");
}

TEST_F(RunPageTest, UnwritableSettingsFolderStopsBeforeTheRun) {
  const std::string blocker = dir_.File("blocker");
  WriteTextFile(blocker, "x");
  bool ran = false;
  EXPECT_THROW(WizardNavigateRun(view_, page_, report_,
                                 [&](const DictionaryPtr&, std::string&, StatusOutput&) {
                                   ran = true;
                                   return RunOutcome{};
                                 },
                                 {.settings_file = blocker + "/wizard.ini"}),
               Error);
  EXPECT_FALSE(ran);
  EXPECT_EQ(page_, "TRANSFER_OPTIONS");
}

}  // namespace
}  // namespace ferrolyte
