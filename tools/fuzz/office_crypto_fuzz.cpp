// Feeds arbitrary bytes to the header parsers: as a whole definition page, or as the
// encryption provider of an otherwise valid encrypted .accdb page (where random input would
// rarely get on its own).
#include <cstdint>
#include <cstring>

#include "platform/jet_password.h"
#include "platform/office_crypto.h"
#include "support/errors.h"

using namespace ferrolyte;

namespace {

constexpr size_t kCryptInfoOffset = 0x299;
// Spin counts above this are parsed but not run: a slow input is not a finding.
constexpr uint32_t kMaxFuzzSpinCount = 64;

Bytes EncryptedPageTemplate() {
  Bytes page(kAccdbPageSize, 0);
  std::memcpy(page.data() + 4, "Standard ACE DB", 15);
  page[kJetVersionOffset] = 3;
  const uint8_t key[4] = {0xa3, 0x38, 0xbe, 0xa0};
  std::memcpy(page.data() + 0x3e, key, 4);
  ToggleHeaderMask(page);
  return page;
}

void Exercise(const Bytes& page0) {
  try {
    (void)IsEncryptedAccdb(page0);
    (void)ReadJetDatabasePassword(page0);
  } catch (const Error&) {
  }
  try {
    OfficeEncryptionInfo info = ParseOfficeEncryption(page0, PasswordErrorStyle::kAdo);
    if (info.scheme == OfficeScheme::kAgile && info.spin_count > kMaxFuzzSpinCount) return;
    OfficePageDecryptor decryptor(page0, "password", PasswordErrorStyle::kAdo);
    Bytes page(100, 0x5a);  // not a whole number of AES blocks on purpose
    decryptor.DecryptPage(page, 1);
  } catch (const Error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  bool whole_page = data[0] & 1;
  ++data;
  --size;
  if (whole_page) {
    Exercise(Bytes(data, data + size));
  } else {
    static const Bytes kTemplate = EncryptedPageTemplate();
    Bytes page0 = kTemplate;
    std::memcpy(page0.data() + kCryptInfoOffset, data,
                std::min(size, page0.size() - kCryptInfoOffset));
    Exercise(page0);
  }
  return 0;
}
