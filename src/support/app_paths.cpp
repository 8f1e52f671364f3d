#include "support/app_paths.h"

#include <unistd.h>

#include "support/files.h"

namespace ferrolyte {
namespace {

std::string ExecutableName() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "ferrolyte";
  return FileNamePart(std::string(buffer, static_cast<size_t>(n)));
}

}  // namespace

std::string SettingsFolder(Env& env) {
  return env.Folder(UserFolder::kConfig).value_or("/tmp") + "/Quorvane/Ferrolyte";
}

std::string DefaultSettingsFile(Env& env) {
  return SettingsFolder(env) + "/wizard.ini";
}

std::string LogFileName(Env& env) {
  // The executable does not change while the process runs.
  static const std::string name = ExecutableName();
  return SettingsFolder(env) + "/" + name + ".log";
}

std::string TempFolder(Env& env) {
  return env.Folder(UserFolder::kTemp).value_or("/tmp");
}

}  // namespace ferrolyte
