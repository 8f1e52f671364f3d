// Encrypted .accdb files (Access 2007 and later with a database password). The encryption
// header sits in the database definition page (page 0, which itself stays plain); every
// other page is encrypted on its own with a key or IV derived from its page number XORed
// with the file's 4-byte encoding key. The schemes: RC4 CryptoAPI (Access 2007), standard
// encryption (AES-ECB, CryptoAPI key derivation), Access's "non-standard" variant of it (AES
// named without the AES flag, no hash iterations), the Office binary-document RC4 (MD5) and
// agile encryption (AES-CBC, EncryptionInfo XML, iterated SHA; Access 2010 and later).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto_errors.h"
#include "platform/crypto_primitives.h"

namespace ferrolyte {

inline constexpr size_t kAccdbPageSize = 4096;

// True when the definition page belongs to an ACE file whose pages are encrypted with a
// password. False for plain files, too-short input, and RC4-encoded Jet files (their
// encoding needs no password and libmdb reads them itself).
bool IsEncryptedAccdb(std::span<const uint8_t> page0);

enum class OfficeScheme { kRc4CryptoApi, kStandard, kNonStandard, kOfficeRc4, kAgile };

// What the encryption header of an encrypted .accdb says, before any password is tried.
struct OfficeEncryptionInfo {
  OfficeScheme scheme = OfficeScheme::kAgile;
  uint8_t encoding_key[4] = {};
  HashAlgorithm hash = HashAlgorithm::kSha1;
  size_t key_bytes = 0;  // page key (RC4, standard) or secret key (agile)
  Bytes salt;            // verifier salt (RC4, standard) or keyData salt (agile)
  Bytes encrypted_verifier;
  Bytes encrypted_verifier_hash;
  uint32_t verifier_hash_size = 0;  // all but agile
  // Agile only: the password key encryptor.
  HashAlgorithm password_hash = HashAlgorithm::kSha1;
  size_t password_key_bytes = 0;
  uint32_t spin_count = 0;
  Bytes password_salt;
  Bytes encrypted_key_value;
};

// Parses the encryption header of an encrypted .accdb's definition page. Raises 3343-style
// (with file_name): "Unrecognized database format" for a header it cannot read, "encrypted
// with an unsupported method (version 4.3)" for a sound one naming a method it does not know.
OfficeEncryptionInfo ParseOfficeEncryption(std::span<const uint8_t> page0, PasswordErrorStyle style,
                                           std::string_view file_name = "");

// Decrypts the pages of one encrypted .accdb once the password is verified.
class OfficePageDecryptor {
 public:
  // Parses the header and verifies the password; raises "Not a valid password." for a wrong
  // one and as ParseOfficeEncryption does for the header.
  OfficePageDecryptor(std::span<const uint8_t> page0, std::string_view password,
                      PasswordErrorStyle style, std::string_view file_name = "");
  ~OfficePageDecryptor();
  OfficePageDecryptor(const OfficePageDecryptor&) = delete;
  OfficePageDecryptor& operator=(const OfficePageDecryptor&) = delete;

  OfficeScheme scheme() const;
  // Decrypts one page (page_number >= 1) in place; AES leaves a trailing partial block alone.
  void DecryptPage(std::span<uint8_t> page, uint32_t page_number) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Clears the encoding key under the header mask of a definition page, so that libmdb reads
// the decrypted pages as a plain file's.
void ClearEncodingKey(std::span<uint8_t> page0);

// Decrypts a whole file image in place, page by page, after verifying the password, and
// clears the encoding key in page 0 so that libmdb reads the image as a plain file. Raises
// as OfficePageDecryptor does.
void DecryptAccdbImage(std::span<uint8_t> image, std::string_view password,
                       PasswordErrorStyle style, std::string_view file_name = "");

}  // namespace ferrolyte
