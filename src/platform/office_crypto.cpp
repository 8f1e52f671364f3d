#include "platform/office_crypto.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <pugixml.hpp>

#include "support/text.h"

namespace ferrolyte {
namespace {

constexpr size_t kEncodingKeyOffset = 0x3e;
constexpr size_t kCryptInfoOffset = 0x299;
// The engine passes at most 255 password characters to the key derivation.
constexpr size_t kMaxPasswordUnits = 255;
// [MS-OFFCRYPTO] caps the agile spin count; a larger one marks a hostile header.
constexpr uint32_t kMaxSpinCount = 10'000'000;
constexpr int kStandardIterations = 50'000;
constexpr uint32_t kEncryptionFlagCryptoApi = 0x04;
constexpr uint32_t kEncryptionFlagAes = 0x20;
constexpr uint32_t kAlgorithmRc4 = 0x6801;
constexpr uint32_t kAlgorithmAes128 = 0x660e;
constexpr uint32_t kAlgorithmAes192 = 0x660f;
constexpr uint32_t kAlgorithmAes256 = 0x6610;
constexpr uint32_t kAlgorithmSha1 = 0x8004;

// The block keys of the agile password key encryptor.
constexpr uint8_t kVerifierInputBlock[8] = {0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79};
constexpr uint8_t kVerifierValueBlock[8] = {0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e};
constexpr uint8_t kKeyValueBlock[8] = {0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6};

// Carries the context that a malformed header raises with.
struct ParseContext {
  PasswordErrorStyle style;
  std::string_view file_name;
  std::string version;  // "4.2": how every unsupported method is named first
  [[noreturn]] void Fail() const { RaiseUnrecognizedFormat(style, file_name); }
  [[noreturn]] void Unsupported(std::string_view detail = "") const {
    std::string method = "version " + version;
    if (!detail.empty()) method += ", " + std::string(detail);
    RaiseUnsupportedEncryption(style, file_name, method);
  }
  void Require(bool condition) const {
    if (!condition) Fail();
  }
};

std::string HexWord(const char* what, uint32_t v) {
  char text[48];
  std::snprintf(text, sizeof text, "%s 0x%04x", what, v);
  return text;
}

Bytes Le32Bytes(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

Bytes PasswordBytes(std::string_view password) {
  Bytes bytes = Utf8ToUtf16Le(password);
  if (bytes.size() > kMaxPasswordUnits * 2) bytes.resize(kMaxPasswordUnits * 2);
  return bytes;
}

// Truncates, or pads with the given byte, to length.
Bytes FixLength(Bytes b, size_t length, uint8_t pad = 0) {
  b.resize(length, pad);
  return b;
}

bool SameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool HashByName(std::string_view name, HashAlgorithm& out) {
  static const std::pair<const char*, HashAlgorithm> kNames[] = {
      {"SHA1", HashAlgorithm::kSha1},     {"SHA-1", HashAlgorithm::kSha1},
      {"SHA256", HashAlgorithm::kSha256}, {"SHA-256", HashAlgorithm::kSha256},
      {"SHA384", HashAlgorithm::kSha384}, {"SHA-384", HashAlgorithm::kSha384},
      {"SHA512", HashAlgorithm::kSha512}, {"SHA-512", HashAlgorithm::kSha512},
      {"MD5", HashAlgorithm::kMd5}};
  for (const auto& [n, a] : kNames)
    if (name == n) {
      out = a;
      return true;
    }
  return false;
}

// Local name of an element, without a namespace prefix.
std::string_view LocalName(const pugi::xml_node& node) {
  std::string_view name = node.name();
  size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node ChildByLocalName(const pugi::xml_node& parent, std::string_view name) {
  for (pugi::xml_node child : parent.children())
    if (child.type() == pugi::node_element && LocalName(child) == name) return child;
  return {};
}

// A decimal attribute in [low, high]; false when missing or out of range.
bool UIntAttribute(const pugi::xml_node& node, const char* name, uint32_t low, uint32_t high,
                   uint32_t& out) {
  pugi::xml_attribute a = node.attribute(name);
  if (!a) return false;
  std::string_view text = a.value();
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v < low || v > high) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

bool Base64Attribute(const pugi::xml_node& node, const char* name, Bytes& out) {
  pugi::xml_attribute a = node.attribute(name);
  return a && Base64Decode(a.value(), out);
}

// The cipher, chaining and block size both XML key descriptions must name.
bool IsAesCbc(const pugi::xml_node& node, uint32_t& key_bits) {
  uint32_t block_size = 0;
  return std::string_view(node.attribute("cipherAlgorithm").value()) == "AES" &&
         std::string_view(node.attribute("cipherChaining").value()) == "ChainingModeCBC" &&
         UIntAttribute(node, "blockSize", 16, 16, block_size) &&
         UIntAttribute(node, "keyBits", 128, 256, key_bits) &&
         (key_bits == 128 || key_bits == 192 || key_bits == 256);
}

void ParseAgile(std::span<const uint8_t> provider, const ParseContext& ctx,
                OfficeEncryptionInfo& info) {
  ctx.Require(provider.size() > 8 && LoadLe32(provider.data() + 4) == 0x40);
  std::span<const uint8_t> xml = provider.subspan(8);
  while (!xml.empty() && xml.back() == 0) xml = xml.first(xml.size() - 1);
  pugi::xml_document doc;
  ctx.Require(doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8));
  pugi::xml_node encryption = doc.document_element();
  ctx.Require(LocalName(encryption) == "encryption");

  pugi::xml_node key_data = ChildByLocalName(encryption, "keyData");
  // A description that names another cipher, chaining or hash is sound, only unknown here.
  auto require_known = [&](const pugi::xml_node& node) {
    HashAlgorithm hash;
    std::string cipher = node.attribute("cipherAlgorithm").value();
    std::string chaining = node.attribute("cipherChaining").value();
    std::string hash_name = node.attribute("hashAlgorithm").value();
    if (cipher != "AES" || chaining != "ChainingModeCBC" || !HashByName(hash_name, hash))
      ctx.Unsupported(cipher + " " + chaining + " " + hash_name);
  };
  ctx.Require(key_data);
  require_known(key_data);
  uint32_t key_bits = 0;
  ctx.Require(IsAesCbc(key_data, key_bits) &&
              HashByName(key_data.attribute("hashAlgorithm").value(), info.hash) &&
              Base64Attribute(key_data, "saltValue", info.salt) && !info.salt.empty());
  info.key_bytes = key_bits / 8;

  pugi::xml_node encrypted_key;
  pugi::xml_node encryptors = ChildByLocalName(encryption, "keyEncryptors");
  for (pugi::xml_node encryptor : encryptors.children()) {
    if (LocalName(encryptor) != "keyEncryptor") continue;
    if (std::string_view(encryptor.attribute("uri").value()) !=
        "http://schemas.microsoft.com/office/2006/keyEncryptor/password")
      continue;
    encrypted_key = ChildByLocalName(encryptor, "encryptedKey");
    break;
  }
  uint32_t password_key_bits = 0;
  ctx.Require(encrypted_key);
  require_known(encrypted_key);
  ctx.Require(
      IsAesCbc(encrypted_key, password_key_bits) &&
      HashByName(encrypted_key.attribute("hashAlgorithm").value(), info.password_hash) &&
      UIntAttribute(encrypted_key, "spinCount", 0, kMaxSpinCount, info.spin_count) &&
      Base64Attribute(encrypted_key, "saltValue", info.password_salt) &&
      Base64Attribute(encrypted_key, "encryptedVerifierHashInput", info.encrypted_verifier) &&
      Base64Attribute(encrypted_key, "encryptedVerifierHashValue", info.encrypted_verifier_hash) &&
      Base64Attribute(encrypted_key, "encryptedKeyValue", info.encrypted_key_value));
  info.password_key_bytes = password_key_bits / 8;
  // The password salt doubles as the AES IV; encrypted values are whole blocks that hold
  // what they stand for.
  ctx.Require(info.password_salt.size() == 16);
  auto whole_blocks = [](const Bytes& b, size_t at_least) {
    return b.size() >= at_least && b.size() % 16 == 0;
  };
  ctx.Require(whole_blocks(info.encrypted_verifier, 16) &&
              whole_blocks(info.encrypted_verifier_hash, DigestSize(info.password_hash)) &&
              whole_blocks(info.encrypted_key_value, info.key_bytes));
}

bool IsAesAlgorithm(uint32_t algorithm, uint32_t& bits) {
  switch (algorithm) {
    case kAlgorithmAes128:
      bits = 128;
      return true;
    case kAlgorithmAes192:
      bits = 192;
      return true;
    case kAlgorithmAes256:
      bits = 256;
      return true;
    default:
      return false;
  }
}

void ParseCryptoApi(std::span<const uint8_t> provider, const ParseContext& ctx,
                    OfficeEncryptionInfo& info) {
  ctx.Require(provider.size() >= 12);
  uint32_t header_size = LoadLe32(provider.data() + 8);
  ctx.Require(header_size >= 32 && header_size <= provider.size() - 12);
  const uint8_t* header = provider.data() + 12;
  uint32_t flags = LoadLe32(header);
  uint32_t algorithm = LoadLe32(header + 8);
  uint32_t hash_algorithm = LoadLe32(header + 12);
  uint32_t key_bits = LoadLe32(header + 16);
  if (!(flags & kEncryptionFlagCryptoApi)) ctx.Unsupported(HexWord("flags", flags));
  if (hash_algorithm != 0 && hash_algorithm != kAlgorithmSha1)
    ctx.Unsupported(HexWord("hash", hash_algorithm));
  info.hash = HashAlgorithm::kSha1;

  size_t verifier_hash_length = 0;
  uint32_t aes_bits = 0;
  if (flags & kEncryptionFlagAes) {
    info.scheme = OfficeScheme::kStandard;
    if (algorithm == 0) algorithm = kAlgorithmAes128;
    if (!IsAesAlgorithm(algorithm, aes_bits)) ctx.Unsupported(HexWord("algorithm", algorithm));
  } else if (algorithm == 0 || algorithm == kAlgorithmRc4) {
    info.scheme = OfficeScheme::kRc4CryptoApi;
  } else if (IsAesAlgorithm(algorithm, aes_bits)) {
    // AES named without the AES flag: Access's "non-standard" provider.
    info.scheme = OfficeScheme::kNonStandard;
  } else {
    ctx.Unsupported(HexWord("algorithm", algorithm));
  }
  if (aes_bits != 0) {
    if (key_bits == 0) key_bits = aes_bits;
    ctx.Require(key_bits == aes_bits);
    verifier_hash_length = 32;
  } else {
    if (key_bits == 0) {
      // The provider name decides: the base provider means 40 bits.
      std::string csp = Utf16LeToUtf8(header + 32, header_size - 32);
      csp = AsciiLower(Trim(csp.substr(0, csp.find('\0'))));
      key_bits = csp.empty() || csp.find(" base ") != std::string::npos ? 40 : 128;
    }
    ctx.Require(key_bits >= 40 && key_bits <= 128 && key_bits % 8 == 0);
    verifier_hash_length = 20;
  }
  info.key_bytes = key_bits / 8;

  std::span<const uint8_t> verifier = provider.subspan(12 + header_size);
  ctx.Require(verifier.size() >= 4 + 16 + 16 + 4 + verifier_hash_length);
  ctx.Require(LoadLe32(verifier.data()) == 16);
  info.salt.assign(verifier.begin() + 4, verifier.begin() + 20);
  info.encrypted_verifier.assign(verifier.begin() + 20, verifier.begin() + 36);
  info.verifier_hash_size = LoadLe32(verifier.data() + 36);
  ctx.Require(info.verifier_hash_size == 20);
  info.encrypted_verifier_hash.assign(
      verifier.begin() + 40, verifier.begin() + 40 + static_cast<ptrdiff_t>(verifier_hash_length));
}

// The Office binary-document RC4 header (version 1.1): salt, verifier and its MD5, 16 bytes
// each.
void ParseOfficeRc4(std::span<const uint8_t> provider, const ParseContext& ctx,
                    OfficeEncryptionInfo& info) {
  ctx.Require(provider.size() >= 4 + 3 * 16);
  info.scheme = OfficeScheme::kOfficeRc4;
  info.hash = HashAlgorithm::kMd5;
  info.key_bytes = 16;
  info.salt.assign(provider.begin() + 4, provider.begin() + 20);
  info.encrypted_verifier.assign(provider.begin() + 20, provider.begin() + 36);
  info.encrypted_verifier_hash.assign(provider.begin() + 36, provider.begin() + 52);
  info.verifier_hash_size = 16;
}

// The iterated password hash of the agile and standard schemes: H(salt + password), then
// `iterations` rounds of H(LE32(i) + previous).
Bytes IteratedHash(HashAlgorithm algorithm, std::span<const uint8_t> salt,
                   std::span<const uint8_t> password, uint32_t iterations) {
  Bytes h = Digest(algorithm, {salt, password});
  Digester digester(algorithm);
  uint8_t counter[4];
  for (uint32_t i = 0; i < iterations; ++i) {
    counter[0] = static_cast<uint8_t>(i);
    counter[1] = static_cast<uint8_t>(i >> 8);
    counter[2] = static_cast<uint8_t>(i >> 16);
    counter[3] = static_cast<uint8_t>(i >> 24);
    digester.Run(counter, h, h.data());
  }
  return h;
}

// CryptoAPI's CryptDeriveKey over SHA-1 as the standard scheme uses it.
Bytes StandardKey(std::span<const uint8_t> base_hash, std::span<const uint8_t> block,
                  size_t key_bytes) {
  Bytes final_hash = Digest(HashAlgorithm::kSha1, {base_hash, block});
  uint8_t x1[64];
  uint8_t x2[64];
  std::memset(x1, 0x36, sizeof x1);
  std::memset(x2, 0x5c, sizeof x2);
  for (size_t i = 0; i < final_hash.size(); ++i) {
    x1[i] ^= final_hash[i];
    x2[i] ^= final_hash[i];
  }
  Bytes key = Digest(HashAlgorithm::kSha1, {x1});
  Bytes second = Digest(HashAlgorithm::kSha1, {x2});
  key.insert(key.end(), second.begin(), second.end());
  return FixLength(std::move(key), key_bytes);
}

// RC4 CryptoAPI key: SHA-1(base + block) cut to the key size; CryptoAPI pads a 40-bit key
// with zeros to 128 bits.
Bytes Rc4Key(std::span<const uint8_t> base_hash, std::span<const uint8_t> block, size_t key_bytes) {
  Bytes key = FixLength(Digest(HashAlgorithm::kSha1, {base_hash, block}), key_bytes);
  if (key_bytes == 5) key.resize(16, 0);
  return key;
}

// The Office binary-document RC4 base: MD5 over 16 copies of the password's MD5 (cut to 5
// bytes) and the salt, cut to 5 bytes; a block's key is MD5(base + block).
Bytes OfficeRc4Base(std::span<const uint8_t> salt, std::span<const uint8_t> password) {
  Bytes h0 = FixLength(Digest(HashAlgorithm::kMd5, {password}), 5);
  Bytes fill;
  for (int i = 0; i < 16; ++i) {
    fill.insert(fill.end(), h0.begin(), h0.end());
    fill.insert(fill.end(), salt.begin(), salt.end());
  }
  return FixLength(Digest(HashAlgorithm::kMd5, {fill}), 5);
}

}  // namespace

bool IsEncryptedAccdb(std::span<const uint8_t> page0) {
  if (!LooksLikeDefinitionPage(page0) || page0[kJetVersionOffset] < 2) return false;
  Bytes header = UnmaskedHeader(page0);
  for (size_t i = 0; i < 4; ++i)
    if (header[kEncodingKeyOffset + i] != 0) return true;
  return false;
}

OfficeEncryptionInfo ParseOfficeEncryption(std::span<const uint8_t> page0, PasswordErrorStyle style,
                                           std::string_view file_name) {
  ParseContext ctx{style, file_name, ""};
  ctx.Require(IsEncryptedAccdb(page0) && page0.size() >= kCryptInfoOffset + 2);
  OfficeEncryptionInfo info;
  Bytes header = UnmaskedHeader(page0);
  std::memcpy(info.encoding_key, header.data() + kEncodingKeyOffset, 4);

  size_t length = LoadLe16(page0.data() + kCryptInfoOffset);
  ctx.Require(length >= 4 && length <= page0.size() - kCryptInfoOffset - 2);
  std::span<const uint8_t> provider = page0.subspan(kCryptInfoOffset + 2, length);
  uint16_t major = LoadLe16(provider.data());
  uint16_t minor = LoadLe16(provider.data() + 2);
  ctx.version = std::to_string(major) + "." + std::to_string(minor);
  if (major == 4 && minor == 4) {
    info.scheme = OfficeScheme::kAgile;
    ParseAgile(provider, ctx, info);
  } else if ((major == 2 || major == 3 || major == 4) && minor == 2) {
    ParseCryptoApi(provider, ctx, info);
  } else if (major == 1 && minor == 1) {
    ParseOfficeRc4(provider, ctx, info);
  } else {
    // Extensible encryption (3.3, 4.3) hands the work to a provider of the writer's choice.
    ctx.Unsupported();
  }
  return info;
}

struct OfficePageDecryptor::State {
  OfficeEncryptionInfo info;
  Bytes base_hash;   // RC4 and standard
  Bytes secret_key;  // agile

