// The small cryptographic building blocks of the Access password and encryption formats:
// RC4, digests and AES through OpenSSL, base64, and the fixed RC4 mask over the header of
// the database definition page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace ferrolyte {

using Bytes = std::vector<uint8_t>;

// RC4 keystream. Written out here because OpenSSL 3 moved RC4 into its legacy provider,
// which a Debian system need not load.
class Rc4 {
 public:
  // Sets up the keystream for a key of 1 to 256 bytes.
  explicit Rc4(std::span<const uint8_t> key);
  // XORs the next bytes of the keystream into data (encrypts and decrypts alike).
  void Apply(std::span<uint8_t> data);

 private:
  uint8_t s_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

// Digest algorithms the encryption headers name.
enum class HashAlgorithm { kMd5, kSha1, kSha256, kSha384, kSha512 };

// Output size in bytes.
size_t DigestSize(HashAlgorithm algorithm);
// The digest of the concatenated parts.
Bytes Digest(HashAlgorithm algorithm, std::initializer_list<std::span<const uint8_t>> parts);

// A reusable digest context for hot loops (the key derivation's spin count).
class Digester {
 public:
  explicit Digester(HashAlgorithm algorithm);
  ~Digester();
  Digester(const Digester&) = delete;
  Digester& operator=(const Digester&) = delete;
  // The digest of a then b; out must hold DigestSize bytes.
  void Run(std::span<const uint8_t> a, std::span<const uint8_t> b, uint8_t* out);
  size_t size() const { return size_; }

 private:
  struct Context;
  std::unique_ptr<Context> context_;
  size_t size_;
};

enum class AesMode { kEcb, kCbc };

// Decrypts whole AES blocks in place without padding; key of 16, 24 or 32 bytes, iv of 16
// bytes for CBC (ignored for ECB). A trailing partial block is left as it is.
void AesDecrypt(AesMode mode, std::span<const uint8_t> key, std::span<const uint8_t> iv,
                std::span<uint8_t> data);

// Strict base64 (RFC 4648 alphabet, "=" padding, no white space); false on malformed input.
bool Base64Decode(std::string_view text, Bytes& out);

// Little-endian readers; the caller checks bounds.
inline uint16_t LoadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadLe32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The database definition page hides bytes 0x18 onward under RC4 with a fixed key: 126 bytes
// for Jet 3, 128 for later versions.
inline constexpr size_t kHeaderMaskStart = 0x18;
inline constexpr size_t kJetVersionOffset = 0x14;
// Length of the masked header of a page whose version byte is given.
size_t HeaderMaskLength(uint8_t version);
// Toggles the mask over a copy of at least kHeaderMaskStart + HeaderMaskLength bytes.
void ToggleHeaderMask(std::span<uint8_t> page0);

// True when page0 is long enough for its header mask and starts like a database definition
// page (page type 0, "Standard Jet DB" or "Standard ACE DB").
bool LooksLikeDefinitionPage(std::span<const uint8_t> page0);
// The unmasked header (the first kHeaderMaskStart + HeaderMaskLength bytes) of a page for
// which LooksLikeDefinitionPage holds.
Bytes UnmaskedHeader(std::span<const uint8_t> page0);

}  // namespace ferrolyte
