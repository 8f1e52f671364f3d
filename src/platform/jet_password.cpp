#include "platform/jet_password.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/crypto_primitives.h"
#include "platform/office_crypto.h"
#include "support/errors.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

constexpr size_t kPasswordOffset = 0x42;
constexpr size_t kJet3PasswordSize = 20;
constexpr size_t kJet4PasswordSize = 40;
constexpr size_t kCreationDateOffset = 0x72;

// Jet 4 text may be stored compressed: a 0xFF 0xFE mark, then runs of one-byte characters
// and of UTF-16 units, switched by a zero byte.
std::string DecodeJet4Text(const Bytes& bytes) {
  if (bytes.size() < 2 || bytes[0] != 0xff || bytes[1] != 0xfe)
    return Utf16LeToUtf8(bytes.data(), bytes.size());
  Bytes units;
  bool compressed = true;
  for (size_t i = 2; i < bytes.size();) {
    if (bytes[i] == 0) {
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      units.push_back(bytes[i++]);
      units.push_back(0);
    } else {
      if (i + 1 >= bytes.size()) break;
      units.push_back(bytes[i]);
      units.push_back(bytes[i + 1]);
      i += 2;
    }
  }
  return Utf16LeToUtf8(units.data(), units.size());
}

std::string CutAtNul(std::string text) {
  size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

// Up to one page from the start of the file; false when it cannot be read at all.
bool ReadFirstPage(const std::string& path, Bytes& page0) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  page0.assign(kAccdbPageSize, 0);
  in.read(reinterpret_cast<char*>(page0.data()), static_cast<std::streamsize>(page0.size()));
  page0.resize(static_cast<size_t>(in.gcount()));
  return true;
}

}  // namespace

Bytes ReadDefinitionPage(const std::string& path, PasswordErrorStyle style) {
  Bytes page0;
  if (!ReadFirstPage(path, page0)) RaiseFileNotFound(style, path);
  if (!LooksLikeDefinitionPage(page0)) RaiseUnrecognizedFormat(style, path);
  return page0;
}

std::string ReadJetDatabasePassword(std::span<const uint8_t> page0, PasswordErrorStyle style) {
  if (!LooksLikeDefinitionPage(page0)) RaiseUnrecognizedFormat(style, "");
  if (IsEncryptedAccdb(page0)) return "";
  Bytes header = UnmaskedHeader(page0);
  if (header[kJetVersionOffset] == 0) {
    Bytes field(header.begin() + kPasswordOffset,
                header.begin() + kPasswordOffset + kJet3PasswordSize);
    return CutAtNul(Windows1252ToUtf8(
        std::string_view(reinterpret_cast<const char*>(field.data()), field.size())));
  }
  Bytes field(header.begin() + kPasswordOffset,
              header.begin() + kPasswordOffset + kJet4PasswordSize);
  // The field is XORed with the integer part of the creation date, repeated.
  double created = 0;
  std::memcpy(&created, header.data() + kCreationDateOffset, sizeof created);
  double whole = std::floor(created);
  uint32_t mask = std::isfinite(whole) && whole >= -2147483648.0 && whole <= 2147483647.0
                      ? static_cast<uint32_t>(static_cast<int32_t>(whole))
                      : 0;
  for (size_t i = 0; i < field.size(); ++i) field[i] ^= static_cast<uint8_t>(mask >> (8 * (i % 4)));
  bool empty = true;
  for (uint8_t b : field) empty = empty && b == 0;
  if (empty) return "";
  return CutAtNul(DecodeJet4Text(field));
}

void CheckJetPassword(std::span<const uint8_t> page0, std::string_view given,
                      PasswordErrorStyle style) {
  if (IsEncryptedAccdb(page0)) {
    OfficePageDecryptor verify(page0, given, style);
    return;
  }
  std::string stored = ReadJetDatabasePassword(page0, style);
  if (!stored.empty() && stored != given) RaiseInvalidPassword(style);
}

void CheckWorkgroupFile(const std::string& path, PasswordErrorStyle style) {
  Bytes page0;
  if (!ReadFirstPage(path, page0))
    throw Error(
        style == PasswordErrorStyle::kDao ? kDaoWorkgroupMissing : -2147467259,
        style == PasswordErrorStyle::kDao ? "DAO.DBEngine" : "Microsoft JET Database Engine",
        "Cannot start your application. The workgroup information file is missing or "
        "opened exclusively by another user.");
  // A workgroup file is a plain Jet database; an encrypted one cannot be a system database.
  if (!LooksLikeDefinitionPage(page0) || IsEncryptedAccdb(page0))
    RaiseUnrecognizedFormat(style, path);
}

}  // namespace ferrolyte
