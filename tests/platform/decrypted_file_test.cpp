#include "platform/decrypted_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "accesswriter/description.h"
#include "crypto_test_support.h"
#include "platform/access_rows.h"
#include "platform/office_crypto.h"
#include "support/env.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;
using testing::CaughtError;
using testing::ReadToEnd;
using testing::ReadWholeFile;

constexpr PasswordErrorStyle kAdo = PasswordErrorStyle::kAdo;

// A writer-made encrypted file of about 2.7 MB: more pages than the stream keeps.
std::string WriteEncrypted(const testing::TempDir& dir, aw::Encryption method,
                           uint64_t rows = 30000) {
  std::string path = dir.File("bench.accdb");
  aw::WriteBenchmarkRows(path, rows,
                         {.format = aw::Format::kAce12,
                          .password = "Geheim9",
                          .encrypt = true,
                          .encryption = method,
                          .spin_count = 1000});
  return path;
}

std::vector<uint8_t> WholeFileDecryption(const std::string& path) {
  std::vector<uint8_t> image = ReadWholeFile(path);
  DecryptAccdbImage(image, "Geheim9", kAdo);
  return image;
}

// The stream over bytes held in memory, with a reader that fails from `fail_from` on and
// counts the reads it is asked for.
struct MemoryFile {
  std::vector<uint8_t> bytes;
  uint64_t fail_from = UINT64_MAX;
  int reads = 0;

  StreamPtr Open() {
    FileReader read = [this](uint64_t offset, std::span<uint8_t> into) {
      ++reads;
      if (offset + into.size() > fail_from || offset + into.size() > bytes.size()) {
        errno = EIO;
        return false;
      }
      std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), into.size(), into.begin());
      return true;
    };
    return OpenDecryptedStream(std::span(bytes).first(kAccdbPageSize), bytes.size(), read,
                               "Geheim9", kAdo);
  }
};

std::vector<uint8_t> ReadAt(std::FILE* stream, uint64_t offset, size_t length) {
  EXPECT_EQ(fseeko(stream, static_cast<off_t>(offset), SEEK_SET), 0);
  std::vector<uint8_t> out(length);
  out.resize(std::fread(out.data(), 1, length, stream));
  return out;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& all, uint64_t offset, size_t length) {
  if (offset >= all.size()) return {};
  auto from = all.begin() + static_cast<std::ptrdiff_t>(offset);
  return {from,
          from + static_cast<std::ptrdiff_t>(std::min<uint64_t>(length, all.size() - offset))};
}

TEST(DecryptedFileTest, ReadsGiveTheBytesOfTheWholeFileDecryption) {
  for (aw::Encryption method :
       {aw::Encryption::kAgile, aw::Encryption::kStandard, aw::Encryption::kNonStandard,
        aw::Encryption::kRc4CryptoApi, aw::Encryption::kOfficeRc4}) {
    SCOPED_TRACE(static_cast<int>(method));
    testing::TempDir dir;
    std::string path = WriteEncrypted(dir, method);
    // A trailing partial page, which AES leaves as it is and RC4 decrypts.
    std::ofstream(path, std::ios::binary | std::ios::app) << std::string(1000, 'x');
    const std::vector<uint8_t> plain = WholeFileDecryption(path);
    const uint64_t size = plain.size();
    ASSERT_GT(size, (kDecryptedPagesKept + 10) * kAccdbPageSize);

    StreamPtr stream = OpenDecryptedFile(SystemEnv(), path, "Geheim9", kAdo);
    EXPECT_TRUE(ReadToEnd(stream.get()) == plain);
    struct Read {
      uint64_t offset;
      size_t length;
    };
    for (const Read& r : {Read{0, 10}, Read{4095, 2}, Read{3 * kAccdbPageSize + 100, 5000},
                          Read{7 * kAccdbPageSize, 3 * kAccdbPageSize}, Read{size - 10, 100},
                          Read{size, 10}, Read{size + 5000, 10}}) {
      SCOPED_TRACE(r.offset);
      EXPECT_TRUE(ReadAt(stream.get(), r.offset, r.length) == Slice(plain, r.offset, r.length));
    }
    // Scattered pages, twice over: the second round finds some kept and some long evicted.
    const uint64_t pages = (size + kAccdbPageSize - 1) / kAccdbPageSize;
    for (int round = 0; round < 2; ++round)
      for (uint64_t k = 0; k < pages; k += 3) {
        const uint64_t offset = (k * 97 % pages) * kAccdbPageSize;
        ASSERT_TRUE(ReadAt(stream.get(), offset, kAccdbPageSize) ==
                    Slice(plain, offset, kAccdbPageSize))
            << "page " << offset / kAccdbPageSize;
      }
    EXPECT_FALSE(std::ferror(stream.get()));
  }
}

