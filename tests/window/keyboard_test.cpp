// The wizard driven by key events alone, its mnemonics, and its texts at the least size,
// offscreen.
#include <accesswriter/writer.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "shell/window/main_form.h"
#include "support/files.h"
#include "window_start.h"
#include "wizard/window/advanced_options.h"

using namespace ferrolyte;
namespace aw = accesswriter;

namespace {

void WriteShop(const QString& path) {
  aw::DatabaseWriter db(path.toStdString());
  for (const char* name : {"Customers", "Orders"}) {
    aw::Table t{.name = name};
    t.columns.push_back(
        {.name = "Id", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement});
    t.columns.push_back({.name = "Label", .type = aw::ColumnType::kText, .size = 50});
    t.indexes.push_back({.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true});
    aw::TableWriter& writer = db.AddTable(t);
    for (int i = 0; i < 4; ++i)
      writer.AddRow({nullptr, std::string(name) + " " + std::to_string(i)});
  }
  db.Finish();
}

QStringList Lines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
}

int CountStarting(const QStringList& lines, const QString& prefix) {
  int n = 0;
  for (const QString& line : lines) n += line.startsWith(prefix);
  return n;
}

// The text of a control that shows one, and whether it is a caption the user can reach.
QString CaptionOf(const QWidget* w) {
  if (const auto* button = qobject_cast<const QAbstractButton*>(w)) return button->text();
  if (const auto* label = qobject_cast<const QLabel*>(w); label && label->buddy())
    return label->text();
  return QString();
}

bool HasLetters(const QString& text) {
  for (QChar c : text)
    if (c.isLetter()) return true;
  return false;
}

// The Alt keys of the window's visible captions; a caption with letters and no mnemonic, or
// a key used twice, is added to `faults`.
void CheckMnemonics(QWidget* window, QStringList& faults) {
  QMap<QKeySequence, QString> seen;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    const QString text = CaptionOf(w);
    if (!w->isVisibleTo(window) || !HasLetters(text)) continue;
    const QKeySequence key = QKeySequence::mnemonic(text);
    if (key.isEmpty()) {
      faults << "no mnemonic: " + text;
    } else if (seen.contains(key)) {
      faults << key.toString() + " of both " + seen[key] + " and " + text;
    } else {
      seen[key] = text;
    }
  }
}

// Visible texts that do not fit their control: a one-line text wider than it, a wrapped one
// taller.
void CheckTextsFit(QWidget* window, QStringList& faults) {
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window)) continue;
    QString text;
    int room = w->width();
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
      if (label->text().isEmpty() || !label->pixmap().isNull()) continue;
      if (label->wordWrap()) {
        if (label->heightForWidth(label->width()) > label->height())
          faults << w->objectName() + " wraps below its height: " + label->text();
        continue;
      }
      text = label->text();
    } else if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w)) {
      if (w->sizeHint().width() > w->width())
        faults << w->objectName() + " is cut: " + static_cast<QAbstractButton*>(w)->text();
      continue;
    } else if (const auto* lines = qobject_cast<const QPlainTextEdit*>(w)) {
      // The report scrolls; a line beside it must show whole.
      if (lines->objectName() != "txtReport" && lines->verticalScrollBar()->maximum() > 0)
        faults << w->objectName() + " needs scrolling: " + lines->toPlainText();
      continue;
    } else if (const auto* button = qobject_cast<const QPushButton*>(w)) {
      text = button->text();
      room -= 8;  // the frame's own margins
    } else {
      continue;
    }
    text.remove(QLatin1Char('&'));
    if (w->fontMetrics().horizontalAdvance(text) > room)
      faults << w->objectName() + " is cut: " + text;
  }
}

}  // namespace

class KeyboardTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<WindowProgram> program_;
  std::unique_ptr<MainForm> form_;
  QStringList boxes_;
  QMessageBox::StandardButton answer_ = QMessageBox::Ok;

  MainForm& F() { return *form_; }
  QString Page() { return QString::fromStdString(F().state.current_page); }
  QString File(const char* name) { return dir_->filePath(QLatin1String(name)); }
  // What a user's key reaches: the focused control, else the window.
  QWidget* Target() {
    QWidget* focus = QApplication::focusWidget();
    return focus ? focus : form_.get();
  }
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(Target(), key, modifiers);
  }
  void Type(const QString& text) {
    QTest::keyClick(Target(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(Target(), text);
  }
  void ShowPage(const char* page) {
    ShowWizardPage(F(), F().state.current_page, page, std::string(page) != "SELECT_TABLES");
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    qputenv("APPDATA", dir_->filePath("appdata").toUtf8());
    boxes_.clear();
    answer_ = QMessageBox::Ok;
    WriteShop(File("shop.mdb"));
    program_ = std::make_unique<WindowProgram>();
    form_ = std::make_unique<MainForm>(false);
    F().Boxes().set_answerer([this](QMessageBox& box) {
      boxes_ << box.text();
      return answer_;
    });
    StartWindow(*form_, *program_);
    form_->show();
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
  }
  void cleanup() {
    form_.reset();
    program_.reset();
  }

  void wholeWizardByKeyboard() {
    QCOMPARE(Page(), QStringLiteral("WELCOME"));
    Key(Qt::Key_Return);
    QCOMPARE(Page(), QStringLiteral("SOURCE"));
    QCOMPARE(QApplication::focusWidget(), F().txtSourceFilename);
    Type(File("shop.mdb"));
    Key(Qt::Key_Return);
    QCOMPARE(Page(), QStringLiteral("DESTINATION"));
    QCOMPARE(F().txtPGSQLDestinationDatabase->text(), QStringLiteral("shop"));

    Key(Qt::Key_C, Qt::AltModifier);  // "&Create dump file"; a mnemonic clicks a moment later
    QTRY_VERIFY(F().optDestination[1]->isChecked());
    Key(Qt::Key_F, Qt::AltModifier);  // the dump's "&Filename:"
    QCOMPARE(QApplication::focusWidget(), F().txtDestinationDumpFilename);
    Type(File("keys.sql"));
    Key(Qt::Key_T, Qt::AltModifier);  // "Des&tination Database:"
    QCOMPARE(QApplication::focusWidget(), F().txtPGSQLDestinationDatabase);
    Type(QStringLiteral("shop_keys"));
    Key(Qt::Key_Return);
    QCOMPARE(Page(), QStringLiteral("SELECT_TABLES"));

    // Leave Orders out: find it with the filter, clear it, clear the filter.
    QCOMPARE(QApplication::focusWidget(), F().txtTableFilter);
    QCOMPARE(F().lblSelectionCount->text(), QStringLiteral("2 of 2 tables selected"));
    QTest::keyClicks(Target(), QStringLiteral("ord"));
    Key(Qt::Key_O, Qt::AltModifier);  // "Select N&one"
    QTRY_COMPARE(F().lblSelectionCount->text(), QStringLiteral("1 of 2 tables selected"));
    Key(Qt::Key_F, Qt::AltModifier);
    Type(QString());
    Key(Qt::Key_Backspace);
    QVERIFY(F().txtTableFilter->text().isEmpty());
    Key(Qt::Key_Return);
    QCOMPARE(Page(), QStringLiteral("TRANSFER_OPTIONS"));
    QCOMPARE(QApplication::focusWidget(), F().chkDropDatabase);

    // The advanced options, by keyboard too: a table prefix, then Enter closes the dialog.
    QWidget* focus_in_dialog = nullptr;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<AdvancedOptionsForm*>(QApplication::activeModalWidget());
      if (!dialog || !dialog->isActiveWindow()) return;
      poll.stop();
      focus_in_dialog = QApplication::focusWidget();
      QTest::keyClicks(focus_in_dialog, QStringLiteral("k_"));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
      // Whatever the keys did, the dialog does not stay open over the test.
      if (dialog->isVisible()) dialog->reject();
    });
    poll.start();
    Key(Qt::Key_A, Qt::AltModifier);  // "&Advanced..."
    QTRY_VERIFY(focus_in_dialog);
    QTRY_VERIFY(!F().AdvancedOptions().isVisible());
    QCOMPARE(focus_in_dialog, F().AdvancedOptions().txtTablePrefix);
    QCOMPARE(F().AdvancedOptions().txtTablePrefix->text(), QStringLiteral("k_"));

    Key(Qt::Key_Return);  // Run Now
    QCOMPARE(Page(), QStringLiteral("SAVESETTINGS"));
    QVERIFY2(F().RunReport().ends_with("Result: completed\r\n"), F().RunReport().c_str());
    const QStringList dump = Lines(File("keys.sql"));
    QCOMPARE(CountStarting(dump, "INSERT INTO \"k_Customers\""), 4);
    QCOMPARE(CountStarting(dump, "INSERT INTO \"k_Orders\""), 0);
    QVERIFY(dump.contains("CREATE DATABASE \"shop_keys\";"));
    QVERIFY(F().txtLoadCommand->toPlainText().endsWith(" -f " + File("keys.sql")));
    QVERIFY(boxes_.isEmpty());

    Key(Qt::Key_Escape);  // Exit, now that Cancel is gone
    QVERIFY(!F().isVisible());
  }

  void enterPressesThePagesButtonWhereverTheFocusIs() {
    F().cmdLoadSettings->setFocus();
    Key(Qt::Key_Return);  // Next, not Load Settings
    QCOMPARE(Page(), QStringLiteral("SOURCE"));
    F().cmdBack->setFocus();
    Key(Qt::Key_Enter);  // the keypad's Enter too
    QCOMPARE(boxes_, (QStringList{"You must select a source database."}));
    QCOMPARE(Page(), QStringLiteral("SOURCE"));
    Key(Qt::Key_Space);  // the focused button itself
    QCOMPARE(Page(), QStringLiteral("WELCOME"));

    // Enter in the editable list is Next too, and adds nothing to the list.
    boxes_.clear();
    ShowPage("DESTINATION");
    F().txtPGSQLPort->setText(QStringLiteral("54x2"));
    F().cbPGSQLMaintenanceDB->setFocus();
    QTest::keyClicks(Target(), QStringLiteral("other"));
    Key(Qt::Key_Return);
    QCOMPARE(boxes_, (QStringList{"The port \"54x2\" is not a number from 1 to 65535."}));
    QCOMPARE(F().cbPGSQLMaintenanceDB->count(), 3);

    // During a run Enter presses nothing; Escape asks to cancel.
    boxes_.clear();
    ShowPage("PROGRESS");
    F().SetDefaultButton(std::nullopt);
    F().state.transfer_running = true;
    answer_ = QMessageBox::No;
    Key(Qt::Key_Return);
    QVERIFY(boxes_.isEmpty());
    Key(Qt::Key_Escape);
    QCOMPARE(boxes_, (QStringList{"Do you wish to cancel the transfer?"}));
    F().state.transfer_running = false;

    // Escape on another page is Cancel's question about the wizard.
    ShowPage("SELECT_TABLES");
    Key(Qt::Key_Escape);
    QCOMPARE(boxes_.last(), QStringLiteral("Do you wish to cancel this wizard?"));
    QVERIFY(F().isVisible());
  }

  void everyCaptionHasItsOwnAltKey() {
    QStringList faults;
    const char* pages[] = {"WELCOME",          "SOURCE",   "DESTINATION", "SELECT_TABLES",
                           "TRANSFER_OPTIONS", "PROGRESS", "SAVESETTINGS"};
    for (const char* page : pages) {
      for (int method = 0; method < 2; ++method) {
        F().optDestination[method]->setChecked(true);
        ShowPage(page);
        QStringList page_faults;
        CheckMnemonics(&F(), page_faults);
        for (const QString& fault : page_faults) faults << QString("%1: %2").arg(page, fault);
      }
    }
    AdvancedOptionsForm& advanced = F().AdvancedOptions();
    advanced.show();
    QStringList dialog_faults;
    CheckMnemonics(&advanced, dialog_faults);
    for (const QString& fault : dialog_faults) faults << "Advanced Options: " + fault;
    advanced.hide();
    faults.removeDuplicates();
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
  }

  void noTextIsCutAtTheLeastSize() {
    F().resize(F().minimumSize());
    // The longest texts the pages show.
    F().txtSourceFilename->setText(File("shop.mdb"));
    ShowPage("SELECT_TABLES");
    F().BuildTableTree();
    F().lblSelectionCount->setText(SelectionCountText({300, 300}));
    F().ShowResultLines({DumpLoadCommand("/home/user/Documents/northwind.sql"), ""});
    QStringList faults;
    for (const char* page : {"WELCOME", "SOURCE", "DESTINATION", "SELECT_TABLES",
                             "TRANSFER_OPTIONS", "PROGRESS", "SAVESETTINGS"}) {
      for (int method = 0; method < 2; ++method) {
        F().optDestination[method]->setChecked(true);
        ShowPage(page);
        QApplication::processEvents();
        CheckTextsFit(&F(), faults);
      }
    }
    AdvancedOptionsForm& advanced = F().AdvancedOptions();
    advanced.show();
    CheckTextsFit(&advanced, faults);
    advanced.hide();
    faults.removeDuplicates();
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
  }
};

int main(int argc, char** argv) {
  UseScratchUserFolders();
  QApplication application(argc, argv);
  KeyboardTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "keyboard_test.moc"
