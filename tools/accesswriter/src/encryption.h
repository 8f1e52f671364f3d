// Office agile encryption of a whole .accdb, as Access 2010 and later apply it when a
// database gets a password: page 0 stays plain and carries the encryption header; every
// other page is encrypted on its own with AES-256-CBC under a random secret key.
#ifndef FERROLYTE_TOOLS_ACCESSWRITER_ENCRYPTION_H_
#define FERROLYTE_TOOLS_ACCESSWRITER_ENCRYPTION_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "encoding.h"

namespace accesswriter::internal {

class AgileEncryption {
 public:
  // Draws fresh key material and derives the password keys; spin_count rounds of SHA-512.
  AgileEncryption(std::string_view password, std::uint32_t spin_count);
  ~AgileEncryption();
  AgileEncryption(const AgileEncryption&) = delete;
  AgileEncryption& operator=(const AgileEncryption&) = delete;

  // The four bytes the header stores at 0x3e (under its mask); never all zero.
  const std::uint8_t* encoding_key() const { return encoding_key_; }
  // The encryption provider stored at 0x299 after its 16-bit length: version 4.4, the
  // reserved word 0x40 and the EncryptionInfo XML.
  const Bytes& provider() const { return provider_; }
  // Encrypts one page (page >= 1) of `size` bytes, a multiple of 16, into out.
  void EncryptPage(std::uint32_t page, const std::uint8_t* data, std::size_t size,
                   std::uint8_t* out) const;

 private:
  struct Cipher;
  std::unique_ptr<Cipher> cipher_;
  std::uint8_t encoding_key_[4] = {};
  Bytes secret_key_;
  Bytes key_data_salt_;
  Bytes provider_;
};

}  // namespace accesswriter::internal

#endif  // FERROLYTE_TOOLS_ACCESSWRITER_ENCRYPTION_H_
