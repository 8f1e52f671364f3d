// frmAdvancedOptions: the modal dialog with the less common transfer options.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace ferrolyte {

class AdvancedOptionsForm : public QDialog {
  Q_OBJECT

 public:
  // Creates the controls, orders the tab chain by position and fills the two lists with
  // their single entries, none selected yet.
  explicit AdvancedOptionsForm(QWidget* owner);

  QLineEdit* txtTablePrefix;
  QComboBox* cbMemoType;
  QComboBox* cbDateTimeType;
  // "INSERT statements" or "COPY blocks"; each entry's data is the dumpformat value.
  QComboBox* cbDumpFormat;
  // The libpq SSL modes; each entry's data is the destinationsslmode value.
  QComboBox* cbSslMode;
  QLineEdit* txtSslRootCert;
  QPushButton* cmdSslRootCertBrowse;
  // Further libpq parameters as key=value text (destinationparameters).
  QLineEdit* txtConnectionParameters;
  QCheckBox* chkBooleanValue;
  QCheckBox* chkIgnoreLargeBlobs;
  QCheckBox* chkTransferRelationships;
  QCheckBox* chkTransferDescriptions;
  QCheckBox* chkTransferQueries;
  QCheckBox* chkTransferValidation;
  QCheckBox* chkFollowLinks;
  // "Text in the column" or "Tables of their own"; each entry's data is the complexcolumns value.
  QComboBox* cbComplexColumns;
  QPushButton* cmdClose;
};

}  // namespace ferrolyte
