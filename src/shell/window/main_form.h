// frmMain: the wizard window. It holds the header, one frame per page, the navigation
// buttons and the donation band, carries out the window's part of start-up and shows
// the pages the page flow chooses.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "schema/schema_model.h"
#include "shell/startup.h"
#include "shell/window/message_box.h"
#include "shell/window/status_view.h"
#include "support/files.h"
#include "support/window/anchors.h"
#include "wizard/form_settings.h"
#include "wizard/page_flow.h"
#include "wizard/run_page.h"
#include "wizard/window/table_tree.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QUrl;

namespace ferrolyte {

class AdvancedOptionsForm;

class MainForm : public QWidget, public WindowHooks, public WizardView, public RunPageView {
 public:
  // Creates every control. Attach it to a program before it is shown.
  explicit MainForm(bool screenshot_mode);
  ~MainForm() override;

  // Start-up steps of the window, in the order start-up calls them.
  void Attach(Program& program) override;
  MessagePresenter& Presenter() override { return presenter_; }
  QtMessagePresenter& Boxes() { return presenter_; }
  void PrepareControls() override;
  void InitForm() override;
  void RemovePictureTabStops() override;
  void LayoutPageFrames() override;
  void SetTabOrder() override;
  void ApplySettings(const DictionaryPtr& settings) override;
  void ScaleDialog() override;
  void UpdateSecurityFields() override;
  void Navigate(const std::string& command) override;
  StatusOutput& Status() override { return *status_; }
  int Run() override;

  // The page flow's view of the window.
  void ShowFrame(const std::string& frame) override;
  void ShowButton(NavButton button) override;
  void DisableButton(NavButton button) override;
  void FocusButton(NavButton button) override;
  bool FocusFirstField(const std::string& frame) override;
  void FocusControl(const std::string& name) override;
  void SetDefaultButton(std::optional<NavButton> button) override;
  void SetHeader(const std::string& title, const std::string& note) override;
  SourceEntry Source() override;
  std::string TryDestination(const DictionaryPtr& settings) override;
  TableCount SelectedTables() override;
  void OpenDocument(const std::string& address) override;
  void SelectTablesShown(bool forward) override;
  void NavigateRun(std::string& page) override;
  const Messages& messages() const override { return program_->messages; }
  const ComponentRegistry& components() const override { return program_->components; }

  // The run page's view of the window.
  DictionaryPtr BuildSettings() override;
  void ClearStatusList() override;
  void SetBusyPointer(bool busy) override;
  void ShowReport(const std::string& report) override;
  void ShowResultLines(const ResultLines& lines) override;
  CancelToken& CancelRequest() override { return state.cancel; }
  void SetTransferRunning(bool running) override { state.transfer_running = running; }

  // Settings on the form.
  FormSettings ReadControls();
  void LoadSettings();
  void SaveSettingsAs(const std::string& initial_file);

  // The table tree: scans the source into the current schema description and refills it.
  void BuildTableTree();
  TreeChecks TreeNodes() { return TreeChecks(tvSourceTables); }
  // The current schema description (null before the first scan) and the run report.
  const std::shared_ptr<const SchemaModel>& Schema() const { return schema_; }
  const std::string& RunReport() const { return run_report_; }
  // The tree's selection carried to the next scan.
  const CarriedSelection& Selection() const { return selection_; }

  // How web pages and folders are opened: true when something opened it. The desktop's by
  // default; tests put their own.
  using UrlOpener = std::function<bool(const QUrl&)>;
  void set_url_opener(UrlOpener opener) { open_url_ = std::move(opener); }
  // The clock Run Now's conversion reads (the progress figures' rate); must outlive the form.
  void set_clock(const Clock& clock) { clock_ = &clock; }

  // What the form itself keeps track of.
  struct FormState {
    std::string current_page = "INIT";
    bool settings_loading = false;  // ApplySettings is filling the controls
    bool source_changed = true;     // the table tree shows another source or none yet
    bool transfer_running = false;
    CancelToken cancel{false};  // Cancel's request to the running transfer
  };
  FormState state;

  // Form operations.
  void UpdateControls();
  void UpdateAuthenticationFields();
  // "DIRECT" or "DUMP"; any other text changes nothing.
  void SetDestinationMethod(const std::string& method);
  // Closes the main form and the advanced options dialog.
  void UnloadForms();
  // The advanced options dialog, loaded (not shown) on first use.
  AdvancedOptionsForm& AdvancedOptions();
  QPushButton* NavigationButton(NavButton button) const;

