#include "shell/startup.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "shell/shell_testing.h"
#include "support/errors.h"
#include "support/safe.h"
#include "testing/fault_env.h"
#include "testing/temp_dir.h"
#include "wizard/ini_file.h"
#include "wizard/settings.h"
#include "wizard/settings_store.h"

namespace ferrolyte {
namespace {

using testing::LogEntries;
using testing::ProgramEnded;
using testing::RecordingPresenter;
using testing::TempDir;

const char kAutorunMessage[] =
    "When you set the \"autorun\" parameter you must also specify a value for the "
    "\"settings\" prarameter.";

// Scanner and conversion stand-ins that record what start-up hands them.
struct FakeEngine {
  ConversionServices Services() {
    return {
        [this](StatusOutput& status, const Messages&, const ComponentRegistry&) {
          status.WriteLog("checked");
          if (dependency_error) throw Error(1000, "Dependency check failed.");
        },
        [this](const SourceFields& source, const RunContext& ctx) {
          scanned = source;
          scan_folder = ctx.temp_folder;
          ctx.status.AddStatusLine("scanning");
          if (scan_error) throw Error(3024, "Could not find file '" + source.file + "'.");
          SchemaModel scanned_schema;
          scanned_schema.links.push_back({"Scanned", "", ""});
          return scanned_schema;
        },
        [this](const DictionaryPtr& settings, std::string& report, const SchemaModel& model,
               const RunContext& ctx) {
          converted = settings;
          schema = model;
          version_text = ctx.version_text;
          report += "SETTINGS\r\n";
          if (convert_error) throw Error(-2147467259, "No driver");
          return result;
        },
    };
  }
  bool dependency_error = false, scan_error = false, convert_error = false;
  RunOutcome result;
  SourceFields scanned;
  DictionaryPtr converted;
  SchemaModel schema;
  std::string version_text, scan_folder;
};

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() { env_.SetFolder(UserFolder::kConfig, dir_.path()); }
  // Runs start-up headless and returns its exit status.
  int Run(const std::vector<std::string>& args, WindowHooks* window = nullptr) {
    try {
      return RunProgram(args, window,
                        {engine_.Services(), &presenter_, testing::ThrowingEnd(), env_});
    } catch (const ProgramEnded& e) {
      return e.status;
    }
  }
  std::string WriteSettings(const std::string& name, const std::string& text) {
    WriteTextFile(dir_.File(name), text);
    return dir_.File(name);
  }
  std::string GoodSettings() {
    return WriteSettings("job.ini",
                         "[Velkan Ferrolyte]\r\n"
                         "  sourcefilename=/data/shop.mdb\r\n"
                         "  sourcepassword=pw\r\n"
                         "  sourceusername=me\r\n"
                         "  sourcesystemdatabase=/data/system.mdw\r\n"
                         "  destinationmethod=DUMP\r\n"
                         "  destinationdatabase=shop\r\n"
                         "  destinationdumpfilename=/data/shop.sql\r\n"
                         "  maintenancedb=\r\n"
                         "  sourcetables[]=\"A\",\"B\"\r\n");
  }

