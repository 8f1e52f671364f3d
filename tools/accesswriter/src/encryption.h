// Whole-file encryption of an .accdb, as Access applies it when a database gets a password:
// page 0 stays plain and carries the encryption header at 0x299 and a 4-byte encoding key at
// 0x3e; every other page is encrypted on its own, its key (or IV) derived from the page
// number XORed with the encoding key.
#ifndef FERROLYTE_TOOLS_ACCESSWRITER_ENCRYPTION_H_
#define FERROLYTE_TOOLS_ACCESSWRITER_ENCRYPTION_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "accesswriter/writer.h"
#include "encoding.h"

namespace accesswriter::internal {

class PageEncryption {
 public:
  virtual ~PageEncryption() = default;
  PageEncryption(const PageEncryption&) = delete;
  PageEncryption& operator=(const PageEncryption&) = delete;

  // The four bytes the header stores at 0x3e (under its mask); never all zero.
  const std::uint8_t* encoding_key() const { return encoding_key_; }
  // The encryption provider stored at 0x299 after its 16-bit length, version first.
  const Bytes& provider() const { return provider_; }
  // Encrypts one page (page >= 1) of `size` bytes, a multiple of 16, into out.
  virtual void EncryptPage(std::uint32_t page, const std::uint8_t* data, std::size_t size,
                           std::uint8_t* out) const = 0;

 protected:
  // Draws the encoding key.
  PageEncryption();
  // The page's 4-byte block: its number XORed with the encoding key.
  Bytes PageBlock(std::uint32_t page) const;

  std::uint8_t encoding_key_[4] = {};
  Bytes provider_;
};

// Draws fresh key material for `method` and derives the password keys; spin_count is the
// agile method's rounds of SHA-512.
std::unique_ptr<PageEncryption> MakeEncryption(Encryption method, std::string_view password,
                                               std::uint32_t spin_count);

}  // namespace accesswriter::internal

#endif  // FERROLYTE_TOOLS_ACCESSWRITER_ENCRYPTION_H_
