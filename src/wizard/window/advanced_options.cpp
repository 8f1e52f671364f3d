#include "wizard/window/advanced_options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "conversion/destination_names.h"
#include "conversion/literals.h"
#include "support/window/form_units.h"
#include "support/window/tab_chain.h"
#include "wizard/settings.h"

namespace ferrolyte {
namespace {

constexpr int kLabelLeft = 240;
// Where the input controls start when the labels fit in front of them.
constexpr int kInputLeft = 2160;
constexpr int kRowHeight = 330;

template <class W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

}  // namespace

AdvancedOptionsForm::AdvancedOptionsForm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("frmAdvancedOptions"));
  setWindowTitle(QStringLiteral("Advanced Options"));
  setModal(true);
  const Labels labels = CreateControls();
  Arrange(labels);
  cmdClose->setDefault(true);
  connect(cmdClose, &QPushButton::clicked, this, &QDialog::hide);
  connect(cmdSslRootCertBrowse, &QPushButton::clicked, this, [this] {
    const QString chosen = QFileDialog::getOpenFileName(
        this, QStringLiteral("Root certificate"), txtSslRootCert->text(),
        QStringLiteral("Certificates (*.crt *.pem *.cer);;All Files (*)"));
    if (!chosen.isEmpty()) txtSslRootCert->setText(chosen);
  });

  SetTabOrder(this);
  FillLists();
  SetToolTips(labels);
  SetDumpDestination(true);
}

AdvancedOptionsForm::Labels AdvancedOptionsForm::CreateControls() {
  Labels l;
  l.table_prefix = Named(new QLabel(QStringLiteral("&Table Prefix:"), this), "lblTablePrefix");
  l.memo_type = Named(new QLabel(QStringLiteral("Create &MEMO fields as:"), this), "lblMemoType");
  l.date_time_type =
      Named(new QLabel(QStringLiteral("Create &DateTime fields as:"), this), "lblDateTimeType");
  l.dump_format =
      Named(new QLabel(QStringLiteral("&Rows in the dump file as:"), this), "lblDumpFormat");
  l.complex_columns =
      Named(new QLabel(QStringLiteral("&Attachments and multi-value fields as:"), this),
            "lblComplexColumns");
  l.identifier_case =
      Named(new QLabel(QStringLiteral("Names in Post&greSQL:"), this), "lblIdentifierCase");
  l.ssl_mode = Named(new QLabel(QStringLiteral("&SSL mode:"), this), "lblSslMode");
  l.ssl_root_cert = Named(new QLabel(QStringLiteral("R&oot certificate:"), this), "lblSslRootCert");
  l.connection_parameters =
      Named(new QLabel(QStringLiteral("Connection &parameters:"), this), "lblConnectionParameters");
  txtTablePrefix = Named(new QLineEdit(this), "txtTablePrefix");
  txtTablePrefix->setToolTip(
      QStringLiteral("You can prefix table names in the destination database with this value."));
  cbMemoType = Named(new QComboBox(this), "cbMemoType");
  cbDateTimeType = Named(new QComboBox(this), "cbDateTimeType");
  cbDumpFormat = Named(new QComboBox(this), "cbDumpFormat");
  cbComplexColumns = Named(new QComboBox(this), "cbComplexColumns");
  cbIdentifierCase = Named(new QComboBox(this), "cbIdentifierCase");
  cbSslMode = Named(new QComboBox(this), "cbSslMode");
  txtSslRootCert = Named(new QLineEdit(this), "txtSslRootCert");
  cmdSslRootCertBrowse =
      Named(new QPushButton(QStringLiteral("..."), this), "cmdSslRootCertBrowse");
  txtConnectionParameters = Named(new QLineEdit(this), "txtConnectionParameters");
  txtConnectionParameters->setPlaceholderText(QStringLiteral("connect_timeout=10"));
  chkBooleanValue =
      Named(new QCheckBox(QStringLiteral("Transfer &booleans as 0/-1 instead of 0/1"), this),
            "chkBooleanValue");
  chkIgnoreLargeBlobs =
      Named(new QCheckBox(QStringLiteral("&Ignore BLOBs that are too large"), this),
            "chkIgnoreLargeBlobs");
  chkTransferRelationships =
      Named(new QCheckBox(QStringLiteral("Transfer relationships as &foreign keys"), this),
            "chkTransferRelationships");
  chkTransferDescriptions =
      Named(new QCheckBox(QStringLiteral("Transfer descriptions as &comments"), this),
            "chkTransferDescriptions");
  chkTransferQueries =
      Named(new QCheckBox(QStringLiteral("Transfer saved &queries as views"), this),
            "chkTransferQueries");
  chkTransferValidation =
      Named(new QCheckBox(QStringLiteral("Transfer &validation rules as checks"), this),
            "chkTransferValidation");
  chkFollowLinks = Named(
      new QCheckBox(QStringLiteral("Convert li&nked tables from their Access back-ends"), this),
      "chkFollowLinks");
  cmdClose = Named(new QPushButton(QStringLiteral("C&lose"), this), "cmdClose");
  l.table_prefix->setBuddy(txtTablePrefix);
  l.memo_type->setBuddy(cbMemoType);
  l.date_time_type->setBuddy(cbDateTimeType);
  l.dump_format->setBuddy(cbDumpFormat);
  l.complex_columns->setBuddy(cbComplexColumns);
  l.identifier_case->setBuddy(cbIdentifierCase);
  l.ssl_mode->setBuddy(cbSslMode);
  l.ssl_root_cert->setBuddy(txtSslRootCert);
  l.connection_parameters->setBuddy(txtConnectionParameters);

  return l;
}

