#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "shell/cli.h"
#include "shell/startup.h"
#ifdef FERROLYTE_HAVE_WINDOW
#include "shell/window/run_window.h"
#endif

namespace {

#ifdef FERROLYTE_HAVE_WINDOW
// Without a display the window library would abort the process instead of failing.
bool DisplayAvailable() {
  for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(var);
    if (value && *value) return true;
  }
  return false;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  // --help, --version, tables and convert need neither a window nor the settings= grammar.
  if (std::optional<int> status = ferrolyte::RunCommandLineForm(args)) return *status;
#ifdef FERROLYTE_HAVE_WINDOW
  // An unattended run never needs a window, so it works on a server without a display.
  if (!ferrolyte::WantsAutorun(args) && DisplayAvailable())
    return ferrolyte::RunWizardWindow(argc, argv);
#endif
  return ferrolyte::RunProgram(args, nullptr);
}
