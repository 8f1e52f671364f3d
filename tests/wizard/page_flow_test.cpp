#include "wizard/page_flow.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "platform/ado.h"
#include "platform/register.h"
#include "support/components.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/messages.h"
#include "testing/temp_dir.h"
#include "wizard/settings.h"
#include "wizard/source_check.h"

namespace ferrolyte {
namespace {

const std::string kSampleDatabase = std::string(FERROLYTE_BINARY_DIR) + "/sample/shop.mdb";

struct Shown {
  std::string text;
  int style;
  std::string title;
};

class ScriptedPresenter : public MessagePresenter {
 public:
  int Show(const std::string& text, int style, const std::string& title) override {
    shown.push_back({text, style, title});
    return answer;
  }
  void CopyToClipboard(const std::string&) override {}
  std::vector<Shown> shown;
  int answer = kAnswerOk;
};

class FakeView : public WizardView {
 public:
  void ShowFrame(const std::string& frame) override {
    calls.push_back("frame " + frame);
    if (frame == fail_on_frame) throw Error(3024, "Could not find file 'x'.");
    visible_frame = frame;
    for (NavButton b : kNavButtons) buttons[b] = {false, true};
  }
  void ShowButton(NavButton b) override { buttons[b].first = true; }
  void DisableButton(NavButton b) override { buttons[b].second = false; }
  void FocusButton(NavButton b) override { focus = NavButtonName(b); }
  bool FocusFirstField(const std::string& frame) override {
    if (!frames_with_fields.count(frame)) return false;
    focus = "first field of " + frame;
    return true;
  }
  void FocusControl(const std::string& name) override { focus = name; }
  void SetDefaultButton(std::optional<NavButton> b) override { default_button = b; }
  void SetHeader(const std::string& t, const std::string& n) override {
    title = t;
    note = n;
  }
  SourceEntry Source() override { return source; }
  DictionaryPtr BuildSettings() override { return settings; }
  std::string TryDestination(const DictionaryPtr&) override {
    calls.push_back("try server");
    return server_error;
  }
  TableCount SelectedTables() override { return tables; }
  // Sets a key of the settings section BuildSettings gives.
  void Set(const char* key, const std::string& value) {
    SettingsSection(settings)->Set(key, value);
  }
  void OpenDocument(const std::string& address) override { opened.push_back(address); }
  void SelectTablesShown(bool forward) override {
    calls.push_back(forward ? "tables forward" : "tables back");
  }
  void NavigateRun(std::string& page) override {
    calls.push_back("run");
    page = "SAVESETTINGS";
  }
  const Messages& messages() const override { return shown_through; }
  const ComponentRegistry& components() const override { return registry; }

  bool Visible(NavButton b) { return buttons[b].first; }
  bool Enabled(NavButton b) { return buttons[b].second; }

  std::string visible_frame, title, note, fail_on_frame;
  std::map<NavButton, std::pair<bool, bool>> buttons;
  std::string focus;  // a button's name, a control's name or "first field of " + frame
  std::optional<NavButton> default_button;
  std::set<std::string> frames_with_fields = {"frameSource", "frameDestination",
                                              "frameSelectTables", "frameTransferOptions"};
  DictionaryPtr settings = DefaultSettings(SystemEnv());
  std::string server_error;
  TableCount tables{2, 2};
  SourceEntry source;
  std::vector<std::string> opened, calls;
  Messages shown_through;
  ComponentRegistry registry = PlatformComponents();
};

class PageFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.shown_through = Messages(&presenter);
    ASSERT_TRUE(FileExists(kSampleDatabase)) << kSampleDatabase;
  }
  void Go(const std::string& command) { WizardNavigate(view, page, command); }

  ScriptedPresenter presenter;
  FakeView view;
  std::string page = "INIT";
  testing::TempDir temp;
};

