// Writes a picture of every wizard page, and of the advanced options dialog, into the
// folder given as the first argument, the second naming the pictures ("100", "200-max").
// "maximized" as an argument takes them with the window filling the screen, else at its
// least size; "screenshotmode" starts the window in that mode. Run under a display (see
// scripts/screenshots.sh).
#include <accesswriter/writer.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <filesystem>

#include "shell/window/main_form.h"
#include "testing/fake_clock.h"
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

// A small shop database whose tree and run look like a user's.
std::string WriteShop(const std::string& folder) {
  namespace aw = accesswriter;
  const std::string path = folder + "/Northwind.mdb";
  aw::DatabaseWriter db(path);
  auto table = [&](const char* name, std::vector<std::pair<const char*, aw::ColumnType>> columns,
                   int rows) {
    aw::Table t{.name = name};
    t.columns.push_back(
        {.name = "Id", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement});
    for (const auto& [column, type] : columns) t.columns.push_back({.name = column, .type = type});
    t.indexes.push_back({.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true});
    aw::TableWriter& writer = db.AddTable(t);
    for (int i = 0; i < rows; ++i) {
      std::vector<aw::Value> row{nullptr};
      for (size_t c = 0; c < columns.size(); ++c) {
        if (columns[c].second == aw::ColumnType::kText) {
          row.emplace_back(std::string(columns[c].first) + " " + std::to_string(i + 1));
        } else {
          row.emplace_back(i * 3 + static_cast<int>(c));
        }
      }
      writer.AddRow(row);
    }
  };
  table("Customers", {{"CompanyName", aw::ColumnType::kText}, {"City", aw::ColumnType::kText}}, 91);
  table("Employees", {{"LastName", aw::ColumnType::kText}, {"FirstName", aw::ColumnType::kText}},
        9);
  table("Orders",
        {{"CustomerId", aw::ColumnType::kLong},
         {"EmployeeId", aw::ColumnType::kLong},
         {"ShipCity", aw::ColumnType::kText},
         {"Freight", aw::ColumnType::kLong}},
        4000);
  table("Products",
        {{"ProductName", aw::ColumnType::kText}, {"UnitsInStock", aw::ColumnType::kLong}}, 77);
  table("Suppliers", {{"CompanyName", aw::ColumnType::kText}}, 29);
  db.Finish();
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  UseScratchUserFolders();
  QApplication application(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("100");
  QDir().mkpath(out);
  const QStringList options = QCoreApplication::arguments().mid(3);
  const bool screenshot_mode = options.contains(QStringLiteral("screenshotmode"));
  const bool maximized = options.contains(QStringLiteral("maximized"));

  WindowProgram program;
  MainForm form(screenshot_mode);
  StartWindow(form, program);
  if (maximized) {
    form.showMaximized();
    QApplication::processEvents();
    // Without a window manager nothing maximises: fill the screen by hand.
    const QRect screen = form.screen()->availableGeometry();
    if (form.width() < screen.width()) form.setGeometry(screen);
  } else {
    form.show();
  }
  QApplication::processEvents();
  bool ok = true;
  auto page = [&](const char* name, const char* file) {
    ShowWizardPage(form, form.state.current_page, name, true);
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
  page("TRANSFER_OPTIONS", "5-transfer-options");

  // The tree, the progress and the result of a real scan and run.
  const std::string work =
      (std::filesystem::temp_directory_path() /
       ("ferrolyte-shots-" + std::to_string(QCoreApplication::applicationPid())))
          .string();
  std::filesystem::create_directories(work);
  form.txtSourceFilename->setText(QString::fromStdString(WriteShop(work)));
  form.optDestination[1]->setChecked(true);
  form.txtDestinationDumpFilename->setText(QString::fromStdString(work + "/northwind.sql"));
  ShowWizardPage(form, form.state.current_page, "SELECT_TABLES", true);
  for (QTreeWidgetItemIterator it(form.tvSourceTables); *it; ++it) {
    if ((*it)->text(0) == "Orders") (*it)->setExpanded(true);
    if ((*it)->text(0) == "Freight" || (*it)->text(0) == "Suppliers")
      (*it)->setCheckState(0, Qt::Unchecked);
  }
  ok &= Save(&form, QStringLiteral("%1/4-select-tables-%2.png").arg(out, suffix));
  ShowWizardPage(form, form.state.current_page, "TRANSFER_OPTIONS", true);
  bool progress_saved = false;
  // A run this small is over in a blink: its clock runs slow enough for the figures to show.
  testing::FakeClock clock;
  form.set_clock(clock);
  QTimer during;
  during.setInterval(0);
  QObject::connect(&during, &QTimer::timeout, [&] {
    clock.Advance(std::chrono::milliseconds(20));
    if (!progress_saved && form.state.current_page == "PROGRESS" &&
        form.pbStatus->value() >= 1500) {
      progress_saved = true;
      ok &= Save(&form, QStringLiteral("%1/6-progress-%2.png").arg(out, suffix));
    }
  });
  during.start();
  form.cmdFinish->click();
  during.stop();
  ok &= progress_saved;
  ok &= Save(&form, QStringLiteral("%1/7-result-%2.png").arg(out, suffix));
  form.set_clock(SystemClock());
  std::filesystem::remove_all(work);

  // After the dump run, then for a direct transfer, whose connection settings are enabled.
  AdvancedOptionsForm& advanced = form.AdvancedOptions();
  advanced.show();
  ok &= Save(&advanced, QStringLiteral("%1/8-advanced-options-%2.png").arg(out, suffix));
  form.optDestination[0]->setChecked(true);
  ok &= Save(&advanced, QStringLiteral("%1/8-advanced-options-direct-%2.png").arg(out, suffix));
  advanced.hide();
  return ok ? 0 : 1;
}
