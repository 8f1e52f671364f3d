// The wizard window driven through its real buttons, offscreen.
#include "shell/window/main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>
#include <functional>
#include <memory>

#include "shell/error_report.h"
#include "shell/log.h"
#include "shell/main_form_rules.h"
#include "support/files.h"
#include "support/safe.h"
#include "support/window/form_units.h"
#include "window_start.h"
#include "wizard/settings.h"
#include "wizard/settings_store.h"
#include "wizard/window/advanced_options.h"

using namespace ferrolyte;

namespace {

// Acts on the next modal window once it is up; whatever is still modal later is rejected,
// so a test that expected no box cannot hang.
class ModalAnswer {
 public:
  explicit ModalAnswer(std::function<void(QWidget*)> act) {
    poll_.setInterval(10);
    QObject::connect(&poll_, &QTimer::timeout, [this, act] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        poll_.stop();
        seen = modal->windowTitle();
        act(modal);
      }
    });
    poll_.start();
    net_.setSingleShot(true);
    net_.setInterval(5000);
    QObject::connect(&net_, &QTimer::timeout, [] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
        dialog->reject();
    });
    net_.start();
  }
  QString seen;

 private:
  QTimer poll_, net_;
};

void Press(QWidget* modal, QMessageBox::StandardButton which) {
  auto* box = qobject_cast<QMessageBox*>(modal);
  if (box && box->button(which)) box->button(which)->click();
}

struct Box {
  QString text, title;
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
};

bool IsControl(const QWidget* w) {
  return !w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_"));
}

// The controls Tab reaches, in the order it reaches them, starting after `start`.
QStringList TabChain(QWidget* window, QWidget* start) {
  QStringList names;
  for (QWidget* w = start->nextInFocusChain(); w != start; w = w->nextInFocusChain()) {
    if (IsControl(w) && w->isVisibleTo(window) && w->isEnabled() &&
        (w->focusPolicy() & Qt::TabFocus) && w->window() == window) {
      names << w->objectName();
    }
  }
  names.prepend(start->objectName());
  return names;
}

// True when every control of the chain sits below, or on the same row right of, the one
// before it.
bool FollowsScreenOrder(QWidget* window, const QStringList& chain) {
  QPoint previous(-100000, -100000);
  for (const QString& name : chain) {
    const QPoint at = window->findChild<QWidget*>(name)->mapTo(window, QPoint(0, 0));
    if (at.y() < previous.y() || (at.y() == previous.y() && at.x() < previous.x())) {
      qWarning() << "out of order:" << name << at << "after" << previous;
      return false;
    }
    previous = at;
  }
  return true;
}

}  // namespace

class UrlCatcher : public QObject {
  Q_OBJECT
 public slots:
  void open(const QUrl& url) { urls << url.toString(); }

 public:
  QStringList urls;
};

class MainFormTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> appdata_;
  std::unique_ptr<WindowProgram> program_;
  std::unique_ptr<MainForm> form_;
  QList<Box> boxes_;
  QMessageBox::StandardButton answer_ = QMessageBox::Ok;
  UrlCatcher urls_;

  MainForm& F() { return *form_; }
  QString Page() { return QString::fromStdString(F().state.current_page); }
  void AnswerBoxes(QMessageBox::StandardButton answer) {
    answer_ = answer;
    F().Boxes().set_answerer([this](QMessageBox& box) {
      boxes_ << Box{box.text(), box.windowTitle(), box.icon(), box.standardButtons()};
      return answer_;
    });
  }
  QWidget* VisibleFrame() {
    QWidget* visible = nullptr;
    int count = 0;
    for (const std::string& name : PageFrames()) {
      auto* frame = F().findChild<QWidget*>(QString::fromStdString(name));
      if (frame->isVisible()) {
        visible = frame;
        ++count;
      }
    }
    return count == 1 ? visible : nullptr;
  }
  void Click(QPushButton* button) {
    QVERIFY2(button->isVisible() && button->isEnabled(), qPrintable(button->objectName()));
    QTest::mouseClick(button, Qt::LeftButton);
  }
  // Visible navigation buttons, each with "-" appended when disabled.
  QStringList NavState() {
    QStringList state;
    for (QPushButton* b : {F().cmdBack, F().cmdNext, F().cmdFinish, F().cmdCancel, F().cmdExit}) {
      if (b->isVisible()) state << b->objectName() + (b->isEnabled() ? "" : "-");
    }
    return state;
  }
  QString Sample() {
    const QString copy = appdata_->filePath(QStringLiteral("shop.mdb"));
    if (!QFile::exists(copy)) QFile::copy(QStringLiteral(FERROLYTE_SAMPLE_DATABASE), copy);
    return copy;
  }
  // Shows the page; the table page is entered backward, so that it does not scan.
  void GoTo(const char* page) {
    ShowWizardPage(F(), F().state.current_page, page, std::string(page) != "SELECT_TABLES");
  }

 private slots:
  void initTestCase() {
    QVERIFY(QFile::exists(QStringLiteral(FERROLYTE_SAMPLE_DATABASE)));
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &urls_, "open");
  }
  void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
  void init() {
    appdata_ = std::make_unique<QTemporaryDir>();
    qputenv("APPDATA", appdata_->path().toUtf8());
    boxes_.clear();
    urls_.urls.clear();
    program_ = std::make_unique<WindowProgram>();
    form_ = std::make_unique<MainForm>(false);
    StartWindow(*form_, *program_);
    form_->show();
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  }
  void cleanup() {
    form_.reset();
    program_.reset();
  }

  void walksThePagesWithTheRealButtons() {
    AnswerBoxes(QMessageBox::Ok);
    QCOMPARE(Page(), QStringLiteral("WELCOME"));
    QCOMPARE(VisibleFrame(), F().frameLoadSettings);
    QCOMPARE(F().lblHeader->text(), QStringLiteral("Ferrolyte Conversion"));
    QCOMPARE(F().lblHeaderNote->text(),
             QStringLiteral("This wizard will lead you through the conversion of a MS Access "
                            "database to a PostgreSQL database or dump file."));
    QCOMPARE(NavState(), (QStringList{"cmdBack-", "cmdNext", "cmdCancel"}));
    QVERIFY(F().cmdHelp->isVisible() && F().cmdHelp->isEnabled());
    QVERIFY(F().lblWelcome->text().startsWith("Welcome to the Ferrolyte conversion wizard. "));

    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("SOURCE"));
    QCOMPARE(VisibleFrame(), F().frameSource);
    QCOMPARE(F().lblHeader->text(), QStringLiteral("Source Database"));
    QCOMPARE(NavState(), (QStringList{"cmdBack", "cmdNext", "cmdCancel"}));
    QCOMPARE(F().focusWidget(), F().txtSourceFilename);
    QVERIFY(F().cmdNext->isDefault());

    F().txtSourceFilename->setText(Sample());
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("DESTINATION"));
    QCOMPARE(VisibleFrame(), F().frameDestination);
    QCOMPARE(F().lblHeaderNote->text(),
             QStringLiteral("Specify the PostgreSQL destination database and connection "
                            "information."));
    QVERIFY(F().frameDestinationPGSQL->isVisible());
    QVERIFY(F().framePGSQLDestinationDatabase->isVisible());
    QVERIFY(!F().frameDestinationDump->isVisible());
    QVERIFY(!F().frameDestinationDirect->isVisible() && !F().frameDestinationMSSQL->isVisible());
    QCOMPARE(F().focusWidget(), F().txtPGSQLServer);

    QTest::mouseClick(F().optDestination[1], Qt::LeftButton);
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("SELECT_TABLES"));
    QCOMPARE(F().lblHeader->text(), QStringLiteral("Select Tables"));
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("TRANSFER_OPTIONS"));
    QCOMPARE(F().lblHeader->text(), QStringLiteral("Transfer Options"));
    QCOMPARE(NavState(), (QStringList{"cmdBack", "cmdFinish", "cmdCancel"}));
    QCOMPARE(F().focusWidget(), F().chkDropDatabase);
    QVERIFY(F().cmdFinish->isDefault() && !F().cmdNext->isDefault());
    QCOMPARE(F().cmdFinish->geometry(), F().cmdNext->geometry());

    Click(F().cmdBack);
    QCOMPARE(Page(), QStringLiteral("SELECT_TABLES"));
    QCOMPARE(F().focusWidget(), F().txtTableFilter);
    Click(F().cmdBack);
    QCOMPARE(Page(), QStringLiteral("DESTINATION"));
    QCOMPARE(F().focusWidget(), F().txtDestinationDumpFilename);
    Click(F().cmdBack);
    QCOMPARE(Page(), QStringLiteral("SOURCE"));
    Click(F().cmdBack);
    QCOMPARE(Page(), QStringLiteral("WELCOME"));
    QCOMPARE(F().focusWidget(), F().cmdNext);
    QCOMPARE(NavState(), (QStringList{"cmdBack-", "cmdNext", "cmdCancel"}));
    QVERIFY(boxes_.isEmpty());
  }

  void resultPageOffersBackAndExit() {
    GoTo("SAVESETTINGS");
    QCOMPARE(F().lblHeader->text(), QStringLiteral("Conversion Result"));
    QCOMPARE(NavState(), (QStringList{"cmdBack", "cmdExit"}));
    QCOMPARE(F().focusWidget(), F().cmdExit);
    QVERIFY(F().cmdExit->isDefault());
    Click(F().cmdBack);
    QCOMPARE(Page(), QStringLiteral("TRANSFER_OPTIONS"));
    GoTo("PROGRESS");
    QCOMPARE(NavState(), (QStringList{"cmdCancel"}));
    QCOMPARE(F().focusWidget(), F().cmdCancel);
    GoTo("SAVESETTINGS");
    Click(F().cmdExit);
    QVERIFY(!F().isVisible());
  }

  void sourceChecks_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("system_database");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty name") << ""
                                << "" << int(QMessageBox::Information)
                                << "You must select a source database.";
    QTest::newRow("missing file") << "@/missing.mdb"
                                  << "" << int(QMessageBox::Warning)
                                  << "The program could not connect to the source database.\n\n"
                                     "The database file '@/missing.mdb' does not exist.";
    QTest::newRow("missing system database")
        << "sample"
        << "@/system.mdw" << int(QMessageBox::Warning)
        << "The program could not connect to the source database.\n\n"
           "The system database file '@/system.mdw' does not exist.";
    QTest::newRow("not a database") << "@/notes.mdb"
                                    << "" << int(QMessageBox::Warning)
                                    << "The program could not connect to the source database.\n\n"
                                       "Unable to open the source database.\nError ";
  }
  void sourceChecks() {
    QFETCH(QString, file);
    QFETCH(QString, system_database);
    QFETCH(int, icon);
    QFETCH(QString, expected);
    const QString dir = appdata_->path();
    WriteTextFile((dir + "/notes.mdb").toStdString(), "Shopping list, not a database.\n");
    file.replace('@', dir);
    if (file == "sample") file = Sample();
    system_database.replace('@', dir);
    expected.replace('@', dir);

    AnswerBoxes(QMessageBox::Ok);
    Click(F().cmdNext);
    F().txtSourceFilename->setText(file);
    F().txtSourceSystemDatabase->setText(system_database);
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("SOURCE"));
    QCOMPARE(VisibleFrame(), F().frameSource);
    QCOMPARE(boxes_.size(), 1);
    QVERIFY2(boxes_[0].text.startsWith(expected), qPrintable(boxes_[0].text));
    QCOMPARE(boxes_[0].title, QStringLiteral("Ferrolyte"));
    QCOMPARE(int(boxes_[0].icon), icon);
    QCOMPARE(boxes_[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  }

  void accdbNamesDisableTheSecurityFields() {
    Click(F().cmdNext);
    QWidget* fields[] = {F().txtSourceSystemDatabase, F().txtSourceUsername,
                         F().cmdSystemDatabaseBrowse};
    F().txtSourceFilename->setText(QStringLiteral("/data/Orders.ACCDB"));
    for (QWidget* w : fields) QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(F().txtSourcePassword->isEnabled());
    F().txtSourceFilename->setText(QStringLiteral("/data/Orders.accde"));
    for (QWidget* w : fields) QVERIFY(!w->isEnabled());
    F().txtSourceFilename->setText(QStringLiteral("/data/Orders.mdb"));
    for (QWidget* w : fields) QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(F().txtSourcePassword->isEnabled());
  }

  void typedQuotesAreRemovedOnLeavingTheField() {
    Click(F().cmdNext);
    F().state.source_changed = false;
    F().txtSourceFilename->setFocus();
    QTest::keyClicks(F().txtSourceFilename, QStringLiteral("\"/data/My Files/a.mdb\""));
    QVERIFY(F().state.source_changed);
    F().txtSourceUsername->setFocus();
    QTRY_COMPARE(F().txtSourceFilename->text(), QStringLiteral("/data/My Files/a.mdb"));
    F().txtSourceFilename->setText(QStringLiteral("\""));
    emit F().txtSourceFilename->editingFinished();
    QCOMPARE(F().txtSourceFilename->text(), QStringLiteral("\""));
  }

  void destinationOptionsSwapThePanels() {
    GoTo("DESTINATION");
    QCOMPARE(F().findChildren<QRadioButton*>(QStringLiteral("optDestination")).size(), 2);
    QTest::mouseClick(F().optDestination[1], Qt::LeftButton);
    QVERIFY(F().optDestination[1]->isChecked());
    QVERIFY(F().frameDestinationDump->isVisible());
    QVERIFY(!F().frameDestinationPGSQL->isVisible());
    QVERIFY(F().framePGSQLDestinationDatabase->isVisible());
    QTest::mouseClick(F().optDestination[0], Qt::LeftButton);
    QVERIFY(F().frameDestinationPGSQL->isVisible());
    QVERIFY(!F().frameDestinationDump->isVisible());
    QVERIFY(F().framePGSQLDestinationDatabase->isVisible());
    F().SetDestinationMethod("SOMETHING");
    QVERIFY(F().frameDestinationPGSQL->isVisible());
  }

  void dropWarningOnlyWhenTickedByHand() {
    AnswerBoxes(QMessageBox::Ok);
    GoTo("TRANSFER_OPTIONS");
    QCheckBox* drop = F().chkDropDatabase;
    QTest::mouseClick(drop, Qt::LeftButton);
    QVERIFY(drop->isChecked());
    QCOMPARE(boxes_.size(), 1);
    QCOMPARE(boxes_[0].title, QStringLiteral("Warning"));
    QCOMPARE(boxes_[0].icon, QMessageBox::Warning);
    QVERIFY(boxes_[0].text.startsWith("Warning: This will drop the destination database"));
    QTest::mouseClick(drop, Qt::LeftButton);  // unticking says nothing
    QVERIFY(!drop->isChecked());
    F().state.settings_loading = true;
    drop->setChecked(true);
    drop->setChecked(false);
    QTest::mouseClick(drop, Qt::LeftButton);
    F().state.settings_loading = false;
    drop->setChecked(false);
    drop->setChecked(true);  // ticked in code, not by hand
    drop->setChecked(false);
    program_->options.autorun = true;
    QTest::mouseClick(drop, Qt::LeftButton);
    QCOMPARE(boxes_.size(), 1);
  }

  void cancelAsksAboutTheWizard() {
    {
      ModalAnswer no([](QWidget* w) { Press(w, QMessageBox::No); });
      Click(F().cmdCancel);
      QCOMPARE(no.seen, QStringLiteral("Ferrolyte"));
    }
    QVERIFY(F().isVisible());
    auto* box_text = new QString;
    {
      ModalAnswer yes([box_text](QWidget* w) {
        *box_text = qobject_cast<QMessageBox*>(w)->text();
        Press(w, QMessageBox::Yes);
      });
      Click(F().cmdCancel);
    }
    QCOMPARE(*box_text, QStringLiteral("Do you wish to cancel this wizard?"));
    delete box_text;
    QVERIFY(!F().isVisible());
  }

  void cancelDuringATransferOnlyRequestsTheAbort() {
    GoTo("PROGRESS");
    F().state.transfer_running = true;
    QString text;
    {
      ModalAnswer no([&text](QWidget* w) {
        text = qobject_cast<QMessageBox*>(w)->text();
        Press(w, QMessageBox::No);
      });
      Click(F().cmdCancel);
    }
    QCOMPARE(text, QStringLiteral("Do you wish to cancel the transfer?"));
    QVERIFY(!F().state.cancel);
    {
      ModalAnswer yes([](QWidget* w) { Press(w, QMessageBox::Yes); });
      Click(F().cmdCancel);
    }
    QVERIFY(F().state.cancel);
    QVERIFY(F().isVisible());
    // Closing the window while the run goes on asks the same and keeps the window.
    F().state.cancel = false;
    AnswerBoxes(QMessageBox::Yes);
    F().close();
    QVERIFY(F().isVisible());
    QVERIFY(F().state.cancel);
    QCOMPARE(boxes_.size(), 1);
    F().state.transfer_running = false;
  }

  void hiddenCancelQuestionClosesTheWizard() {
    program_->options.hide = true;
    program_->messages = Messages(&F().Presenter(), true);
    Click(F().cmdCancel);
    QVERIFY(!F().isVisible());
  }

  void tabOrderFollowsTheScreen() {
    Click(F().cmdNext);
    QCOMPARE(TabChain(&F(), F().txtSourceFilename),
             (QStringList{"txtSourceFilename", "cmdSourceBrowse", "txtSourceUsername",
                          "txtSourcePassword", "txtSourceSystemDatabase", "cmdSystemDatabaseBrowse",
                          "cmdBack", "cmdNext", "cmdCancel", "cmdHelp"}));
    for (const char* page : {"WELCOME", "DESTINATION", "SELECT_TABLES", "TRANSFER_OPTIONS",
                             "PROGRESS", "SAVESETTINGS"}) {
      GoTo(page);
      const QStringList chain = TabChain(&F(), F().cmdHelp);
      QVERIFY2(chain.size() >= 3, page);
      QStringList from_top = chain.mid(1);  // the chain wraps from Help to the page's first
      QVERIFY2(FollowsScreenOrder(&F(), from_top), page);
    }
    GoTo("TRANSFER_OPTIONS");
    const QStringList options = TabChain(&F(), F().chkDropDatabase);
    QCOMPARE(options.mid(0, 9),
             (QStringList{"chkDropDatabase", "cmdAdvancedOptions", "chkCreateTables",
                          "cmdSaveSettings1", "chkTransferRecords", "chkTransferIndexes",
                          "chkColumnList", "chkTransferDefaultValues", "chkTransferAutonumbers"}));
  }

  void advancedOptionsDialog() {
    GoTo("TRANSFER_OPTIONS");
    QPointer<AdvancedOptionsForm> seen;
    QStringList chain;
    {
      ModalAnswer close([&](QWidget* w) {
        seen = qobject_cast<AdvancedOptionsForm*>(w);
        if (!seen) return;
        chain = TabChain(seen, seen->txtTablePrefix);
        seen->txtTablePrefix->setText(QStringLiteral("acc_"));
        QTest::mouseClick(seen->cmdClose, Qt::LeftButton);
      });
      Click(F().cmdAdvancedOptions);
    }
    QVERIFY(seen);
    QCOMPARE(seen->windowTitle(), QStringLiteral("Advanced Options"));
    QVERIFY(!seen->isVisible());
    QCOMPARE(seen->parent(), &F());
    // What PostgreSQL ignores, and the dump format of a direct transfer, Tab passes by.
    QCOMPARE(
        chain,
        (QStringList{"txtTablePrefix", "cbComplexColumns", "cbIdentifierCase", "cbSslMode",
                     "txtSslRootCert", "cmdSslRootCertBrowse", "txtConnectionParameters",
                     "chkIgnoreLargeBlobs", "chkTransferRelationships", "chkTransferDescriptions",
                     "chkTransferQueries", "chkTransferValidation", "chkFollowLinks", "cmdClose"}));
    QCOMPARE(seen->cbComplexColumns->currentData().toString(), QStringLiteral("TEXT"));
    QCOMPARE(seen->cbComplexColumns->itemData(1).toString(), QStringLiteral("TABLES"));
    QCOMPARE(seen->cbIdentifierCase->currentData().toString(), QStringLiteral("KEEP"));
    QCOMPARE(seen->cbIdentifierCase->count(), 3);
    QCOMPARE(seen->cbMemoType->count(), 1);
    QCOMPARE(seen->cbMemoType->itemText(0), QStringLiteral("TEXT"));
    QCOMPARE(seen->cbDateTimeType->itemText(0), QStringLiteral("TIMESTAMP"));
    // Start-up's settings selected the single entries.
    QCOMPARE(seen->cbDateTimeType->currentText(), QStringLiteral("TIMESTAMP"));
    QCOMPARE(seen->cbMemoType->currentText(), QStringLiteral("TEXT"));
    QCOMPARE(seen->cbDumpFormat->count(), 2);
    QCOMPARE(seen->cbDumpFormat->itemText(1), QStringLiteral("COPY blocks"));
    QCOMPARE(seen->cbDumpFormat->currentText(), QStringLiteral("INSERT statements"));
    // Its label says what the choice is about, and is not cut.
    auto* label = seen->findChild<QLabel*>(QStringLiteral("lblDumpFormat"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("&Rows in the dump file as:"));
    QVERIFY(label->width() >= label->sizeHint().width());
    QVERIFY(seen->cbDumpFormat->width() >= seen->cbDumpFormat->sizeHint().width());
    // Every option says in one line what it does, or that it does nothing here.
    int options = 0;
    for (QWidget* option : seen->findChildren<QWidget*>()) {
      if (!qobject_cast<QCheckBox*>(option) && !qobject_cast<QComboBox*>(option) &&
          !qobject_cast<QLineEdit*>(option))
        continue;
      if (option->objectName().startsWith("qt_")) continue;  // a list's own line edit
      ++options;
      const QString tip = option->toolTip();
      QVERIFY2(!tip.isEmpty() && !tip.contains('\n'), qPrintable(option->objectName()));
    }
    QVERIFY(options >= 15);
    for (QWidget* ignored : std::initializer_list<QWidget*>{seen->cbMemoType, seen->cbDateTimeType,
                                                            seen->chkBooleanValue}) {
      QVERIFY(!ignored->isEnabled());
      QVERIFY(ignored->toolTip().startsWith("No effect for PostgreSQL: "));
    }
    // The dump format is a dump's choice only, the connection settings a server's.
    const QWidget* server_only[] = {seen->cbSslMode, seen->txtSslRootCert,
                                    seen->cmdSslRootCertBrowse, seen->txtConnectionParameters};
    QVERIFY(!seen->cbDumpFormat->isEnabled());
    QVERIFY(seen->cbDumpFormat->toolTip().startsWith("Only for a dump file"));
    const QString tls_tip = seen->cbSslMode->toolTip();
    GoTo("DESTINATION");
    QTest::mouseClick(F().optDestination[1], Qt::LeftButton);
    QVERIFY(seen->cbDumpFormat->isEnabled());
    for (const QWidget* control : server_only) {
      QVERIFY2(!control->isEnabled(), qPrintable(control->objectName()));
      QVERIFY(control->toolTip().startsWith("Only for a direct transfer"));
    }
    QTest::mouseClick(F().optDestination[0], Qt::LeftButton);
    QVERIFY(!seen->cbDumpFormat->isEnabled());
    for (const QWidget* control : server_only) QVERIFY(control->isEnabled());
    QCOMPARE(seen->cbSslMode->toolTip(), tls_tip);
    QCOMPARE(seen->cbSslMode->count(), 6);
    QCOMPARE(seen->cbSslMode->currentText(), QStringLiteral("prefer"));
    // The dialog is hidden, not destroyed: its values last.
    QCOMPARE(&F().AdvancedOptions(), seen.data());
    QCOMPARE(F().AdvancedOptions().txtTablePrefix->text(), QStringLiteral("acc_"));
    // The connection settings go through the dialog and back unchanged; a mode in another
    // letter case is libpq's, and none at all shows libpq's default.
    for (const char* mode : {"VERIFY-FULL", ""}) {
      DictionaryPtr settings = DefaultSettings(SystemEnv());
      DictionaryPtr section = SettingsSection(settings);
      section->Set("destinationsslmode", mode);
      section->Set("destinationsslrootcert", "/etc/ssl/my ca.crt");
      section->Set("destinationparameters", "connect_timeout='5'");
      section->Set("identifiercase", *mode ? "snake" : "");
      F().ApplySettings(settings);
      const DictionaryPtr built = SettingsSection(F().BuildSettings());
      QCOMPARE(SafeStr(built->Item("destinationsslmode")),
               std::string(*mode ? "verify-full" : "prefer"));
      QCOMPARE(SafeStr(built->Item("destinationsslrootcert")), std::string("/etc/ssl/my ca.crt"));
      QCOMPARE(SafeStr(built->Item("destinationparameters")), std::string("connect_timeout='5'"));
      QCOMPARE(SafeStr(built->Item("identifiercase")), std::string(*mode ? "SNAKE" : "KEEP"));
    }
    // A file naming the engine that leaves out indexes loads without locking the index
    // choice, and the window's run never carries the engine, so nothing refuses or drops it.
    DictionaryPtr engine = DefaultSettings(SystemEnv());
    SettingsSection(engine)->Set("storageengine", "Brighthouse");
    SettingsSection(engine)->Set("transferindexes", 1);
    F().ApplySettings(engine);
    QVERIFY(F().chkTransferIndexes->isEnabled() && F().chkTransferIndexes->isChecked());
    QVERIFY(F().chkTransferAutonumbers->isEnabled());
    QVERIFY(!SettingsSection(F().BuildSettings())->Exists("storageengine"));
    F().UnloadForms();
    QVERIFY(!F().isVisible());
  }

  void helpAndDonationOpenTheMakersPages() {
    AnswerBoxes(QMessageBox::Ok);
    Click(F().cmdHelp);
    QTest::mouseClick(F().imgDonate, Qt::LeftButton);
    QCOMPARE(urls_.urls, (QStringList{QString::fromStdString(HelpPageAddress()),
                                      QString::fromStdString(DonationPageAddress())}));
    QVERIFY(boxes_.isEmpty());
    // Where no browser opens, the address is shown instead.
    F().set_url_opener([](const QUrl&) { return false; });
    Click(F().cmdHelp);
    QTest::mouseClick(F().imgDonate, Qt::LeftButton);
    QCOMPARE(boxes_.size(), 2);
    QCOMPARE(boxes_[0].text, "No web browser could be opened. The address is:\n\n" +
                                 QString::fromStdString(HelpPageAddress()));
    QCOMPARE(boxes_[1].text, "No web browser could be opened. The address is:\n\n" +
                                 QString::fromStdString(DonationPageAddress()));
  }

  void windowGrowsFromItsDesignSizeAndRemembersIt() {
    const QSize design(Tw(7170), Tw(6135));
    QCOMPARE(F().minimumSize(), design);
    QCOMPARE(F().maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    struct Placed {
      QWidget* widget;
      QRect at;
    };
    std::vector<Placed> before;
    for (QWidget* w : std::initializer_list<QWidget*>{
             F().tvSourceTables, F().txtReport, F().lvStatusLog, F().txtSourceFilename,
             F().cmdSourceBrowse, F().cmdNext, F().cmdHelp, F().imgPGSQL, F().chkDropDatabase,
             F().txtLoadCommand, F().Picture9})
      before.push_back({w, w->geometry()});
    const int dx = 300, dy = 200;
    F().resize(design + QSize(dx, dy));
    auto now = [&](size_t i) { return before[i].widget->geometry(); };
    auto was = [&](size_t i) { return before[i].at; };
    // The tree, the report and the status list take the space.
    for (size_t i : {0, 1, 2}) QCOMPARE(now(i), was(i).adjusted(0, 0, dx, dy));
    QCOMPARE(now(3), was(3).adjusted(0, 0, dx, 0));  // the source field widens
    QCOMPARE(now(4), was(4).translated(dx, 0));      // its browse button moves along
    for (size_t i : {5, 6}) QCOMPARE(now(i), was(i).translated(dx, dy));  // the button row
    QCOMPARE(now(7), was(7).translated(dx, 0));
    QCOMPARE(now(8), was(8));  // the options stay where they were
    QCOMPARE(now(9), was(9).adjusted(0, dy, dx, dy));
    QCOMPARE(now(10), was(10).translated(dx, 0));
    QCOMPARE(F().lvStatusLog->columnWidth(0), F().lvStatusLog->width() - Tw(400));
    F().resize(design);
    for (size_t i = 0; i < before.size(); ++i) QCOMPARE(now(i), was(i));

    // The next window opens at the size this one closed with.
    F().resize(design + QSize(dx, dy));
    F().UnloadForms();
    MainForm next(false);
    StartWindow(next, *program_);
    QCOMPARE(next.size(), design + QSize(dx, dy));
    // A stored size below the design's gives the design's.
    SaveSetting(SystemEnv(), "Ferrolyte", "Settings", "WindowSize", "100,100");
    MainForm small(false);
    StartWindow(small, *program_);
    QCOMPARE(small.size(), design);
  }

  void sourceBrowseRemembersTheFolder() {
    Click(F().cmdNext);
    const QString sample = Sample();
    {
      ModalAnswer pick([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (!dialog) return;
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Select Source Database"));
        QVERIFY(dialog->nameFilters().first().endsWith("(*.mdb *.mde *.accdb *.accde)"));
        ChooseFile(dialog, sample);
      });
      Click(F().cmdSourceBrowse);
    }
    QCOMPARE(F().txtSourceFilename->text(), sample);
    QCOMPARE(QString::fromStdString(
                 GetSetting(SystemEnv(), "Ferrolyte", "Settings", "SourceFolder", "")),
             appdata_->path() + "/");
    QCOMPARE(QString::fromStdString(
                 GetSetting(SystemEnv(), "Ferrolyte", "Settings", "LastLoadedSource", "")),
             sample);

    // A name that does not exist keeps the field and says so; the keys are stored anyway.
    AnswerBoxes(QMessageBox::Ok);
    const QString missing = appdata_->filePath(QStringLiteral("gone.mdw"));
    {
      ModalAnswer pick([&](QWidget* w) {
        if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
          ChooseFile(dialog, missing);
        }
      });
      Click(F().cmdSystemDatabaseBrowse);
    }
    QVERIFY(F().txtSourceSystemDatabase->text().isEmpty());
    QCOMPARE(boxes_.size(), 1);
    QCOMPARE(boxes_[0].text, QStringLiteral("The file does not exist?"));
    QCOMPARE(QString::fromStdString(
                 GetSetting(SystemEnv(), "Ferrolyte", "Settings", "LastLoadedSystemDatabase", "")),
             missing);

    // Cancelling changes nothing.
    {
      ModalAnswer cancel([](QWidget* w) {
        if (auto* dialog = qobject_cast<QFileDialog*>(w)) dialog->reject();
      });
      Click(F().cmdSourceBrowse);
    }
    QCOMPARE(F().txtSourceFilename->text(), sample);
  }

  void dumpBrowseAsksBeforeOverwriting() {
    GoTo("DESTINATION");
    QTest::mouseClick(F().optDestination[1], Qt::LeftButton);
    const QString existing = appdata_->filePath(QStringLiteral("old.sql"));
    WriteTextFile(existing.toStdString(), "-- old dump\n");
    F().txtDestinationDumpFilename->setText(QStringLiteral("/keep/this.sql"));
    auto pick = [&](const QString& name) {
      ModalAnswer answer([&](QWidget* w) {
        if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
          ChooseFile(dialog, name);
        }
      });
      Click(F().cmdBrowseDump);
    };
    AnswerBoxes(QMessageBox::No);
    pick(existing);
    QCOMPARE(F().txtDestinationDumpFilename->text(), QStringLiteral("/keep/this.sql"));
    QCOMPARE(boxes_.size(), 1);
    QCOMPARE(boxes_[0].title, QStringLiteral("Overwrite File"));
    QCOMPARE(boxes_[0].buttons, QMessageBox::Yes | QMessageBox::No);
    AnswerBoxes(QMessageBox::Yes);
    pick(existing);
    QCOMPARE(F().txtDestinationDumpFilename->text(), existing);
    const QString fresh = appdata_->filePath(QStringLiteral("new.sql"));
    F().txtDestinationDumpFilename->clear();
    pick(fresh);
    QCOMPARE(F().txtDestinationDumpFilename->text(), fresh);
    QCOMPARE(boxes_.size(), 2);
    QVERIFY(!QFile::exists(fresh));
  }

  void failingHandlerEndsWithTheErrorReport() {
    // A settings store that cannot be written makes the browse handler fail.
    const QString blocker = appdata_->filePath(QStringLiteral("blocker"));
    WriteTextFile(blocker.toStdString(), "x");
    qputenv("APPDATA", blocker.toUtf8());
    AnswerBoxes(QMessageBox::Ok);
    Click(F().cmdNext);
    const QString sample = Sample();
    ModalAnswer pick([&](QWidget* w) {
      if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
        ChooseFile(dialog, sample);
      }
    });
    int status = -1;
    try {
      F().cmdSourceBrowse_Click();
    } catch (const ProgramEnded& ended) {
      status = ended.status;
    }
    QCOMPARE(status, int(kExitFatal));
    QCOMPARE(boxes_.size(), 1);
    QCOMPARE(boxes_[0].icon, QMessageBox::Critical);
    QVERIFY(boxes_[0].text.startsWith("Error in function 'cmdSourceBrowse_Click'\n"));
    QVERIFY(boxes_[0].text.contains("Debug information: Initializing\n"));
    QCOMPARE(QGuiApplication::clipboard()->text(), boxes_[0].text);
  }

  void screenshotModeCutsTheBottomBand() {
    QCOMPARE(F().windowTitle(), QString::fromStdString(WindowCaption(false)));
    QCOMPARE(F().size(), QSize(Tw(7170), Tw(6135)));
    QVERIFY(F().frameBottom->isVisible());
    MainForm shot(true);
    StartWindow(shot, *program_);
    QCOMPARE(shot.windowTitle(), QStringLiteral("Ferrolyte"));
    QCOMPARE(shot.size(), QSize(Tw(7170), Tw(5160)));
  }

  void statusListAndProgress() {
    GoTo("PROGRESS");
    program_->log.Init();
    QCOMPARE(F().lvStatusLog->headerItem()->text(0), QStringLiteral("Status Log"));
    QCOMPARE(F().lvStatusLog->columnWidth(0), F().lvStatusLog->width() - Tw(400));
    F().Status().AddStatusLine("Reading table Customers");
    F().Status().AddStatusLine("Reading table Orders");
    QCOMPARE(F().lvStatusLog->topLevelItemCount(), 2);
    QCOMPARE(F().lvStatusLog->topLevelItem(1)->data(0, Qt::UserRole).toString(),
             QStringLiteral("K2"));
    const std::string log = ReadTextFile(LogFileName(SystemEnv()), "");
    QVERIFY(log.find("Reading table Orders") != std::string::npos);
    F().Status().SetProgressRange("elsewhere", 0, 10);
    QVERIFY(!F().pbStatus->isVisible());
    F().Status().SetProgressRange("progress", 0, 0);
    QVERIFY(F().pbStatus->isVisible());
    QCOMPARE(F().pbStatus->maximum(), 1);
    F().Status().SetProgressRange("PROGRESS", 0, 40);
    F().Status().SetProgress("Orders: 20 of 40", 20);
    QCOMPARE(F().pbStatus->value(), 20);
    QCOMPARE(F().lblStatusHigh->text(), QStringLiteral("Orders: 20 of 40"));
  }

  void everyNamedControlExists() {
    const char* names[] = {"frmHeader",
                           "lblHeader",
                           "lblHeaderNote",
                           "imgPGSQL",
                           "imgMySql",
                           "imgMSSQL",
                           "frameLoadSettings",
                           "lblWelcome",
                           "cmdLoadSettings",
                           "frameSource",
                           "txtSourceFilename",
                           "cmdSourceBrowse",
                           "txtSourceUsername",
                           "txtSourcePassword",
                           "txtSourceSystemDatabase",
                           "cmdSystemDatabaseBrowse",
                           "frameDestination",
                           "frameDestinationPGSQL",
                           "txtPGSQLServer",
                           "txtPGSQLPort",
                           "txtPGSQLUsername",
                           "txtPGSQLPassword",
                           "cbPGSQLMaintenanceDB",
                           "framePGSQLDestinationDatabase",
                           "txtPGSQLDestinationDatabase",
                           "frameDestinationDump",
                           "txtDestinationDumpFilename",
                           "cmdBrowseDump",
                           "frameDestinationDirect",
                           "frameMySQLDestinationDatabase",
                           "frameDestinationMSSQL",
                           "frameMSSQLDestinationDatabase",
                           "cbStorageEngine",
                           "cbMSSQLAuthentication",
                           "txtMSSQLUserName",
                           "txtMSSQLPassword",
                           "lblMSSQLUserName",
                           "lblMSSQLPassword",
                           "frameSelectTables",
                           "tvSourceTables",
                           "cmdSelectAll",
                           "cmdSelectNone",
                           "cmdExpandAll",
                           "cmdCollapseAll",
                           "frameTransferOptions",
                           "chkDropDatabase",
                           "chkCreateTables",
                           "chkTransferRecords",
                           "chkTransferIndexes",
                           "chkColumnList",
                           "chkUnicode",
                           "chkAutocommit",
                           "chkTransferDefaultValues",
                           "chkTransferAutonumbers",
                           "cmdAdvancedOptions",
                           "cmdSaveSettings1",
                           "frameProgress",
                           "lblStatusHigh",
                           "lblStatusFigures",
                           "pbStatus",
                           "lvStatusLog",
                           "frameSaveSettings",
                           "txtReport",
                           "cmdSaveSettings",
                           "cmdBack",
                           "cmdNext",
                           "cmdFinish",
                           "cmdCancel",
                           "cmdExit",
                           "cmdHelp",
                           "frameBottom",
                           "frameDonate",
                           "imgDonate",
                           "Picture4",
                           "txtTableFilter",
                           "lblSelectionCount",
                           "txtLogFile",
                           "txtLoadCommand",
                           "cmdOpenLogFolder"};
    for (const char* name : names) QVERIFY2(F().findChild<QWidget*>(name), name);
    QCOMPARE(F().cmdBack->text(), QStringLiteral("< &Back"));
    QCOMPARE(F().cmdNext->text(), QStringLiteral("&Next >"));
    QCOMPARE(F().cmdFinish->text(), QStringLiteral("&Run Now"));
    QVERIFY(F().chkAutocommit->isHidden());
    QCOMPARE(F().txtPGSQLPort->toolTip(),
             QStringLiteral("The default port for a PostgreSQL installation is '5432'."));
    QCOMPARE(F().cbStorageEngine->currentText(), QStringLiteral("MyISAM"));
    QCOMPARE(F().cbMSSQLAuthentication->itemText(1), QStringLiteral("SQL Server Authentication"));
    QVERIFY(!F().txtMSSQLUserName->isEnabled());
    F().cbMSSQLAuthentication->setCurrentIndex(1);
    QVERIFY(F().txtMSSQLUserName->isEnabled() && F().lblMSSQLPassword->isEnabled());
    QCOMPARE(F().Picture4->focusPolicy(), Qt::NoFocus);
    for (const std::string& name : PageFrames()) {
      QCOMPARE(F().findChild<QWidget*>(QString::fromStdString(name))->pos(),
               QPoint(Tw(100), Tw(1200)));
    }
  }
};

int main(int argc, char** argv) {
  UseScratchUserFolders();
  QApplication application(argc, argv);
  MainFormTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_form_test.moc"
