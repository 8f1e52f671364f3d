// What the core asks of the system: the file calls a dump and a source read make, the
// environment variables and the user's folders. Handed in (RunContext, the settings calls),
// never taken from a global, so that a test can give its own variables and fail any call.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace ferrolyte {

enum class UserFolder { kHome, kConfig, kData, kCache, kDocuments, kTemp };

// Every file call returns 0 or the errno of its failure; EINTR is retried inside.
class Env {
 public:
  virtual ~Env() = default;

  // open(2): the descriptor in fd.
  virtual int Open(const std::string& path, int flags, mode_t mode, int& fd) = 0;
  // One write(2); the bytes taken in written (may be fewer than size).
  virtual int Write(int fd, const void* data, size_t size, size_t& written) = 0;
  // One pread(2) at offset; 0 bytes in got at the end of the file.
  virtual int ReadAt(int fd, uint64_t offset, void* data, size_t size, size_t& got) = 0;
  virtual int Sync(int fd) = 0;
  // The descriptor is gone afterwards even when the close reports an error.
  virtual int Close(int fd) = 0;
  virtual int Rename(const std::string& from, const std::string& to) = 0;
  virtual int Remove(const std::string& path) = 0;
  // stat(2), following links.
  virtual int Stat(const std::string& path, struct stat& st) = 0;
  virtual int FileStat(int fd, struct stat& st) = 0;

  // The variable's value; nothing when it is not set.
  virtual std::optional<std::string> Variable(const std::string& name) const = 0;
  // The path of the folder without a trailing "/", nothing when it cannot be told. Config:
  // APPDATA, else XDG_CONFIG_HOME, else ~/.config; data and cache: XDG_DATA_HOME and
  // XDG_CACHE_HOME, else ~/.local/share and ~/.cache; documents: XDG_DOCUMENTS_DIR of
  // user-dirs.dirs, else home; temp: TEMP, else TMPDIR, else /tmp.
  virtual std::optional<std::string> Folder(UserFolder id);

 protected:
  // HOME, else the account's home folder.
  virtual std::optional<std::string> Home() const = 0;
};

// The system itself. Only the program's entry points pick it.
Env& SystemEnv();

}  // namespace ferrolyte
