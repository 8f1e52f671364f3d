// Feeds a long-value header and the pages its chain may visit to the long-value reader.
// Input: [first page number (4)][header length][header][pages of 4096 bytes]; page numbers
// from the first one on name the pages of the input, all others are not in the file.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/access_rows.h"

using namespace ferrolyte;

namespace {
constexpr size_t kPageSize = 4096;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const uint32_t first = data[0] | data[1] << 8 | data[2] << 16 | uint32_t{data[3]} << 24;
  const size_t header_size = data[4];
  if (size < 5 + header_size) return 0;
  std::span<const uint8_t> header(data + 5, header_size);
  const uint8_t* pages = data + 5 + header_size;
  const size_t page_count = (size - 5 - header_size) / kPageSize;
  const PageSource source = [&](uint32_t page) -> std::span<const uint8_t> {
    if (page < first || page - first >= page_count) return {};
    return {pages + (page - first) * kPageSize, kPageSize};
  };
  const PageFormat format{kPageSize, 12};
  std::string out;
  try {
    ReadLongValue(header, source, format, out);
    // Never more than the 24-bit length the header can state.
    if (out.size() > 0x00FFFFFF) __builtin_trap();
  } catch (const DamagedStructure&) {
  }
  return 0;
}
