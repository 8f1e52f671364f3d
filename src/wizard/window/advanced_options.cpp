#include "wizard/window/advanced_options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

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

  auto* lblTablePrefix = Named(new QLabel(QStringLiteral("Table Prefix:"), this), "lblTablePrefix");
  auto* lblMemoType =
      Named(new QLabel(QStringLiteral("Create MEMO fields as:"), this), "lblMemoType");
  auto* lblDateTimeType =
      Named(new QLabel(QStringLiteral("Create DateTime fields as:"), this), "lblDateTimeType");
  auto* lblDumpFormat =
      Named(new QLabel(QStringLiteral("Rows in the dump file as:"), this), "lblDumpFormat");
  auto* lblComplexColumns =
      Named(new QLabel(QStringLiteral("Attachments and multi-value fields as:"), this),
            "lblComplexColumns");
  txtTablePrefix = Named(new QLineEdit(this), "txtTablePrefix");
  txtTablePrefix->setToolTip(
      QStringLiteral("You can prefix table names in the destination database with this value."));
  cbMemoType = Named(new QComboBox(this), "cbMemoType");
  cbDateTimeType = Named(new QComboBox(this), "cbDateTimeType");
  cbDumpFormat = Named(new QComboBox(this), "cbDumpFormat");
  cbComplexColumns = Named(new QComboBox(this), "cbComplexColumns");
  chkBooleanValue =
      Named(new QCheckBox(QStringLiteral("Transfer booleans as 0/-1 instead of 0/1"), this),
            "chkBooleanValue");
  chkIgnoreLargeBlobs =
      Named(new QCheckBox(QStringLiteral("Ignore BLOBs that are too large"), this),
            "chkIgnoreLargeBlobs");
  chkTransferRelationships =
      Named(new QCheckBox(QStringLiteral("Transfer relationships as foreign keys"), this),
            "chkTransferRelationships");
  chkTransferDescriptions =
      Named(new QCheckBox(QStringLiteral("Transfer descriptions as comments"), this),
            "chkTransferDescriptions");
  chkTransferQueries = Named(new QCheckBox(QStringLiteral("Transfer saved queries as views"), this),
                             "chkTransferQueries");
  chkTransferValidation =
      Named(new QCheckBox(QStringLiteral("Transfer validation rules as checks"), this),
            "chkTransferValidation");
  chkFollowLinks = Named(
      new QCheckBox(QStringLiteral("Convert linked tables from their Access back-ends"), this),
      "chkFollowLinks");
  cmdClose = Named(new QPushButton(QStringLiteral("Close"), this), "cmdClose");
  lblTablePrefix->setBuddy(txtTablePrefix);
  lblMemoType->setBuddy(cbMemoType);
  lblDateTimeType->setBuddy(cbDateTimeType);
  lblDumpFormat->setBuddy(cbDumpFormat);
  lblComplexColumns->setBuddy(cbComplexColumns);

  // The labels are measured in this platform's font: when the widest does not fit in
  // front of the design edge, the inputs move right instead of the label being cut.
  int label_width = 0;
  for (QLabel* label :
       {lblTablePrefix, lblMemoType, lblDateTimeType, lblDumpFormat, lblComplexColumns}) {
    label_width = std::max(label_width, ToTwips(label->sizeHint().width()));
  }
  const int input_left = std::max(kInputLeft, kLabelLeft + label_width + 120);
  const int input_width = 2400;
  const int width = input_left + input_width + 240;

  const int rows[] = {240, 660, 1080, 1500, 1920};
  QLabel* labels[] = {lblTablePrefix, lblMemoType, lblDateTimeType, lblDumpFormat,
                      lblComplexColumns};
  QWidget* inputs[] = {txtTablePrefix, cbMemoType, cbDateTimeType, cbDumpFormat, cbComplexColumns};
  for (int i = 0; i < 5; ++i) {
    PlaceTwips(labels[i], kLabelLeft, rows[i], input_left - kLabelLeft - 60, kRowHeight);
    // The dump format's entries are words, not a type name: they get the full width.
    PlaceTwips(inputs[i], input_left, rows[i], i == 1 || i == 2 ? 1800 : input_width, kRowHeight);
  }
  int check_top = 2400;
  for (QCheckBox* check :
       {chkBooleanValue, chkIgnoreLargeBlobs, chkTransferRelationships, chkTransferDescriptions,
        chkTransferQueries, chkTransferValidation, chkFollowLinks}) {
    PlaceTwips(check, kLabelLeft, check_top, width - 2 * kLabelLeft, 300);
    check_top += 360;
  }
  const int close_top = check_top + 120;
  PlaceTwips(cmdClose, width - 240 - 1215, close_top, 1215, kRowHeight);
  setFixedSize(Tw(width), Tw(close_top + kRowHeight + 240));

  cmdClose->setDefault(true);
  connect(cmdClose, &QPushButton::clicked, this, &QDialog::hide);

  SetTabOrder(this);
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
}

}  // namespace ferrolyte