void AdvancedOptionsForm::Arrange(const Labels& l) {
  QLabel* labels[] = {l.table_prefix, l.memo_type,       l.date_time_type,
                      l.dump_format,  l.complex_columns, l.identifier_case,
                      l.ssl_mode,     l.ssl_root_cert,   l.connection_parameters};
  // The labels are measured in this platform's font: when the widest does not fit in
  // front of the design edge, the inputs move right instead of the label being cut.
  int label_width = 0;
  for (QLabel* label : labels) {
    label_width = std::max(label_width, ToTwips(label->sizeHint().width()));
  }
  const int input_left = std::max(kInputLeft, kLabelLeft + label_width + 120);
  const int input_width = 2400;
  const int width = input_left + input_width + 240;

  QWidget* inputs[] = {txtTablePrefix, cbMemoType,       cbDateTimeType,
                       cbDumpFormat,   cbComplexColumns, cbIdentifierCase,
                       cbSslMode,      txtSslRootCert,   txtConnectionParameters};
  constexpr int kRows = 9, kRootCertRow = 7, kBrowseWidth = 450;
  for (int i = 0; i < kRows; ++i) {
    const int top = 240 + 420 * i;
    PlaceTwips(labels[i], kLabelLeft, top, input_left - kLabelLeft - 60, kRowHeight);
    // The two type lists hold short names; the others get the full width, the certificate
    // less its browse button.
    const int w = i == 1 || i == 2    ? 1800
                  : i == kRootCertRow ? input_width - kBrowseWidth - 60
                                      : input_width;
    PlaceTwips(inputs[i], input_left, top, w, kRowHeight);
  }
  PlaceTwips(cmdSslRootCertBrowse, input_left + input_width - kBrowseWidth,
             240 + 420 * kRootCertRow, kBrowseWidth, kRowHeight);
  int check_top = 240 + 420 * kRows + 60;
  for (QCheckBox* check :
       {chkBooleanValue, chkIgnoreLargeBlobs, chkTransferRelationships, chkTransferDescriptions,
        chkTransferQueries, chkTransferValidation, chkFollowLinks}) {
    PlaceTwips(check, kLabelLeft, check_top, width - 2 * kLabelLeft, 300);
    check_top += 360;
  }
  const int close_top = check_top + 120;
  PlaceTwips(cmdClose, width - 240 - 1215, close_top, 1215, kRowHeight);
  setFixedSize(Tw(width), Tw(close_top + kRowHeight + 240));
}

void AdvancedOptionsForm::FillLists() {
  cbMemoType->clear();
  cbDateTimeType->clear();
  cbMemoType->addItem(QStringLiteral("TEXT"));
  cbDateTimeType->addItem(QStringLiteral("TIMESTAMP"));
  cbMemoType->setCurrentIndex(-1);
  cbDateTimeType->setCurrentIndex(-1);
  cbDumpFormat->addItem(QStringLiteral("INSERT statements"),
                        QString::fromLatin1(kDumpFormatInsert));
  cbDumpFormat->addItem(QStringLiteral("COPY blocks"), QString::fromLatin1(kDumpFormatCopy));
  cbComplexColumns->addItem(QStringLiteral("Text in the column"),
                            QString::fromLatin1(kComplexColumnsText));
  cbComplexColumns->addItem(QStringLiteral("Tables of their own"),
                            QString::fromLatin1(kComplexColumnsTables));
  cbIdentifierCase->addItem(QStringLiteral("As in Access"),
                            QString::fromLatin1(IdentifierCaseText(IdentifierCase::kKeep)));
  cbIdentifierCase->addItem(QStringLiteral("lower case"),
                            QString::fromLatin1(IdentifierCaseText(IdentifierCase::kLower)));
  cbIdentifierCase->addItem(QStringLiteral("snake_case"),
                            QString::fromLatin1(IdentifierCaseText(IdentifierCase::kSnake)));
  for (const char* mode : kSslModes)
    cbSslMode->addItem(QString::fromLatin1(mode), QString::fromLatin1(mode));
}

