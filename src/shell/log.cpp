#include "shell/log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "support/errors.h"
#include "support/files.h"

namespace ferrolyte {

void LogFile::Init() {
  MkDirRecurse(FolderPart(path_));
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path_, ec);
  if (ec || size <= kRotateBytes) return;
  if (std::rename(path_.c_str(), (path_ + ".1").c_str()) != 0)
    throw Error(errc::kFileAccess,
                "Path/File access error: " + path_ + " (" + std::strerror(errno) + ")");
}

std::string FormatTimeStamp(const std::tm& time) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", time.tm_year + 1900,
                time.tm_mon + 1, time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec);
  return stamp;
}

std::string FormatLogEntry(const std::tm& time, const std::string& message) {
  static const std::string kBreak = "\r\n" + std::string(19, ' ') + "\t";
  std::string entry = FormatTimeStamp(time) + "\t";
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') {
      entry += kBreak;
      ++i;
    } else if (message[i] == '\n') {
      entry += kBreak;
    } else {
      entry += message[i];
    }
  }
  return entry + "\r\n";
}

void LogFile::Write(const std::string& message) {
  std::lock_guard lock(mutex_);
  const std::string entry = FormatLogEntry(clock_.LocalTime(), message);
  const bool truncate = clear_first_ && first_write_;
  if (truncate) MkDirRecurse(FolderPart(path_));
  // Status lines name files and servers: the log is the user's alone.
  const int fd = OpenPrivateFile(path_, !truncate);
  std::FILE* f = fd < 0 ? nullptr : ::fdopen(fd, truncate ? "wb" : "ab");
  if (fd >= 0 && !f) ::close(fd);
  if (!f) {
    throw ErrorFromErrno(errno, path_, FileUse::kCreate);
  }
  bool ok = std::fwrite(entry.data(), 1, entry.size(), f) == entry.size();
  ok = std::fclose(f) == 0 && ok;
  first_write_ = false;
  if (!ok) throw Error(errc::kFileAccess, "Path/File access error: " + path_);
}

}  // namespace ferrolyte