TEST(DecryptedFileTest, KeepsOnlyTheLastPagesItRead) {
  testing::TempDir dir;
  MemoryFile file{ReadWholeFile(WriteEncrypted(dir, aw::Encryption::kAgile))};
  StreamPtr stream = file.Open();
  const std::vector<uint8_t> page1 = ReadAt(stream.get(), kAccdbPageSize, kAccdbPageSize);
  ReadAt(stream.get(), kAccdbPageSize + 10, 100);
  EXPECT_EQ(file.reads, 1);
  for (uint64_t p = 2; p < 2 + kDecryptedPagesKept; ++p)
    ReadAt(stream.get(), p * kAccdbPageSize, kAccdbPageSize);
  EXPECT_EQ(file.reads, 1 + static_cast<int>(kDecryptedPagesKept));
  EXPECT_TRUE(ReadAt(stream.get(), kAccdbPageSize, kAccdbPageSize) == page1);
  EXPECT_EQ(file.reads, 2 + static_cast<int>(kDecryptedPagesKept));
}

TEST(DecryptedFileTest, AFailedReadIsAnErrorNotAShortPage) {
  testing::TempDir dir;
  MemoryFile file{ReadWholeFile(WriteEncrypted(dir, aw::Encryption::kStandard))};
  file.fail_from = 5 * kAccdbPageSize;
  StreamPtr stream = file.Open();
  std::vector<uint8_t> buffer(2 * kAccdbPageSize);
  ASSERT_EQ(fseeko(stream.get(), 4 * kAccdbPageSize, SEEK_SET), 0);
  EXPECT_LT(std::fread(buffer.data(), 1, buffer.size(), stream.get()), buffer.size());
  EXPECT_TRUE(std::ferror(stream.get()));
  EXPECT_FALSE(std::feof(stream.get()));
}

// The file goes away under a table being read (a share dropped, a file cut short): the read
// error reaches the caller as such, not as damage and not as the end of the table.
TEST(DecryptedFileTest, AFileThatCannotBeReadMidTableStopsTheTableWithAReadError) {
  for (EngineErrorStyle style : {EngineErrorStyle::kDao, EngineErrorStyle::kAdo}) {
    testing::TempDir dir;
    std::string path = WriteEncrypted(dir, aw::Encryption::kAgile);
    auto file = AccessFile::Open(path, style, "Geheim9");
    MdbTablePtr table = file->OpenTable("Bench");
    ASSERT_TRUE(table);
    RowReader rows(file->handle(), table.get(), {0}, style);
    int read = 0;
    for (; read < 100; ++read) ASSERT_TRUE(rows.Next());
    ASSERT_EQ(::truncate(path.c_str(), 16 * kAccdbPageSize), 0);
    Error e = CaughtError([&] {
      while (rows.Next()) ++read;
    });
    EXPECT_EQ(e.number(), style == EngineErrorStyle::kDao ? 3043 : -2147467259);
    EXPECT_EQ(e.description().rfind(
                  "Disk or network error. The table 'Bench' could not be read from the file at "
                  "page ",
                  0),
              0u)
        << e.description();
    EXPECT_LT(read, 30000);
  }
}

}  // namespace
}  // namespace ferrolyte