  TempDir dir_;
  // Its configuration folder holds the log, wizard.ini and the per-user store.
  testing::FaultEnv env_;
  RecordingPresenter presenter_;
  FakeEngine engine_;
};

TEST_F(StartupTest, AutorunConvertsWithTheLoadedSettings) {
  const std::string file = GoodSettings();
  EXPECT_EQ(Run({"settings=" + file, "autorun", "unittest", "successcmd=ok.sh"}), kExitOk);
  EXPECT_EQ(engine_.scanned.file, "/data/shop.mdb");
  EXPECT_EQ(engine_.scanned.password, "pw");
  EXPECT_EQ(engine_.scanned.user, "me");
  EXPECT_EQ(engine_.scanned.system_database, "/data/system.mdw");
  // The run gets the very schema the scan returned.
  ASSERT_EQ(engine_.schema.links.size(), 1u);
  EXPECT_EQ(engine_.schema.links[0].name, "Scanned");
  DictionaryPtr section = SettingsSection(engine_.converted);
  ASSERT_TRUE(section);
  EXPECT_EQ(SafeStr(section->Item("maintenancedb")), "postgres");
  EXPECT_EQ(SafeStr(section->Item("createtables")), "1");
  EXPECT_EQ(SafeStr(section->Item("destinationmethod")), "DUMP");
  EXPECT_EQ(engine_.version_text, "UNITTEST");
  // The scan had a folder of its own for the schema's copy, gone with the run.
  ASSERT_FALSE(engine_.scan_folder.empty());
  EXPECT_FALSE(FolderExists(engine_.scan_folder, false));
  EXPECT_EQ(LogEntries(env_),
            (std::vector<std::string>{
                "Begin", "Run count is 1",
                "Commandline: settings=" + file + " autorun unittest successcmd=ok.sh", "checked",
                "scanning", "SETTINGS\r\n", "End"}));
  EXPECT_TRUE(presenter_.shown.empty());
}

TEST_F(StartupTest, ConversionOutcomeSetsTheExitStatus) {
  const std::string file = GoodSettings();
  TableOutcome failed;
  failed.result = TableResult::kFailed;
  struct Case {
    RunResult result;
    std::vector<TableOutcome> tables;
    int status;
  } cases[] = {
      {RunResult::kCompleted, {}, kExitOk},
      {RunResult::kCompletedWithFailures, {failed}, kExitConversion},
      {RunResult::kFailed, {}, kExitConversion},
      {RunResult::kStoppedOnRequest, {}, 130},
      // A table that failed before the stop still makes the run a failure.
      {RunResult::kStoppedOnRequest, {failed}, kExitConversion},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.result));
    engine_.result.result = c.result;
    engine_.result.tables = c.tables;
    EXPECT_EQ(Run({"settings=" + file, "autorun"}), c.status);
    EXPECT_EQ(LogEntries(env_).back(), "End");
  }

  engine_.result = RunOutcome{};
  engine_.convert_error = true;
  EXPECT_EQ(Run({"settings=" + file, "autorun", "hide"}), kExitFatal);
  std::vector<std::string> log = LogEntries(env_);
  ASSERT_GE(log.size(), 3u);
  // The partial run report is kept ahead of the error report.
  EXPECT_EQ(log[log.size() - 3], "SETTINGS\r\n");
  // Hidden, so not copied: the report does not say it is on the clipboard.
  EXPECT_EQ(log[log.size() - 2], ErrorReportText("Form_Load", -2147467259, "No driver",
                                                 "Check autorun", {.on_clipboard = false}));
}

TEST_F(StartupTest, UnopenableSourceEndsWithTheErrorReport) {
  engine_.scan_error = true;
  EXPECT_EQ(Run({"settings=" + GoodSettings(), "autorun"}), kExitFatal);
  const std::string report =
      ErrorReportText("Form_Load", 3024, "Could not find file '/data/shop.mdb'.", "Check autorun");
  std::vector<std::string> log = LogEntries(env_);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], report);
  EXPECT_EQ(log.back(), "End");
  EXPECT_EQ(presenter_.clipboard, std::vector<std::string>{report});
  EXPECT_FALSE(engine_.converted);
}

TEST_F(StartupTest, AutorunWithoutSettingsIsRefused) {
  // "settings = a.ini" leaves settings empty; a quoted "settings=..." is a name of its own.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"autorun"},
                                               {"autorun", "settings", "=", "a.ini"},
                                               {"/AUTORUN", "\"settings=/x.ini\""}}) {
    EXPECT_EQ(Run(args), kExitSettings);
    std::vector<std::string> log = LogEntries(env_);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], kAutorunMessage);
    EXPECT_EQ(log.back(), "End");
  }
  ASSERT_EQ(presenter_.shown.size(), 3u);
  EXPECT_EQ(presenter_.shown[0].text, kAutorunMessage);
  EXPECT_EQ(presenter_.shown[0].style, kMsgExclamation);
  EXPECT_FALSE(engine_.converted);
}

TEST_F(StartupTest, AutorunHaltsWhenTheSettingsFileCannotBeLoaded) {
  const std::string no_section = WriteSettings("empty.ini", "[Other]\r\n  x=1\r\n");
  for (const std::string& file :
       {dir_.File("missing.ini"), no_section, DefaultSettingsFile(env_)}) {
    EXPECT_EQ(Run({"settings=" + file, "autorun"}), kExitSettings) << file;
    std::vector<std::string> log = LogEntries(env_);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2],
              "Unable to load ini file: " + file + "\r\nDefault settings applied.");
    EXPECT_EQ(log.back(), "End");
  }
  EXPECT_TRUE(presenter_.shown.empty());
  EXPECT_FALSE(engine_.converted);
}

