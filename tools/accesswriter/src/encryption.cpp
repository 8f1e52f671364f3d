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

Bytes Hash(const EVP_MD* md, std::initializer_list<std::span<const std::uint8_t>> parts) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  bool ok = ctx && EVP_DigestInit_ex(ctx.get(), md, nullptr) == 1;
  for (auto part : parts) ok = ok && EVP_DigestUpdate(ctx.get(), part.data(), part.size()) == 1;
  ok = ok && EVP_DigestFinal_ex(ctx.get(), out.data(), &size) == 1;
  if (!ok) throw WriteError("hashing failed");
  out.resize(size);
  return out;
}

Bytes Sha512(std::initializer_list<std::span<const std::uint8_t>> parts) {
  return Hash(EVP_sha512(), parts);
}
Bytes Sha1(std::initializer_list<std::span<const std::uint8_t>> parts) {
  return Hash(EVP_sha1(), parts);
}
Bytes Md5(std::initializer_list<std::span<const std::uint8_t>> parts) {
  return Hash(EVP_md5(), parts);
}

Bytes Cut(Bytes b, std::size_t length) {
  b.resize(length, 0);
  return b;
}

Bytes Le32(std::uint32_t v) {
  Bytes b;
  Put32(b, v);
  return b;
}

// AES over whole blocks, no padding: CBC with an IV, or ECB without one.
void Aes(EVP_CIPHER_CTX* ctx, std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
         const std::uint8_t* data, std::size_t size, std::uint8_t* out) {
  const EVP_CIPHER* cipher = nullptr;
  switch (key.size()) {
    case 16:
      cipher = iv.empty() ? EVP_aes_128_ecb() : EVP_aes_128_cbc();
      break;
    case 24:
      cipher = iv.empty() ? EVP_aes_192_ecb() : EVP_aes_192_cbc();
      break;
    default:
      cipher = iv.empty() ? EVP_aes_256_ecb() : EVP_aes_256_cbc();
  }
  int n = 0;
  bool ok =
      EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), iv.empty() ? nullptr : iv.data()) == 1 &&
      EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
      EVP_EncryptUpdate(ctx, out, &n, data, static_cast<int>(size)) == 1 &&
      static_cast<std::size_t>(n) == size;
  if (!ok) throw WriteError("AES encryption failed");
}

Bytes Aes(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv, const Bytes& data) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      EVP_CIPHER_CTX_free);
  if (!ctx) throw WriteError("AES encryption failed");
  Bytes out(data.size());
  Aes(ctx.get(), key, iv, data.data(), data.size(), out.data());
  return out;
}