TEST_F(PageFlowTest, WalksForwardAndBackWithTitlesButtonsAndFocus) {
  using B = NavButton;
  Go("NEXT");
  EXPECT_EQ(page, "WELCOME");
  EXPECT_EQ(view.visible_frame, "frameLoadSettings");
  EXPECT_EQ(view.title, "Ferrolyte Conversion");
  EXPECT_TRUE(view.Visible(B::kBack));
  EXPECT_FALSE(view.Enabled(B::kBack));
  EXPECT_TRUE(view.Visible(B::kNext) && view.Visible(B::kCancel));
  EXPECT_FALSE(view.Visible(B::kFinish) || view.Visible(B::kExit));
  EXPECT_EQ(view.focus, "");  // entered forward: no focus change
  EXPECT_EQ(view.default_button, B::kNext);

  Go("BACK");  // no transition
  EXPECT_EQ(page, "WELCOME");
  Go("NEXT");
  EXPECT_EQ(page, "SOURCE");
  EXPECT_EQ(view.note, "Specify which MS Access database to use as data source for the transfer.");
  EXPECT_EQ(view.focus, "first field of frameSource");

  view.source.file = kSampleDatabase;
  Go("NEXT");
  EXPECT_EQ(page, "DESTINATION");
  EXPECT_EQ(view.note, "Specify the PostgreSQL destination database and connection information.");
  EXPECT_EQ(view.focus, "first field of frameDestination");
  EXPECT_TRUE(presenter.shown.empty());

  view.source.file = "/nowhere/changed.mdb";  // the destination page checks its own entries
  Go("NEXT");
  EXPECT_EQ(page, "SELECT_TABLES");
  EXPECT_EQ(view.calls, (std::vector<std::string>{"frame frameLoadSettings", "frame frameSource",
                                                  "frame frameDestination", "try server",
                                                  "frame frameSelectTables", "tables forward"}));
  Go("NEXT");
  EXPECT_EQ(page, "TRANSFER_OPTIONS");
  EXPECT_EQ(view.title, "Transfer Options");
  EXPECT_TRUE(view.Visible(B::kFinish) && view.Visible(B::kBack) && view.Visible(B::kCancel));
  EXPECT_FALSE(view.Visible(B::kNext));
  EXPECT_EQ(view.focus, "first field of frameTransferOptions");
  EXPECT_EQ(view.default_button, B::kFinish);
  Go("NEXT");  // Run Now is the only way on
  EXPECT_EQ(page, "TRANSFER_OPTIONS");

  Go("BACK");
  EXPECT_EQ(page, "SELECT_TABLES");
  EXPECT_EQ(view.calls.back(), "tables back");
  EXPECT_EQ(view.focus, "first field of frameSelectTables");
  EXPECT_EQ(view.default_button, B::kNext);
  Go("BACK");
  EXPECT_EQ(page, "DESTINATION");
  // A page whose fields cannot take the focus falls back to its button.
  view.frames_with_fields.erase("frameSource");
  Go("BACK");
  EXPECT_EQ(page, "SOURCE");
  EXPECT_EQ(view.focus, "cmdBack");
  Go("BACK");
  EXPECT_EQ(page, "WELCOME");
  EXPECT_EQ(view.focus, "cmdNext");
  EXPECT_TRUE(presenter.shown.empty());
}

TEST_F(PageFlowTest, RunAndResultPages) {
  using B = NavButton;
  page = "TRANSFER_OPTIONS";
  Go("FINISH");
  EXPECT_EQ(view.calls.back(), "run");
  EXPECT_EQ(page, "SAVESETTINGS");
  ShowWizardPage(view, page, "SAVESETTINGS", true);
  EXPECT_EQ(view.title, "Conversion Result");
  EXPECT_TRUE(view.Visible(B::kExit) && view.Visible(B::kBack));
  EXPECT_FALSE(view.Visible(B::kCancel) || view.Visible(B::kNext));
  EXPECT_EQ(view.focus, "cmdExit");
  EXPECT_EQ(view.default_button, B::kExit);
  Go("NEXT");
  EXPECT_EQ(page, "SAVESETTINGS");
  Go("BACK");
  EXPECT_EQ(page, "TRANSFER_OPTIONS");

  ShowWizardPage(view, page, "PROGRESS", true);
  EXPECT_EQ(view.note, "The conversion is now running. This might take a while.");
  EXPECT_TRUE(view.Visible(B::kCancel));
  EXPECT_FALSE(view.Visible(B::kBack) || view.Visible(B::kExit));
  EXPECT_EQ(view.default_button, std::nullopt);  // Enter must not stop or leave a run
  for (const char* command : {"NEXT", "BACK", "FINISH"}) {
    view.calls.clear();
    Go(command);
    EXPECT_EQ(page, "PROGRESS");
    EXPECT_TRUE(view.calls.empty());
  }
  page = "SOURCE";
  Go("next");  // commands compare exactly
  EXPECT_EQ(page, "SOURCE");
  EXPECT_TRUE(presenter.shown.empty());
}

