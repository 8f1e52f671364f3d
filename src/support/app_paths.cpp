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

std::string SettingsFolder() {
  std::string base = SpecialFolder(SpecialFolderId::kConfig).value_or("/tmp");
  return base + "/Quorvane/Ferrolyte";
}

std::string DefaultSettingsFile() {
  return SettingsFolder() + "/wizard.ini";
}

std::string LogFileName() {
  static const std::string name = ExecutableName();
  return SettingsFolder() + "/" + name + ".log";
}

std::string TempFolder() {
  return SpecialFolder(SpecialFolderId::kTemp).value_or("/tmp");
}

}  // namespace ferrolyte