  // Event handlers; those that report errors end the program through the error report.
  void cmdBack_Click();
  void cmdNext_Click();
  void cmdFinish_Click();
  void cmdCancel_Click();
  void cmdExit_Click();
  void cmdHelp_Click();
  void imgDonate_Click();
  void cmdAdvancedOptions_Click();
  void cmdSourceBrowse_Click();
  void cmdSystemDatabaseBrowse_Click();
  void cmdBrowseDump_Click();
  void optDestination_Click(int index);
  void chkDropDatabase_Click();
  void txtSourceFilename_Change();
  void txtSourceFilename_Validate();
  void cmdSelectAll_Click();
  void cmdSelectNone_Click();
  void cmdExpandAll_Click();
  void cmdCollapseAll_Click();
  void cmdLoadSettings_Click();
  void cmdSaveSettings_Click();
  void cmdSaveSettings1_Click();
  void cmdOpenLogFolder_Click();
  void txtTableFilter_Change();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Enter presses the page's default button, Escape Cancel (or Exit where Cancel is gone).
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void CreateControls();
  void CreateHeader();
  void CreateWelcomePage();
  void CreateSourcePage();
  void CreateDestinationPage();
  void CreateDestinationChoice();
  void CreatePostgresGroup();
  void CreateDumpGroup();
  void CreateDestinationDatabaseGroup();
  void CreateHiddenServerGroups();
  void CreateSelectTablesPage();
  void CreateTransferOptionsPage();
  void CreateProgressPage();
  void CreateResultPage();
  void CreateNavigation();
  void CreateBottomBand();
  void ConnectHandlers();
  // Lets the user pick an existing database file for the field; the folder and the
  // last-file key are remembered in the per-user settings.
  void BrowseDatabase(const std::string& filter, const std::string& title,
                      const std::string& last_file_key, QLineEdit* field);
  // Marks the control to keep its distance to those edges of its parent as the window grows;
  // taken at the design size, in ScaleDialog.
  void Anchor(QWidget* control, int edges) { anchor_plan_.emplace_back(control, edges); }
  void UpdateSelectionCount();
  // The window's size of the last session, from the per-user store, and back.
  void RestoreWindowSize();
  void SaveWindowSize();

  bool screenshot_mode_;
  const Clock* clock_ = &SystemClock();
  Program* program_ = nullptr;
  QtMessagePresenter presenter_;
  CarriedSelection selection_;
  std::unique_ptr<WindowStatus> status_;
  AdvancedOptionsForm* advanced_ = nullptr;
  std::shared_ptr<const SchemaModel> schema_;
  // Holds the schema's file copy from the first scan until the window goes.
  std::optional<PrivateFolder> schema_folder_;
  std::string run_report_;
  bool busy_ = false;
  std::vector<std::pair<QWidget*, int>> anchor_plan_;
  Anchors anchors_;
  std::optional<NavButton> default_button_;
  UrlOpener open_url_;
  // The file the tree shows, and whether the carried selection was loaded from settings.
  std::string scanned_file_;
  bool selection_loaded_ = false;
  // The user typed a destination database name: it no longer follows the source file.
  bool database_typed_ = false;
  bool start_maximized_ = false;

 public:
  ImageList tvImages;

 public:
  // The controls, by the names the rest of the program knows them by.
  QWidget* frmHeader;
  QLabel *lblHeader, *lblHeaderNote, *imgPGSQL, *imgMySql, *imgMSSQL;
  QWidget* frameBorder;
  QWidget *frameLoadSettings, *frameSource, *frameDestination, *frameSelectTables,
      *frameTransferOptions, *frameProgress, *frameSaveSettings;
  QLabel* lblWelcome;
  QPushButton* cmdLoadSettings;
  QLineEdit *txtSourceFilename, *txtSourceUsername, *txtSourcePassword, *txtSourceSystemDatabase;
  QPushButton *cmdSourceBrowse, *cmdSystemDatabaseBrowse;
  QRadioButton* optDestination[2];
  QGroupBox *frameDestinationPGSQL, *framePGSQLDestinationDatabase, *frameDestinationDump,
      *frameDestinationDirect, *frameMySQLDestinationDatabase, *frameDestinationMSSQL,
      *frameMSSQLDestinationDatabase;
  QLineEdit *txtPGSQLServer, *txtPGSQLPort, *txtPGSQLUsername, *txtPGSQLPassword,
      *txtPGSQLDestinationDatabase, *txtDestinationDumpFilename, *txtMSSQLUserName,
      *txtMSSQLPassword;
  QComboBox *cbPGSQLMaintenanceDB, *cbStorageEngine, *cbMSSQLAuthentication;
  QLabel *lblMSSQLUserName, *lblMSSQLPassword;
  QPushButton* cmdBrowseDump;
  QTreeWidget* tvSourceTables;
  QLineEdit* txtTableFilter;
  QLabel* lblSelectionCount;
  QPushButton *cmdSelectAll, *cmdSelectNone, *cmdExpandAll, *cmdCollapseAll;
  QCheckBox *chkDropDatabase, *chkCreateTables, *chkTransferRecords, *chkTransferIndexes,
      *chkColumnList, *chkUnicode, *chkAutocommit, *chkTransferDefaultValues,
      *chkTransferAutonumbers;
  QPushButton *cmdAdvancedOptions, *cmdSaveSettings1;
  QLabel* lblStatusHigh;
  QProgressBar* pbStatus;
  QLabel* lblStatusFigures;
  QTreeWidget* lvStatusLog;
  QPlainTextEdit* txtReport;
  QPlainTextEdit *txtLogFile, *txtLoadCommand;
  QPushButton *cmdOpenLogFolder, *cmdSaveSettings;
  QPushButton *cmdBack, *cmdNext, *cmdFinish, *cmdCancel, *cmdExit, *cmdHelp;
  QWidget *frameBottom, *frameDonate;
  QLabel *imgDonate, *Picture4;
  // The picture boxes inside the page frames (icons, and borderless holders of controls).
  QWidget *Picture1, *Picture2, *Picture3, *Picture5, *Picture6, *Picture7, *Picture8, *Picture9;
};

}  // namespace ferrolyte
