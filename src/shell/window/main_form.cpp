#include "shell/window/main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTextCursor>
#include <QTreeWidget>
#include <QUrl>
#include <optional>

#include "conversion/dump_file.h"
#include "platform/file_dialog_filter.h"
#include "platform/source_connection.h"
#include "schema/access_scanner.h"
#include "shell/error_report.h"
#include "shell/log.h"
#include "shell/main_form_rules.h"
#include "shell/startup.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/product.h"
#include "support/text.h"
#include "support/window/form_units.h"
#include "support/window/tab_chain.h"
#include "wizard/ini_file.h"
#include "wizard/settings.h"
#include "wizard/settings_store.h"
#include "wizard/table_selection.h"
#include "wizard/window/advanced_options.h"

namespace ferrolyte {
namespace {

constexpr int32_t kGenericError = errc::kUnspecified.number;
constexpr char kStep[] = "Initializing";
constexpr char kStoreSection[] = "Settings";

// The handler's body; an error that escapes it is fatal and reported under the handler's name.
template <class F>
void Reported(Program& program, const char* procedure, F&& body) {
  try {
    body();
  } catch (const Error& e) {
    ErrorHandler(program, procedure, e.number(), e.description(), kStep);
  } catch (const std::exception& e) {
    ErrorHandler(program, procedure, kGenericError, e.what(), kStep);
  }
}

// Handlers without an error report of their own: the error is logged and shown, and the
// window goes on, since no exception may cross into the event loop.
template <class F>
void Contained(Program& program, const char* procedure, F&& body) {
  try {
    body();
  } catch (const std::exception& e) {
    const Error* error = dynamic_cast<const Error*>(&e);
    const std::string text = std::string("Error in function '") + procedure + "'\r\n" +
                             (error ? error->description() : std::string(e.what()));
    try {
      program.log.Write(text);
    } catch (const std::exception&) {
    }
    program.messages.Show(text, kMsgExclamation, kProductTitle, kAnswerOk);
  }
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
std::string S(const QString& text) {
  return text.toStdString();
}

template <class W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

QLabel* Caption(QWidget* parent, const QString& text, int left, int top, int width,
                int height = 330) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  PlaceTwips(label, left, top, width, height);
  return label;
}

QLabel* Note(QWidget* parent, const QString& text, int left, int top, int width, int height) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  PlaceTwips(label, left, top, width, height);
  return label;
}

QWidget* PageFrame(QWidget* parent, const char* name) {
  auto* frame = Named(new QFrame(parent), name);
  frame->setFrameShape(QFrame::NoFrame);
  PlaceTwips(frame, 100, 1200, 6970, 3100);
  return frame;
}

QGroupBox* Group(QWidget* parent, const char* name, const QString& title, int left, int top,
                 int width, int height) {
  auto* group = Named(new QGroupBox(title, parent), name);
  PlaceTwips(group, left, top, width, height);
  return group;
}

// A picture drawn for the current device pixel ratio, so that it stays sharp when scaled.
QPixmap Canvas(int width_twips, int height_twips) {
  const qreal ratio = qApp->devicePixelRatio();
  QPixmap pixmap(QSize(Tw(width_twips), Tw(height_twips)) * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

QPixmap Badge(int width_twips, int height_twips, const QColor& fill, const QString& text) {
  QPixmap pixmap = Canvas(width_twips, height_twips);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF area(0.5, 0.5, Tw(width_twips) - 1.0, Tw(height_twips) - 1.0);
  painter.setPen(fill.darker(130));
  painter.setBrush(fill);
  painter.drawRoundedRect(area, area.height() / 5, area.height() / 5);
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(std::max(8, static_cast<int>(area.height() * (text.size() > 3 ? 0.36 : 0.5))));
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(area, Qt::AlignCenter, text);
  return pixmap;
}

QPixmap Heart(int size_twips) {
  QPixmap pixmap = Canvas(size_twips, size_twips);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = Tw(size_twips);
  QPainterPath path;
  path.moveTo(s / 2, s * 0.9);
  path.cubicTo(s * 0.05, s * 0.6, s * 0.0, s * 0.2, s * 0.28, s * 0.15);
  path.cubicTo(s * 0.4, s * 0.12, s * 0.48, s * 0.2, s / 2, s * 0.3);
  path.cubicTo(s * 0.52, s * 0.2, s * 0.6, s * 0.12, s * 0.72, s * 0.15);
  path.cubicTo(s * 1.0, s * 0.2, s * 0.95, s * 0.6, s / 2, s * 0.9);
  painter.fillPath(path, QColor(0xc8, 0x2a, 0x3c));
  return pixmap;
}

// A database drum with an arrow: what the wizard moves.
QPixmap DatabasePicture(int size_twips) {
  QPixmap pixmap = Canvas(size_twips, size_twips);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = Tw(size_twips);
  const QColor body(0x33, 0x67, 0x91);
  const QRectF drum(s * 0.08, s * 0.12, s * 0.56, s * 0.76);
  const qreal cap = s * 0.16;
  painter.setPen(QPen(body.darker(140), s / 40));
  painter.setBrush(body);
  painter.drawRoundedRect(
      QRectF(drum.left(), drum.top() + cap / 2, drum.width(), drum.height() - cap), 1, 1);
  painter.drawEllipse(QRectF(drum.left(), drum.bottom() - cap, drum.width(), cap));
  painter.setBrush(body.lighter(150));
  painter.drawEllipse(QRectF(drum.left(), drum.top(), drum.width(), cap));
  QPainterPath arrow;
  arrow.moveTo(s * 0.62, s * 0.46);
  arrow.lineTo(s * 0.80, s * 0.46);
  arrow.lineTo(s * 0.80, s * 0.36);
  arrow.lineTo(s * 0.96, s * 0.54);
  arrow.lineTo(s * 0.80, s * 0.72);
  arrow.lineTo(s * 0.80, s * 0.62);
  arrow.lineTo(s * 0.62, s * 0.62);
  arrow.closeSubpath();
  painter.setPen(QPen(QColor(0x9a, 0x5b, 0x00), s / 40));
  painter.setBrush(QColor(0xe0, 0x8a, 0x00));
  painter.drawPath(arrow);
  return pixmap;
}

QLabel* Icon(QWidget* parent, const char* name, QStyle::StandardPixmap which, int left, int top,
             int size) {
  auto* label = Named(new QLabel(parent), name);
  label->setPixmap(parent->style()->standardIcon(which).pixmap(QSize(Tw(size), Tw(size))));
  label->setAlignment(Qt::AlignCenter);
  PlaceTwips(label, left, top, size, size);
  return label;
}

// A read-only line of text on the page's background, wrapped anywhere.
QPlainTextEdit* ResultLine(QWidget* parent, const char* name) {
  auto* line = Named(new QPlainTextEdit(parent), name);
  line->setReadOnly(true);
  line->setTabChangesFocus(true);
  line->setFrameShape(QFrame::NoFrame);
  line->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  line->document()->setDocumentMargin(0);
  line->viewport()->setAutoFillBackground(false);
  line->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  return line;
}

// A picture box that only holds other controls.
QWidget* Holder(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* holder = Named(new QWidget(parent), name);
  PlaceTwips(holder, left, top, width, height);
  return holder;
}

class ClickablePicture : public QLabel {
 public:
  ClickablePicture(QWidget* parent, std::function<void()> on_click)
      : QLabel(parent), on_click_(std::move(on_click)) {
    setCursor(Qt::PointingHandCursor);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    QLabel::mouseReleaseEvent(event);
    if (rect().contains(event->position().toPoint())) on_click_();
  }

 private:
  std::function<void()> on_click_;
};

std::string DefaultBrowseFolder(Env& env) {
  return env.Folder(UserFolder::kDocuments).value_or("");
}

std::string ProgramFolder() {
  return S(QCoreApplication::applicationDirPath());
}

constexpr char kSettingsFilter[] = "(*.ini) Wizard Settings|*.ini|(*.*) All Files|*.*";

int CheckValue(const QCheckBox* box) {
  return box->isChecked() ? 1 : 0;
}

std::vector<std::string> EntriesOf(const QComboBox* list) {
  std::vector<std::string> entries;
  for (int i = 0; i < list->count(); ++i) entries.push_back(S(list->itemText(i)));
  return entries;
}

// Keeps controls disabled while long work runs inside their own handler: the events that
// the work lets through must not start another navigation underneath it. The focus comes
// back to where it was, which disabling took away.
class DisabledWhile {
 public:
  explicit DisabledWhile(std::initializer_list<QWidget*> widgets)
      : focus_(QApplication::focusWidget()) {
    for (QWidget* w : widgets) {
      if (w->isEnabled()) {
        w->setEnabled(false);
        widgets_.push_back(w);
      }
    }
  }
  ~DisabledWhile() {
    for (QWidget* w : widgets_) w->setEnabled(true);
    if (focus_ && focus_->isVisible() && focus_->isEnabled()) focus_->setFocus();
  }
  DisabledWhile(const DisabledWhile&) = delete;
  DisabledWhile& operator=(const DisabledWhile&) = delete;

 private:
  std::vector<QWidget*> widgets_;
  QPointer<QWidget> focus_;
};

// How long Next on the destination page waits for the server.
constexpr int kServerCheckSeconds = 5;

constexpr char kWindowSizeKey[] = "WindowSize";
constexpr char kWindowMaximizedKey[] = "WindowMaximized";

bool IsFormControl(const QWidget* w) {
  return !w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_"));
}

// A control the user types into: where a page's focus goes first.
bool TakesText(const QWidget* w) {
  if (qobject_cast<const QLineEdit*>(w)) return true;
  const auto* list = qobject_cast<const QComboBox*>(w);
  return list && list->isEditable();
}

// Where the destination page's groups sit: the method groups share one place, the database
// groups another below it.
constexpr int kGroupTop = 480, kGroupHeight = 1620;
constexpr int kDatabaseTop = 2220, kDatabaseHeight = 780;

// A caption with its input to the right of it; the caption's mnemonic moves to the input.
void LabelledField(QWidget* group, const QString& label, int label_left, int label_width, int top,
                   QWidget* input, int input_width) {
  QLabel* caption = Caption(group, label, label_left, top, label_width);
  PlaceTwips(input, label_left + label_width, top, input_width, 330);
  caption->setBuddy(input);
}
}  // namespace

MainForm::MainForm(bool screenshot_mode)
    : screenshot_mode_(screenshot_mode),
      presenter_(this),
      open_url_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Ferrolyte"));
  CreateControls();
  status_ = std::make_unique<WindowStatus>(lvStatusLog, pbStatus, lblStatusHigh, lblStatusFigures);
  ConnectHandlers();
  // Until ScaleDialog runs, the window has the size of its design.
  resize(Tw(7170), Tw(6135));
}

MainForm::~MainForm() = default;

void MainForm::Attach(Program& program) {
  program_ = &program;
  status_->set_log(&program.log);
}

// ---------------------------------------------------------------------------------------
// Controls

void MainForm::CreateControls() {
  frameBorder = Named(new QFrame(this), "frameBorder");
  static_cast<QFrame*>(frameBorder)->setFrameStyle(QFrame::Box | QFrame::Sunken);
  PlaceTwips(frameBorder, -90, 945, 7380, 3510);
  Anchor(frameBorder, kAllEdges);
  CreateHeader();
  CreateWelcomePage();
  CreateSourcePage();
  CreateDestinationPage();
  CreateSelectTablesPage();
  CreateTransferOptionsPage();
  CreateProgressPage();
  CreateResultPage();
  CreateNavigation();
  CreateBottomBand();
}

void MainForm::CreateHeader() {
  frmHeader = Named(new QWidget(this), "frmHeader");
  frmHeader->setAutoFillBackground(true);
  frmHeader->setBackgroundRole(QPalette::Base);
  PlaceTwips(frmHeader, 0, 0, 7170, 1005);
  lblHeader = Named(new QLabel(frmHeader), "lblHeader");
  QFont bold = lblHeader->font();
  bold.setBold(true);
  lblHeader->setFont(bold);
  PlaceTwips(lblHeader, 240, 120, 4980, 315);
  lblHeaderNote = Named(Note(frmHeader, QString(), 480, 420, 5400, 540), "lblHeaderNote");
  Anchor(frmHeader, kLeftEdge | kRightEdge | kTopEdge);
  Anchor(lblHeader, kLeftEdge | kRightEdge | kTopEdge);
  Anchor(lblHeaderNote, kLeftEdge | kRightEdge | kTopEdge);
  imgPGSQL = Named(new QLabel(frmHeader), "imgPGSQL");
  imgPGSQL->setPixmap(Badge(720, 720, QColor(0x33, 0x67, 0x91), QStringLiteral("PG")));
  imgMySql = Named(new QLabel(frmHeader), "imgMySql");
  imgMySql->setPixmap(Badge(720, 720, QColor(0x00, 0x75, 0x8f), QStringLiteral("My")));
  imgMSSQL = Named(new QLabel(frmHeader), "imgMSSQL");
  imgMSSQL->setPixmap(Badge(720, 720, QColor(0xa9, 0x1d, 0x22), QStringLiteral("MS")));
  for (QLabel* logo : {imgPGSQL, imgMySql, imgMSSQL}) {
    PlaceTwips(logo, 6240, 140, 720, 720);
    Anchor(logo, kRightEdge | kTopEdge);
  }
}

void MainForm::CreateWelcomePage() {
  frameLoadSettings = PageFrame(this, "frameLoadSettings");
  Picture1 = Named(new QLabel(frameLoadSettings), "Picture1");
  static_cast<QLabel*>(Picture1)->setPixmap(DatabasePicture(720));
  PlaceTwips(Picture1, 240, 240, 720, 720);
  lblWelcome = Named(Note(frameLoadSettings, QString(), 1200, 240, 5530, 2280), "lblWelcome");
  Anchor(lblWelcome, kLeftEdge | kRightEdge | kTopEdge);
  // Alt+L is Cancel's on every page.
  cmdLoadSettings = Named(new QPushButton(QStringLiteral("Load &Settings"), frameLoadSettings),
                          "cmdLoadSettings");
  PlaceTwips(cmdLoadSettings, 1200, 2640, 1620, 330);
}

void MainForm::CreateSourcePage() {
  frameSource = PageFrame(this, "frameSource");
  QLabel* file_caption = Caption(frameSource, QStringLiteral("&Filename:"), 240, 240, 1080);
  txtSourceFilename = Named(new QLineEdit(frameSource), "txtSourceFilename");
  file_caption->setBuddy(txtSourceFilename);
  Anchor(txtSourceFilename, kLeftEdge | kRightEdge | kTopEdge);
  PlaceTwips(txtSourceFilename, 1680, 240, 4620, 330);
  cmdSourceBrowse = Named(new QPushButton(QStringLiteral("..."), frameSource), "cmdSourceBrowse");
  PlaceTwips(cmdSourceBrowse, 6360, 240, 450, 330);
  Anchor(cmdSourceBrowse, kRightEdge | kTopEdge);

  QGroupBox* security =
      Group(frameSource, "frameSecurity", QStringLiteral("Security"), 240, 780, 6570, 2280);
  Anchor(security, kLeftEdge | kRightEdge | kTopEdge);
  Picture2 = Icon(security, "Picture2", QStyle::SP_MessageBoxInformation, 180, 360, 480);
  Anchor(Note(security,
              QStringLiteral("If your Access database is password protected you can enter your "
                             "security settings below. "),
              780, 360, 5610, 480),
         kLeftEdge | kRightEdge | kTopEdge);
  txtSourceUsername = Named(new QLineEdit(security), "txtSourceUsername");
  LabelledField(security, QStringLiteral("&Username:"), 180, 1260, 960, txtSourceUsername, 2700);
  txtSourcePassword = Named(new QLineEdit(security), "txtSourcePassword");
  txtSourcePassword->setEchoMode(QLineEdit::Password);
  LabelledField(security, QStringLiteral("&Password:"), 180, 1260, 1380, txtSourcePassword, 2700);
  txtSourceSystemDatabase = Named(new QLineEdit(security), "txtSourceSystemDatabase");
  LabelledField(security, QStringLiteral("&System DB:"), 180, 1260, 1800, txtSourceSystemDatabase,
                4440);
  Anchor(txtSourceSystemDatabase, kLeftEdge | kRightEdge | kTopEdge);
  cmdSystemDatabaseBrowse =
      Named(new QPushButton(QStringLiteral("..."), security), "cmdSystemDatabaseBrowse");
  PlaceTwips(cmdSystemDatabaseBrowse, 5940, 1800, 450, 330);
  Anchor(cmdSystemDatabaseBrowse, kRightEdge | kTopEdge);
}

// The destination page: the choice of method, then one group per method, all in the same
// place (only the chosen one is shown), and the destination database below them.
void MainForm::CreateDestinationPage() {
  frameDestination = PageFrame(this, "frameDestination");
  CreateDestinationChoice();
  CreatePostgresGroup();
  CreateDumpGroup();
  CreateDestinationDatabaseGroup();
  CreateHiddenServerGroups();
}

void MainForm::CreateDestinationChoice() {
  Picture3 = Holder(frameDestination, "Picture3", 240, 60, 6570, 360);
  Anchor(Picture3, kLeftEdge | kRightEdge | kTopEdge);
  optDestination[0] =
      Named(new QRadioButton(QStringLiteral("&Direct transfer"), Picture3), "optDestination");
  optDestination[1] =
      Named(new QRadioButton(QStringLiteral("&Create dump file"), Picture3), "optDestination");
  for (int i = 0; i < 2; ++i) {
    optDestination[i]->setProperty("index", i);
    PlaceTwips(optDestination[i], i * 2640, 15, 2520, 330);
  }
  optDestination[0]->setChecked(true);
}

void MainForm::CreatePostgresGroup() {
  frameDestinationPGSQL =
      Group(frameDestination, "frameDestinationPGSQL",
            QStringLiteral("PostgreSQL Connection Options"), 240, kGroupTop, 6570, kGroupHeight);
  Anchor(frameDestinationPGSQL, kLeftEdge | kRightEdge | kTopEdge);
  txtPGSQLServer = Named(new QLineEdit(frameDestinationPGSQL), "txtPGSQLServer");
  txtPGSQLPort = Named(new QLineEdit(frameDestinationPGSQL), "txtPGSQLPort");
  txtPGSQLUsername = Named(new QLineEdit(frameDestinationPGSQL), "txtPGSQLUsername");
  txtPGSQLPassword = Named(new QLineEdit(frameDestinationPGSQL), "txtPGSQLPassword");
  txtPGSQLPassword->setEchoMode(QLineEdit::Password);
  cbPGSQLMaintenanceDB = Named(new QComboBox(frameDestinationPGSQL), "cbPGSQLMaintenanceDB");
  cbPGSQLMaintenanceDB->setEditable(true);
  // Enter in the list means Next, not "add what I typed to the list".
  cbPGSQLMaintenanceDB->setInsertPolicy(QComboBox::NoInsert);
  LabelledField(frameDestinationPGSQL, QStringLiteral("&Server:"), 180, 1740, 360, txtPGSQLServer,
                2040);
  LabelledField(frameDestinationPGSQL, QStringLiteral("&Port:"), 4140, 960, 360, txtPGSQLPort,
                1290);
  LabelledField(frameDestinationPGSQL, QStringLiteral("&Username:"), 180, 1740, 780,
                txtPGSQLUsername, 2040);
  LabelledField(frameDestinationPGSQL, QStringLiteral("Pass&word:"), 4140, 960, 780,
                txtPGSQLPassword, 1290);
  LabelledField(frameDestinationPGSQL, QStringLiteral("&Maintenance DB:"), 180, 1740, 1200,
                cbPGSQLMaintenanceDB, 2040);
}

void MainForm::CreateDumpGroup() {
  frameDestinationDump =
      Group(frameDestination, "frameDestinationDump", QStringLiteral("Dump File Options"), 240,
            kGroupTop, 6570, kGroupHeight);
  Anchor(frameDestinationDump, kLeftEdge | kRightEdge | kTopEdge);
  // Direct transfer is the chosen method until the user or the settings pick the dump.
  frameDestinationDump->hide();
  txtDestinationDumpFilename =
      Named(new QLineEdit(frameDestinationDump), "txtDestinationDumpFilename");
  LabelledField(frameDestinationDump, QStringLiteral("&Filename:"), 180, 1740, 360,
                txtDestinationDumpFilename, 3960);
  Anchor(txtDestinationDumpFilename, kLeftEdge | kRightEdge | kTopEdge);
  cmdBrowseDump =
      Named(new QPushButton(QStringLiteral("..."), frameDestinationDump), "cmdBrowseDump");
  PlaceTwips(cmdBrowseDump, 5940, 360, 450, 330);
  Anchor(cmdBrowseDump, kRightEdge | kTopEdge);
  Picture5 = Icon(frameDestinationDump, "Picture5", QStyle::SP_MessageBoxWarning, 180, 840, 480);
  Anchor(Note(frameDestinationDump,
              QStringLiteral("Warning: If you already have a file with that name it will be "
                             "overwritten."),
              780, 840, 5610, 600),
         kLeftEdge | kRightEdge | kTopEdge);
}

void MainForm::CreateDestinationDatabaseGroup() {
  framePGSQLDestinationDatabase = Group(frameDestination, "framePGSQLDestinationDatabase",
                                        QStringLiteral("PostgreSQL Destination Database"), 240,
                                        kDatabaseTop, 6570, kDatabaseHeight);
  Anchor(framePGSQLDestinationDatabase, kLeftEdge | kRightEdge | kTopEdge);
  txtPGSQLDestinationDatabase =
      Named(new QLineEdit(framePGSQLDestinationDatabase), "txtPGSQLDestinationDatabase");
  // Alt+D is the direct transfer's.
  LabelledField(framePGSQLDestinationDatabase, QStringLiteral("Des&tination Database:"), 180, 2280,
                330, txtPGSQLDestinationDatabase, 3930);
  Anchor(txtPGSQLDestinationDatabase, kLeftEdge | kRightEdge | kTopEdge);
}

void MainForm::CreateHiddenServerGroups() {
  // The MySQL and SQL Server destinations: kept in the form, never shown.
  frameDestinationDirect =
      Group(frameDestination, "frameDestinationDirect", QStringLiteral("MySQL Connection Options"),
            240, kGroupTop, 6570, kGroupHeight);
  cbStorageEngine = Named(new QComboBox(frameDestinationDirect), "cbStorageEngine");
  LabelledField(frameDestinationDirect, QStringLiteral("Storage Engine:"), 180, 1500, 360,
                cbStorageEngine, 2160);
  frameMySQLDestinationDatabase =
      Group(frameDestination, "frameMySQLDestinationDatabase",
            QStringLiteral("MySQL Destination Database"), 240, kDatabaseTop, 6570, kDatabaseHeight);
  frameDestinationMSSQL =
      Group(frameDestination, "frameDestinationMSSQL", QStringLiteral("MSSQL Connection Options"),
            240, kGroupTop, 6570, kGroupHeight);
  cbMSSQLAuthentication = Named(new QComboBox(frameDestinationMSSQL), "cbMSSQLAuthentication");
  LabelledField(frameDestinationMSSQL, QStringLiteral("Authentication:"), 180, 1500, 360,
                cbMSSQLAuthentication, 2880);
  txtMSSQLUserName = Named(new QLineEdit(frameDestinationMSSQL), "txtMSSQLUserName");
  txtMSSQLPassword = Named(new QLineEdit(frameDestinationMSSQL), "txtMSSQLPassword");
  txtMSSQLPassword->setEchoMode(QLineEdit::Password);
  lblMSSQLUserName =
      Named(Caption(frameDestinationMSSQL, QStringLiteral("&Username:"), 180, 780, 1500),
            "lblMSSQLUserName");
  lblMSSQLPassword =
      Named(Caption(frameDestinationMSSQL, QStringLiteral("&Password:"), 180, 1200, 1500),
            "lblMSSQLPassword");
  lblMSSQLUserName->setBuddy(txtMSSQLUserName);
  lblMSSQLPassword->setBuddy(txtMSSQLPassword);
  PlaceTwips(txtMSSQLUserName, 1680, 780, 2880, 330);
  PlaceTwips(txtMSSQLPassword, 1680, 1200, 2880, 330);
  frameMSSQLDestinationDatabase =
      Group(frameDestination, "frameMSSQLDestinationDatabase",
            QStringLiteral("MSSQL Destination Database"), 240, kDatabaseTop, 6570, kDatabaseHeight);
}

void MainForm::CreateSelectTablesPage() {
  frameSelectTables = PageFrame(this, "frameSelectTables");
  txtTableFilter = Named(new QLineEdit(frameSelectTables), "txtTableFilter");
  txtTableFilter->setClearButtonEnabled(true);
  txtTableFilter->setToolTip(QStringLiteral("Shows only the tables whose names hold this text."));
  LabelledField(frameSelectTables, QStringLiteral("&Filter:"), 240, 780, 120, txtTableFilter, 4140);
  Anchor(txtTableFilter, kLeftEdge | kRightEdge | kTopEdge);
  tvSourceTables = Named(new QTreeWidget(frameSelectTables), "tvSourceTables");
  tvSourceTables->setHeaderHidden(true);
  tvSourceTables->setUniformRowHeights(true);
  // Double-clicking a table shows or hides its fields; the check box keeps its own click.
  tvSourceTables->setExpandsOnDoubleClick(false);
  ShowPartialMarks(tvSourceTables);
  tvImages = TreeImages();
  PlaceTwips(tvSourceTables, 240, 540, 4920, 1920);
  Anchor(tvSourceTables, kAllEdges);
  Picture9 = Holder(frameSelectTables, "Picture9", 5340, 120, 1470, 1620);
  Anchor(Picture9, kRightEdge | kTopEdge);
  cmdSelectAll = Named(new QPushButton(QStringLiteral("Select &All"), Picture9), "cmdSelectAll");
  cmdSelectNone = Named(new QPushButton(QStringLiteral("Select N&one"), Picture9), "cmdSelectNone");
  cmdExpandAll = Named(new QPushButton(QStringLiteral("&Expand All"), Picture9), "cmdExpandAll");
  cmdCollapseAll =
      Named(new QPushButton(QStringLiteral("&Collapse All"), Picture9), "cmdCollapseAll");
  int top = 0;
  for (QPushButton* button : {cmdSelectAll, cmdSelectNone, cmdExpandAll, cmdCollapseAll}) {
    PlaceTwips(button, 0, top, 1470, 330);
    top += 420;
  }
  lblSelectionCount =
      Named(Note(frameSelectTables, QString(), 5340, 1740, 1470, 720), "lblSelectionCount");
  Anchor(lblSelectionCount, kRightEdge | kTopEdge);
  Picture6 = Icon(frameSelectTables, "Picture6", QStyle::SP_MessageBoxInformation, 240, 2580, 330);
  Anchor(Picture6, kLeftEdge | kBottomEdge);
  Anchor(Note(frameSelectTables,
              QStringLiteral("Double click the tablename to specify which fields you want to be "
                             "included in the transfer"),
              660, 2550, 6150, 450),
         kLeftEdge | kRightEdge | kBottomEdge);
}

void MainForm::CreateTransferOptionsPage() {
  frameTransferOptions = PageFrame(this, "frameTransferOptions");
  Picture8 = Holder(frameTransferOptions, "Picture8", 240, 120, 4500, 2010);
  struct Option {
    QCheckBox** box;
    const char* name;
    const char* caption;
    const char* tip;
  };
  const Option options[] = {
      {&chkDropDatabase, "chkDropDatabase", "&Drop and recreate destination database",
       "Drops a destination database of that name first, with all its data."},
      {&chkCreateTables, "chkCreateTables", "&Create tables (drops existing)",
       "Creates each table, dropping one of that name first."},
      {&chkTransferRecords, "chkTransferRecords", "&Transfer records",
       "Copies the rows; without it only the tables are created."},
      {&chkTransferIndexes, "chkTransferIndexes", "Transfer inde&xes",
       "Creates the primary keys, unique constraints and indexes."},
      {&chkColumnList, "chkColumnList", "&Include column list in INSERT statements",
       "Names the columns in every INSERT of a dump file."},
      {&chkUnicode, "chkUnicode", "&Unicode (utf-8)",
       "No effect for PostgreSQL: the dump and the server session are always UTF-8."},
      {&chkAutocommit, "chkAutocommit", "&Enable autocommit",
       "Commits every statement on its own instead of once per table."},
  };
  int top = 0;
  for (const Option& option : options) {
    *option.box = Named(new QCheckBox(QLatin1String(option.caption), Picture8), option.name);
    (*option.box)->setToolTip(QLatin1String(option.tip));
    PlaceTwips(*option.box, 0, top, 4500, 285);
    top += 285;
  }
  chkUnicode->setEnabled(false);
  QGroupBox* field_information = Group(frameTransferOptions, "frameFieldInformation",
                                       QStringLiteral("Field Information"), 240, 1980, 6570, 780);
  Anchor(field_information, kLeftEdge | kRightEdge | kTopEdge);
  chkTransferDefaultValues =
      Named(new QCheckBox(QStringLiteral("Default &value properties"), field_information),
            "chkTransferDefaultValues");
  chkTransferDefaultValues->setToolTip(
      QStringLiteral("Gives the columns the default values the Access fields have."));
  chkTransferAutonumbers =
      Named(new QCheckBox(QStringLiteral("Aut&o number properties"), field_information),
            "chkTransferAutonumbers");
  chkTransferAutonumbers->setToolTip(
      QStringLiteral("Auto number fields count on from their highest value on the server."));
  PlaceTwips(chkTransferDefaultValues, 180, 375, 3000, 285);
  PlaceTwips(chkTransferAutonumbers, 3420, 375, 3000, 285);
  cmdAdvancedOptions = Named(new QPushButton(QStringLiteral("&Advanced..."), frameTransferOptions),
                             "cmdAdvancedOptions");
  PlaceTwips(cmdAdvancedOptions, 5310, 120, 1500, 330);
  cmdSaveSettings1 = Named(new QPushButton(QStringLiteral("&Save Settings"), frameTransferOptions),
                           "cmdSaveSettings1");
  PlaceTwips(cmdSaveSettings1, 5310, 540, 1500, 330);
  Anchor(cmdAdvancedOptions, kRightEdge | kTopEdge);
  Anchor(cmdSaveSettings1, kRightEdge | kTopEdge);
}

void MainForm::CreateProgressPage() {
  frameProgress = PageFrame(this, "frameProgress");
  Picture7 = Icon(frameProgress, "Picture7", QStyle::SP_BrowserReload, 240, 120, 330);
  lblStatusHigh =
      Named(Caption(frameProgress, QStringLiteral("Progress"), 660, 120, 6150), "lblStatusHigh");
  Anchor(lblStatusHigh, kLeftEdge | kRightEdge | kTopEdge);
  pbStatus = Named(new QProgressBar(frameProgress), "pbStatus");
  pbStatus->setTextVisible(false);
  pbStatus->setRange(0, 1);
  pbStatus->setValue(0);
  PlaceTwips(pbStatus, 240, 540, 6570, 300);
  Anchor(pbStatus, kLeftEdge | kRightEdge | kTopEdge);
  // Which table of how many, the rate and the time left, under the bar.
  lblStatusFigures =
      Named(Caption(frameProgress, QString(), 240, 870, 6570, 300), "lblStatusFigures");
  Anchor(lblStatusFigures, kLeftEdge | kRightEdge | kTopEdge);
  lvStatusLog = Named(new QTreeWidget(frameProgress), "lvStatusLog");
  lvStatusLog->setRootIsDecorated(false);
  lvStatusLog->setUniformRowHeights(true);
  lvStatusLog->setSelectionMode(QAbstractItemView::SingleSelection);
  PlaceTwips(lvStatusLog, 240, 1230, 6570, 1770);
  Anchor(lvStatusLog, kAllEdges);
}

void MainForm::CreateResultPage() {
  frameSaveSettings = PageFrame(this, "frameSaveSettings");
  txtReport = Named(new QPlainTextEdit(frameSaveSettings), "txtReport");
  txtReport->setReadOnly(true);
  txtReport->setTabChangesFocus(true);
  txtReport->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont arial(QStringLiteral("Arial"));
  arial.setPointSizeF(txtReport->font().pointSizeF());
  txtReport->setFont(arial);
  PlaceTwips(txtReport, 240, 120, 6570, 1380);
  Anchor(txtReport, kAllEdges);
  // Where the log is and how to load the dump, as text that can be selected and copied, and
  // that wraps inside a long path instead of running out of sight.
  txtLogFile = ResultLine(frameSaveSettings, "txtLogFile");
  PlaceTwips(txtLogFile, 240, 1560, 4950, 660);
  txtLoadCommand = ResultLine(frameSaveSettings, "txtLoadCommand");
  PlaceTwips(txtLoadCommand, 240, 2280, 4950, 780);
  for (QWidget* line : {txtLogFile, txtLoadCommand})
    Anchor(line, kLeftEdge | kRightEdge | kBottomEdge);
  cmdOpenLogFolder =
      Named(new QPushButton(QStringLiteral("Open &Folder"), frameSaveSettings), "cmdOpenLogFolder");
  cmdOpenLogFolder->setToolTip(QStringLiteral("Opens the folder that holds the log file."));
  PlaceTwips(cmdOpenLogFolder, 5310, 1560, 1500, 330);
  cmdSaveSettings = Named(new QPushButton(QStringLiteral("&Save Settings"), frameSaveSettings),
                          "cmdSaveSettings");
  PlaceTwips(cmdSaveSettings, 5310, 2640, 1500, 330);
  Anchor(cmdOpenLogFolder, kRightEdge | kBottomEdge);
  Anchor(cmdSaveSettings, kRightEdge | kBottomEdge);
}

void MainForm::CreateNavigation() {
  cmdBack = Named(new QPushButton(QStringLiteral("< &Back"), this), "cmdBack");
  PlaceTwips(cmdBack, 345, 4560, 1230, 330);
  cmdNext = Named(new QPushButton(QStringLiteral("&Next >"), this), "cmdNext");
  cmdFinish = Named(new QPushButton(QStringLiteral("&Run Now"), this), "cmdFinish");
  cmdExit = Named(new QPushButton(QStringLiteral("&Exit"), this), "cmdExit");
  for (QPushButton* button : {cmdNext, cmdFinish, cmdExit})
    PlaceTwips(button, 1680, 4560, 1245, 330);
  cmdCancel = Named(new QPushButton(QStringLiteral("Cance&l"), this), "cmdCancel");
  PlaceTwips(cmdCancel, 4800, 4590, 1005, 330);
  cmdHelp = Named(new QPushButton(QStringLiteral("&Help"), this), "cmdHelp");
  PlaceTwips(cmdHelp, 5850, 4590, 1005, 330);
  // The row stays together in the bottom right corner, as wizards keep it.
  for (QPushButton* button : {cmdBack, cmdNext, cmdFinish, cmdExit, cmdCancel, cmdHelp})
    Anchor(button, kRightEdge | kBottomEdge);
}

void MainForm::CreateBottomBand() {
  frameBottom = Named(new QWidget(this), "frameBottom");
  frameBottom->setAutoFillBackground(true);
  frameBottom->setBackgroundRole(QPalette::Base);
  PlaceTwips(frameBottom, 0, 5160, 7335, 975);
  Anchor(frameBottom, kLeftEdge | kRightEdge | kBottomEdge);
  frameDonate =
      Group(frameBottom, "frameDonate", QStringLiteral("Help us help you"), 240, 120, 6735, 615);
  Anchor(frameDonate, kLeftEdge | kRightEdge | kTopEdge);
  auto* donate = new ClickablePicture(frameDonate, [this] { imgDonate_Click(); });
  imgDonate = Named(donate, "imgDonate");
  imgDonate->setPixmap(Badge(960, 300, QColor(0xe0, 0x8a, 0x00), QStringLiteral("Donate")));
  imgDonate->setToolTip(Q(DonationPageAddress()));
  constexpr int kDonateTop = 255;
  PlaceTwips(imgDonate, 5655, kDonateTop, 960, 300);
  Anchor(imgDonate, kRightEdge | kTopEdge);
  Picture4 = Named(new QLabel(frameDonate), "Picture4");
  Picture4->setPixmap(Heart(270));
  PlaceTwips(Picture4, 120, kDonateTop + 15, 270, 270);
  QLabel* note = Caption(frameDonate,
                         QStringLiteral("Please consider a donation if you find this program "
                                        "useful."),
                         450, kDonateTop, 5145, 300);
  // The band is one line high: a font wider than the design's gets smaller, not cut off.
  QFont font = note->font();
  while (font.pointSizeF() > 6 &&
         QFontMetrics(font).horizontalAdvance(note->text()) > note->width()) {
    font.setPointSizeF(font.pointSizeF() - 0.5);
  }
  note->setFont(font);
  Anchor(note, kLeftEdge | kRightEdge | kTopEdge);
}

void MainForm::ConnectHandlers() {
  connect(cmdBack, &QPushButton::clicked, this, [this] { cmdBack_Click(); });
  connect(cmdNext, &QPushButton::clicked, this, [this] { cmdNext_Click(); });
  connect(cmdFinish, &QPushButton::clicked, this, [this] { cmdFinish_Click(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  connect(cmdExit, &QPushButton::clicked, this, [this] { cmdExit_Click(); });
  connect(cmdHelp, &QPushButton::clicked, this, [this] { cmdHelp_Click(); });
  connect(cmdAdvancedOptions, &QPushButton::clicked, this, [this] { cmdAdvancedOptions_Click(); });
  connect(cmdSourceBrowse, &QPushButton::clicked, this, [this] { cmdSourceBrowse_Click(); });
  connect(cmdSystemDatabaseBrowse, &QPushButton::clicked, this,
          [this] { cmdSystemDatabaseBrowse_Click(); });
  connect(cmdBrowseDump, &QPushButton::clicked, this, [this] { cmdBrowseDump_Click(); });
  for (int i = 0; i < 2; ++i) {
    connect(optDestination[i], &QRadioButton::toggled, this, [this, i](bool checked) {
      if (checked) optDestination_Click(i);
    });
  }
  // Only a tick by the user (mouse or keyboard) may warn; a tick set in code never does.
  connect(chkDropDatabase, &QCheckBox::clicked, this, [this] { chkDropDatabase_Click(); });
  connect(cbMSSQLAuthentication, &QComboBox::currentIndexChanged, this, [this] {
    Contained(*program_, "cbMSSQLAuthentication_Click", [&] { UpdateAuthenticationFields(); });
  });
  connect(cbStorageEngine, &QComboBox::activated, this,
          [this] { Contained(*program_, "cbStorageEngine_Click", [&] { UpdateControls(); }); });
  connect(txtSourceFilename, &QLineEdit::textChanged, this, [this] { txtSourceFilename_Change(); });
  connect(txtSourceFilename, &QLineEdit::editingFinished, this,
          [this] { txtSourceFilename_Validate(); });
  connect(tvSourceTables, &QTreeWidget::itemDoubleClicked, this,
          [](QTreeWidgetItem* node) { node->setExpanded(!node->isExpanded()); });
  connect(cmdSelectAll, &QPushButton::clicked, this, [this] { cmdSelectAll_Click(); });
  connect(cmdSelectNone, &QPushButton::clicked, this, [this] { cmdSelectNone_Click(); });
  connect(cmdExpandAll, &QPushButton::clicked, this, [this] { cmdExpandAll_Click(); });
  connect(cmdCollapseAll, &QPushButton::clicked, this, [this] { cmdCollapseAll_Click(); });
  connect(cmdLoadSettings, &QPushButton::clicked, this, [this] { cmdLoadSettings_Click(); });
  connect(cmdSaveSettings, &QPushButton::clicked, this, [this] { cmdSaveSettings_Click(); });
  connect(cmdSaveSettings1, &QPushButton::clicked, this, [this] { cmdSaveSettings1_Click(); });
  connect(cmdOpenLogFolder, &QPushButton::clicked, this, [this] { cmdOpenLogFolder_Click(); });
  connect(txtTableFilter, &QLineEdit::textChanged, this, [this] { txtTableFilter_Change(); });
  connect(tvSourceTables, &QTreeWidget::itemChanged, this, [this] { UpdateSelectionCount(); });
  // Only the user's own typing stops the name from following the source file; emptying the
  // field lets it follow again.
  connect(txtPGSQLDestinationDatabase, &QLineEdit::textEdited, this,
          [this](const QString& text) { database_typed_ = !text.trimmed().isEmpty(); });
}

// ---------------------------------------------------------------------------------------
// Start-up steps

void MainForm::PrepareControls() {
  chkAutocommit->hide();
  txtPGSQLUsername->setToolTip(
      QStringLiteral("The default user name for a PostgreSQL installation is 'postgres'."));
  txtPGSQLPort->setToolTip(
      QStringLiteral("The default port for a PostgreSQL installation is '5432'."));
}

void MainForm::InitForm() {
  setWindowTitle(Q(WindowCaption(screenshot_mode_)));

  lvStatusLog->clear();
  lvStatusLog->setColumnCount(1);
  lvStatusLog->setHeaderLabels({QStringLiteral("Status Log")});
  lvStatusLog->header()->setStretchLastSection(false);
  lvStatusLog->setColumnWidth(0, lvStatusLog->width() - Tw(400));

  for (QWidget* frame : std::initializer_list<QWidget*>{
           frameMSSQLDestinationDatabase, frameMySQLDestinationDatabase,
           framePGSQLDestinationDatabase, frameDestinationMSSQL, frameDestinationPGSQL,
           frameDestinationDirect, frameDestination}) {
    frame->hide();
  }
  for (QLabel* logo : {imgPGSQL, imgMySql, imgMSSQL}) logo->hide();
  imgPGSQL->show();
  frameDestinationPGSQL->show();
  framePGSQLDestinationDatabase->show();

  cbStorageEngine->clear();
  for (const std::string& engine : StorageEngines()) cbStorageEngine->addItem(Q(engine));
  cbStorageEngine->setCurrentText(QStringLiteral("MyISAM"));

  cbMSSQLAuthentication->clear();
  cbMSSQLAuthentication->addItem(Q(AuthenticationName(0)));
  cbMSSQLAuthentication->addItem(Q(AuthenticationName(1)));
  cbMSSQLAuthentication->setCurrentIndex(0);
  UpdateAuthenticationFields();

  state.source_changed = true;
}

void MainForm::RemovePictureTabStops() {
  for (QWidget* picture :
       std::initializer_list<QWidget*>{Picture1, Picture2, Picture3, Picture4, Picture5, Picture6,
                                       Picture7, Picture8, Picture9, imgDonate}) {
    picture->setFocusPolicy(Qt::NoFocus);
  }
}

void MainForm::LayoutPageFrames() {
  for (const std::string& name : PageFrames()) {
    QWidget* frame = findChild<QWidget*>(Q(name));
    frame->move(Tw(100), Tw(1200));
    frame->setAutoFillBackground(true);
    frame->setBackgroundRole(QPalette::Button);
  }
}

void MainForm::SetTabOrder() {
  ::ferrolyte::SetTabOrder(this);
  lblWelcome->setText(Q(ReplaceAll(WelcomeText(), "\r\n", "\n")));
}

void MainForm::ApplySettings(const DictionaryPtr& settings) {
  const std::optional<FormSettings> f = FormSettingsOf(settings);
  if (!f) return;
  struct Loading {
    explicit Loading(bool& flag) : flag(flag) { flag = true; }
    ~Loading() { flag = false; }
    bool& flag;
  } loading(state.settings_loading);
  txtSourceFilename->setText(Q(f->source_file));
  txtSourceUsername->setText(Q(f->source_user));
  txtSourcePassword->setText(Q(f->source_password));
  txtSourceSystemDatabase->setText(Q(f->source_system_database));
  optDestination[f->direct ? 0 : 1]->setChecked(true);
  SetDestinationMethod(f->destination_method);
  txtPGSQLServer->setText(Q(f->server));
  txtPGSQLPort->setText(Q(f->port));
  txtPGSQLUsername->setText(Q(f->user));
  txtPGSQLPassword->setText(Q(f->password));
  txtPGSQLDestinationDatabase->setText(Q(f->database));
  cbPGSQLMaintenanceDB->clear();
  cbPGSQLMaintenanceDB->addItems(
      {QStringLiteral("postgres"), QStringLiteral("edb"), QStringLiteral("template1")});
  cbPGSQLMaintenanceDB->setCurrentText(Q(f->maintenance_db));
  txtDestinationDumpFilename->setText(Q(f->dump_file));
  // A list without that entry keeps its choice.
  if (const int engine = cbStorageEngine->findText(Q(f->storage_engine)); engine >= 0)
    cbStorageEngine->setCurrentIndex(engine);
  // After the file name, whose change emptied the carried selection: the loaded one wins.
  selection_.set_paths(PathsOfList(SettingsSection(settings)->Item("sourcetables")));
  selection_loaded_ = true;
  chkDropDatabase->setChecked(f->drop_database);
  chkCreateTables->setChecked(f->create_tables);
  chkUnicode->setChecked(f->unicode);
  chkAutocommit->setChecked(f->autocommit);
  chkTransferDefaultValues->setChecked(f->transfer_default_values);
  chkTransferIndexes->setChecked(f->transfer_indexes);
  chkTransferAutonumbers->setChecked(f->transfer_autonumbers);
  chkTransferRecords->setChecked(f->transfer_records);
  chkColumnList->setChecked(f->column_list);
  AdvancedOptionsForm& advanced = AdvancedOptions();
  advanced.txtTablePrefix->setText(Q(f->table_prefix));
  advanced.chkBooleanValue->setChecked(f->negative_boolean);
  advanced.chkIgnoreLargeBlobs->setChecked(f->ignore_large_blobs);
  advanced.chkTransferRelationships->setChecked(f->transfer_relationships);
  advanced.chkTransferDescriptions->setChecked(f->transfer_descriptions);
  advanced.cbMemoType->setCurrentIndex(ListEntryFor(EntriesOf(advanced.cbMemoType), f->memo_type));
  advanced.cbDateTimeType->setCurrentIndex(
      ListEntryFor(EntriesOf(advanced.cbDateTimeType), f->datetime_type));
  advanced.cbDumpFormat->setCurrentIndex(
      std::max(0, advanced.cbDumpFormat->findData(Q(AsciiUpper(f->dump_format)))));
  advanced.chkTransferQueries->setChecked(f->transfer_queries);
  advanced.chkTransferValidation->setChecked(f->transfer_validation);
  advanced.chkFollowLinks->setChecked(f->follow_links);
  advanced.cbComplexColumns->setCurrentIndex(
      std::max(0, advanced.cbComplexColumns->findData(Q(AsciiUpper(f->complex_columns)))));
  advanced.cbIdentifierCase->setCurrentIndex(
      std::max(0, advanced.cbIdentifierCase->findData(Q(AsciiUpper(f->identifier_case)))));
  // libpq's default for a file that names no mode.
  const int mode = advanced.cbSslMode->findData(Q(AsciiLower(f->ssl_mode)));
  advanced.cbSslMode->setCurrentIndex(mode >= 0 ? mode : advanced.cbSslMode->findData("prefer"));
  advanced.txtSslRootCert->setText(Q(f->ssl_root_cert));
  advanced.txtConnectionParameters->setText(Q(f->connection_parameters));
}

FormSettings MainForm::ReadControls() {
  FormSettings f;
  f.source_file = S(txtSourceFilename->text());
  f.source_user = S(txtSourceUsername->text());
  f.source_password = S(txtSourcePassword->text());
  f.source_system_database = S(txtSourceSystemDatabase->text());
  f.direct = optDestination[0]->isChecked();
  f.server = S(txtPGSQLServer->text());
  f.port = S(txtPGSQLPort->text());
  f.user = S(txtPGSQLUsername->text());
  f.password = S(txtPGSQLPassword->text());
  f.database = S(txtPGSQLDestinationDatabase->text());
  f.maintenance_db = S(cbPGSQLMaintenanceDB->currentText());
  f.dump_file = S(txtDestinationDumpFilename->text());
  f.source_tables = GetCheckedPaths(TreeNodes())->Keys();
  f.drop_database = CheckValue(chkDropDatabase);
  f.create_tables = CheckValue(chkCreateTables);
  f.unicode = CheckValue(chkUnicode);
  f.autocommit = CheckValue(chkAutocommit);
  f.transfer_default_values = CheckValue(chkTransferDefaultValues);
  f.transfer_indexes = CheckValue(chkTransferIndexes);
  f.transfer_autonumbers = CheckValue(chkTransferAutonumbers);
  f.transfer_records = CheckValue(chkTransferRecords);
  f.column_list = CheckValue(chkColumnList);
  AdvancedOptionsForm& advanced = AdvancedOptions();
  f.table_prefix = S(advanced.txtTablePrefix->text());
  f.negative_boolean = CheckValue(advanced.chkBooleanValue);
  f.ignore_large_blobs = CheckValue(advanced.chkIgnoreLargeBlobs);
  f.transfer_relationships = CheckValue(advanced.chkTransferRelationships);
  f.transfer_descriptions = CheckValue(advanced.chkTransferDescriptions);
  f.memo_type = S(advanced.cbMemoType->currentText());
  f.datetime_type = S(advanced.cbDateTimeType->currentText());
  f.dump_format = S(advanced.cbDumpFormat->currentData().toString());
  f.transfer_queries = CheckValue(advanced.chkTransferQueries);
  f.transfer_validation = CheckValue(advanced.chkTransferValidation);
  f.follow_links = CheckValue(advanced.chkFollowLinks);
  f.complex_columns = S(advanced.cbComplexColumns->currentData().toString());
  f.identifier_case = S(advanced.cbIdentifierCase->currentData().toString());
  f.ssl_mode = S(advanced.cbSslMode->currentData().toString());
  f.ssl_root_cert = S(advanced.txtSslRootCert->text());
  f.connection_parameters = S(advanced.txtConnectionParameters->text());
  return f;
}

DictionaryPtr MainForm::BuildSettings() {
  return BuildSettingsFrom(ReadControls());
}

void MainForm::LoadSettings() {
  const std::string folder =
      GetSetting(program_->env, kSettingsAppName, kStoreSection, "SaveFolder", ProgramFolder());
  const std::string last =
      GetSetting(program_->env, kSettingsAppName, kStoreSection, "LastLoadedIni", "");
  QFileDialog dialog(this, QStringLiteral("Load Settings"), Q(folder));
  dialog.setObjectName(QStringLiteral("CommonDialog1"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // Any name may be typed; a missing file gets its own message below.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(Q(QtFileFilter(kSettingsFilter)));
  if (!last.empty()) dialog.selectFile(Q(last));
  if (dialog.exec() != QDialog::Accepted) return;
  const std::string name = S(dialog.selectedFiles().value(0));
  if (name.empty()) return;
  SaveSetting(program_->env, kSettingsAppName, kStoreSection, "SaveFolder", FolderPart(name));
  SaveSetting(program_->env, kSettingsAppName, kStoreSection, "LastLoadedIni", name);
  if (!PathIsFile(name)) {
    messages().Show("The file does not exist?", kMsgExclamation, "Load Settings", kAnswerOk);
    return;
  }
  const DictionaryPtr settings = ReadIniFile(name);
  NormalizeSettings(settings);
  ApplySettings(settings);
  messages().Show("Wizard settings were loaded successfully", kMsgInformation, kProductTitle,
                  kAnswerOk);
}

void MainForm::SaveSettingsAs(const std::string& initial_file) {
  const std::string folder =
      GetSetting(program_->env, kSettingsAppName, kStoreSection, "SaveFolder", ProgramFolder());
  QFileDialog dialog(this, QStringLiteral("Save Settings As"), Q(folder));
  dialog.setObjectName(QStringLiteral("CommonDialog1"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // The overwrite question is asked below, once.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setNameFilter(Q(QtFileFilter(kSettingsFilter)));
  if (!initial_file.empty()) dialog.selectFile(Q(initial_file));
  if (dialog.exec() != QDialog::Accepted) return;
  const std::string name = S(dialog.selectedFiles().value(0));
  if (name.empty()) return;
  SaveSetting(program_->env, kSettingsAppName, kStoreSection, "SaveFolder", FolderPart(name));
  if (PathIsFile(name) &&
      messages().Show("The file already exists. Do you want to overwrite it?",
                      kMsgQuestion | kMsgYesNo, "Overwrite File", kAnswerNo) != kAnswerYes) {
    return;
  }
  WriteIniFile(BuildSettings(), name);
}

void MainForm::ScaleDialog() {
  const int height = frameBottom->y() + (screenshot_mode_ ? 0 : frameBottom->height());
  // The design's size is the least one; what the window gets beyond it goes to the controls
  // that can use it.
  const QSize design(frmHeader->width(), height);
  resize(design);
  setMinimumSize(design);
  if (anchor_plan_.empty() == false) {
    for (const std::string& name : PageFrames()) Anchor(findChild<QWidget*>(Q(name)), kAllEdges);
    for (const auto& [control, edges] : anchor_plan_) anchors_.Add(control, edges);
    anchor_plan_.clear();
  }
  for (QWidget* widget : std::initializer_list<QWidget*>{frameDonate, Picture4, imgDonate}) {
    widget->setAutoFillBackground(true);
    widget->setBackgroundRole(frameBottom->backgroundRole());
  }
  // Pictures of the window are taken at known sizes.
  if (!screenshot_mode_) RestoreWindowSize();
}

void MainForm::RestoreWindowSize() {
  const QStringList size =
      Q(GetSetting(program_->env, kSettingsAppName, kStoreSection, kWindowSizeKey, ""))
          .split(QLatin1Char(','));
  if (size.size() == 2) {
    bool width_ok = false, height_ok = false;
    const int width = size[0].toInt(&width_ok), height = size[1].toInt(&height_ok);
    if (width_ok && height_ok) resize(QSize(width, height).expandedTo(minimumSize()));
  }
  start_maximized_ =
      GetSetting(program_->env, kSettingsAppName, kStoreSection, kWindowMaximizedKey, "0") == "1";
}

void MainForm::SaveWindowSize() {
  if (screenshot_mode_) return;
  const QSize size =
      isMaximized() && normalGeometry().isValid() ? normalGeometry().size() : this->size();
  try {
    SaveSetting(program_->env, kSettingsAppName, kStoreSection, kWindowSizeKey,
                std::to_string(size.width()) + "," + std::to_string(size.height()));
    SaveSetting(program_->env, kSettingsAppName, kStoreSection, kWindowMaximizedKey,
                isMaximized() ? "1" : "0");
  } catch (const std::exception&) {
    // A store that cannot be written costs the next start its size, nothing more.
  }
}

void MainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  anchors_.Apply();
  lvStatusLog->setColumnWidth(0, lvStatusLog->width() - Tw(400));
}

void MainForm::keyPressEvent(QKeyEvent* event) {
  // Only keys no control took come here: a field keeps its own Enter and Escape.
  const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  auto press = [](QPushButton* button) {
    if (!button->isVisible() || !button->isEnabled()) return false;
    button->click();
    return true;
  };
  if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    if (default_button_) press(NavigationButton(*default_button_));
    event->accept();
    return;
  }
  if (plain && event->key() == Qt::Key_Escape) {
    if (!press(cmdCancel)) press(cmdExit);
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void MainForm::UpdateSecurityFields() {
  // Access 2007 files have no workgroup security; the disabled look of the platform stands
  // in for the light background.
  const bool enabled = !IsAccdbFile(S(txtSourceFilename->text()));
  txtSourceSystemDatabase->setEnabled(enabled);
  txtSourceUsername->setEnabled(enabled);
  cmdSystemDatabaseBrowse->setEnabled(enabled);
}

void MainForm::Navigate(const std::string& command) {
  WizardNavigate(*this, state.current_page, command);
}

int MainForm::Run() {
  if (start_maximized_) {
    showMaximized();
  } else {
    show();
  }
  return QApplication::exec();
}

// ---------------------------------------------------------------------------------------
// The page flow's view

QPushButton* MainForm::NavigationButton(NavButton button) const {
  switch (button) {
    case NavButton::kBack:
      return cmdBack;
    case NavButton::kCancel:
      return cmdCancel;
    case NavButton::kExit:
      return cmdExit;
    case NavButton::kFinish:
      return cmdFinish;
    case NavButton::kNext:
      return cmdNext;
  }
  return nullptr;
}

void MainForm::ShowFrame(const std::string& frame) {
  for (const std::string& name : PageFrames()) {
    findChild<QWidget*>(Q(name))->setVisible(name == frame);
  }
  for (NavButton button : kNavButtons) {
    NavigationButton(button)->setEnabled(true);
    NavigationButton(button)->hide();
  }
}

void MainForm::ShowButton(NavButton button) {
  NavigationButton(button)->show();
}

void MainForm::DisableButton(NavButton button) {
  NavigationButton(button)->setEnabled(false);
}

void MainForm::FocusButton(NavButton button) {
  NavigationButton(button)->setFocus();
}

bool MainForm::FocusFirstField(const std::string& frame_name) {
  const QWidget* frame = findChild<QWidget*>(Q(frame_name));
  QWidget* first = nullptr;
  for (QWidget* w = nextInFocusChain(); w != this; w = w->nextInFocusChain()) {
    if (!frame->isAncestorOf(w) || !IsFormControl(w) || qobject_cast<QPushButton*>(w) ||
        !w->isVisibleTo(this) || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus))
      continue;
    if (TakesText(w)) {
      first = w;
      break;
    }
    if (!first) first = w;
  }
  if (!first) return false;
  first->setFocus(Qt::TabFocusReason);
  return true;
}

void MainForm::FocusControl(const std::string& name) {
  if (QWidget* control = findChild<QWidget*>(Q(name))) control->setFocus(Qt::OtherFocusReason);
}

void MainForm::SetDefaultButton(std::optional<NavButton> button) {
  default_button_ = button;
  for (NavButton each : kNavButtons) NavigationButton(each)->setDefault(button == each);
}

std::string MainForm::TryDestination(const DictionaryPtr& settings) {
  DisabledWhile busy{cmdBack, cmdNext, frameDestination};
  SetBusyPointer(true);
  struct Idle {
    MainForm* form;
    ~Idle() { form->SetBusyPointer(false); }
  } idle{this};
  return TryServerConnection(SettingsSection(settings), components(), kServerCheckSeconds);
}

TableCount MainForm::SelectedTables() {
  return CountTables(tvSourceTables);
}

void MainForm::SetHeader(const std::string& title, const std::string& note) {
  lblHeader->setText(Q(title));
  lblHeaderNote->setText(Q(note));
}

SourceEntry MainForm::Source() {
  return {S(txtSourceFilename->text()), S(txtSourcePassword->text()), S(txtSourceUsername->text()),
          S(txtSourceSystemDatabase->text())};
}

void MainForm::OpenDocument(const std::string& address) {
  if (address.empty()) return;
  if (!open_url_(QUrl(Q(address)))) {
    messages().Show("No web browser could be opened. The address is:\r\n\r\n" + address,
                    kMsgInformation, kProductTitle, kAnswerOk);
  }
}

void MainForm::SelectTablesShown(bool forward) {
  if (forward && state.source_changed) BuildTableTree();
}

void MainForm::BuildTableTree() {
  // The same file keeps the marks the user set; another starts with every table selected,
  // unless settings were loaded for it.
  if (!selection_loaded_ && Source().file == scanned_file_ && !scanned_file_.empty())
    selection_.Capture(TreeNodes());
  std::shared_ptr<const SchemaModel> schema;
  {
    DisabledWhile busy{cmdBack, cmdNext, frameSelectTables};
    const SourceEntry source = Source();
    if (!schema_folder_) schema_folder_.emplace(TempFolder(program_->env));
    // A failing scan leaves the tree of the previous scan as it was.
    const RunContext ctx{*status_,
                         state.cancel,
                         components(),
                         program_->env,
                         program_->VersionText(),
                         schema_folder_->path()};
    schema = std::make_shared<const SchemaModel>(
        ScanAccessDatabase(source.file, source.password, source.user, source.system_database, ctx));
  }
  schema_ = std::move(schema);
  FillTableTree(tvSourceTables, TablesOfSchema(*schema_), tvImages);
  TreeChecks nodes = TreeNodes();
  selection_.Restore(nodes);
  scanned_file_ = Source().file;
  selection_loaded_ = false;
  FilterTables(tvSourceTables, txtTableFilter->text());
  UpdateSelectionCount();
  state.source_changed = false;
  tvSourceTables->viewport()->update();
}

void MainForm::UpdateSelectionCount() {
  lblSelectionCount->setText(SelectionCountText(CountTables(tvSourceTables)));
}

void MainForm::NavigateRun(std::string& page) {
  const ConversionServices services = DefaultServices();
  const SchemaModel schema = schema_ ? *schema_ : SchemaModel();
  const RunPageOptions options{program_->options.autorun, program_->options.save_passwords,
                               DefaultSettingsFile(program_->env)};
  WizardNavigateRun(
      *this, page, run_report_,
      [&](const DictionaryPtr& settings, std::string& report, StatusOutput& status) {
        const RunContext ctx{
            status, state.cancel, components(), program_->env, program_->VersionText(),
            "",     *clock_};
        return services.convert(settings, report, schema, ctx);
      },
      options);
}

void MainForm::ClearStatusList() {
  lvStatusLog->clear();
  lblStatusFigures->clear();
}

void MainForm::SetBusyPointer(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void MainForm::ShowResultLines(const ResultLines& lines) {
  txtLogFile->setPlainText(QStringLiteral("Log file: ") + Q(program_->log.path()));
  txtLoadCommand->setPlainText(lines.load_command.empty() ? QString()
                                                          : QStringLiteral("Load the dump with: ") +
                                                                Q(lines.load_command));
  txtLoadCommand->setVisible(!lines.load_command.empty());
}

void MainForm::ShowReport(const std::string& report) {
  txtReport->setPlainText(Q(ReplaceAll(report, "\r\n", "\n")));
  QTextCursor caret = txtReport->textCursor();
  caret.movePosition(QTextCursor::End);
  txtReport->setTextCursor(caret);
  txtReport->ensureCursorVisible();
}

// ---------------------------------------------------------------------------------------
// Form operations

void MainForm::UpdateControls() {
  const bool enabled = !EngineBlocksKeys(S(cbStorageEngine->currentText()));
  chkTransferAutonumbers->setEnabled(enabled);
  chkTransferIndexes->setEnabled(enabled);
}

void MainForm::UpdateAuthenticationFields() {
  const bool enabled = AuthenticationCode(cbMSSQLAuthentication->currentIndex()) == "SQL";
  for (QWidget* control : std::initializer_list<QWidget*>{txtMSSQLUserName, txtMSSQLPassword,
                                                          lblMSSQLUserName, lblMSSQLPassword}) {
    control->setEnabled(enabled);
  }
}

void MainForm::SetDestinationMethod(const std::string& method) {
  if (method == "DIRECT") {
    frameDestinationPGSQL->show();
    frameDestinationDump->hide();
  } else if (method == "DUMP") {
    frameDestinationDirect->hide();
    frameDestinationMSSQL->hide();
    frameDestinationPGSQL->hide();
    frameDestinationDump->show();
  }
}

void MainForm::UnloadForms() {
  if (advanced_) advanced_->close();
  close();
}

AdvancedOptionsForm& MainForm::AdvancedOptions() {
  if (!advanced_) advanced_ = new AdvancedOptionsForm(this);
  return *advanced_;
}

// ---------------------------------------------------------------------------------------
// Event handlers

void MainForm::cmdBack_Click() {
  Reported(*program_, "cmdBack_Click", [&] { WizardNavigate(*this, state.current_page, "BACK"); });
}

void MainForm::cmdNext_Click() {
  Reported(*program_, "cmdNext_Click", [&] { WizardNavigate(*this, state.current_page, "NEXT"); });
}

void MainForm::cmdFinish_Click() {
  Reported(*program_, "cmdFinish_Click",
           [&] { WizardNavigate(*this, state.current_page, "FINISH"); });
}

void MainForm::cmdCancel_Click() {
  Reported(*program_, "cmdCancel_Click", [&] {
    if (state.transfer_running) {
      if (messages().Show("Do you wish to cancel the transfer?", kMsgQuestion | kMsgYesNo,
                          kProductTitle, kAnswerYes) == kAnswerYes) {
        state.cancel.store(true);
      }
      return;
    }
    if (messages().Show("Do you wish to cancel this wizard?", kMsgQuestion | kMsgYesNo,
                        kProductTitle, kAnswerYes) == kAnswerYes) {
      UnloadForms();
    }
  });
}

void MainForm::cmdExit_Click() {
  Reported(*program_, "cmdExit_Click", [&] { UnloadForms(); });
}

void MainForm::cmdHelp_Click() {
  Contained(*program_, "cmdHelp_Click", [&] { OpenDocument(HelpPageAddress()); });
}

void MainForm::imgDonate_Click() {
  Contained(*program_, "imgDonate_Click", [&] { OpenDocument(DonationPageAddress()); });
}

void MainForm::cmdAdvancedOptions_Click() {
  Contained(*program_, "cmdAdvancedOptions_Click", [&] {
    AdvancedOptions().SetDumpDestination(optDestination[1]->isChecked());
    AdvancedOptions().exec();
  });
}

void MainForm::BrowseDatabase(const std::string& filter, const std::string& title,
                              const std::string& last_file_key, QLineEdit* field) {
  const std::string folder = GetSetting(program_->env, kSettingsAppName, kStoreSection,
                                        "SourceFolder", DefaultBrowseFolder(program_->env));
  const std::string last_file =
      GetSetting(program_->env, kSettingsAppName, kStoreSection, last_file_key, "");
  QFileDialog dialog(this, Q(title), Q(folder));
  dialog.setObjectName(QStringLiteral("CommonDialog1"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // Any name may be typed; a missing file gets its own message below.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(Q(QtFileFilter(filter)));
  if (!last_file.empty()) dialog.selectFile(Q(last_file));
  if (dialog.exec() != QDialog::Accepted) return;
  const std::string name = S(dialog.selectedFiles().value(0));
  if (name.empty()) return;
  SaveSetting(program_->env, kSettingsAppName, kStoreSection, "SourceFolder", FolderPart(name));
  SaveSetting(program_->env, kSettingsAppName, kStoreSection, last_file_key, name);
  if (!PathIsFile(name)) {
    messages().Show("The file does not exist?", kMsgExclamation, kProductTitle, kAnswerOk);
    return;
  }
  field->setText(Q(name));
}

void MainForm::cmdSourceBrowse_Click() {
  Reported(*program_, "cmdSourceBrowse_Click", [&] {
    BrowseDatabase(SourceDatabaseFilter(), "Select Source Database", "LastLoadedSource",
                   txtSourceFilename);
  });
}

void MainForm::cmdSystemDatabaseBrowse_Click() {
  Reported(*program_, "cmdSystemDatabaseBrowse_Click", [&] {
    BrowseDatabase(SystemDatabaseFilter(), "Select System Database", "LastLoadedSystemDatabase",
                   txtSourceSystemDatabase);
  });
}

void MainForm::cmdBrowseDump_Click() {
  Reported(*program_, "cmdBrowseDump_Click", [&] {
    QFileDialog dialog(this, QStringLiteral("Select Dump File"));
    dialog.setObjectName(QStringLiteral("CommonDialog1"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The overwrite question is asked below, once.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilter(Q(QtFileFilter(DumpFileFilter())));
    const QString current = txtDestinationDumpFilename->text();
    if (!current.isEmpty()) dialog.selectFile(current);
    if (dialog.exec() != QDialog::Accepted) return;
    const std::string name = S(dialog.selectedFiles().value(0));
    if (name.empty()) return;
    if (PathIsFile(name) &&
        messages().Show("The file already exists. Do you want to overwrite it?",
                        kMsgQuestion | kMsgYesNo, "Overwrite File", kAnswerYes) != kAnswerYes) {
      return;
    }
    txtDestinationDumpFilename->setText(Q(name));
  });
}

void MainForm::optDestination_Click(int index) {
  Reported(*program_, "optDestination_Click", [&] {
    if (index == 0) SetDestinationMethod("DIRECT");
    if (index == 1) SetDestinationMethod("DUMP");
    AdvancedOptions().SetDumpDestination(index == 1);
  });
}

void MainForm::chkDropDatabase_Click() {
  Contained(*program_, "chkDropDatabase_Click", [&] {
    if (chkDropDatabase->isChecked() && !program_->options.autorun && !state.settings_loading) {
      messages().Show(
          "Warning: This will drop the destination database if it already exists. All "
          "existing data in the database will be lost.",
          kMsgExclamation, "Warning", kAnswerOk);
    }
  });
}

void MainForm::txtSourceFilename_Change() {
  Reported(*program_, "txtSourceFilename_Change", [&] {
    // Loaded settings bring their own selection and database name right after the file name.
    if (!state.settings_loading) {
      selection_.set_paths(nullptr);
      selection_loaded_ = false;
      const std::string file = S(txtSourceFilename->text());
      if (!database_typed_ && !Trim(file).empty())
        txtPGSQLDestinationDatabase->setText(Q(DatabaseNameOf(file)));
    }
    state.source_changed = true;
    UpdateSecurityFields();
  });
}

void MainForm::txtSourceFilename_Validate() {
  Contained(*program_, "txtSourceFilename_Validate", [&] {
    const QString text = txtSourceFilename->text();
    const QString stripped = Q(StripEnclosingQuotes(S(text)));
    if (stripped != text) txtSourceFilename->setText(stripped);
  });
}

// With a filter, the two buttons act on the tables it shows.
void MainForm::cmdSelectAll_Click() {
  Reported(*program_, "cmdSelectAll_Click", [&] { SetShownChecked(tvSourceTables, true); });
}

void MainForm::cmdSelectNone_Click() {
  Reported(*program_, "cmdSelectNone_Click", [&] { SetShownChecked(tvSourceTables, false); });
}

void MainForm::txtTableFilter_Change() {
  Contained(*program_, "txtTableFilter_Change",
            [&] { FilterTables(tvSourceTables, txtTableFilter->text()); });
}

void MainForm::cmdOpenLogFolder_Click() {
  Contained(*program_, "cmdOpenLogFolder_Click", [&] {
    const std::string log = program_->log.path();
    if (!open_url_(QUrl::fromLocalFile(Q(FolderPart(log))))) {
      messages().Show("Nothing could open the folder. The log file is:\r\n\r\n" + log,
                      kMsgInformation, kProductTitle, kAnswerOk);
    }
  });
}

void MainForm::cmdExpandAll_Click() {
  Reported(*program_, "cmdExpandAll_Click", [&] { SetAllExpanded(tvSourceTables, true); });
}

void MainForm::cmdCollapseAll_Click() {
  Reported(*program_, "cmdCollapseAll_Click", [&] { SetAllExpanded(tvSourceTables, false); });
}

void MainForm::cmdLoadSettings_Click() {
  Reported(*program_, "cmdLoadSettings_Click", [&] { LoadSettings(); });
}

void MainForm::cmdSaveSettings_Click() {
  Reported(*program_, "cmdSaveSettings_Click", [&] { SaveSettingsAs(""); });
}

void MainForm::cmdSaveSettings1_Click() {
  Reported(*program_, "cmdSaveSettings1_Click", [&] { SaveSettingsAs(""); });
}

void MainForm::closeEvent(QCloseEvent* event) {
  // Closing the window while a conversion runs inside it would pull the controls away
  // from under the run: ask to stop the transfer instead.
  if (state.transfer_running) {
    event->ignore();
    cmdCancel_Click();
    return;
  }
  Reported(*program_, "Form_Unload", [&] {
    if (advanced_) advanced_->close();
  });
  SaveWindowSize();
  event->accept();
}

}  // namespace ferrolyte