// Settings that cannot mean what they say end the run before the scan, naming key and value.
TEST_F(StartupTest, SettingsThatCannotBeUsedAreRefused) {
  struct Case {
    std::string lines;
    std::string named;  // "" when the settings are usable
  } cases[] = {
      {"destinationmethod=direct\r\n  destinationport=5433", ""},
      {"destinationmethod=Dump", ""},
      {"destinationmethod=FTP", "destinationmethod=FTP"},
      {"destinationmethod=DUMP\r\n  destinationdatabase=", "destinationdatabase="},
      {"destinationmethod=DUMP\r\n  destinationdumpfilename=", "destinationdumpfilename="},
      {"destinationmethod=DIRECT\r\n  destinationport=54x2", "destinationport=54x2"},
      {"destinationmethod=DIRECT\r\n  destinationport=70000", "destinationport=70000"},
      {"destinationmethod=DUMP\r\n  dumpformat=copy", ""},
      {"destinationmethod=DUMP\r\n  dumpformat=csv", "dumpformat=csv"},
      {"destinationmethod=DIRECT\r\n  destinationport=5432,5433", ""},
      {"destinationmethod=DIRECT\r\n  destinationport=5432,", "destinationport=5432,"},
      {"destinationmethod=DIRECT\r\n  destinationsslmode=Verify-Full", ""},
      {"destinationmethod=DIRECT\r\n  destinationsslmode=tls", "destinationsslmode=tls"},
      // A dump has no use for it.
      {"destinationmethod=DUMP\r\n  destinationsslmode=tls", ""},
      {"destinationmethod=DIRECT\r\n  destinationparameters=connect_timeout=5 service=x", ""},
      {"destinationmethod=DIRECT\r\n  destinationparameters=colour=blue", "destinationparameters"},
      {"destinationmethod=DIRECT\r\n  destinationparameters=sslmode=require",
       "destinationparameters"},
      {"destinationmethod=DIRECT\r\n  destinationparameters=password=hunter2",
       "destinationparameters"},
      // That engine would leave out the keys and indexes a loaded file asks for.
      {"destinationmethod=DUMP\r\n  storageengine=BrightHouse", "storageengine=BrightHouse"},
      {"destinationmethod=DUMP\r\n  storageengine=BrightHouse\r\n  transferindexes=0", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    engine_.converted = nullptr;
    const std::string file = WriteSettings("job.ini",
                                           "[Velkan Ferrolyte]\r\n  destinationdatabase=shop\r\n"
                                           "  destinationdumpfilename=/data/shop.sql\r\n  " +
                                               c.lines + "\r\n");
    const int status = Run({"settings=" + file, "autorun", "hide"});
    if (c.named.empty()) {
      EXPECT_EQ(status, kExitOk);
      EXPECT_TRUE(engine_.converted);
      continue;
    }
    EXPECT_EQ(status, kExitSettings);
    EXPECT_FALSE(engine_.converted);
    std::vector<std::string> log = LogEntries(env_);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].rfind("The setting " + c.named + " is not valid: ", 0), 0u)
        << log[log.size() - 2];
    EXPECT_EQ(Join(log, "\n").find("hunter2"), std::string::npos);
  }
}

TEST_F(StartupTest, DependencyFailureIsFatal) {
  engine_.dependency_error = true;
  EXPECT_EQ(Run({"settings=" + GoodSettings(), "autorun", "-hide"}), kExitFatal);
  std::vector<std::string> log = LogEntries(env_);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], ErrorReportText("Form_Load", 1000, "Dependency check failed.",
                                                 "Check dependencies", {.on_clipboard = false}));
  EXPECT_TRUE(presenter_.shown.empty());
}

TEST_F(StartupTest, EachStartCountsAndAddsToTheLogUnlessClearlog) {
  SaveSetting(env_, "Ferrolyte", "Usage", "RunCount", "not a number");
  // The starts whose entries the log holds after each: clearlog empties it first.
  const size_t begins_after[] = {1, 1, 2};
  for (int i = 1; i <= 3; ++i) {
    Run({"autorun", i == 2 ? "clearlog" : "hide"});
    EXPECT_EQ(GetSetting(env_, "Ferrolyte", "Usage", "RunCount", ""), std::to_string(i));
    std::vector<std::string> log = LogEntries(env_);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "Begin");
    EXPECT_EQ(std::count(log.begin(), log.end(), "Begin"), begins_after[i - 1]);
    const auto last = std::find(log.rbegin(), log.rend(), "Begin");
    ASSERT_NE(last, log.rbegin());
    EXPECT_EQ(*std::prev(last), "Run count is " + std::to_string(i));
  }
}

TEST_F(StartupTest, SavePasswordsIsNormalised) {
  const std::string file = GoodSettings();
  for (auto [stored, written] : {std::pair{"1", "1"}, {"yes", "0"}}) {
    SaveSetting(env_, "Ferrolyte", "Settings", "SavePasswords", stored);
    Run({"settings=" + file, "autorun"});
    EXPECT_EQ(GetSetting(env_, "Ferrolyte", "Settings", "SavePasswords", ""), written);
  }
}

