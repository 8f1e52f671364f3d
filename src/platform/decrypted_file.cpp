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
#include "support/errors.h"

namespace ferrolyte {
namespace {

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

  int Seek(off64_t* offset, int whence) {
    int64_t base = 0;
    if (whence == SEEK_CUR) {
      base = static_cast<int64_t>(position_);
    } else if (whence == SEEK_END) {
      base = static_cast<int64_t>(size_);
    } else if (whence != SEEK_SET) {
      errno = EINVAL;
      return -1;
    }
    int64_t target = 0;
    if (__builtin_add_overflow(base, *offset, &target) || target < 0) {
      errno = EINVAL;
      return -1;
    }
    position_ = static_cast<uint64_t>(target);
    *offset = target;
    return 0;
  }

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

bool ReadFully(int fd, uint64_t offset, std::span<uint8_t> into) {
  size_t done = 0;
  while (done < into.size()) {
    const uint64_t at = offset + done;
    if (at > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
      errno = EFBIG;
      return false;
    }
    const ssize_t n = ::pread(fd, into.data() + done, into.size() - done, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      // The file is shorter than when it was opened.
      errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
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

StreamPtr OpenDecryptedFile(const std::string& path, std::string_view password,
                            PasswordErrorStyle style) {
  auto fd = std::make_shared<const FileDescriptor>(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd->get() < 0 || ::fstat(fd->get(), &st) != 0 || !S_ISREG(st.st_mode))
    RaiseFileNotFound(style, path);
  const auto size = static_cast<uint64_t>(st.st_size);
  FileReader read = [fd](uint64_t offset, std::span<uint8_t> into) {
    return ReadFully(fd->get(), offset, into);
  };
  Bytes page0(static_cast<size_t>(std::min<uint64_t>(size, kAccdbPageSize)));
  if (!read(0, page0)) RaiseFileNotFound(style, path);
  return OpenDecryptedStream(page0, size, std::move(read), password, style, path);
}

}  // namespace ferrolyte