TEST_F(PageFlowTest, SourceChecksKeepTheSourcePage) {
  page = "SOURCE";
  Go("NEXT");
  ASSERT_EQ(presenter.shown.size(), 1u);
  EXPECT_EQ(presenter.shown[0].text, "You must select a source database.");
  EXPECT_EQ(presenter.shown[0].style, kMsgInformation);
  EXPECT_EQ(presenter.shown[0].title, "Ferrolyte");

  view.source.file = temp.File("missing.mdb");
  Go("NEXT");
  ASSERT_EQ(presenter.shown.size(), 2u);
  EXPECT_EQ(presenter.shown[1].text,
            "The program could not connect to the source database.\r\n\r\nThe database file '" +
                temp.File("missing.mdb") + "' does not exist.");
  EXPECT_EQ(presenter.shown[1].style, kMsgExclamation);

  view.source.file = kSampleDatabase;
  view.source.system_database = temp.File("system.mdw");
  Go("NEXT");
  ASSERT_EQ(presenter.shown.size(), 3u);
  EXPECT_NE(presenter.shown[2].text.find("The system database file '" + temp.File("system.mdw") +
                                         "' does not exist."),
            std::string::npos);

  const std::string text_file = temp.File("notes.mdb");
  WriteTextFile(text_file, "This is a note, not a database.\n");
  view.source = {text_file, "", "", ""};
  Go("NEXT");
  ASSERT_EQ(presenter.shown.size(), 4u);
  EXPECT_EQ(presenter.shown[3].text.rfind(
                "The program could not connect to the source database.\r\n\r\nUnable to open "
                "the source database.\r\nError ",
                0),
            0u);
  EXPECT_EQ(page, "SOURCE");
  EXPECT_TRUE(view.opened.empty());
}

TEST_F(PageFlowTest, MissingProviderOffersTheDownloadPage) {
  view.registry.Register("ADODB.Connection", []() -> std::shared_ptr<Component> {
    throw Error(3706, "ADODB.Connection", "Provider cannot be found.");
  });
  page = "SOURCE";
  view.source.file = kSampleDatabase;
  presenter.answer = kAnswerNo;
  Go("NEXT");
  presenter.answer = kAnswerYes;
  Go("NEXT");

  ASSERT_EQ(presenter.shown.size(), 2u);
  EXPECT_EQ(presenter.shown[0].style, kMsgExclamation | kMsgYesNoCancel);
  const std::string& text = presenter.shown[0].text;
  EXPECT_NE(text.find("You are most likely missing a driver"), std::string::npos);
  EXPECT_NE(text.find(kAccessEngineDownloadAddress), std::string::npos);
  EXPECT_TRUE(text.ends_with(std::string(kAccessEngineDownloadAddress) +
                             "\r\n\r\nDo you want to open the URL in a browser?"));
  EXPECT_EQ(page, "SOURCE");
  EXPECT_EQ(view.opened, std::vector<std::string>{kAccessEngineDownloadAddress});
}

TEST_F(PageFlowTest, HiddenQuestionTakesOkAndOpensNothing) {
  view.registry.Register("ADODB.Connection", []() -> std::shared_ptr<Component> {
    throw Error(3706, "ADODB.Connection", "Provider cannot be found.");
  });
  view.shown_through = Messages(&presenter, true);
  page = "SOURCE";
  view.source.file = kSampleDatabase;
  Go("NEXT");
  EXPECT_TRUE(presenter.shown.empty());
  EXPECT_TRUE(view.opened.empty());
  EXPECT_EQ(page, "SOURCE");
}

