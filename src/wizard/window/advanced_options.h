// frmAdvancedOptions: the modal dialog with the less common transfer options.
#pragma once

#include <QDialog>
#include <QString>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ferrolyte {

class AdvancedOptionsForm : public QDialog {
  Q_OBJECT

 public:
  // Creates the controls, orders the tab chain by position and fills the two lists with
  // their single entries, none selected yet.
  explicit AdvancedOptionsForm(QWidget* owner);
  // The dump format applies to a dump only, the connection settings to a direct transfer
  // only: each is disabled, with a tool tip saying why, for the other.
  void SetDumpDestination(bool dump);

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
  // "As in Access", "lower case" or "snake_case"; each entry's data is the identifiercase value.
  QComboBox* cbIdentifierCase;
  QPushButton* cmdClose;

 private:
  QLabel* lblDumpFormat_;
  // The connection settings and their tool tips for a direct transfer.
  std::vector<std::pair<QWidget*, QString>> server_only_;
};

}  // namespace ferrolyte