TEST_F(StartupTest, WithoutWindowOrAutorunExplainsHowToRun) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Run({}), kExitSettings);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("settings=FILE.ini autorun"),
            std::string::npos);
  EXPECT_EQ(LogEntries(env_).back(), "End");
  EXPECT_FALSE(engine_.converted);
}

// Records the window steps in the order start-up calls them.
struct FakeWindow : WindowHooks {
  void Attach(Program&) override { steps.push_back("Attach"); }
  MessagePresenter& Presenter() override { return presenter; }
  void PrepareControls() override { steps.push_back("PrepareControls"); }
  void InitForm() override { steps.push_back("InitForm"); }
  void RemovePictureTabStops() override { steps.push_back("RemovePictureTabStops"); }
  void LayoutPageFrames() override { steps.push_back("LayoutPageFrames"); }
  void SetTabOrder() override { steps.push_back("SetTabOrder"); }
  void ApplySettings(const DictionaryPtr& s) override {
    steps.push_back("ApplySettings");
    applied = s;
    if (fail_apply) throw Error(13, "Type mismatch");
  }
  void ScaleDialog() override { steps.push_back("ScaleDialog"); }
  void UpdateSecurityFields() override { steps.push_back("UpdateSecurityFields"); }
  void Navigate(const std::string& command) override {
    steps.push_back("Navigate " + command + " from " + page);
  }
  StatusOutput& Status() override { return status; }
  int Run() override {
    steps.push_back("Run");
    return 0;
  }
  std::vector<std::string> steps;
  DictionaryPtr applied;
  RecordingStatus status;
  RecordingPresenter presenter;
  std::string page = "INIT";
  bool fail_apply = false;
};

TEST_F(StartupTest, WindowStepsRunInOrderWithTheDefaultSettings) {
  FakeWindow window;
  EXPECT_EQ(Run({}, &window), 0);
  EXPECT_EQ(window.steps, (std::vector<std::string>{
                              "Attach", "PrepareControls", "InitForm", "RemovePictureTabStops",
                              "LayoutPageFrames", "SetTabOrder", "ApplySettings", "ScaleDialog",
                              "UpdateSecurityFields", "Navigate NEXT from INIT", "Run"}));
  EXPECT_EQ(window.status.log, std::vector<std::string>{"checked"});
  ASSERT_TRUE(SettingsSection(window.applied));
  EXPECT_EQ(SettingsSection(window.applied)->Item("destinationdatabase").Text(), "velkan");
  EXPECT_TRUE(window.presenter.shown.empty());  // no default file yet: silent
}

TEST_F(StartupTest, WindowStartWithUnreadableSettingsWarnsAndGoesOn) {
  FakeWindow window;
  const std::string file = dir_.File("gone.ini");
  EXPECT_EQ(Run({"settings=" + file}, &window), 0);
  ASSERT_EQ(window.presenter.shown.size(), 1u);
  EXPECT_EQ(window.presenter.shown[0].text,
            "Unable to load ini file: " + file + "\r\nDefault settings applied.");
  EXPECT_EQ(window.steps.back(), "Run");
  EXPECT_EQ(SettingsSection(window.applied)->Item("maintenancedb").Text(), "postgres");
}

TEST_F(StartupTest, WindowLoadsTheDefaultSettingsFile) {
  MkDirRecurse(SettingsFolder(env_));
  WriteTextFile(DefaultSettingsFile(env_), "[Velkan Ferrolyte]\r\n  destinationdatabase=shop\r\n");
  FakeWindow window;
  Run({}, &window);
  EXPECT_EQ(SettingsSection(window.applied)->Item("destinationdatabase").Text(), "shop");
}

TEST_F(StartupTest, AWindowStepErrorNamesItsStep) {
  FakeWindow window;
  window.fail_apply = true;
  EXPECT_EQ(Run({"hide"}, &window), kExitFatal);
  std::vector<std::string> log = LogEntries(env_);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], ErrorReportText("Form_Load", 13, "Type mismatch", "Set gui values",
                                                 {.on_clipboard = false}));
  EXPECT_NE(window.steps.back(), "Run");
}

TEST(WantsAutorunTest, LooksForTheOption) {
  EXPECT_TRUE(WantsAutorun({"settings=a.ini", "/AUTORUN"}));
  EXPECT_TRUE(WantsAutorun({"autorun=no"}));
  EXPECT_FALSE(WantsAutorun({"settings=autorun.ini"}));
  EXPECT_FALSE(WantsAutorun({}));
}

}  // namespace
}  // namespace ferrolyte
