#include "testing/temp_dir.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace ferrolyte::testing {
namespace {

// With FERROLYTE_COLLECT_DUMPS naming a folder, every finished dump a test leaves in its
// folder is kept there: the suite's last step loads each of them (tests/dumps).
void KeepDumps(const std::string& folder) {
  const char* keep = std::getenv("FERROLYTE_COLLECT_DUMPS");
  if (!keep || !*keep) return;
  static std::atomic<int> kept{0};
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    // Left unfinished (".incomplete", ".incomplete.XXXXXX"): no dump to load.
    if (!it->is_regular_file(ec) ||
        it->path().filename().string().find(".incomplete") != std::string::npos)
      continue;
    std::ifstream in(it->path(), std::ios::binary);
    std::string head(64, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    if (head.find("-- DUMP FILE") == std::string::npos) continue;
    const std::string name = std::to_string(::getpid()) + "-" + std::to_string(kept++) + "-" +
                             it->path().filename().string();
    std::filesystem::copy_file(it->path(), std::filesystem::path(keep) / name, ec);
  }
}

}  // namespace

TempDir::TempDir() {
  std::string base = std::filesystem::temp_directory_path().string() + "/ferrolyte-test-XXXXXX";
  if (!::mkdtemp(base.data())) throw std::runtime_error("mkdtemp failed");
  path_ = base;
}

TempDir::~TempDir() {
  KeepDumps(path_);
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  const char* old = std::getenv(name);
  had_old_ = old != nullptr;
  if (old) old_ = old;
  if (value)
    ::setenv(name, value, 1);
  else
    ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (had_old_)
    ::setenv(name_.c_str(), old_.c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

}  // namespace ferrolyte::testing
