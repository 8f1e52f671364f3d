#include "support/files.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "support/errors.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void RaiseFileError(const std::string& path) {
  throw ErrorFromErrno(errno, path);
}

// Each entry matching the pattern. Only "*" and "?" are wildcards: brackets and backslashes
// are ordinary characters of file names ("job[1].ini" names that one file).
template <class Fn>
bool AnyMatch(const std::string& pattern, Fn&& accept) {
  std::string escaped;
  for (char c : pattern) {
    if (c == '[' || c == ']' || c == '\\') escaped += '\\';
    escaped += c;
  }
  glob_t g{};
  int rc = ::glob(escaped.c_str(), GLOB_NOSORT, nullptr, &g);
  bool found = false;
  if (rc == 0) {
    for (size_t i = 0; i < g.gl_pathc && !found; ++i) {
      struct stat st {};
      if (::stat(g.gl_pathv[i], &st) == 0 && accept(st)) found = true;
    }
  }
  ::globfree(&g);
  return found;
}

std::string SizeText(uint64_t bytes) {
  constexpr uint64_t kMegabyte = 1024 * 1024;
  if (bytes % kMegabyte == 0) return std::to_string(bytes / kMegabyte) + " MB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace

Error ErrorFromErrno(int errno_value, const std::string& path, FileUse use, bool with_reason) {
  const std::string reason =
      with_reason ? std::string(" (") + std::strerror(errno_value) + ")" : std::string();
  switch (errno_value) {
    case ENOENT:
      // A file being made is missing only when its folder is.
      if (use == FileUse::kCreate)
        return Error(errc::kPathNotFound, "Path not found: " + path + reason);
      return Error(errc::kFileNotFound, "File not found: " + path + reason);
    case ENOTDIR:
      return Error(errc::kPathNotFound, "Path not found: " + path + reason);
    case EACCES:
    case EPERM:
    case EROFS:
      return Error(errc::kFileAccess, "Path/File access error: " + path + reason);
    case ENOSPC:
      return Error(errc::kDiskFull, "Disk full: " + path + reason);
    case EMFILE:
    case ENFILE:
      return Error(errc::kTooManyFiles, "Too many files: " + path + reason);
    default:
      return Error(errc::kFileAccess,
                   "Path/File access error: " + path + " (" + std::strerror(errno_value) + ")");
  }
}

std::vector<uint8_t> ReadFile(const std::string& path, uint64_t max_bytes) {
  if (path.empty())
    throw Error(errc::kInvalidCall,
                "Function ReadFile does not accept an empty file name as parameter.");
  // Opened without waiting, so that a pipe cannot block before it is refused below.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == EMFILE || errno == ENFILE)
      throw Error(errc::kTooManyFiles, "Function ReadFile was not able to get a free file handle.");
    RaiseFileError(path);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) RaiseFileError(path);
  // A device or a pipe has no end to read to, and a folder no content.
  if (!S_ISREG(st.st_mode))
    throw Error(errc::kFileAccess, "Path/File access error: " + path + " is not a regular file");
  const auto too_large = [&] {
    return Error(errc::kFileAccess,
                 "Path/File access error: " + path + " is larger than " + SizeText(max_bytes));
  };
  if (static_cast<uint64_t>(st.st_size) > max_bytes) throw too_large();
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(st.st_size));
  uint8_t buf[65536];
  while (true) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseFileError(path);
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buf, buf + n);
    // The file may grow while it is read.
    if (bytes.size() > max_bytes) throw too_large();
  }
  return bytes;
}

namespace {

// Writes every byte, through short writes and interruptions; raises the file error of path.
void WriteAll(int fd, const std::vector<uint8_t>& bytes, const std::string& path) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseFileError(path);
    }
    done += static_cast<size_t>(n);
  }
}

}  // namespace

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  // O_TRUNC replaces the content whole, so no old tail can survive behind the new bytes.
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.get() < 0) RaiseFileError(path);
  WriteAll(fd.get(), bytes, path);
}