  // The page's 4-byte block: its number XORed with the encoding key.
  Bytes PageBlock(uint32_t page_number) const {
    Bytes block = Le32Bytes(page_number);
    for (size_t i = 0; i < 4; ++i) block[i] ^= info.encoding_key[i];
    return block;
  }
};

OfficePageDecryptor::OfficePageDecryptor(std::span<const uint8_t> page0, std::string_view password,
                                         PasswordErrorStyle style, std::string_view file_name)
    : state_(std::make_unique<State>()) {
  OfficeEncryptionInfo& info = state_->info;
  info = ParseOfficeEncryption(page0, style, file_name);
  Bytes pw = PasswordBytes(password);
  const Bytes zero_block = Le32Bytes(0);

  switch (info.scheme) {
    case OfficeScheme::kRc4CryptoApi: {
      state_->base_hash = Digest(HashAlgorithm::kSha1, {info.salt, pw});
      Bytes key = Rc4Key(state_->base_hash, zero_block, info.key_bytes);
      Rc4 rc4(key);
      Bytes verifier = info.encrypted_verifier;
      Bytes verifier_hash = info.encrypted_verifier_hash;
      rc4.Apply(verifier);
      rc4.Apply(verifier_hash);
      Bytes expected = Digest(HashAlgorithm::kSha1, {verifier});
      if (!SameBytes(std::span(verifier_hash).first(info.verifier_hash_size), expected))
        RaiseInvalidPassword(style);
      break;
    }
    case OfficeScheme::kOfficeRc4: {
      state_->base_hash = OfficeRc4Base(info.salt, pw);
      Rc4 rc4(Digest(HashAlgorithm::kMd5, {state_->base_hash, zero_block}));
      Bytes verifier = info.encrypted_verifier;
      Bytes verifier_hash = info.encrypted_verifier_hash;
      rc4.Apply(verifier);
      rc4.Apply(verifier_hash);
      if (!SameBytes(verifier_hash, Digest(HashAlgorithm::kMd5, {verifier})))
        RaiseInvalidPassword(style);
      break;
    }
    case OfficeScheme::kStandard:
    case OfficeScheme::kNonStandard: {
      state_->base_hash =
          IteratedHash(HashAlgorithm::kSha1, info.salt, pw,
                       info.scheme == OfficeScheme::kStandard ? kStandardIterations : 0);
      Bytes key = StandardKey(state_->base_hash, zero_block, info.key_bytes);
      Bytes verifier = info.encrypted_verifier;
      Bytes verifier_hash = info.encrypted_verifier_hash;
      AesDecrypt(AesMode::kEcb, key, {}, verifier);
      AesDecrypt(AesMode::kEcb, key, {}, verifier_hash);
      Bytes expected = Digest(HashAlgorithm::kSha1, {verifier});
      if (!SameBytes(std::span(verifier_hash).first(info.verifier_hash_size), expected))
        RaiseInvalidPassword(style);
      break;
    }
    case OfficeScheme::kAgile: {
      Bytes iterated = IteratedHash(info.password_hash, info.password_salt, pw, info.spin_count);
      auto decrypt_value = [&](std::span<const uint8_t> block_key, const Bytes& value) {
        Bytes key = FixLength(Digest(info.password_hash, {iterated, block_key}),
                              info.password_key_bytes, 0x36);
        Bytes plain = value;
        AesDecrypt(AesMode::kCbc, key, info.password_salt, plain);
        return plain;
      };
      Bytes verifier = decrypt_value(kVerifierInputBlock, info.encrypted_verifier);
      Bytes verifier_hash = decrypt_value(kVerifierValueBlock, info.encrypted_verifier_hash);
      // The verifier input is as long as the salt; its hash leads the decrypted value.
      Bytes expected =
          Digest(info.password_hash,
                 {std::span(verifier).first(std::min(verifier.size(), info.password_salt.size()))});
      if (!SameBytes(std::span(verifier_hash).first(expected.size()), expected))
        RaiseInvalidPassword(style);
      state_->secret_key =
          FixLength(decrypt_value(kKeyValueBlock, info.encrypted_key_value), info.key_bytes);
      break;
    }
  }
}

OfficePageDecryptor::~OfficePageDecryptor() = default;

OfficeScheme OfficePageDecryptor::scheme() const {
  return state_->info.scheme;
}

void OfficePageDecryptor::DecryptPage(std::span<uint8_t> page, uint32_t page_number) const {
  const OfficeEncryptionInfo& info = state_->info;
  Bytes block = state_->PageBlock(page_number);
  switch (info.scheme) {
    case OfficeScheme::kRc4CryptoApi: {
      Rc4 rc4(Rc4Key(state_->base_hash, block, info.key_bytes));
      rc4.Apply(page);
      break;
    }
    case OfficeScheme::kOfficeRc4: {
      Rc4 rc4(Digest(HashAlgorithm::kMd5, {state_->base_hash, block}));
      rc4.Apply(page);
      break;
    }
    case OfficeScheme::kStandard:
    case OfficeScheme::kNonStandard:
      AesDecrypt(AesMode::kEcb, StandardKey(state_->base_hash, block, info.key_bytes), {}, page);
      break;
    case OfficeScheme::kAgile: {
      Bytes iv = FixLength(Digest(info.hash, {info.salt, block}), 16, 0x36);
      AesDecrypt(AesMode::kCbc, state_->secret_key, iv, page);
      break;
    }
  }
}

void ClearEncodingKey(std::span<uint8_t> page0) {
  ToggleHeaderMask(page0);
  std::memset(page0.data() + kEncodingKeyOffset, 0, 4);
  ToggleHeaderMask(page0);
}

void DecryptAccdbImage(std::span<uint8_t> image, std::string_view password,
                       PasswordErrorStyle style, std::string_view file_name) {
  std::span<const uint8_t> page0 = image.first(std::min(image.size(), kAccdbPageSize));
  OfficePageDecryptor decryptor(page0, password, style, file_name);
  for (size_t offset = kAccdbPageSize; offset < image.size(); offset += kAccdbPageSize) {
    size_t length = std::min(kAccdbPageSize, image.size() - offset);
    decryptor.DecryptPage(image.subspan(offset, length),
                          static_cast<uint32_t>(offset / kAccdbPageSize));
  }
  ClearEncodingKey(image);
}

}  // namespace ferrolyte
