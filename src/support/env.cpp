#include "support/env.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "support/files.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

template <class Call>
int Retried(Call&& call) {
  while (call() != 0)
    if (errno != EINTR) return errno;
  return 0;
}

class PosixEnv final : public Env {
 public:
  int Open(const std::string& path, int flags, mode_t mode, int& fd) override {
    fd = -1;
    return Retried([&] { return (fd = ::open(path.c_str(), flags, mode)) < 0 ? -1 : 0; });
  }
  int Write(int fd, const void* data, size_t size, size_t& written) override {
    written = 0;
    return Retried([&] {
      const ssize_t n = ::write(fd, data, size);
      if (n >= 0) written = static_cast<size_t>(n);
      return n < 0 ? -1 : 0;
    });
  }
  int ReadAt(int fd, uint64_t offset, void* data, size_t size, size_t& got) override {
    got = 0;
    return Retried([&] {
      const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
      if (n >= 0) got = static_cast<size_t>(n);
      return n < 0 ? -1 : 0;
    });
  }
  int Sync(int fd) override {
    return Retried([&] { return ::fsync(fd); });
  }
  int Close(int fd) override {
    // Retrying a close after EINTR could close a descriptor another thread has just got.
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
  }
  int Rename(const std::string& from, const std::string& to) override {
    return Retried([&] { return ::rename(from.c_str(), to.c_str()); });
  }
  int Remove(const std::string& path) override {
    return Retried([&] { return ::unlink(path.c_str()); });
  }
  int Stat(const std::string& path, struct stat& st) override {
    return Retried([&] { return ::stat(path.c_str(), &st); });
  }
  int FileStat(int fd, struct stat& st) override {
    return Retried([&] { return ::fstat(fd, &st); });
  }
  std::optional<std::string> Variable(const std::string& name) const override {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
  }

 protected:
  std::optional<std::string> Home() const override {
    if (auto home = Variable("HOME"); home && !home->empty()) return home;
    if (const passwd* pw = ::getpwuid(::getuid())) return std::string(pw->pw_dir);
    return std::nullopt;
  }
};

// The whole (small) file, read through the env; empty when it cannot be read.
std::string SmallFile(Env& env, const std::string& path) {
  int fd = -1;
  if (env.Open(path, O_RDONLY | O_CLOEXEC, 0, fd) != 0) return "";
  std::string text;
  char buffer[4096];
  size_t got = 0;
  while (text.size() < (1u << 20) && env.ReadAt(fd, text.size(), buffer, sizeof buffer, got) == 0 &&
         got > 0)
    text.append(buffer, got);
  env.Close(fd);
  return text;
}

// XDG_DOCUMENTS_DIR from user-dirs.dirs, with $HOME expanded.
std::optional<std::string> XdgDocumentsFolder(Env& env, const std::string& config,
                                              const std::string& home) {
  for (std::string line : Split(SmallFile(env, config + "/user-dirs.dirs"), "\n")) {
    line = Trim(line);
    const std::string key = "XDG_DOCUMENTS_DIR=";
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    value = ReplaceAll(value, "$HOME", home);
    // A documents folder equal to home means "not set" in the XDG convention.
    if (value.empty() || StripTrailingSeparators(value) == StripTrailingSeparators(home))
      return std::nullopt;
    return StripTrailingSeparators(value);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> Env::Folder(UserFolder id) {
  auto set = [&](const char* name) {
    std::optional<std::string> value = Variable(name);
    return value && !value->empty() ? value : std::nullopt;
  };
  const std::optional<std::string> home = Home();
  auto under_home = [&](const char* rest) -> std::optional<std::string> {
    if (!home || home->empty()) return std::nullopt;
    return StripTrailingSeparators(*home) + rest;
  };
  switch (id) {
    case UserFolder::kHome:
      return under_home("");
    case UserFolder::kConfig:
      if (auto v = set("APPDATA")) return StripTrailingSeparators(*v);
      if (auto v = set("XDG_CONFIG_HOME")) return StripTrailingSeparators(*v);
      return under_home("/.config");
    case UserFolder::kData:
      if (auto v = set("XDG_DATA_HOME")) return StripTrailingSeparators(*v);
      return under_home("/.local/share");
    case UserFolder::kCache:
      if (auto v = set("XDG_CACHE_HOME")) return StripTrailingSeparators(*v);
      return under_home("/.cache");
    case UserFolder::kDocuments: {
      const std::string home_text = home.value_or("");
      const std::string config = set("XDG_CONFIG_HOME").value_or(home_text + "/.config");
      if (auto documents = XdgDocumentsFolder(*this, config, home_text)) return documents;
      return under_home("");
    }
    case UserFolder::kTemp:
      for (const char* name : {"TEMP", "TMPDIR"})
        if (auto v = set(name)) return StripTrailingSeparators(*v);
      return std::string("/tmp");
  }
  return std::nullopt;
}

Env& SystemEnv() {
  static PosixEnv env;
  return env;
}

}  // namespace ferrolyte
