// Writes a picture of every wizard page, and of the advanced options dialog, into the
// folder given as the first argument. Run under a display (see scripts/screenshots.sh).
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "shell/program_flags.h"
#include "shell/window/main_form.h"
#include "window_start.h"
#include "wizard/window/advanced_options.h"

using namespace ferrolyte;

namespace {

bool Save(QWidget* widget, const QString& path) {
  QApplication::processEvents();
  const bool ok = widget->grab().save(path, "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  UseScratchUserFolders();
  QApplication application(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("100");
  QDir().mkpath(out);
  const bool screenshot_mode = argc > 3 && QString::fromLocal8Bit(argv[3]) == "screenshotmode";

  MainForm form(screenshot_mode);
  StartWindow(form);
  form.show();
  QApplication::processEvents();
  bool ok = true;
  auto page = [&](const char* name, const char* file) {
    ShowWizardPage(form, Flags().current_page, name, true);
    ok &= Save(&form, QStringLiteral("%1/%2-%3.png").arg(out, QLatin1String(file), suffix));
  };
  page("WELCOME", "1-welcome");
  form.txtSourceFilename->setText(QStringLiteral("/home/user/Documents/Northwind.mdb"));
  page("SOURCE", "2-source");
  form.txtSourceFilename->setText(QStringLiteral("/home/user/Documents/Orders.accdb"));
  page("SOURCE", "2-source-accdb");
  form.txtPGSQLServer->setText(QStringLiteral("localhost"));
  form.txtPGSQLPort->setText(QStringLiteral("5432"));
  form.txtPGSQLUsername->setText(QStringLiteral("postgres"));
  form.txtPGSQLDestinationDatabase->setText(QStringLiteral("northwind"));
  page("DESTINATION", "3-destination");
  form.optDestination[1]->setChecked(true);
  form.txtDestinationDumpFilename->setText(QStringLiteral("/home/user/Documents/dump.sql"));
  page("DESTINATION", "3-destination-dump");
  form.optDestination[0]->setChecked(true);
  page("SELECT_TABLES", "4-select-tables");
  page("TRANSFER_OPTIONS", "5-transfer-options");
  form.Status().SetProgressRange("PROGRESS", 0, 100);
  form.Status().SetProgress("Transferring table Orders", 40);
  for (const char* line :
       {"Connecting to the source database", "Creating table Customers",
        "Transferring table Customers", "Creating table Orders", "Transferring table Orders"}) {
    form.lvStatusLog->addTopLevelItem(new QTreeWidgetItem(QStringList{QLatin1String(line)}));
  }
  page("PROGRESS", "6-progress");
  form.txtReport->setPlainText(
      QStringLiteral("Tables: 2\nCustomers: 91 records\nOrders: 830 records\n"));
  page("SAVESETTINGS", "7-result");

  AdvancedOptionsForm& advanced = form.AdvancedOptions();
  advanced.show();
  ok &= Save(&advanced, QStringLiteral("%1/8-advanced-options-%2.png").arg(out, suffix));
  advanced.hide();
  return ok ? 0 : 1;
}