void AdvancedOptionsForm::SetToolTips(const Labels& l) {
  // What the run does with each option, in one line; what it ignores is shown but disabled.
  const QString no_effect = QStringLiteral("No effect for PostgreSQL: ");
  cbMemoType->setToolTip(no_effect + QStringLiteral("Memo fields always become TEXT."));
  cbDateTimeType->setToolTip(no_effect +
                             QStringLiteral("Date/Time fields always become TIMESTAMP."));
  chkBooleanValue->setToolTip(no_effect +
                              QStringLiteral("Yes/No fields always become BOOLEAN true/false."));
  for (QWidget* ignored : std::initializer_list<QWidget*>{l.memo_type, cbMemoType, l.date_time_type,
                                                          cbDateTimeType, chkBooleanValue}) {
    ignored->setEnabled(false);
  }
  l.memo_type->setToolTip(cbMemoType->toolTip());
  l.date_time_type->setToolTip(cbDateTimeType->toolTip());
  chkIgnoreLargeBlobs->setToolTip(
      QStringLiteral("A binary value over %1 bytes is left out (NULL or empty) instead of "
                     "stopping the transfer.")
          .arg(kMaxBlobSize));
  chkTransferRelationships->setToolTip(
      QStringLiteral("Access relationships become FOREIGN KEY constraints after the tables."));
  chkTransferDescriptions->setToolTip(
      QStringLiteral("Table and field descriptions become COMMENT ON statements."));
  cbComplexColumns->setToolTip(
      QStringLiteral("Text: the file names or values in the column; tables: a table of their "
                     "own, every byte kept."));
  l.complex_columns->setToolTip(cbComplexColumns->toolTip());
  cbIdentifierCase->setToolTip(
      QStringLiteral("Table, column, index and key names: as Access spells them, in lower case, "
                     "or in lower case with _ for spaces and signs (no quotes needed); names "
                     "that meet are numbered and listed in the report."));
  l.identifier_case->setToolTip(cbIdentifierCase->toolTip());
  chkTransferQueries->setToolTip(
      QStringLiteral("Saved select and union queries become views, after the tables."));
  chkTransferValidation->setToolTip(
      QStringLiteral("Validation rules become CHECK constraints, added after the data."));
  chkFollowLinks->setToolTip(
      QStringLiteral("Tables linked from other Access files are read from those files."));
  lblDumpFormat_ = l.dump_format;
  const QString tls = QStringLiteral(
      "TLS to the server: require encrypts, verify-ca and verify-full also check "
      "its certificate.");
  const QString root =
      QStringLiteral("The CA certificate verify-ca and verify-full check the server's against.");
  const QString more = QStringLiteral(
      "Further libpq parameters as key=value; a password among them is never saved.");
  server_only_ = {{l.ssl_mode, tls},
                  {cbSslMode, tls},
                  {l.ssl_root_cert, root},
                  {txtSslRootCert, root},
                  {cmdSslRootCertBrowse, QStringLiteral("Choose the root certificate file.")},
                  {l.connection_parameters, more},
                  {txtConnectionParameters, more}};
}

void AdvancedOptionsForm::SetDumpDestination(bool dump) {
  cbDumpFormat->setEnabled(dump);
  lblDumpFormat_->setEnabled(dump);
  const QString tip =
      dump ? QStringLiteral(
                 "INSERT: one statement per row; COPY: one block per table, far "
                 "faster to load.")
           : QStringLiteral(
                 "Only for a dump file: a direct transfer always sends the rows with "
                 "COPY.");
  cbDumpFormat->setToolTip(tip);
  lblDumpFormat_->setToolTip(tip);
  for (const auto& [control, server_tip] : server_only_) {
    control->setEnabled(!dump);
    control->setToolTip(
        dump ? QStringLiteral("Only for a direct transfer: a dump connects to no server.")
             : server_tip);
  }
}

}  // namespace ferrolyte
