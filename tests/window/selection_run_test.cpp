// The table page, the settings dialogs and Run Now, driven through the real buttons on
// writer-made databases, offscreen.
#include <accesswriter/writer.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "conversion/dump_file.h"
#include "platform/ado.h"
#include "shell/error_report.h"
#include "shell/window/main_form.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/safe.h"
#include "testing/fake_clock.h"
#include "window_start.h"
#include "wizard/ini_file.h"
#include "wizard/settings.h"
#include "wizard/table_selection.h"
#include "wizard/window/advanced_options.h"

using namespace ferrolyte;
namespace aw = accesswriter;

namespace {

// A table of an auto-number Id and a text column, with `rows` rows.
aw::Table TwoColumns(const std::string& name, const std::string& text_column = "Label") {
  aw::Table t{.name = name};
  t.columns.push_back(
      {.name = "Id", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement});
  t.columns.push_back({.name = text_column, .type = aw::ColumnType::kText, .size = 50});
  t.indexes.push_back({.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true});
  return t;
}

void WriteDatabase(const QString& path,
                   const std::vector<std::pair<aw::Table, int>>& tables_and_rows) {
  aw::DatabaseWriter db(path.toStdString());
  for (const auto& [table, rows] : tables_and_rows) {
    aw::TableWriter& writer = db.AddTable(table);
    for (int i = 0; i < rows; ++i)
      writer.AddRow({nullptr, table.name + " row " + std::to_string(i)});
  }
  db.Finish();
}

// Acts on the next modal window once it is up.
class ModalAnswer {
 public:
  explicit ModalAnswer(std::function<void(QWidget*)> act) {
    poll_.setInterval(10);
    QObject::connect(&poll_, &QTimer::timeout, [this, act] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        poll_.stop();
        act(modal);
      }
    });
    poll_.start();
  }

 private:
  QTimer poll_;
};

QStringList Lines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
}

// A local TCP port that nothing listens on (it was free a moment ago).
int UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

int CountStarting(const QStringList& lines, const QString& prefix) {
  int n = 0;
  for (const QString& line : lines) n += line.startsWith(prefix);
  return n;
}

}  // namespace

class SelectionRunTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<WindowProgram> program_;
  std::unique_ptr<MainForm> form_;
  QStringList boxes_;
  QMessageBox::StandardButton answer_ = QMessageBox::Ok;

  MainForm& F() { return *form_; }
  // A window started as the program starts it, its boxes answered by answer_.
  void NewForm() {
    form_.reset();
    if (!program_) program_ = std::make_unique<WindowProgram>();
    form_ = std::make_unique<MainForm>(false);
    F().Boxes().set_answerer([this](QMessageBox& box) {
      boxes_ << box.windowTitle() + ": " + box.text();
      return answer_;
    });
    StartWindow(*form_, *program_);
    form_->show();
  }
  QString Page() { return QString::fromStdString(F().state.current_page); }
  QString File(const char* name) { return dir_->filePath(QLatin1String(name)); }
  void Click(QPushButton* button) {
    QVERIFY2(button->isVisible() && button->isEnabled(), qPrintable(button->objectName()));
    QTest::mouseClick(button, Qt::LeftButton);
  }
  // The tree's nodes as "path=1" or "path=0", in node order.
  QStringList Marks() {
    QStringList marks;
    for (QTreeWidgetItemIterator it(F().tvSourceTables); *it; ++it) {
      marks << (*it)->data(0, kNodePathRole).toString() +
                   ((*it)->checkState(0) == Qt::Checked ? "=1" : "=0");
    }
    return marks;
  }
  QTreeWidgetItem* Node(const QString& path) {
    for (QTreeWidgetItemIterator it(F().tvSourceTables); *it; ++it) {
      if ((*it)->data(0, kNodePathRole).toString() == path) return *it;
    }
    return nullptr;
  }
  // Welcome → source (file) → destination (dump file) → table page.
  void ToTablePage(const QString& database, const QString& dump) {
    if (Page() == "WELCOME") Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("SOURCE"));
    F().txtSourceFilename->setText(database);
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("DESTINATION"));
    QTest::mouseClick(F().optDestination[1], Qt::LeftButton);
    F().txtDestinationDumpFilename->setText(dump);
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("SELECT_TABLES"));
  }
  // The pg_virtualenv server's login on the destination page, direct transfer chosen.
  void EnterServer(const QString& database) {
    const auto env = [](const char* name, const char* fallback) {
      const QString v = qEnvironmentVariable(name);
      return v.isEmpty() ? QString::fromLatin1(fallback) : v;
    };
    QTest::mouseClick(F().optDestination[0], Qt::LeftButton);
    F().txtPGSQLServer->setText(
        env("PGHOST", "localhost").startsWith('/') ? "localhost" : env("PGHOST", "localhost"));
    F().txtPGSQLPort->setText(env("PGPORT", "5432"));
    F().txtPGSQLUsername->setText(env("PGUSER", "postgres"));
    F().txtPGSQLPassword->setText(env("PGPASSWORD", ""));
    F().cbPGSQLMaintenanceDB->setCurrentText(env("PGDATABASE", "postgres"));
    F().txtPGSQLDestinationDatabase->setText(database);
  }
  // Table page → options → Run Now; ends on the result page.
  void RunFromTablePage() {
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("TRANSFER_OPTIONS"));
    Click(F().cmdFinish);
    QCOMPARE(Page(), QStringLiteral("SAVESETTINGS"));
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    qputenv("APPDATA", dir_->filePath("appdata").toUtf8());
    boxes_.clear();
    answer_ = QMessageBox::Ok;
    WriteDatabase(File("shop.mdb"),
                  {{TwoColumns("Customers", "Name"), 3}, {TwoColumns("Orders", "Item"), 25}});
    NewForm();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  }
  void cleanup() {
    form_.reset();
    program_.reset();
  }

  // Saved queries come in a group of their own, each selected by its own path.
  void queriesFormAGroupAndSelectByTheirOwnPath() {
    {
      aw::DatabaseWriter db(File("queries.mdb").toStdString());
      db.AddTable(TwoColumns("Orders", "Item")).AddRow({nullptr, "x"});
      db.AddQuery({.name = "Open Orders", .tables = {{"Orders", ""}}, .columns = {{"[Item]", ""}}});
      db.Finish();
    }
    ToTablePage(File("queries.mdb"), File("unused.sql"));
    // The group selects nothing itself: it has no path.
    QCOMPARE(Marks(), (QStringList{"Orders=1", "Orders\\Id=1", "Orders\\Item=1", "=0",
                                   "Queries!Open Orders=1"}));
    QTreeWidgetItem* query = Node("Queries!Open Orders");
    QVERIFY(query && query->parent());
    QCOMPARE(query->parent()->text(0), QStringLiteral("Queries"));
    QVERIFY(!(query->parent()->flags() & Qt::ItemIsUserCheckable));
    QCOMPARE(query->text(0), QStringLiteral("Open Orders"));
    QCOMPARE(query->data(0, kNodeImageRole).toString(), QStringLiteral("query"));
    Click(F().cmdSelectNone);
    query->setCheckState(0, Qt::Checked);
    const DictionaryPtr section = SettingsSection(F().BuildSettings());
    QCOMPARE(SafeStr(section->Item("sourcetables").List().at(0)),
             std::string("Queries!Open Orders"));
    QCOMPARE(section->Item("sourcetables").List().size(), size_t{1});
    // The group is no table: it counts for nothing, and the filter looks into it.
    QCOMPARE(F().lblSelectionCount->text(), QStringLiteral("0 of 1 tables selected"));
    QTest::keyClicks(F().txtTableFilter, QStringLiteral("open"));
    QVERIFY(Node("Orders")->isHidden());
    QVERIFY(!query->isHidden() && !query->parent()->isHidden());
    Click(F().cmdSelectNone);
    QCOMPARE(query->checkState(0), Qt::Unchecked);
    F().txtTableFilter->setText(QStringLiteral("nothing like it"));
    QVERIFY(Node("Orders")->isHidden());
    QVERIFY(query->isHidden() && query->parent()->isHidden());
  }

  void firstScanChecksEveryNodeAndTheButtonsWork() {
    ToTablePage(File("shop.mdb"), File("unused.sql"));
    QCOMPARE(Marks(), (QStringList{"Customers=1", "Customers\\Id=1", "Customers\\Name=1",
                                   "Orders=1", "Orders\\Id=1", "Orders\\Item=1"}));
    QTreeWidgetItem* orders = Node("Orders");
    QCOMPARE(orders->text(0), QStringLiteral("Orders"));
    QCOMPARE(orders->data(0, kNodeKeyRole).toString(), QStringLiteral("TBLOrders"));
    QCOMPARE(orders->data(0, kNodeImageRole).toString(), QStringLiteral("table"));
    QTreeWidgetItem* item = Node("Orders\\Item");
    QCOMPARE(item->parent(), orders);
    QCOMPARE(item->text(0), QStringLiteral("Item"));
    QCOMPARE(item->data(0, kNodeKeyRole).toString(),
             QStringLiteral("FLDOrders") + QChar(0) + "Item");
    QCOMPARE(item->data(0, kNodeImageRole).toString(), QStringLiteral("field"));
    QVERIFY(!item->icon(0).isNull());
    QVERIFY(!orders->isExpanded());
    QVERIFY(!F().state.source_changed);

    // Double-clicking a table shows its fields and hides them again.
    const QRect at = F().tvSourceTables->visualItemRect(orders);
    QTest::mouseClick(F().tvSourceTables->viewport(), Qt::LeftButton, {}, at.center());
    QTest::mouseDClick(F().tvSourceTables->viewport(), Qt::LeftButton, {}, at.center());
    QVERIFY(orders->isExpanded());
    QTest::mouseClick(F().tvSourceTables->viewport(), Qt::LeftButton, {}, at.center());
    QTest::mouseDClick(F().tvSourceTables->viewport(), Qt::LeftButton, {}, at.center());
    QVERIFY(!orders->isExpanded());
    Click(F().cmdExpandAll);
    QVERIFY(orders->isExpanded() && Node("Customers")->isExpanded());
    Click(F().cmdCollapseAll);
    QVERIFY(!orders->isExpanded() && !Node("Customers")->isExpanded());

    // A table's mark and its fields' marks are independent.
    orders->setCheckState(0, Qt::Unchecked);
    QCOMPARE(item->checkState(0), Qt::Checked);
    Click(F().cmdSelectNone);
    QVERIFY(!Marks().join(' ').contains("=1"));
    Click(F().cmdSelectAll);
    QVERIFY(!Marks().join(' ').contains("=0"));

    // Back from the options page and Next again: no new scan, the marks stay.
    Node("Customers")->setCheckState(0, Qt::Unchecked);
    Click(F().cmdNext);
    WriteDatabase(File("shop.mdb"), {{TwoColumns("Other"), 1}});
    Click(F().cmdBack);
    QCOMPARE(Page(), QStringLiteral("SELECT_TABLES"));
    QCOMPARE(Marks().first(), QStringLiteral("Customers=0"));
    QVERIFY(boxes_.isEmpty());
  }

  void loadedSelectionIsRestoredAfterTheScan() {
    const QString ini = File("chosen.ini");
    WriteTextFile(ini.toStdString(),
                  "[Velkan Ferrolyte]\r\n  sourcefilename=" + File("shop.mdb").toStdString() +
                      "\r\n  destinationmethod=DUMP\r\n  destinationdatabase=shop\r\n"
                      "  destinationdumpfilename=" +
                      File("out.sql").toStdString() +
                      "\r\n  sourcetables[]=\"Orders\",\"Orders\\Item\",\"Customers\"\r\n");
    {
      ModalAnswer pick([&](QWidget* w) { ChooseFile(w, ini); });
      Click(F().cmdLoadSettings);
    }
    QCOMPARE(boxes_, (QStringList{"Ferrolyte: Wizard settings were loaded successfully"}));
    QCOMPARE(F().txtSourceFilename->text(), File("shop.mdb"));
    QVERIFY(F().optDestination[1]->isChecked());
    QVERIFY(F().frameDestinationDump->isVisibleTo(F().frameDestination));
    Click(F().cmdNext);
    Click(F().cmdNext);
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("SELECT_TABLES"));
    QCOMPARE(Marks(), (QStringList{"Customers=1", "Customers\\Id=0", "Customers\\Name=0",
                                   "Orders=1", "Orders\\Id=0", "Orders\\Item=1"}));

    // The field selection reaches the conversion: only the checked column is transferred.
    RunFromTablePage();
    const QStringList dump = Lines(File("out.sql"));
    QCOMPARE(CountStarting(dump, "INSERT INTO \"Orders\""), 25);
    // A table listed without fields goes whole.
    QCOMPARE(CountStarting(dump, "INSERT INTO \"Customers\""), 3);
    const QStringList first_orders = dump.filter(QStringLiteral("INSERT INTO \"Orders\""));
    QCOMPARE(first_orders.value(0),
             QStringLiteral("INSERT INTO \"Orders\" (\"Item\") VALUES (E'Orders row 0');"));
  }

  void anotherSourceStartsWithEveryTableAndItsOwnDatabaseName() {
    WriteDatabase(File("second.mdb"),
                  {{TwoColumns("Orders", "Item"), 1}, {TwoColumns("Invoices"), 1}});
    ToTablePage(File("shop.mdb"), File("unused.sql"));
    QCOMPARE(F().txtPGSQLDestinationDatabase->text(), QStringLiteral("shop"));
    Node("Customers")->setCheckState(0, Qt::Unchecked);
    Node("Orders\\Id")->setCheckState(0, Qt::Unchecked);
    Click(F().cmdBack);
    Click(F().cmdBack);
    ToTablePage(File("second.mdb"), File("unused.sql"));
    QCOMPARE(F().txtPGSQLDestinationDatabase->text(), QStringLiteral("second"));
    QVERIFY2(!Marks().join(' ').contains("=0"), qPrintable(Marks().join(' ')));

    // The same file again keeps the marks set on its tree, even when its name was retyped.
    Node("Invoices")->setCheckState(0, Qt::Unchecked);
    Click(F().cmdBack);
    Click(F().cmdBack);
    F().txtSourceFilename->setText(File("other.mdb"));
    ToTablePage(File("second.mdb"), File("unused.sql"));
    QCOMPARE(Node("Invoices")->checkState(0), Qt::Unchecked);

    // A name the user typed stays, whatever file comes next; emptying it lets it follow again.
    Click(F().cmdBack);
    F().txtPGSQLDestinationDatabase->selectAll();
    QTest::keyClicks(F().txtPGSQLDestinationDatabase, QStringLiteral("archive"));
    Click(F().cmdBack);
    F().txtSourceFilename->setText(File("shop.mdb"));
    QCOMPARE(F().txtPGSQLDestinationDatabase->text(), QStringLiteral("archive"));
    F().txtPGSQLDestinationDatabase->selectAll();
    QTest::keyClick(F().txtPGSQLDestinationDatabase, Qt::Key_Backspace);
    F().txtSourceFilename->setText(File("second.mdb"));
    QCOMPARE(F().txtPGSQLDestinationDatabase->text(), QStringLiteral("second"));
    QVERIFY(boxes_.isEmpty());
  }

  void nothingSelectedCannotRun() {
    ToTablePage(File("shop.mdb"), File("none.sql"));
    Click(F().cmdSelectNone);
    QCOMPARE(F().lblSelectionCount->text(), QStringLiteral("0 of 2 tables selected"));
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("SELECT_TABLES"));
    QCOMPARE(boxes_, (QStringList{"Ferrolyte: Select at least one table"}));
    // Run Now is refused the same way: nothing is written, not even wizard.ini.
    ShowWizardPage(F(), F().state.current_page, "TRANSFER_OPTIONS", true);
    Click(F().cmdFinish);
    QCOMPARE(Page(), QStringLiteral("TRANSFER_OPTIONS"));
    QCOMPARE(boxes_.size(), 2);
    QVERIFY(!QFile::exists(File("none.sql")));
    QVERIFY(!QFile::exists(QString::fromStdString(DefaultSettingsFile(SystemEnv()))));

    // A source without any table runs, and says it moved none.
    boxes_.clear();
    WriteDatabase(File("empty.mdb"), {});
    Click(F().cmdBack);
    Click(F().cmdBack);
    Click(F().cmdBack);
    ToTablePage(File("empty.mdb"), File("empty.sql"));
    QCOMPARE(F().lblSelectionCount->text(), QStringLiteral("0 of 0 tables selected"));
    RunFromTablePage();
    QVERIFY(boxes_.isEmpty());
    QVERIFY(QFile::exists(File("empty.sql")));
    QVERIFY2(F().RunReport().ends_with("Result: completed\r\n"), F().RunReport().c_str());
  }

  void filterCountAndPartialMarks() {
    WriteDatabase(File("many.mdb"), {{TwoColumns("Customers", "Name"), 1},
                                     {TwoColumns("CustomerNotes"), 1},
                                     {TwoColumns("Orders", "Item"), 1}});
    ToTablePage(File("many.mdb"), File("many.sql"));
    QCOMPARE(F().lblSelectionCount->text(), QStringLiteral("3 of 3 tables selected"));
    QTest::keyClicks(F().txtTableFilter, QStringLiteral("CUSTOMER"));
    QStringList shown;
    for (int i = 0; i < F().tvSourceTables->topLevelItemCount(); ++i) {
      if (!F().tvSourceTables->topLevelItem(i)->isHidden())
        shown << F().tvSourceTables->topLevelItem(i)->text(0);
    }
    shown.sort();
    QCOMPARE(shown, (QStringList{"CustomerNotes", "Customers"}));
    // Select None takes the shown tables only; the count counts all.
    Click(F().cmdSelectNone);
    QCOMPARE(F().lblSelectionCount->text(), QStringLiteral("1 of 3 tables selected"));
    QCOMPARE(Node("Orders")->checkState(0), Qt::Checked);
    QCOMPARE(Node("Customers\\Name")->checkState(0), Qt::Unchecked);
    Click(F().cmdSelectAll);
    F().txtTableFilter->clear();
    QVERIFY(!Node("Orders")->isHidden());

    // A table with a field left out shows a partial mark, and is still selected.
    QTreeWidgetItem* orders = Node("Orders");
    QCOMPARE(ShownCheckState(orders), Qt::Checked);
    Node("Orders\\Item")->setCheckState(0, Qt::Unchecked);
    QCOMPARE(ShownCheckState(orders), Qt::PartiallyChecked);
    QCOMPARE(orders->checkState(0), Qt::Checked);
    QCOMPARE(F().lblSelectionCount->text(), QStringLiteral("3 of 3 tables selected"));
    // Space on it clears the table, as its own mark is checked.
    F().tvSourceTables->setFocus();
    F().tvSourceTables->setCurrentItem(orders);
    QTest::keyClick(F().tvSourceTables, Qt::Key_Space);
    QCOMPARE(orders->checkState(0), Qt::Unchecked);
    QCOMPARE(ShownCheckState(orders), Qt::Unchecked);
    QCOMPARE(F().lblSelectionCount->text(), QStringLiteral("2 of 3 tables selected"));
    QTest::keyClick(F().tvSourceTables, Qt::Key_Space);
    QCOMPARE(ShownCheckState(orders), Qt::PartiallyChecked);
    // A filter that hides every table still runs the tables selected.
    QTest::keyClicks(F().txtTableFilter, QStringLiteral("nothing like it"));
    RunFromTablePage();
    QCOMPARE(CountStarting(Lines(File("many.sql")), "INSERT INTO \"Orders\" (\"Id\")"), 1);
  }

  void saveAndLoadRoundTripEveryKey() {
    aw::Table odd = TwoColumns("A, \"quoted\" table", "x\\y");
    WriteDatabase(File("odd.mdb"), {{odd, 2}, {TwoColumns("Plain"), 1}});
    ToTablePage(File("odd.mdb"), File("unused.sql"));
    for (const char* path : {"Plain", "Plain\\Id", "Plain\\Label"})
      Node(path)->setCheckState(0, Qt::Unchecked);
    Node("A, \"quoted\" table\\Id")->setCheckState(0, Qt::Unchecked);
    Click(F().cmdNext);
    // Every control away from its default.
    F().txtSourceUsername->setText(QStringLiteral("admin"));
    F().txtSourcePassword->setText(QStringLiteral("src pw"));
    F().txtSourceSystemDatabase->setText(File("system.mdw"));
    F().optDestination[1]->setChecked(true);
    F().txtPGSQLServer->setText(QStringLiteral("db.example"));
    F().txtPGSQLPort->setText(QStringLiteral("6543"));
    F().txtPGSQLUsername->setText(QStringLiteral("owner"));
    F().txtPGSQLPassword->setText(QStringLiteral("dst pw"));
    F().txtPGSQLDestinationDatabase->setText(QStringLiteral("shop"));
    F().cbPGSQLMaintenanceDB->setCurrentText(QStringLiteral("template1"));
    F().txtDestinationDumpFilename->setText(File("dump, \"x\".sql"));
    for (QCheckBox* box : {F().chkDropDatabase, F().chkCreateTables, F().chkUnicode,
                           F().chkAutocommit, F().chkTransferDefaultValues, F().chkTransferIndexes,
                           F().chkTransferAutonumbers, F().chkTransferRecords, F().chkColumnList}) {
      box->setChecked(!box->isChecked());
    }
    AdvancedOptionsForm& advanced = F().AdvancedOptions();
    advanced.txtTablePrefix->setText(QStringLiteral("acc_"));
    advanced.chkBooleanValue->setChecked(true);
    advanced.chkIgnoreLargeBlobs->setChecked(true);
    advanced.chkTransferRelationships->setChecked(true);
    advanced.chkTransferDescriptions->setChecked(true);
    advanced.cbDumpFormat->setCurrentIndex(1);
    const DictionaryPtr before = SettingsSection(F().BuildSettings());
    QCOMPARE(SafeStr(before->Item("transferrelationships")), std::string("1"));
    QCOMPARE(SafeStr(before->Item("transferdescriptions")), std::string("1"));
    QCOMPARE(SafeStr(before->Item("dumpformat")), std::string("COPY"));

    const QString ini = File("saved.ini");
    {
      ModalAnswer pick([&](QWidget* w) { ChooseFile(w, ini); });
      Click(F().cmdSaveSettings1);
    }
    QVERIFY(QFile::exists(ini));
    // The named file keeps the passwords.
    QVERIFY(Lines(ini).contains("  destinationpassword=dst pw"));

    // A fresh window loads it back.
    NewForm();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    {
      ModalAnswer pick([&](QWidget* w) { ChooseFile(w, ini); });
      Click(F().cmdLoadSettings);
    }
    QVERIFY(!boxes_.isEmpty());
    QCOMPARE(boxes_.last(), QStringLiteral("Ferrolyte: Wizard settings were loaded successfully"));
    const DictionaryPtr after = SettingsSection(F().BuildSettings());
    for (const std::string& key : before->Keys()) {
      if (key == "sourcetables") continue;  // the new tree is empty until its scan
      QCOMPARE(SafeStr(after->Item(key)), SafeStr(before->Item(key)));
    }
    std::vector<std::string> saved_paths;
    for (const Value& v : before->Item("sourcetables").List()) saved_paths.push_back(SafeStr(v));
    QCOMPARE(F().Selection().paths()->Keys(), saved_paths);
    QCOMPARE(saved_paths,
             (std::vector<std::string>{"A, \"quoted\" table", "A, \"quoted\" table\\x\\y"}));
    // And the tree of the next scan shows them (the made-up system database aside).
    F().txtSourceSystemDatabase->clear();
    F().txtSourceUsername->clear();
    F().txtSourcePassword->clear();
    Click(F().cmdNext);
    Click(F().cmdNext);
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("SELECT_TABLES"));
    QStringList marks = Marks();
    marks.sort();
    QCOMPARE(marks, (QStringList{"A, \"quoted\" table=1", "A, \"quoted\" table\\Id=0",
                                 "A, \"quoted\" table\\x\\y=1", "Plain=0", "Plain\\Id=0",
                                 "Plain\\Label=0"}));
  }

  void wizardRunsIntoADumpAndKeepsSettingsWithoutPasswords() {
    ToTablePage(File("shop.mdb"), File("shop.sql"));
    F().txtSourcePassword->setText(QString());
    F().txtPGSQLPassword->setText(QStringLiteral("never-kept"));
    RunFromTablePage();
    QCOMPARE(F().lblHeader->text(), QStringLiteral("Conversion Result"));
    QVERIFY(F().cmdExit->isVisible() && F().cmdBack->isVisible() && !F().cmdCancel->isVisible());
    const QString report = F().txtReport->toPlainText();
    QCOMPARE(report, QString::fromStdString(F().RunReport()).replace("\r\n", "\n"));
    QVERIFY(report.contains("Orders"));
    // The caret sits after the last character.
    QCOMPARE(F().txtReport->textCursor().position(), report.size());
    const QStringList dump = Lines(File("shop.sql"));
    QCOMPARE(CountStarting(dump, "INSERT INTO \"Orders\""), 25);
    QCOMPARE(CountStarting(dump, "INSERT INTO \"Customers\""), 3);
    // The status list has its keys; the last line says the transfer completed.
    QTreeWidget* list = F().lvStatusLog;
    QVERIFY(list->topLevelItemCount() > 2);
    QCOMPARE(list->topLevelItem(0)->data(0, Qt::UserRole).toString(), QStringLiteral("K1"));
    QCOMPARE(list->topLevelItem(list->topLevelItemCount() - 1)->text(0),
             QStringLiteral("  Transfer completed"));

    const DictionaryPtr kept = SettingsSection(ReadIniFile(DefaultSettingsFile(SystemEnv())));
    QCOMPARE(SafeStr(kept->Item("destinationpassword")), std::string());
    QCOMPARE(SafeStr(kept->Item("destinationmethod")), std::string("DUMP"));
    QCOMPARE(SafeStr(kept->Item("destinationdumpfilename")), File("shop.sql").toStdString());

    // Back and Run Now again: a fresh status list and report.
    Click(F().cmdBack);
    QCOMPARE(Page(), QStringLiteral("TRANSFER_OPTIONS"));
    const int lines_before = list->topLevelItemCount();
    Click(F().cmdFinish);
    QCOMPARE(list->topLevelItemCount(), lines_before);
    QCOMPARE(F().txtReport->toPlainText(), report);
    QVERIFY(boxes_.isEmpty());
  }

  void cancelDuringTheRecordTransferStopsAfterTenRows() {
    WriteDatabase(File("long.mdb"), {{TwoColumns("Long"), 500}});
    ToTablePage(File("long.mdb"), File("long.sql"));
    Click(F().cmdNext);
    answer_ = QMessageBox::Yes;
    int clicks = 0;
    QTimer watch;
    watch.setInterval(0);
    connect(&watch, &QTimer::timeout, [&] {
      // The bar moves first after ten rows of a table.
      if (F().state.transfer_running && F().pbStatus->value() > 0 && clicks == 0) {
        ++clicks;
        QTest::mouseClick(F().cmdCancel, Qt::LeftButton);
      }
    });
    watch.start();
    Click(F().cmdFinish);
    watch.stop();
    QCOMPARE(clicks, 1);
    QCOMPARE(boxes_, (QStringList{"Ferrolyte: Do you wish to cancel the transfer?"}));
    QCOMPARE(Page(), QStringLiteral("SAVESETTINGS"));
    // The window's Cancel is a stop on request, and the dump says it is not whole.
    const std::string report = F().RunReport();
    QVERIFY(report.find("Transfer was aborted\r\n\r\nRESULT\r\n") != std::string::npos);
    QVERIFY(report.find("\r\nLong: partial (10 of 500 records): stopped on request\r\n") !=
            std::string::npos);
    QVERIFY(report.ends_with("Result: stopped on request (1 of 1 tables not fully moved)\r\n"));
    QVERIFY(!QFile::exists(File("long.sql")));
    const QStringList dump = Lines(File("long.sql") + ".incomplete");
    QCOMPARE(CountStarting(dump, "INSERT INTO \"Long\""), 10);
    QVERIFY(dump.contains("-- 10 records"));
    QVERIFY(F().isVisible());
  }

  void progressShowsTableRateAndTimeLeft() {
    WriteDatabase(File("two.mdb"), {{TwoColumns("First"), 300}, {TwoColumns("Second"), 200}});
    ToTablePage(File("two.mdb"), File("two.sql"));
    testing::FakeClock clock;
    F().set_clock(clock);
    QStringList shown;
    QTimer watch;
    watch.setInterval(0);
    connect(&watch, &QTimer::timeout, [&] {
      if (!F().state.transfer_running) return;
      clock.Advance(std::chrono::milliseconds(100));
      QVERIFY(F().lblStatusFigures->isVisible());
      const QString text = F().lblStatusFigures->text();
      if (!text.isEmpty() && (shown.isEmpty() || shown.back() != text)) shown << text;
    });
    watch.start();
    RunFromTablePage();
    watch.stop();
    // The caption keeps its own text; the figures stand beside it.
    QVERIFY(F().lblStatusHigh->text().startsWith("two.mdb - Second -> two ("));
    QVERIFY2(shown.filter(QRegularExpression("^Table 1 of 2\\b")).size() > 0,
             qPrintable(shown.join('|')));
    QVERIFY2(shown.filter(QRegularExpression(
                              "^Table 2 of 2, [0-9,.]+ rows/s, about [0-9]+:[0-9]{2} left$"))
                     .size() > 0,
             qPrintable(shown.join('|')));
    // A new run starts without the last run's figures.
    Click(F().cmdBack);
    F().set_clock(SystemClock());
    QString at_start;
    bool started = false;
    QTimer first;
    first.setInterval(0);
    connect(&first, &QTimer::timeout, [&] {
      if (F().state.current_page != "PROGRESS" || started) return;
      started = true;
      at_start = F().lblStatusFigures->text();
    });
    first.start();
    Click(F().cmdFinish);
    first.stop();
    QVERIFY(started);
    QVERIFY2(!at_start.contains("Table 2 of 2"), qPrintable(at_start));
  }

  void resultPageNamesTheLogAndHowToLoadTheDump() {
    ToTablePage(File("shop.mdb"), File("shop.sql"));
    RunFromTablePage();
    QVERIFY(boxes_.isEmpty());
    const QString log = QString::fromStdString(program_->log.path());
    QCOMPARE(F().txtLogFile->toPlainText(), "Log file: " + log);
    QVERIFY(F().txtLoadCommand->isVisible());
    QCOMPARE(F().txtLoadCommand->toPlainText(),
             "Load the dump with: psql -v ON_ERROR_STOP=1 -d postgres -f " + File("shop.sql"));

    // The folder button opens the log's folder, or names the file where nothing opens it.
    QList<QUrl> opened;
    bool opens = true;
    F().set_url_opener([&](const QUrl& url) {
      opened << url;
      return opens;
    });
    Click(F().cmdOpenLogFolder);
    QCOMPARE(opened, (QList<QUrl>{QUrl::fromLocalFile(QFileInfo(log).absolutePath() + "/")}));
    QVERIFY(boxes_.isEmpty());
    opens = false;
    Click(F().cmdOpenLogFolder);
    QCOMPARE(boxes_,
             (QStringList{"Ferrolyte: Nothing could open the folder. The log file is:\n\n" + log}));

    // A run that fails says its first error in a box, and offers no dump to load.
    boxes_.clear();
    Click(F().cmdBack);
    Click(F().cmdBack);
    Click(F().cmdBack);
    F().txtDestinationDumpFilename->setText(File("no such folder/shop.sql"));
    Click(F().cmdNext);
    RunFromTablePage();
    QCOMPARE(boxes_.size(), 1);
    QVERIFY2(
        boxes_[0].startsWith("Ferrolyte: The conversion did not complete. The first error:\n\n"),
        qPrintable(boxes_[0]));
    QVERIFY2(boxes_[0].contains("no such folder"), qPrintable(boxes_[0]));
    QVERIFY(!F().txtLoadCommand->isVisible());
    QCOMPARE(F().txtLogFile->toPlainText(), "Log file: " + log);
  }

  void theShownCommandLoadsTheDump() {
    if (qEnvironmentVariableIsEmpty("PGPORT")) QSKIP("no PostgreSQL server (PGPORT unset)");
    const QString database =
        QStringLiteral("ferro_load_%1").arg(QCoreApplication::applicationPid());
    ToTablePage(File("shop.mdb"), File("load.sql"));
    Click(F().cmdBack);
    F().txtPGSQLDestinationDatabase->setText(database);
    Click(F().cmdNext);
    RunFromTablePage();
    QCOMPARE(CountStarting(Lines(File("load.sql")), QStringLiteral("\\connect ")), 1);
    const QString shown = F().txtLoadCommand->toPlainText();
    const QString prefix = QStringLiteral("Load the dump with: ");
    QVERIFY(shown.startsWith(prefix));
    QProcess psql;
    psql.start(QStringLiteral("sh"), {QStringLiteral("-c"), shown.mid(prefix.size())});
    QVERIFY(psql.waitForFinished(60000));
    QVERIFY2(psql.exitCode() == 0, psql.readAllStandardError().constData());
    QProcess count;
    count.start(QStringLiteral("psql"),
                {"-tA", "-d", database, "-c", "SELECT count(*) FROM \"Orders\""});
    QVERIFY(count.waitForFinished(60000));
    QCOMPARE(QString::fromUtf8(count.readAllStandardOutput()).trimmed(), QStringLiteral("25"));
    QProcess::execute(QStringLiteral("psql"),
                      {"-d", "postgres", "-c", "DROP DATABASE IF EXISTS \"" + database + "\""});
  }

  void destinationPageRefusesABadPortBeforeTryingTheServer() {
    ToTablePage(File("shop.mdb"), File("unused.sql"));
    Click(F().cmdBack);
    QTest::mouseClick(F().optDestination[0], Qt::LeftButton);
    F().txtPGSQLPort->setText(QStringLiteral("54x2"));
    F().txtPGSQLDestinationDatabase->setFocus();
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("DESTINATION"));
    QCOMPARE(boxes_,
             (QStringList{"Ferrolyte: The port \"54x2\" is not a number from 1 to 65535."}));
    QCOMPARE(QApplication::focusWidget(), F().txtPGSQLPort);
  }

  void destinationPageTriesTheServer() {
    if (qEnvironmentVariableIsEmpty("PGPORT")) QSKIP("no PostgreSQL server (PGPORT unset)");
    ToTablePage(File("shop.mdb"), File("unused.sql"));
    Click(F().cmdBack);
    EnterServer(QStringLiteral("never_created"));
    const QString password = F().txtPGSQLPassword->text();
    F().txtPGSQLPassword->setText(password + "-wrong");
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("DESTINATION"));
    QCOMPARE(boxes_.size(), 1);
    QVERIFY2(boxes_[0].startsWith(
                 "Ferrolyte: The program could not connect to the PostgreSQL server.\n\n"),
             qPrintable(boxes_[0]));
    // The server's whole message, not a line cut at "FATAL".
    QVERIFY2(boxes_[0].contains("password authentication failed for user"), qPrintable(boxes_[0]));

    // A port nothing listens on.
    const int closed = UnusedPort();
    QVERIFY(closed > 0);
    F().txtPGSQLPassword->setText(password);
    F().txtPGSQLServer->setText(QStringLiteral("127.0.0.1"));
    F().txtPGSQLPort->setText(QString::number(closed));
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("DESTINATION"));
    QCOMPARE(boxes_.size(), 2);
    QVERIFY2(boxes_[1].contains(QString::number(closed)) && boxes_[1].contains("refused"),
             qPrintable(boxes_[1]));
    QVERIFY(F().cmdNext->isEnabled() && F().frameDestination->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
  }

  void wizardRunsIntoAServer() {
    if (qEnvironmentVariableIsEmpty("PGPORT")) QSKIP("no PostgreSQL server (PGPORT unset)");
    const QString database =
        QStringLiteral("ferro_wizard_%1").arg(QCoreApplication::applicationPid());
    ToTablePage(File("shop.mdb"), File("unused.sql"));
    Click(F().cmdBack);
    EnterServer(database);
    Click(F().cmdNext);
    QCOMPARE(Page(), QStringLiteral("SELECT_TABLES"));
    F().chkDropDatabase->setChecked(true);
    RunFromTablePage();
    QVERIFY2(F().RunReport().find("ERROR") == std::string::npos, F().RunReport().c_str());
    Connection check;
    check.Open(BuildDestinationConnectionString(
        F().txtPGSQLServer->text().toStdString(), database.toStdString(),
        F().txtPGSQLPort->text().toStdString(), F().txtPGSQLUsername->text().toStdString(),
        F().txtPGSQLPassword->text().toStdString()));
    QCOMPARE(check.Execute("SELECT COUNT(*) FROM \"Orders\"")->FieldValue(0).AsInteger(), 25);
    QCOMPARE(
        check.Execute("SELECT \"Name\" FROM \"Customers\" WHERE \"Id\" = 3")->FieldValue(0).Text(),
        std::string("Customers row 2"));
    check.Close();
    // wizard.ini holds the settings, not the password the run connected with.
    const DictionaryPtr kept = SettingsSection(ReadIniFile(DefaultSettingsFile(SystemEnv())));
    QCOMPARE(SafeStr(kept->Item("destinationdatabase")), database.toStdString());
    QCOMPARE(SafeStr(kept->Item("destinationpassword")), std::string());
    Connection admin;
    admin.Open(BuildDestinationConnectionString(
        F().txtPGSQLServer->text().toStdString(),
        F().cbPGSQLMaintenanceDB->currentText().toStdString(),
        F().txtPGSQLPort->text().toStdString(), F().txtPGSQLUsername->text().toStdString(),
        F().txtPGSQLPassword->text().toStdString()));
    admin.Execute("DROP DATABASE IF EXISTS \"" + database.toStdString() + "\"");
  }
};

int main(int argc, char** argv) {
  UseScratchUserFolders();
  QApplication application(argc, argv);
  SelectionRunTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "selection_run_test.moc"
