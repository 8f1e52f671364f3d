// An encrypted .accdb read through a stdio stream that decrypts each page when it is asked
// for and keeps only the last few: libmdb reads it as a plain file, in the memory of a plain
// file, and the plain content never reaches the disk. A plain file can be read through such
// a stream too, so that its reads go through the env.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/crypto_errors.h"

namespace ferrolyte {

class Env;

struct StreamCloser {
  void operator()(std::FILE* stream) const;
};
using StreamPtr = std::unique_ptr<std::FILE, StreamCloser>;

// The errno of the first read of a source file that failed: a stream's error flag keeps no
// reason, and errno is long overwritten when the failure is reported.
class SourceReadFailure {
 public:
  explicit SourceReadFailure(std::string file) : file_(std::move(file)) {}
  const std::string& file() const { return file_; }
  // 0 while no read through the file's streams has failed.
  int first_errno() const { return errno_.load(std::memory_order_relaxed); }
  void Record(int err) {
    int none = 0;
    errno_.compare_exchange_strong(none, err, std::memory_order_relaxed);
  }

 private:
  std::string file_;
  std::atomic<int> errno_{0};
};

// Fills `into` with the file's bytes from `offset`; false, with errno set, when they cannot
// all be read (a read error, or a file that has become shorter).
using FileReader = std::function<bool(uint64_t offset, std::span<uint8_t> into)>;

// Decrypted pages kept for the pages read again and again (usage maps, definitions, long
// values): 1 MB.
inline constexpr size_t kDecryptedPagesKept = 256;

// A read-only, seekable stream of the plain content of an encrypted .accdb of `size` bytes
// whose first page is page0: each other page is read through `read` and decrypted on demand;
// page 0 comes with its encoding key cleared, as a plain file has it. A failed read makes
// fread return short with the stream's error flag set. Verifies the password first and
// raises as OfficePageDecryptor does.
StreamPtr OpenDecryptedStream(std::span<const uint8_t> page0, uint64_t size, FileReader read,
                              std::string_view password, PasswordErrorStyle style,
                              std::string_view file_name = "");

// The same over the file at path, read through env as the stream is read; a failed read is
// recorded in failure when one is given. Raises "Could not find file" for a file that is
// missing or cannot be opened.
StreamPtr OpenDecryptedFile(Env& env, const std::string& path, std::string_view password,
                            PasswordErrorStyle style,
                            std::shared_ptr<SourceReadFailure> failure = nullptr);

// A read-only, seekable stream of the regular file at path, read through env as the stream
// is read; a failed read sets the stream's error flag and is recorded in failure when one is
// given. Null, with errno set, when the file cannot be opened.
StreamPtr OpenFileStream(Env& env, const std::string& path,
                         std::shared_ptr<SourceReadFailure> failure = nullptr);

}  // namespace ferrolyte
