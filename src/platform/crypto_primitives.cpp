#include "platform/crypto_primitives.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "support/errors.h"

namespace ferrolyte {
namespace {

const EVP_MD* Md(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::kMd5:
      return EVP_md5();
    case HashAlgorithm::kSha1:
      return EVP_sha1();
    case HashAlgorithm::kSha256:
      return EVP_sha256();
    case HashAlgorithm::kSha384:
      return EVP_sha384();
    case HashAlgorithm::kSha512:
      return EVP_sha512();
  }
  return EVP_sha1();
}

struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

[[noreturn]] void CryptoFailure() {
  throw Error(errc::kUnspecified, "OpenSSL", "The cryptographic library failed.");
}

}  // namespace

Rc4::Rc4(std::span<const uint8_t> key) {
  for (int k = 0; k < 256; ++k) s_[k] = static_cast<uint8_t>(k);
  if (key.empty()) return;
  uint8_t j = 0;
  for (int k = 0; k < 256; ++k) {
    j = static_cast<uint8_t>(j + s_[k] + key[k % key.size()]);
    std::swap(s_[k], s_[j]);
  }
}

void Rc4::Apply(std::span<uint8_t> data) {
  for (uint8_t& b : data) {
    i_ = static_cast<uint8_t>(i_ + 1);
    j_ = static_cast<uint8_t>(j_ + s_[i_]);
    std::swap(s_[i_], s_[j_]);
    b ^= s_[static_cast<uint8_t>(s_[i_] + s_[j_])];
  }
}

size_t DigestSize(HashAlgorithm algorithm) {
  return static_cast<size_t>(EVP_MD_get_size(Md(algorithm)));
}

Bytes Digest(HashAlgorithm algorithm, std::initializer_list<std::span<const uint8_t>> parts) {
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), Md(algorithm), nullptr) != 1) CryptoFailure();
  for (auto part : parts)
    if (EVP_DigestUpdate(ctx.get(), part.data(), part.size()) != 1) CryptoFailure();
  Bytes out(DigestSize(algorithm));
  unsigned int len = 0;
  if (EVP_DigestFinal_ex(ctx.get(), out.data(), &len) != 1) CryptoFailure();
  out.resize(len);
  return out;
}

struct Digester::Context {
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx;
  const EVP_MD* md;
};

Digester::Digester(HashAlgorithm algorithm)
    : context_(
          new Context{std::unique_ptr<EVP_MD_CTX, MdCtxFree>(EVP_MD_CTX_new()), Md(algorithm)}),
      size_(DigestSize(algorithm)) {
  if (!context_->ctx) throw std::bad_alloc();
}

Digester::~Digester() = default;

void Digester::Run(std::span<const uint8_t> a, std::span<const uint8_t> b, uint8_t* out) {
  EVP_MD_CTX* c = context_->ctx.get();
  unsigned int len = 0;
  if (EVP_DigestInit_ex(c, context_->md, nullptr) != 1 ||
      EVP_DigestUpdate(c, a.data(), a.size()) != 1 ||
      EVP_DigestUpdate(c, b.data(), b.size()) != 1 || EVP_DigestFinal_ex(c, out, &len) != 1)
    CryptoFailure();
}

void AesDecrypt(AesMode mode, std::span<const uint8_t> key, std::span<const uint8_t> iv,
                std::span<uint8_t> data) {
  const EVP_CIPHER* cipher = nullptr;
  switch (key.size()) {
    case 16:
      cipher = mode == AesMode::kEcb ? EVP_aes_128_ecb() : EVP_aes_128_cbc();
      break;
    case 24:
      cipher = mode == AesMode::kEcb ? EVP_aes_192_ecb() : EVP_aes_192_cbc();
      break;
    case 32:
      cipher = mode == AesMode::kEcb ? EVP_aes_256_ecb() : EVP_aes_256_cbc();
      break;
    default:
      throw std::invalid_argument("AES key size");
  }
  if (mode == AesMode::kCbc && iv.size() != 16) throw std::invalid_argument("AES iv size");
  size_t whole = data.size() / 16 * 16;
  if (whole == 0) return;
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  if (!ctx ||
      EVP_DecryptInit_ex(ctx.get(), cipher, nullptr, key.data(),
                         mode == AesMode::kCbc ? iv.data() : nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1)
    CryptoFailure();
  // EVP allows the output to alias the input exactly.
  int out_len = 0;
  if (EVP_DecryptUpdate(ctx.get(), data.data(), &out_len, data.data(), static_cast<int>(whole)) !=
      1)
    CryptoFailure();
}

bool Base64Decode(std::string_view text, Bytes& out) {
  out.clear();
  if (text.size() % 4 != 0) return false;
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      char c = text[i + k];
      if (c == '=') {
        // Padding only at the very end, and at most two.
        if (i + 4 != text.size() || k < 2) return false;
        v[k] = 0;
        ++pad;
      } else {
        if (pad) return false;
        v[k] = value(c);
        if (v[k] < 0) return false;
      }
    }
    uint32_t n = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out.push_back(static_cast<uint8_t>(n >> 16));
    if (pad < 2) out.push_back(static_cast<uint8_t>(n >> 8));
    if (pad < 1) out.push_back(static_cast<uint8_t>(n));
  }
  return true;
}

size_t HeaderMaskLength(uint8_t version) {
  return version == 0 ? 126 : 128;
}

void ToggleHeaderMask(std::span<uint8_t> page0) {
  static constexpr uint8_t kKey[4] = {0xc7, 0xda, 0x39, 0x6b};
  size_t length = HeaderMaskLength(page0[kJetVersionOffset]);
  Rc4 rc4(kKey);
  rc4.Apply(page0.subspan(kHeaderMaskStart, length));
}

bool LooksLikeDefinitionPage(std::span<const uint8_t> page0) {
  if (page0.size() < kHeaderMaskStart + 128) return false;
  if (page0[0] != 0) return false;
  static constexpr char kJet[] = "Standard Jet DB";
  static constexpr char kAce[] = "Standard ACE DB";
  const char* name = reinterpret_cast<const char*>(page0.data() + 4);
  return std::memcmp(name, kJet, 15) == 0 || std::memcmp(name, kAce, 15) == 0;
}

Bytes UnmaskedHeader(std::span<const uint8_t> page0) {
  size_t length = kHeaderMaskStart + HeaderMaskLength(page0[kJetVersionOffset]);
  Bytes header(page0.begin(), page0.begin() + static_cast<std::ptrdiff_t>(length));
  ToggleHeaderMask(header);
  return header;
}

}  // namespace ferrolyte
