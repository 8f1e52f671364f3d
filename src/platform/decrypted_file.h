// An encrypted .accdb read through a stdio stream that decrypts each page when it is asked
// for and keeps only the last few: libmdb reads it as a plain file, in the memory of a plain
// file, and the plain content never reaches the disk. A plain file can be read through such
// a stream too, so that its reads go through the env.
#pragma once

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

// The same over the file at path, read through env as the stream is read. Raises "Could not
// find file" for a file that is missing or cannot be opened.
StreamPtr OpenDecryptedFile(Env& env, const std::string& path, std::string_view password,
                            PasswordErrorStyle style);

// A read-only, seekable stream of the regular file at path, read through env as the stream
// is read; a failed read sets the stream's error flag. Null, with errno set, when the file
// cannot be opened.
StreamPtr OpenFileStream(Env& env, const std::string& path);

}  // namespace ferrolyte
