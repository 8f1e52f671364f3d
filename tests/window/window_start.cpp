#include "window_start.h"

#include <sys/stat.h>

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <cstdlib>
#include <filesystem>

#include "platform/register.h"
#include "shell/window/main_form.h"
#include "support/files.h"
#include "wizard/settings.h"

namespace ferrolyte {

namespace {

const ComponentRegistry& Components() {
  static const ComponentRegistry components = PlatformComponents();
  return components;
}

}  // namespace

WindowProgram::WindowProgram()
    : Program(Components(), [](int status) { throw ProgramEnded{status}; }) {}

void StartWindow(MainForm& form, Program& program) {
  // Start-up's new log file leaves the settings folder in place for every later entry.
  MkDirRecurse(SettingsFolder(SystemEnv()));
  program.messages = Messages(&form.Presenter(), program.options.hide);
  form.Attach(program);
  form.PrepareControls();
  form.InitForm();
  form.RemovePictureTabStops();
  form.LayoutPageFrames();
  form.SetTabOrder();
  form.ApplySettings(DefaultSettings(SystemEnv()));
  form.ScaleDialog();
  form.UpdateSecurityFields();
  form.Navigate("NEXT");
}

void UseScratchUserFolders() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "ferrolyte-window-XXXXXX").string();
  const char* root = mkdtemp(pattern.data());
  if (!root) std::abort();
  const std::string base = root;
  for (const char* sub : {"/config", "/runtime", "/appdata"}) {
    std::filesystem::create_directories(base + sub);
  }
  chmod((base + "/runtime").c_str(), 0700);
  setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (base + "/runtime").c_str(), 1);
  setenv("APPDATA", (base + "/appdata").c_str(), 1);
}

void ChooseFile(QWidget* modal, const QString& path) {
  auto* dialog = qobject_cast<QFileDialog*>(modal);
  if (!dialog) return;
  const QFileInfo info(path);
  dialog->setDirectory(info.absolutePath());
  dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(info.fileName());
  auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
  buttons
      ->button(dialog->acceptMode() == QFileDialog::AcceptSave ? QDialogButtonBox::Save
                                                               : QDialogButtonBox::Open)
      ->click();
}

}  // namespace ferrolyte
