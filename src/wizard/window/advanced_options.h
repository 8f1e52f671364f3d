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
  // The labels in front of the inputs, top to bottom.
  struct Labels {
    QLabel* table_prefix;
    QLabel* memo_type;
    QLabel* date_time_type;
    QLabel* dump_format;
    QLabel* complex_columns;
    QLabel* identifier_case;
    QLabel* ssl_mode;
    QLabel* ssl_root_cert;
    QLabel* connection_parameters;
  };
  // Makes every control with its object name, each label the buddy of its input.
  Labels CreateControls();
  // Places the controls in rows, the inputs right of the widest label, and sizes the dialog.
  void Arrange(const Labels& labels);
  // The entries of the lists, the type lists' single ones not selected.
  void FillLists();
  // What each option does, or that a PostgreSQL run ignores it (then also disabled).
  void SetToolTips(const Labels& labels);

  QLabel* lblDumpFormat_;
  // The connection settings and their tool tips for a direct transfer.
  std::vector<std::pair<QWidget*, QString>> server_only_;
};

}  // namespace ferrolyte
