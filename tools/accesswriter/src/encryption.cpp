#include "encryption.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <initializer_list>
#include <span>
#include <string>

#include "accesswriter/writer.h"

namespace accesswriter::internal {
namespace {

constexpr std::size_t kKeyBytes = 32;  // AES-256
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kBlockBytes = 16;

// The block keys that separate the three values the password key protects.
constexpr std::uint8_t kVerifierInputBlock[8] = {0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79};
constexpr std::uint8_t kVerifierValueBlock[8] = {0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e};
constexpr std::uint8_t kKeyValueBlock[8] = {0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6};

Bytes RandomBytes(std::size_t n) {
  Bytes b(n);
  if (RAND_bytes(b.data(), static_cast<int>(n)) != 1) throw WriteError("no random bytes");
  return b;
}

Bytes Sha512(std::initializer_list<std::span<const std::uint8_t>> parts) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha512(), nullptr) == 1;
  for (auto part : parts) ok = ok && EVP_DigestUpdate(ctx.get(), part.data(), part.size()) == 1;
  ok = ok && EVP_DigestFinal_ex(ctx.get(), out.data(), &size) == 1;
  if (!ok) throw WriteError("SHA-512 failed");
  out.resize(size);
  return out;
}

Bytes Le32(std::uint32_t v) {
  Bytes b;
  Put32(b, v);
  return b;
}

// AES-256-CBC over whole blocks, no padding.
void AesCbc(EVP_CIPHER_CTX* ctx, std::span<const std::uint8_t> key,
            std::span<const std::uint8_t> iv, const std::uint8_t* data, std::size_t size,
            std::uint8_t* out) {
  int n = 0;
  bool ok = EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv.data()) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
            EVP_EncryptUpdate(ctx, out, &n, data, static_cast<int>(size)) == 1 &&
            static_cast<std::size_t>(n) == size;
  if (!ok) throw WriteError("AES encryption failed");
}

Bytes AesCbc(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
             const Bytes& data) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      EVP_CIPHER_CTX_free);
  if (!ctx) throw WriteError("AES encryption failed");
  Bytes out(data.size());
  AesCbc(ctx.get(), key, iv, data.data(), data.size(), out.data());
  return out;
}

std::string Base64(const Bytes& b) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s;
  for (std::size_t i = 0; i < b.size(); i += 3) {
    std::uint32_t v = static_cast<std::uint32_t>(b[i]) << 16;
    if (i + 1 < b.size()) v |= static_cast<std::uint32_t>(b[i + 1]) << 8;
    if (i + 2 < b.size()) v |= b[i + 2];
    s += kAlphabet[(v >> 18) & 63];
    s += kAlphabet[(v >> 12) & 63];
    s += i + 1 < b.size() ? kAlphabet[(v >> 6) & 63] : '=';
    s += i + 2 < b.size() ? kAlphabet[v & 63] : '=';
  }
  return s;
}

}  // namespace

struct AgileEncryption::Cipher {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx{EVP_CIPHER_CTX_new(),
                                                                      EVP_CIPHER_CTX_free};
};

AgileEncryption::AgileEncryption(std::string_view password, std::uint32_t spin_count)
    : cipher_(std::make_unique<Cipher>()) {
  if (!cipher_->ctx) throw WriteError("AES encryption failed");
  do {
    Bytes key = RandomBytes(4);
    std::copy(key.begin(), key.end(), encoding_key_);
  } while (std::all_of(encoding_key_, encoding_key_ + 4, [](std::uint8_t b) { return b == 0; }));
  secret_key_ = RandomBytes(kKeyBytes);
  key_data_salt_ = RandomBytes(kSaltBytes);
  const Bytes password_salt = RandomBytes(kSaltBytes);
  const Bytes verifier = RandomBytes(kSaltBytes);

  // H0 = H(salt + password); Hn = H(LE32(n-1) + Hn-1); the key of a block is H(Hn + block).
  Bytes pw = Utf16Le(Utf8ToUtf16(password));
  Bytes h = Sha512({password_salt, pw});
  for (std::uint32_t i = 0; i < spin_count; ++i) h = Sha512({Le32(i), h});
  auto protect = [&](std::span<const std::uint8_t> block, const Bytes& value) {
    Bytes key = Sha512({h, block});
    key.resize(kKeyBytes);
    return AesCbc(key, password_salt, value);
  };
  Bytes encrypted_input = protect(kVerifierInputBlock, verifier);
  Bytes encrypted_hash = protect(kVerifierValueBlock, Sha512({verifier}));
  Bytes encrypted_key = protect(kKeyValueBlock, secret_key_);

  const std::string common =
      "saltSize=\"16\" blockSize=\"16\" keyBits=\"256\" hashSize=\"64\" "
      "cipherAlgorithm=\"AES\" cipherChaining=\"ChainingModeCBC\" "
      "hashAlgorithm=\"SHA512\" ";
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
      "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
      "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\" "
      "xmlns:c=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">"
      "<keyData " +
      common + "saltValue=\"" + Base64(key_data_salt_) +
      "\"/><keyEncryptors><keyEncryptor "
      "uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
      "<p:encryptedKey spinCount=\"" +
      std::to_string(spin_count) + "\" " + common + "saltValue=\"" + Base64(password_salt) +
      "\" encryptedVerifierHashInput=\"" + Base64(encrypted_input) +
      "\" encryptedVerifierHashValue=\"" + Base64(encrypted_hash) + "\" encryptedKeyValue=\"" +
      Base64(encrypted_key) + "\"/></keyEncryptor></keyEncryptors></encryption>";
  Put16(provider_, 4);
  Put16(provider_, 4);
  Put32(provider_, 0x40);
  provider_.insert(provider_.end(), xml.begin(), xml.end());
}

AgileEncryption::~AgileEncryption() = default;

void AgileEncryption::EncryptPage(std::uint32_t page, const std::uint8_t* data, std::size_t size,
                                  std::uint8_t* out) const {
  if (size % kBlockBytes != 0) throw WriteError("page size is not a whole number of AES blocks");
  Bytes block = Le32(page);
  for (int i = 0; i < 4; ++i) block[i] ^= encoding_key_[i];
  Bytes iv = Sha512({key_data_salt_, block});
  iv.resize(kBlockBytes);
  AesCbc(cipher_->ctx.get(), secret_key_, iv, data, size, out);
}

}  // namespace accesswriter::internal