std::string ReadTextFile(const std::string& path, const std::string& encoding, uint64_t max_bytes) {
  // The path names one file; ReadFile raises 53 when it is missing.
  std::vector<uint8_t> b = ReadFile(path, max_bytes);
  if (b.empty()) return "";
  std::string name = encoding;
  size_t skip = 0;
  if (encoding.empty() && b.size() >= 2) {
    if (b[0] == 0xFF && b[1] == 0xFE) {
      name = "unicode_le", skip = 2;
    } else if (b[0] == 0xFE && b[1] == 0xFF) {
      name = "unicode_be", skip = 2;
    } else if (b.size() > 2 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
      name = "utf-8", skip = 3;
    }
  }
  std::string_view rest(reinterpret_cast<const char*>(b.data()) + skip, b.size() - skip);
  std::string lowered = AsciiLower(name);
  if (lowered == "unicode_le")
    return Utf16LeToUtf8(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
  if (lowered == "unicode_be") {
    std::vector<uint8_t> swapped(rest.begin(), rest.end());
    for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    return Utf16LeToUtf8(swapped.data(), swapped.size());
  }
  if (lowered == "utf-8") {
    // A given utf-8 keeps a mark as the character U+FEFF, as the stream decoder does.
    return IsValidUtf8(rest) ? std::string(rest) : Windows1252ToUtf8(rest);
  }
  return IsValidUtf8(rest) ? std::string(rest) : Windows1252ToUtf8(rest);
}

void WriteTextFile(const std::string& path, const std::string& text) {
  WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

int OpenPrivateFile(const std::string& path, bool append) {
  const int fd =
      ::open(path.c_str(), (append ? O_APPEND : O_TRUNC) | O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  // An existing file keeps its mode: taken from it before anything is written.
  struct stat st {};
  if (::fstat(fd, &st) != 0 ||
      ((st.st_mode & 077) != 0 && S_ISREG(st.st_mode) && ::fchmod(fd, st.st_mode & 0700) != 0)) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

void WritePrivateTextFile(const std::string& path, const std::string& text) {
  FileDescriptor fd(OpenPrivateFile(path, false));
  if (fd.get() < 0) RaiseFileError(path);
  WriteAll(fd.get(), std::vector<uint8_t>(text.begin(), text.end()), path);
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  return AnyMatch(path, [](const struct stat& st) { return !S_ISDIR(st.st_mode); });
}

bool PathIsFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(const std::string& path, bool search_inside) {
  std::string p = StripTrailingSeparators(path);
  if (p.empty() && !path.empty()) p = "/";
  if (p.empty()) return false;
  if (AnyMatch(p, [](const struct stat& st) { return S_ISDIR(st.st_mode); })) return true;
  if (!search_inside) return false;
  return AnyMatch(p + "/*", [](const struct stat&) { return true; });
}

void MkDirRecurse(const std::string& path) {
  std::string step = "Prepare path.";
  std::string prepared;
  try {
    prepared = StripTrailingSeparators(ReplaceAll(path, "\\", "/"));
    step = "Create path array.";
    bool absolute = !prepared.empty() && prepared[0] == '/';
    std::vector<std::string> prefixes;
    std::string acc = absolute ? "/" : "";
    for (const std::string& part : Split(prepared, "/")) {
      if (part.empty()) continue;
      acc += part + "/";
      prefixes.push_back(acc);
    }
    // The root of an absolute path is never created; it always exists.
    int deepest = -1;
    for (int i = static_cast<int>(prefixes.size()) - 1; i >= 0; --i) {
      step = "Check if '" + prefixes[i] + "' exists.";
      if (FolderExists(prefixes[i], true)) {
        deepest = i;
        break;
      }
    }
    for (size_t i = deepest + 1; i < prefixes.size(); ++i) {
      step = "Create folder '" + prefixes[i] + "'.";
      if (::mkdir(prefixes[i].c_str(), 0755) != 0 && errno != EEXIST) RaiseFileError(prefixes[i]);
    }
  } catch (const Error& e) {
    throw Error(e.number(), e.source(),
                "Error in function call MkDirRecurse(\"" + prepared + "\"). " + step + " " +
                    std::to_string(e.number()) + ": " + e.description());
  }
}

void CreatePrivateFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FileDescriptor fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() < 0) {
    if (errno == EEXIST)
      throw Error(errc::kFileAccess, "Path/File access error: " + path + " exists already");
    RaiseFileError(path);
  }
  WriteAll(fd.get(), bytes, path);
}

namespace {

// The private folders that still exist, each with the process that made it, removed at exit
// when their owner never ran its destructor. A forked child's exit leaves its parent's alone.
class LiveFolders {
 public:
  static LiveFolders& Get() {
    static LiveFolders live;
    return live;
  }
  void Add(const std::string& path) {
    std::lock_guard lock(mutex_);
    paths_[path] = ::getpid();
  }
  void Remove(const std::string& path) {
    std::lock_guard lock(mutex_);
    paths_.erase(path);
  }
  ~LiveFolders() {
    std::error_code ignored;
    for (const auto& [path, maker] : paths_)
      if (maker == ::getpid()) std::filesystem::remove_all(path, ignored);
  }

 private:
  std::mutex mutex_;
  std::map<std::string, pid_t> paths_;
};

}  // namespace

PrivateFolder::PrivateFolder(const std::string& parent) {
  LiveFolders& live = LiveFolders::Get();
  std::string name = StripTrailingSeparators(parent) + "/ferrolyte-XXXXXX";
  if (!::mkdtemp(name.data())) RaiseFileError(name);
  path_ = name;
  live.Add(path_);
}

PrivateFolder::~PrivateFolder() {
  // remove_all deletes symbolic links inside, never what they point to.
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  LiveFolders::Get().Remove(path_);
}

std::string FolderPart(const std::string& path) {
  size_t p = path.rfind('/');
  return p == std::string::npos ? "" : path.substr(0, p + 1);
}

std::string FileNamePart(const std::string& path) {
  size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string StripTrailingSeparators(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  return path.substr(0, end);
}

std::string CollapseSeparators(const std::string& path) {
  if (path.empty()) return path;
  std::string rest = path.substr(1);
  while (rest.find("//") != std::string::npos) rest = ReplaceAll(rest, "//", "/");
  return path.substr(0, 1) + rest;
}

}  // namespace ferrolyte
