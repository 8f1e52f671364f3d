#include "shell/window/run_window.h"

#include <QApplication>
#include <string>
#include <vector>

#include "shell/command_line.h"
#include "shell/startup.h"
#include "shell/window/main_form.h"

namespace ferrolyte {

int RunWizardWindow(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Ferrolyte"));
  MainForm form(IsScreenshotMode(JoinCommandLine(args)));
  return RunProgram(args, &form);
}

}  // namespace ferrolyte
