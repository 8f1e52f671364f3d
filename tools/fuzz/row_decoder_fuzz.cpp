// Feeds a data page and a column layout to the row decoder: the page's row offset table,
// every row cracked against the layout, each field decoded as text, decimal and GUID; the
// page is also read as a usage map. Input: [column count][flags][7 bytes per column][page].
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/access_rows.h"

using namespace ferrolyte;

namespace {

constexpr size_t kPageSize = 4096;
constexpr size_t kColumnBytes = 7;  // col_num, var_col_num, fixed_offset (2), size (2), fixed

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t count = data[0] % 32;
  const bool jet3 = data[1] & 1;
  const bool has_variable = data[1] & 2;
  if (size < 2 + count * kColumnBytes) return 0;
  std::vector<RowColumn> columns;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* c = data + 2 + i * kColumnBytes;
    columns.push_back({c[0], c[1], c[2] | c[3] << 8, c[4] | c[5] << 8, (c[6] & 1) != 0});
  }
  std::vector<uint8_t> page(data + 2 + count * kColumnBytes, data + size);
  page.resize(kPageSize);
  const PageFormat format{kPageSize, jet3 ? 8u : 12u};

  std::vector<MdbField> fields;
  std::vector<unsigned> offsets;
  unsigned rows = 0;
  if (!PageRowCount(page, format, rows)) {
    // The one-pass location agrees with the row-by-row one up to the first damaged row.
    std::vector<RowSlot> slots;
    unsigned bad_row = 0;
    const bool all_good = LocateRows(page, format, slots, bad_row) == nullptr;
    for (unsigned r = 0; r < (all_good ? rows : bad_row); ++r) {
      RowSlot one;
      if (LocateRow(page, format, r, one) || one.kind != slots[r].kind ||
          one.start != slots[r].start || one.size != slots[r].size ||
          (one.kind != RowKind::kDeleted && one.start + one.size > kPageSize))
        __builtin_trap();
    }
    unsigned live = 0;
    bool consistent = false;
    (void)CountLiveRows(page, format, live, consistent);
    for (unsigned r = 0; r < rows; ++r) {
      RowSlot slot;
      if (LocateRow(page, format, r, slot) || slot.kind != RowKind::kLive) continue;
      std::span<const uint8_t> row(page.data() + slot.start, slot.size);
      if (CrackRow(row, jet3, has_variable, columns, fields, offsets)) continue;
      for (const MdbField& f : fields) {
        if (!f.value) continue;
        // Every field must lie inside its row.
        const auto* p = static_cast<const uint8_t*>(f.value);
        if (p < row.data() || p + f.siz > row.data() + row.size() || f.siz < 0) __builtin_trap();
        std::string text;
        AppendStoredText(p, static_cast<size_t>(f.siz), jet3, 1252, text);
        (void)DecimalText(p, static_cast<size_t>(f.siz), 3);
        if (f.siz >= 16) (void)GuidText(p);
      }
    }
  }
  try {
    UsageMap map(
        std::span<const uint8_t>(page.data(), std::min<size_t>(page.size(), 512)),
        [&](uint32_t) { return std::span<const uint8_t>(page); }, format);
    uint32_t listed = 0;
    for (int i = 0; i < 100000 && map.Next(listed); ++i) {
    }
  } catch (const DamagedStructure&) {
  }
  return 0;
}
