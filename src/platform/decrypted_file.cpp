#include "platform/decrypted_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <list>
#include <unordered_map>
#include <vector>

#include "platform/ado.h"
#include "platform/office_crypto.h"
#include "support/env.h"
#include "support/errors.h"

namespace ferrolyte {
namespace {

// fseek's arithmetic over a stream of size bytes.
int SeekTo(uint64_t& position, uint64_t size, off64_t* offset, int whence) {
  int64_t base = 0;
  if (whence == SEEK_CUR) {
    base = static_cast<int64_t>(position);
  } else if (whence == SEEK_END) {
    base = static_cast<int64_t>(size);
  } else if (whence != SEEK_SET) {
    errno = EINVAL;
    return -1;
  }
  int64_t target = 0;
  if (__builtin_add_overflow(base, *offset, &target) || target < 0) {
    errno = EINVAL;
    return -1;
  }
  position = static_cast<uint64_t>(target);
  *offset = target;
  return 0;
}

class DecryptedStream {
 public:
  DecryptedStream(std::span<const uint8_t> page0, uint64_t size, FileReader read,
                  std::string_view password, PasswordErrorStyle style, std::string_view file_name)
      : decryptor_(page0, password, style, file_name),
        page0_(page0.begin(), page0.end()),
        size_(size),
        read_(std::move(read)) {
    page0_.resize(static_cast<size_t>(std::min<uint64_t>(size, kAccdbPageSize)));
    ClearEncodingKey(page0_);
  }

  ssize_t Read(char* out, size_t n) {
    if (position_ >= size_) return 0;
    n = static_cast<size_t>(
        std::min<uint64_t>({n, size_ - position_, uint64_t{std::numeric_limits<ssize_t>::max()}}));
    size_t done = 0;
    while (done < n) {
      std::span<const uint8_t> page = Page(position_ / kAccdbPageSize);
      // The bytes already copied are dropped: a page that cannot be read is no short page.
      if (page.empty()) return -1;
      const size_t within = static_cast<size_t>(position_ % kAccdbPageSize);
      const size_t take = std::min(n - done, page.size() - within);
      std::memcpy(out + done, page.data() + within, take);
      done += take;
      position_ += take;
    }
    return static_cast<ssize_t>(done);
  }

  // Lives as long as the stream: its close callback deletes this.
  char* stdio_buffer() { return stdio_buffer_.data(); }

  int Seek(off64_t* offset, int whence) { return SeekTo(position_, size_, offset, whence); }

 private:
  struct Cached {
    uint64_t number = 0;
    Bytes bytes;
  };

  // The plain bytes of a page; empty, with errno set, when it cannot be read.
  std::span<const uint8_t> Page(uint64_t number) {
    if (number == 0) return page0_;
    if (auto found = index_.find(number); found != index_.end()) {
      lru_.splice(lru_.begin(), lru_, found->second);
      return lru_.front().bytes;
    }
    if (number > std::numeric_limits<uint32_t>::max()) {
      errno = EFBIG;
      return {};
    }
    // The least recently used page gives its buffer to the new one.
    if (lru_.size() >= kDecryptedPagesKept) {
      index_.erase(lru_.back().number);
      lru_.splice(lru_.begin(), lru_, std::prev(lru_.end()));
    } else {
      lru_.emplace_front();
    }
    Cached& slot = lru_.front();
    const uint64_t offset = number * kAccdbPageSize;
    slot.bytes.resize(static_cast<size_t>(std::min<uint64_t>(kAccdbPageSize, size_ - offset)));
    try {
      errno = 0;
      if (!read_(offset, slot.bytes)) {
        const int error = errno != 0 ? errno : EIO;
        lru_.pop_front();
        errno = error;
        return {};
      }
      decryptor_.DecryptPage(slot.bytes, static_cast<uint32_t>(number));
    } catch (...) {
      lru_.pop_front();
      throw;
    }
    slot.number = number;
    index_[number] = lru_.begin();
    return slot.bytes;
  }

  OfficePageDecryptor decryptor_;
  Bytes page0_;
  uint64_t size_;
  FileReader read_;
  uint64_t position_ = 0;
  std::list<Cached> lru_;  // most recently used first
  std::unordered_map<uint64_t, std::list<Cached>::iterator> index_;
  std::vector<char> stdio_buffer_ = std::vector<char>(kAccdbPageSize);
};

// stdio calls these from C: nothing may be thrown through it.
ssize_t StreamRead(void* cookie, char* out, size_t n) {
  try {
    return static_cast<DecryptedStream*>(cookie)->Read(out, n);
  } catch (...) {
    errno = EIO;
    return -1;
  }
}

int StreamSeek(void* cookie, off64_t* offset, int whence) {
  return static_cast<DecryptedStream*>(cookie)->Seek(offset, whence);
}

int StreamClose(void* cookie) {
  delete static_cast<DecryptedStream*>(cookie);
  return 0;
}

// A file opened read-only through the env, closed through it when its last reader goes.
class EnvFile {
 public:
  EnvFile(Env& env, int fd) : env_(env), fd_(fd) {}
  ~EnvFile() { env_.Close(fd_); }
  EnvFile(const EnvFile&) = delete;
  EnvFile& operator=(const EnvFile&) = delete;
  // One read at offset; the errno of a failure, 0 with got 0 at the end.
  int ReadAt(uint64_t offset, void* into, size_t size, size_t& got) const {
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return EFBIG;
    return env_.ReadAt(fd_, offset, into, size, got);
  }