TEST_F(PageFlowTest, DestinationPageRefusesWhatARunCannotUse) {
  struct Case {
    const char* name;
    std::string method, port, dump_file, database, server_error;
    std::string message;  // empty: the table page follows
    std::string focus;
    bool tries_server;
    std::string parameters = "";
  };
  const std::string no_server =
      "connection to server at \"localhost\" (127.0.0.1), port 5999 "
      "failed: Connection refused\n\tIs the server running?";
  const Case cases[] = {
      {"direct, reachable", "DIRECT", "5432", "", "shop", "", "", "", true},
      {"direct, empty port is libpq's", "DIRECT", "", "", "shop", "", "", "", true},
      {"direct, a port per host", "DIRECT", "5432,5433", "", "shop", "", "", "", true},
      {"a list with an empty port", "DIRECT", "5432,", "", "shop", "",
       "The port \"5432,\" is not a number from 1 to 65535.", "txtPGSQLPort", false},
      {"port with a letter", "DIRECT", "54x2", "", "shop", "",
       "The port \"54x2\" is not a number from 1 to 65535.", "txtPGSQLPort", false},
      {"port 0", "DIRECT", "0", "", "shop", "", "The port \"0\" is not a number from 1 to 65535.",
       "txtPGSQLPort", false},
      {"port 65536", "DIRECT", "65536", "", "shop", "",
       "The port \"65536\" is not a number from 1 to 65535.", "txtPGSQLPort", false},
      {"no database", "DIRECT", "5432", "", "  ", "", "Enter the name of the destination database.",
       "txtPGSQLDestinationDatabase", false},
      {"parameters the run refuses", "DIRECT", "5432", "", "shop", "",
       "The setting destinationparameters is not valid: client_encoding is always UTF8.", "", false,
       "client_encoding=LATIN1"},
      {"parameters of a dump are not read", "DUMP", "", "/tmp/x.sql", "shop", "", "", "", false,
       "client_encoding=LATIN1"},
      {"server refuses", "DIRECT", "5999", "", "shop", no_server,
       "The program could not connect to the PostgreSQL server.\r\n\r\n" + no_server, "", true},
      {"dump", "DUMP", "54x2", "/tmp/x.sql", "shop", "x", "", "", false},
      {"dump without a file", "DUMP", "5432", "", "shop", "", "Enter the name of the dump file.",
       "txtDestinationDumpFilename", false},
      {"dump without a database", "DUMP", "5432", "/tmp/x.sql", "", "",
       "Enter the name of the destination database.", "txtPGSQLDestinationDatabase", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    presenter.shown.clear();
    view.calls.clear();
    view.focus.clear();
    view.Set("destinationmethod", c.method);
    view.Set("destinationport", c.port);
    view.Set("destinationdumpfilename", c.dump_file);
    view.Set("destinationdatabase", c.database);
    view.Set("destinationparameters", c.parameters);
    view.server_error = c.server_error;
    page = "DESTINATION";
    Go("NEXT");
    EXPECT_EQ(!view.calls.empty() && view.calls[0] == "try server", c.tries_server);
    if (c.message.empty()) {
      EXPECT_EQ(page, "SELECT_TABLES");
      EXPECT_TRUE(presenter.shown.empty());
      continue;
    }
    EXPECT_EQ(page, "DESTINATION");
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].text, c.message);
    EXPECT_EQ(presenter.shown[0].style, kMsgExclamation);
    EXPECT_EQ(view.focus, c.focus);
  }
}

TEST_F(PageFlowTest, NothingSelectedNeitherLeavesTheTablePageNorRuns) {
  struct Case {
    TableCount tables;
    bool refused;
  };
  const Case cases[] = {{{0, 3}, true}, {{1, 3}, false}, {{0, 0}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.tables.selected) + " of " + std::to_string(c.tables.total));
    view.tables = c.tables;
    for (auto [from, command, to] : {std::tuple{"SELECT_TABLES", "NEXT", "TRANSFER_OPTIONS"},
                                     std::tuple{"TRANSFER_OPTIONS", "FINISH", "SAVESETTINGS"}}) {
      presenter.shown.clear();
      view.calls.clear();
      page = from;
      Go(command);
      EXPECT_EQ(page, c.refused ? from : to);
      if (c.refused) {
        ASSERT_EQ(presenter.shown.size(), 1u);
        EXPECT_EQ(presenter.shown[0].text, "Select at least one table");
        EXPECT_EQ(presenter.shown[0].title, "Ferrolyte");
        EXPECT_TRUE(view.calls.empty());
      } else {
        EXPECT_TRUE(presenter.shown.empty());
      }
    }
  }
}

TEST_F(PageFlowTest, ErrorsCarryTheStepOfTheFailingAction) {
  struct Case {
    std::string page, command, failing_frame;
    int step;
  };
  const Case cases[] = {{"INIT", "NEXT", "frameLoadSettings", 110},
                        {"WELCOME", "NEXT", "frameSource", 140},
                        {"SOURCE", "NEXT", "frameDestination", 190},
                        {"SOURCE", "BACK", "frameLoadSettings", 260},
                        {"DESTINATION", "NEXT", "frameSelectTables", 290},
                        {"DESTINATION", "BACK", "frameSource", 310},
                        {"SELECT_TABLES", "NEXT", "frameTransferOptions", 340},
                        {"SELECT_TABLES", "BACK", "frameDestination", 360},
                        {"TRANSFER_OPTIONS", "BACK", "frameSelectTables", 410},
                        {"SAVESETTINGS", "BACK", "frameTransferOptions", 440}};
  view.source.file = kSampleDatabase;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page + " " + c.command);
    page = c.page;
    view.fail_on_frame = c.failing_frame;
    try {
      Go(c.command);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), 3024);
      EXPECT_EQ(e.source(), "Velkan.modWizard.WizardNavigate");
      EXPECT_EQ(e.description(),
                "modWizard component failure. Velkan.modWizard.WizardNavigate "
                "line " +
                    std::to_string(c.step) + ". Could not find file 'x'.");
    }
    EXPECT_EQ(page, c.page);  // the page name is set only after the frame is shown
  }
}

}  // namespace
}  // namespace ferrolyte
