#include "platform/attachments.h"

#include <zlib.h>

#include "platform/access_rows.h"

namespace ferrolyte {
namespace {

constexpr uint32_t kStoredPlain = 0;
constexpr uint32_t kStoredDeflated = 1;
constexpr size_t kKindAndLength = 8;
// Access keeps files up to 256 MB; a length beyond that is damage, not a file to allocate.
constexpr uint32_t kMaxInflated = 256u << 20;

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

Bytes Inflate(std::span<const uint8_t> deflated, uint32_t expected) {
  // One byte beyond the stored length tells a longer stream from a cut one.
  Bytes out(static_cast<size_t>(expected) + 1);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw DamagedStructure("the attachment cannot be inflated");
  z.next_in = const_cast<Bytef*>(deflated.data());
  z.avail_in = static_cast<uInt>(deflated.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&z, Z_FINISH);
  const uLong produced = z.total_out;
  inflateEnd(&z);
  if (produced > expected)
    throw DamagedStructure("the attachment inflates to more than its stored length");
  if (result != Z_STREAM_END)
    throw DamagedStructure("the attachment's deflated bytes end early or are damaged");
  if (produced != expected)
    throw DamagedStructure("the attachment inflates to " + std::to_string(produced) +
                           " bytes, its stored length is " + std::to_string(expected));
  out.resize(expected);
  return out;
}

}  // namespace

Bytes AttachmentFileBytes(std::span<const uint8_t> stored) {
  if (stored.size() < kKindAndLength) throw DamagedStructure("the attachment has no header");
  const uint32_t kind = Le32(stored.data());
  const uint32_t length = Le32(stored.data() + 4);
  const std::span<const uint8_t> body = stored.subspan(kKindAndLength);
  Bytes inner;
  if (kind == kStoredDeflated) {
    if (length > kMaxInflated) throw DamagedStructure("the attachment's length is out of range");
    inner = Inflate(body, length);
  } else if (kind == kStoredPlain) {
    if (length != body.size())
      throw DamagedStructure("the attachment holds " + std::to_string(body.size()) +
                             " bytes, its stored length is " + std::to_string(length));
    inner.assign(body.begin(), body.end());
  } else {
    throw DamagedStructure("the attachment is stored in an unknown form (" + std::to_string(kind) +
                           ")");
  }
  if (inner.size() < 4) throw DamagedStructure("the attachment's file header is missing");
  const uint32_t header = Le32(inner.data());
  if (header < 12 || header > inner.size())
    throw DamagedStructure("the attachment's file header runs past its bytes");
  return Bytes(inner.begin() + header, inner.end());
}

}  // namespace ferrolyte