 private:
  Env& env_;
  int fd_;
};

bool ReadFully(const EnvFile& file, uint64_t offset, std::span<uint8_t> into) {
  size_t done = 0;
  while (done < into.size()) {
    size_t got = 0;
    if (int err = file.ReadAt(offset + done, into.data() + done, into.size() - done, got)) {
      errno = err;
      return false;
    }
    if (got == 0) {
      // The file is shorter than when it was opened.
      errno = EIO;
      return false;
    }
    done += got;
  }
  return true;
}

// A plain file as libmdb reads it, with every read going through the env.
class PlainStream {
 public:
  PlainStream(std::shared_ptr<const EnvFile> file, uint64_t size,
              std::shared_ptr<SourceReadFailure> failure)
      : file_(std::move(file)), size_(size), failure_(std::move(failure)) {}

  ssize_t Read(char* out, size_t n) {
    if (position_ >= size_) return 0;
    n = static_cast<size_t>(
        std::min<uint64_t>({n, size_ - position_, uint64_t{std::numeric_limits<ssize_t>::max()}}));
    size_t got = 0;
    if (int err = file_->ReadAt(position_, out, n, got)) {
      if (failure_) failure_->Record(err);
      errno = err;
      return -1;
    }
    position_ += got;
    return static_cast<ssize_t>(got);
  }
  int Seek(off64_t* offset, int whence) { return SeekTo(position_, size_, offset, whence); }
  char* stdio_buffer() { return stdio_buffer_.data(); }

 private:
  std::shared_ptr<const EnvFile> file_;
  uint64_t size_;
  std::shared_ptr<SourceReadFailure> failure_;
  uint64_t position_ = 0;
  std::vector<char> stdio_buffer_ = std::vector<char>(kAccdbPageSize);
};

ssize_t PlainRead(void* cookie, char* out, size_t n) {
  return static_cast<PlainStream*>(cookie)->Read(out, n);
}

int PlainSeek(void* cookie, off64_t* offset, int whence) {
  return static_cast<PlainStream*>(cookie)->Seek(offset, whence);
}

int PlainClose(void* cookie) {
  delete static_cast<PlainStream*>(cookie);
  return 0;
}

// Opens the regular file at path through env; null, with errno set, when it cannot.
std::shared_ptr<const EnvFile> OpenRegularFile(Env& env, const std::string& path, uint64_t& size) {
  int fd = -1;
  if (int err = env.Open(path, O_RDONLY | O_CLOEXEC, 0, fd)) {
    errno = err;
    return nullptr;
  }
  auto file = std::make_shared<const EnvFile>(env, fd);
  struct stat st {};
  if (int err = env.FileStat(fd, st)) {
    errno = err;
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return nullptr;
  }
  size = static_cast<uint64_t>(st.st_size);
  return file;
}

}  // namespace

void StreamCloser::operator()(std::FILE* stream) const {
  if (stream) std::fclose(stream);
}

StreamPtr OpenDecryptedStream(std::span<const uint8_t> page0, uint64_t size, FileReader read,
                              std::string_view password, PasswordErrorStyle style,
                              std::string_view file_name) {
  auto state =
      std::make_unique<DecryptedStream>(page0, size, std::move(read), password, style, file_name);
  std::FILE* raw = fopencookie(state.get(), "r", {StreamRead, nullptr, StreamSeek, StreamClose});
  if (!raw) throw Error(kAdoGenericError, "Microsoft JET Database Engine", "Out of memory.");
  // From here the stream owns the state: closing it deletes the state.
  DecryptedStream* cookie = state.release();
  StreamPtr stream(raw);
  // libmdb reads whole pages at their offsets. Unbuffered, stdio would ask for them byte by
  // byte; with its own larger buffer it would decrypt pages nobody asked for.
  std::setvbuf(raw, cookie->stdio_buffer(), _IOFBF, kAccdbPageSize);
  return stream;
}

StreamPtr OpenDecryptedFile(Env& env, const std::string& path, std::string_view password,
                            PasswordErrorStyle style, std::shared_ptr<SourceReadFailure> failure) {
  uint64_t size = 0;
  std::shared_ptr<const EnvFile> file = OpenRegularFile(env, path, size);
  if (!file) RaiseFileNotFound(style, path);
  FileReader read = [file, failure](uint64_t offset, std::span<uint8_t> into) {
    if (ReadFully(*file, offset, into)) return true;
    if (failure) failure->Record(errno);
    return false;
  };
  Bytes page0(static_cast<size_t>(std::min<uint64_t>(size, kAccdbPageSize)));
  if (!read(0, page0)) RaiseFileNotFound(style, path);
  return OpenDecryptedStream(page0, size, std::move(read), password, style, path);
}

StreamPtr OpenFileStream(Env& env, const std::string& path,
                         std::shared_ptr<SourceReadFailure> failure) {
  uint64_t size = 0;
  std::shared_ptr<const EnvFile> file = OpenRegularFile(env, path, size);
  if (!file) return nullptr;
  auto state = std::make_unique<PlainStream>(std::move(file), size, std::move(failure));
  std::FILE* raw = fopencookie(state.get(), "r", {PlainRead, nullptr, PlainSeek, PlainClose});
  if (!raw) return nullptr;
  PlainStream* cookie = state.release();
  StreamPtr stream(raw);
  // As for the decrypted stream: one read per page libmdb asks for.
  std::setvbuf(raw, cookie->stdio_buffer(), _IOFBF, kAccdbPageSize);
  return stream;
}

}  // namespace ferrolyte