Bytes PasswordBytes(std::string_view password) {
  return Utf16Le(Utf8ToUtf16(password));
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

PageEncryption::PageEncryption() {
  do {
    Bytes key = RandomBytes(4);
    std::copy(key.begin(), key.end(), encoding_key_);
  } while (std::all_of(encoding_key_, encoding_key_ + 4, [](std::uint8_t b) { return b == 0; }));
}

Bytes PageEncryption::PageBlock(std::uint32_t page) const {
  Bytes block = Le32(page);
  for (int i = 0; i < 4; ++i) block[i] ^= encoding_key_[i];
  return block;
}

namespace {

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// Agile: a random secret key, AES-256-CBC per page with an IV from the key data salt.
class AgileEncryption : public PageEncryption {
 public:
  AgileEncryption(std::string_view password, std::uint32_t spin_count) {
    if (!ctx_) throw WriteError("AES encryption failed");
    secret_key_ = RandomBytes(kKeyBytes);
    key_data_salt_ = RandomBytes(kSaltBytes);
    const Bytes password_salt = RandomBytes(kSaltBytes);
    const Bytes verifier = RandomBytes(kSaltBytes);

    // H0 = H(salt + password); Hn = H(LE32(n-1) + Hn-1); the key of a block is H(Hn + block).
    Bytes h = Sha512({password_salt, PasswordBytes(password)});
    for (std::uint32_t i = 0; i < spin_count; ++i) h = Sha512({Le32(i), h});
    auto protect = [&](std::span<const std::uint8_t> block, const Bytes& value) {
      return Aes(Cut(Sha512({h, block}), kKeyBytes), password_salt, value);
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

  void EncryptPage(std::uint32_t page, const std::uint8_t* data, std::size_t size,
                   std::uint8_t* out) const override {
    if (size % kBlockBytes != 0) throw WriteError("page size is not a whole number of AES blocks");
    Bytes iv = Cut(Sha512({key_data_salt_, PageBlock(page)}), kBlockBytes);
    Aes(ctx_.get(), secret_key_, iv, data, size, out);
  }

 private:
  CipherContext ctx_{EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free};
  Bytes secret_key_;
  Bytes key_data_salt_;
};

// The CryptoAPI methods (header 4.2): a password hash from the salt, a key per page block.
class CryptoApiEncryption : public PageEncryption {
 public:
  CryptoApiEncryption(Encryption method, std::string_view password) : method_(method) {
    if (!ctx_) throw WriteError("AES encryption failed");
    const Bytes salt = RandomBytes(kSaltBytes);
    const Bytes verifier = RandomBytes(kSaltBytes);
    base_ = Sha1({salt, PasswordBytes(password)});
    std::uint32_t flags = 0x04;  // CryptoAPI
    std::uint32_t algorithm = 0x6801;
    std::uint32_t key_bits = 128;
    std::uint32_t provider_type = 0x01;
    std::string csp = "Microsoft Enhanced Cryptographic Provider v1.0";
    switch (method) {
      case Encryption::kStandard:
        flags |= 0x20;  // AES
        algorithm = 0x660e;
        provider_type = 0x18;
        csp = "Microsoft Enhanced RSA and AES Cryptographic Provider";
        for (std::uint32_t i = 0; i < 50000; ++i) base_ = Sha1({Le32(i), base_});
        break;
      case Encryption::kNonStandard:
        algorithm = 0x6610;
        key_bits = 256;
        provider_type = 0x18;
        csp = "Microsoft Enhanced RSA and AES Cryptographic Provider";
        break;
      default:
        break;
    }
    key_bytes_ = key_bits / 8;

    Bytes encrypted_verifier, encrypted_hash;
    Bytes key = Key(Le32(0));
    if (method == Encryption::kRc4CryptoApi) {
      // One RC4 stream runs over the verifier and then its hash.
      Bytes both = verifier;
      Bytes hash = Sha1({verifier});
      both.insert(both.end(), hash.begin(), hash.end());
      Rc4(key.data(), key.size(), both.data(), both.size());
      encrypted_verifier.assign(both.begin(), both.begin() + 16);
      encrypted_hash.assign(both.begin() + 16, both.end());
    } else {
      encrypted_verifier = Aes(key, {}, verifier);
      encrypted_hash = Aes(key, {}, Cut(Sha1({verifier}), 32));
    }

    Bytes header;
    for (std::uint32_t v : {flags, 0u, algorithm, 0x8004u, key_bits, provider_type, 0u, 0u})
      Put32(header, v);
    Bytes name = Utf16Le(Utf8ToUtf16(csp));
    header.insert(header.end(), name.begin(), name.end());
    Put16(header, 0);
    Put16(provider_, 4);
    Put16(provider_, 2);
    Put32(provider_, flags);
    Put32(provider_, static_cast<std::uint32_t>(header.size()));
    provider_.insert(provider_.end(), header.begin(), header.end());
    Put32(provider_, kSaltBytes);
    provider_.insert(provider_.end(), salt.begin(), salt.end());
    provider_.insert(provider_.end(), encrypted_verifier.begin(), encrypted_verifier.end());
    Put32(provider_, 20);
    provider_.insert(provider_.end(), encrypted_hash.begin(), encrypted_hash.end());
  }

  void EncryptPage(std::uint32_t page, const std::uint8_t* data, std::size_t size,
                   std::uint8_t* out) const override {
    Bytes key = Key(PageBlock(page));
    if (method_ == Encryption::kRc4CryptoApi) {
      std::copy(data, data + size, out);
      Rc4(key.data(), key.size(), out, size);
      return;
    }
    if (size % kBlockBytes != 0) throw WriteError("page size is not a whole number of AES blocks");
    Aes(ctx_.get(), key, {}, data, size, out);
  }

 private:
  // RC4: the hash of base and block, cut to the key size. AES: CryptoAPI's CryptDeriveKey.
  Bytes Key(const Bytes& block) const {
    Bytes final_hash = Sha1({base_, block});
    if (method_ == Encryption::kRc4CryptoApi) return Cut(final_hash, key_bytes_);
    Bytes x1(64, 0x36), x2(64, 0x5c);
    for (std::size_t i = 0; i < final_hash.size(); ++i) {
      x1[i] ^= final_hash[i];
      x2[i] ^= final_hash[i];
    }
    Bytes key = Sha1({x1});
    Bytes second = Sha1({x2});
    key.insert(key.end(), second.begin(), second.end());
    return Cut(key, key_bytes_);
  }

  Encryption method_;
  CipherContext ctx_{EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free};
  Bytes base_;
  std::size_t key_bytes_ = 16;
};

// Office binary-document RC4 (header 1.1): MD5 of 16 copies of the password hash and the
// salt; a page's key is MD5(base + block).
class OfficeRc4Encryption : public PageEncryption {
 public:
  explicit OfficeRc4Encryption(std::string_view password) {
    const Bytes salt = RandomBytes(kSaltBytes);
    const Bytes verifier = RandomBytes(kSaltBytes);
    Bytes h0 = Cut(Md5({PasswordBytes(password)}), 5);
    Bytes fill;
    for (int i = 0; i < 16; ++i) {
      fill.insert(fill.end(), h0.begin(), h0.end());
      fill.insert(fill.end(), salt.begin(), salt.end());
    }
    base_ = Cut(Md5({fill}), 5);
    Bytes both = verifier;
    Bytes hash = Md5({verifier});
    both.insert(both.end(), hash.begin(), hash.end());
    Bytes key = Md5({base_, Le32(0)});
    Rc4(key.data(), key.size(), both.data(), both.size());
    Put16(provider_, 1);
    Put16(provider_, 1);
    provider_.insert(provider_.end(), salt.begin(), salt.end());
    provider_.insert(provider_.end(), both.begin(), both.end());
  }

  void EncryptPage(std::uint32_t page, const std::uint8_t* data, std::size_t size,
                   std::uint8_t* out) const override {
    Bytes key = Md5({base_, PageBlock(page)});
    std::copy(data, data + size, out);
    Rc4(key.data(), key.size(), out, size);
  }

 private:
  Bytes base_;
};

}  // namespace

std::unique_ptr<PageEncryption> MakeEncryption(Encryption method, std::string_view password,
                                               std::uint32_t spin_count) {
  switch (method) {
    case Encryption::kAgile:
      return std::make_unique<AgileEncryption>(password, spin_count);
    case Encryption::kStandard:
    case Encryption::kNonStandard:
    case Encryption::kRc4CryptoApi:
      return std::make_unique<CryptoApiEncryption>(method, password);
    case Encryption::kOfficeRc4:
      return std::make_unique<OfficeRc4Encryption>(password);
  }
  throw WriteError("unknown encryption method");
}

}  // namespace accesswriter::internal
