#include "platform/access_rows.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/ado.h"
#include "platform/decrypted_file.h"
#include "support/errors.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

constexpr int kOffsetMask = 0x1fff;
// 0xC000 marks a deleted row; 0x4000 alone a row moved to another page, whose new place
// (flagged 0x8000 alone) every reader walks to as a row of that page.
constexpr uint16_t kSkippedRowFlag = 0x4000;
constexpr uint16_t kDeletedRowFlag = 0x8000;
constexpr size_t kMemoHeader = 12;
// The kind byte of a long-value header: the value in the row, in one row of another page,
// or in a chain of rows.
constexpr uint8_t kLongValueInline = 0x80;
constexpr uint8_t kLongValueOnePage = 0x40;
constexpr uint8_t kLongValuePages = 0x00;
constexpr uint8_t kDataPageType = 0x01;
constexpr uint8_t kUsageMapPageType = 0x05;
// Jet's "Cannot open database ... the file may be corrupt", for damage seen through DAO.
constexpr int32_t kDaoDamagedDatabase = errc::kDamagedDatabase.number;
// Jet's "Disk or network error.": the file itself could not be read.
constexpr int32_t kDaoDiskOrNetwork = errc::kDiskOrNetwork.number;

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
int64_t Le64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<int64_t>(v);
}

void AppendUtf16(const uint8_t* data, size_t units, std::string& out) {
  for (size_t i = 0; i < units; ++i) {
    char32_t c = Le16(data + 2 * i);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
      char32_t low = Le16(data + 2 * (i + 1));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    AppendUtf8(out, c);
  }
}

void AppendCodePage(const uint8_t* data, size_t size, int code_page, std::string& out) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (code_page == 0 || code_page == 1252) {
    out += Windows1252ToUtf8(bytes);
    return;
  }
  std::string charset = "CP" + std::to_string(code_page);
  gsize written = 0;
  gchar* converted = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8",
                               charset.c_str(), nullptr, &written, nullptr);
  if (converted) {
    out.append(converted, written);
    g_free(converted);
  } else {
    out += Windows1252ToUtf8(bytes);
  }
}

}  // namespace

int FixedWidthOf(int col_type) {
  switch (col_type) {
    case MDB_BYTE:
      return 1;
    case MDB_INT:
      return 2;
    case MDB_LONGINT:
    case MDB_FLOAT:
    case MDB_COMPLEX:
      return 4;
    case MDB_MONEY:
    case MDB_DOUBLE:
    case MDB_DATETIME:
    case kMdbBigInt:
      return 8;
    case MDB_REPID:
      return 16;
    case MDB_NUMERIC:
      return 17;
    default:
      return 0;
  }
}

int AdoTypeOfColumn(const MdbColumn& column) {
  switch (column.col_type) {
    case MDB_BOOL:
      return kAdBoolean;
    case MDB_BYTE:
      return kAdUnsignedTinyInt;
    case MDB_INT:
      return kAdSmallInt;
    case MDB_LONGINT:
      return kAdInteger;
    case MDB_MONEY:
      return kAdCurrency;
    case MDB_FLOAT:
      return kAdSingle;
    case MDB_DOUBLE:
      return kAdDouble;
    case MDB_DATETIME:
    case kMdbDateTimeExtended:
      return kAdDate;
    case MDB_BINARY:
      return column.is_fixed ? kAdBinary : kAdVarBinary;
    case MDB_TEXT:
      return kAdVarWChar;
    case MDB_OLE:
      return kAdLongVarBinary;
    case MDB_MEMO:
    case MDB_COMPLEX:
      return kAdLongVarWChar;
    case MDB_REPID:
      return kAdGUID;
    case MDB_NUMERIC:
      return kAdNumeric;
    case kMdbBigInt:
      return kAdBigInt;
    default:
      return kAdEmpty;
  }
}

void AppendStoredText(const uint8_t* data, size_t size, bool jet3, int code_page,
                      std::string& out) {
  if (jet3) {
    AppendCodePage(data, size, code_page, out);
    return;
  }
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    // Compressed form: runs of one-byte Latin-1 characters and of UTF-16 units, switched by
    // a zero byte. Decoded into UTF-16 first so that surrogate pairs across runs survive.
    std::vector<uint8_t> units;
    units.reserve(size * 2);
    bool compressed = true;
    size_t i = 2;
    while (i < size) {
      if (data[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        units.push_back(data[i++]);
        units.push_back(0);
      } else if (i + 1 < size) {
        units.push_back(data[i]);
        units.push_back(data[i + 1]);
        i += 2;
      } else {
        break;
      }
    }
    AppendUtf16(units.data(), units.size() / 2, out);
    return;
  }
  AppendUtf16(data, size / 2, out);
}

std::string DecimalText(const uint8_t* data, size_t size, int scale) {
  if (size < 17) return "0";
  bool negative = (data[0] & 0x80) != 0;
  // Four 32-bit little-endian words, most significant first.
  unsigned __int128 magnitude = 0;
  for (int w = 0; w < 4; ++w) magnitude = (magnitude << 32) | Le32(data + 1 + 4 * w);
  std::string digits;
  do {
    digits.push_back(static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  if (scale < 0) scale = 0;
  while (static_cast<int>(digits.size()) <= scale) digits.push_back('0');
  std::string text;
  if (negative) text.push_back('-');
  for (size_t i = digits.size(); i-- > 0;) {
    text.push_back(digits[i]);
    if (i == static_cast<size_t>(scale) && scale > 0) text.push_back('.');
  }
  if (text == "-0" || (negative && text.find_first_not_of("-0.") == std::string::npos))
    text.erase(0, 1);
  return text;
}

std::string CurrencyText(int64_t ten_thousandths) {
  bool negative = ten_thousandths < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(ten_thousandths)
                                : static_cast<uint64_t>(ten_thousandths);
  std::string fraction = std::to_string(magnitude % 10000);
  fraction.insert(0, 4 - fraction.size(), '0');
  return (negative ? "-" : "") + std::to_string(magnitude / 10000) + "." + fraction;
}

std::string GuidText(const uint8_t* d) {
  // The first three groups are stored little-endian, the last two as bytes.
  static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string text = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(HexDigit(d[kOrder[i]] >> 4));
    text.push_back(HexDigit(d[kOrder[i]]));
  }
  text.push_back('}');
  return text;
}

bool ExtendedDateParts(const uint8_t* data, size_t size, int64_t& ole_day, int64_t& ticks) {
  // "DDDDDDDDDDDDDDDDDDD:TTTTTTTTTTTTTTTTTTT:7" and NUL padding. Each number is checked
  // against its limit digit by digit, so no text can overflow it.
  constexpr int64_t kLastDay = 3652058;  // 9999-12-31
  constexpr int64_t kTicksPerDay = 864000000000;
  constexpr int64_t kDaysFrom0001To1899_12_30 = 693593;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  size_t at = 0;
  auto number = [&](int64_t limit, int64_t& out) {
    size_t start = at;
    out = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 19) {
      out = out * 10 + (text[at] - '0');
      if (out > limit) return false;
      ++at;
    }
    return at > start && (at == text.size() || text[at] < '0' || text[at] > '9');
  };
  int64_t days = 0;
  if (!number(kLastDay, days) || at >= text.size() || text[at++] != ':') return false;
  if (!number(kTicksPerDay - 1, ticks)) return false;
  if (text.substr(at) != ":7") return false;
  ole_day = days - kDaysFrom0001To1899_12_30;
  return true;
}

[[noreturn]] void RaiseDamagedTable(EngineErrorStyle style, const std::string& table,
                                    const std::string& where_and_what) {
  std::string text = "The table '" + table + "' is damaged: " + where_and_what;
  if (!text.empty() && text.back() != '.') text += '.';
  if (style == EngineErrorStyle::kDao) throw Error(kDaoDamagedDatabase, "DAO.Database", text);
  throw Error(kAdoGenericError, "Microsoft JET Database Engine", text);
}

void RaiseIfReadFailed(MdbHandle* mdb, const SourceReadFailure* failure, EngineErrorStyle style,
                       const std::string& table, const std::string& where) {
  if (!mdb->f->stream || !std::ferror(mdb->f->stream)) return;
  std::string text =
      "Disk or network error. The table '" + table + "' could not be read from the file";
  if (failure) text += " '" + failure->file() + "'";
  text += " at " + where;
  if (failure && failure->first_errno() != 0)
    text += std::string(": ") + std::strerror(failure->first_errno());
  text += ".";
  if (style == EngineErrorStyle::kDao) throw Error(kDaoDiskOrNetwork, "DAO.Database", text);
  throw Error(kAdoGenericError, "Microsoft JET Database Engine", text);
}

const char* PageRowCount(std::span<const uint8_t> page, const PageFormat& format, unsigned& rows) {
  if (page.size() < format.page_size || format.row_count_offset + 2 > format.page_size)
    return "the page is shorter than a page";
  rows = Le16(page.data() + format.row_count_offset);
  if (format.row_count_offset + 2 + 2 * size_t{rows} > format.page_size)
    return "the row count does not fit the page";
  return nullptr;
}

namespace {

uint16_t RowEntry(std::span<const uint8_t> page, const PageFormat& format, unsigned row) {
  return Le16(page.data() + format.row_count_offset + 2 + 2 * size_t{row});
}

// Access puts a deleted row's entry at the page's end or at a row's start, never past the
// end: one that points there is a live row's entry with changed flag bits.
constexpr uint16_t kUnusedEntryBit = 0x2000;
const char* CheckDeleted(uint16_t entry, const PageFormat& format) {
  if ((entry & kUnusedEntryBit) || (entry & kOffsetMask) > format.page_size)
    return "a deleted row's entry points past the end of the page";
  return nullptr;
}

RowKind KindOf(uint16_t entry) {
  if ((entry & kSkippedRowFlag) == 0) return RowKind::kLive;
  return (entry & kDeletedRowFlag) ? RowKind::kDeleted : RowKind::kMoved;
}

// Checks one entry that is not deleted, given the lowest start among the entries before it
// that lie above its own start (`end`, the page size when there is none) and whether some
// entry before it that is not deleted starts at or below it (rows go down the page).
const char* CheckSlot(uint16_t entry, size_t end, bool below_earlier, size_t table_end,
                      const PageFormat& format, RowSlot& slot) {
  const size_t start = entry & kOffsetMask;
  if (start >= format.page_size) return "the row runs past the end of the page";
  if (start < table_end) return "the row overlaps the row offset table";
  if (below_earlier) return "the row ends before it starts";
  slot.start = start;
  slot.size = end - start;
  slot.kind = KindOf(entry);
  if (slot.size == 0) return "the row is empty";
  return nullptr;
}

}  // namespace

const char* LocateRow(std::span<const uint8_t> page, const PageFormat& format, unsigned row,
                      RowSlot& slot) {
  unsigned rows = 0;
  if (const char* bad = PageRowCount(page, format, rows)) return bad;
  if (row >= rows) return "the row is not on the page";
  const uint16_t entry = RowEntry(page, format, row);
  slot = RowSlot{.kind = KindOf(entry)};
  if (slot.kind == RowKind::kDeleted) return CheckDeleted(entry, format);
  const size_t start = entry & kOffsetMask;
  size_t end = format.page_size;
  bool below_earlier = false;
  for (unsigned before = 0; before < row; ++before) {
    const uint16_t e = RowEntry(page, format, before);
    const size_t at = e & kOffsetMask;
    if (at > start && at < end) end = at;
    if (at <= start && KindOf(e) != RowKind::kDeleted) below_earlier = true;
  }
  return CheckSlot(entry, end, below_earlier, format.row_count_offset + 2 + 2 * size_t{rows},
                   format, slot);
}

const char* LocateRows(std::span<const uint8_t> page, const PageFormat& format,
                       std::vector<RowSlot>& slots, unsigned& bad_row) {
  unsigned rows = 0;
  bad_row = 0;
  if (const char* bad = PageRowCount(page, format, rows)) return bad;
  const size_t table_end = format.row_count_offset + 2 + 2 * size_t{rows};
  slots.assign(rows, RowSlot{});
  // Starts of the entries so far, highest first: rows go down the page, so a new start
  // usually goes at the end.
  std::vector<size_t> earlier;
  earlier.reserve(rows);
  size_t lowest_kept = format.page_size;  // of the entries so far that are not deleted
  for (unsigned row = 0; row < rows; ++row) {
    const uint16_t entry = RowEntry(page, format, row);
    const size_t start = entry & kOffsetMask;
    RowSlot& slot = slots[row];
    slot.kind = KindOf(entry);
    if (slot.kind == RowKind::kDeleted) {
      if (const char* bad = CheckDeleted(entry, format)) {
        bad_row = row;
        return bad;
      }
    } else {
      auto above = std::partition_point(earlier.begin(), earlier.end(),
                                        [start](size_t at) { return at > start; });
      const size_t end =
          above == earlier.begin() ? format.page_size : std::min(above[-1], format.page_size);
      if (const char* bad = CheckSlot(entry, end, lowest_kept <= start, table_end, format, slot)) {
        bad_row = row;
        return bad;
      }
      lowest_kept = std::min(lowest_kept, start);
    }
    earlier.insert(std::partition_point(earlier.begin(), earlier.end(),
                                        [start](size_t at) { return at > start; }),
                   start);
  }
  return nullptr;
}

const char* CountLiveRows(std::span<const uint8_t> page, const PageFormat& format, unsigned& live,
                          bool& consistent) {
  unsigned rows = 0;
  live = 0;
  consistent = true;
  if (const char* bad = PageRowCount(page, format, rows)) return bad;
  size_t lowest = format.page_size;
  for (unsigned row = 0; row < rows; ++row) {
    const uint16_t entry = RowEntry(page, format, row);
    live += KindOf(entry) == RowKind::kLive;
    lowest = std::min<size_t>(lowest, entry & kOffsetMask);
  }
  const size_t table_end = format.row_count_offset + 2 + 2 * size_t{rows};
  consistent = lowest >= table_end && Le16(page.data() + 2) == lowest - table_end;
  return nullptr;
}

const char* CrackRow(std::span<const uint8_t> row, bool jet3, bool has_variable_columns,
                     const std::vector<RowColumn>& columns, std::vector<MdbField>& fields,
                     std::vector<unsigned>& offsets) {
  const size_t size = row.size();
  const uint8_t* r = row.data();
  const size_t count_size = jet3 ? 1 : 2;
  if (size < count_size + 1) return "the row is too short for its column count";
  const unsigned row_cols = jet3 ? r[0] : Le16(r);
  const size_t mask_size = (row_cols + 7) / 8;
  if (count_size + mask_size > size) return "the null mask runs past the start of the row";
  const uint8_t* mask = r + size - mask_size;
  // Everything before `data_end` may hold values; after it come the offset table and mask.
  size_t data_end = size - mask_size;
  unsigned row_var_cols = 0;
  offsets.clear();
  if (has_variable_columns) {
    if (jet3) {
      if (count_size + mask_size + 1 > size) return "the variable column count does not fit";
      row_var_cols = r[size - mask_size - 1];
      // Jet 3 keeps one-byte offsets and a table of "jumps" past each 256-byte boundary,
      // read exactly as libmdb reads it.
      size_t num_jumps = (size - 1) / 256;
      if (size < mask_size + num_jumps + 2) return "the offset table does not fit the row";
      const size_t col_ptr = size - mask_size - num_jumps - 2;
      if (col_ptr >= row_var_cols && (col_ptr - row_var_cols) / 256 < num_jumps) --num_jumps;
      if (col_ptr < count_size + row_var_cols) return "the offset table does not fit the row";
      size_t jumps_used = 0;
      for (unsigned i = 0; i <= row_var_cols; ++i) {
        while (jumps_used < num_jumps && i == r[size - mask_size - jumps_used - 2]) ++jumps_used;
        offsets.push_back(r[col_ptr - i] + static_cast<unsigned>(jumps_used * 256));
      }
      data_end = col_ptr - row_var_cols;
    } else {
      if (count_size + mask_size + 2 > size) return "the variable column count does not fit";
      row_var_cols = Le16(r + size - mask_size - 2);
      const size_t table_size = 2 + 2 * (size_t{row_var_cols} + 1);
      if (count_size + mask_size + table_size > size)
        return "the offset table does not fit the row";
      for (unsigned i = 0; i <= row_var_cols; ++i)
        offsets.push_back(Le16(r + size - mask_size - 4 - 2 * i));
      data_end = size - mask_size - table_size;
    }
    if (offsets[0] < count_size) return "a variable-length value starts inside the column count";
    for (size_t i = 0; i + 1 < offsets.size(); ++i)
      if (offsets[i] > offsets[i + 1]) return "the variable-length offsets are out of order";
    if (offsets.back() > data_end) return "a variable-length value runs into the offset table";
  }
  if (row_var_cols > row_cols) return "the row has more variable columns than columns";
  const unsigned row_fixed_cols = row_cols - row_var_cols;
  unsigned fixed_found = 0;
  fields.resize(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    const RowColumn& col = columns[i];
    MdbField& f = fields[i];
    f.colnum = static_cast<int>(i);
    f.is_fixed = col.fixed;
    // A column added after the row was written has no bit in its mask: null.
    const size_t byte = static_cast<size_t>(col.col_num) / 8;
    f.is_null = byte < mask_size && (mask[byte] & (1 << (col.col_num % 8))) ? 0 : 1;
    if (col.fixed && fixed_found < row_fixed_cols) {
      const size_t at = count_size + static_cast<size_t>(col.fixed_offset);
      if (at + static_cast<size_t>(col.size) > data_end)
        return "a fixed-width value runs past the end of the row";
      f.start = static_cast<int>(at);
      f.value = const_cast<uint8_t*>(r + at);
      f.siz = col.size;
      ++fixed_found;
    } else if (!col.fixed && col.var_col_num < row_var_cols) {
      const unsigned from = offsets[col.var_col_num];
      f.start = static_cast<int>(from);
      f.value = const_cast<uint8_t*>(r + from);
      f.siz = static_cast<int>(offsets[col.var_col_num + 1] - from);
    } else {
      f.start = 0;
      f.value = nullptr;
      f.siz = 0;
      f.is_null = 1;
    }
  }
  return nullptr;
}

void ReadLongValue(std::span<const uint8_t> field, const PageSource& pages,
                   const PageFormat& format, std::string& out) {
  out.clear();
  if (field.size() < kMemoHeader)
    throw DamagedStructure("the long-value header is shorter than 12 bytes");
  const uint32_t length = Le32(field.data()) & 0x00FFFFFF;
  const uint8_t kind = field[3];
  if (kind == kLongValueInline) {
    if (length > field.size() - kMemoHeader)
      throw DamagedStructure("the stored value is shorter than its length");
    out.assign(reinterpret_cast<const char*>(field.data() + kMemoHeader), length);
    return;
  }
  if (kind != kLongValueOnePage && kind != kLongValuePages)
    throw DamagedStructure("the long-value header is of an unknown kind");
  uint32_t pg_row = Le32(field.data() + 4);
  std::vector<uint32_t> visited;
  while (out.size() < length) {
    const std::string where =
        "long-value page " + std::to_string(pg_row >> 8) + ", row " + std::to_string(pg_row & 0xFF);
    if (pg_row == 0)
      throw DamagedStructure("the long-value chain ends after " + std::to_string(out.size()) +
                             " of " + std::to_string(length) + " bytes");
    if (std::find(visited.begin(), visited.end(), pg_row) != visited.end())
      throw DamagedStructure(where + ": the long-value chain returns to a row it has read");
    visited.push_back(pg_row);
    std::span<const uint8_t> page = pages(pg_row >> 8);
    if (page.size() < format.page_size) throw DamagedStructure(where + ": no such page");
    if (page[0] != kDataPageType) throw DamagedStructure(where + ": not a data page");
    RowSlot slot;
    if (const char* bad = LocateRow(page, format, pg_row & 0xFF, slot))
      throw DamagedStructure(where + ": " + bad);
    if (slot.kind != RowKind::kLive) throw DamagedStructure(where + ": the row is deleted");
    const uint8_t* data = page.data() + slot.start;
    if (kind == kLongValueOnePage) {
      if (slot.size < length)
        throw DamagedStructure(where + ": the row is shorter than the value's length");
      out.assign(reinterpret_cast<const char*>(data), length);
      return;
    }
    if (slot.size < 4) throw DamagedStructure(where + ": the row is too short for its link");
    pg_row = Le32(data);
    out.append(reinterpret_cast<const char*>(data + 4), slot.size - 4);
  }
  if (out.size() > length) out.resize(length);
}

UsageMap::UsageMap(std::span<const uint8_t> map, PageSource pages, const PageFormat& format)
    : map_(map.begin(), map.end()), pages_(std::move(pages)), format_(format) {
  if (map_.empty()) throw DamagedStructure("the usage map is empty");
  type_ = map_[0];
  if (type_ == 0) {
    if (map_.size() < 5) throw DamagedStructure("the usage map is too short");
    bits_per_map_ = (map_.size() - 5) * 8;
  } else if (type_ == 1) {
    bits_per_map_ = (format_.page_size - 4) * 8;
  } else {
    throw DamagedStructure("the usage map is of an unknown kind");
  }
}

bool UsageMap::Next(uint32_t& page) {
  if (type_ == 0) {
    const uint8_t* bitmap = map_.data() + 5;
    const uint64_t first = Le32(map_.data() + 1);
    for (; bit_ < bits_per_map_; ++bit_) {
      if ((bit_ & 7) == 0 && bitmap[bit_ / 8] == 0) {
        bit_ += 7;
        continue;
      }
      if (bitmap[bit_ / 8] & (1 << (bit_ & 7))) {
        uint64_t number = first + bit_++;
        if (number > 0xFFFFFFFFu)
          throw DamagedStructure("the usage map lists a page past the file");
        page = static_cast<uint32_t>(number);
        return true;
      }
    }
    return false;
  }
  const size_t maps = (map_.size() - 1) / 4;
  for (;;) {
    const size_t index = static_cast<size_t>(bit_ / bits_per_map_);
    if (index >= maps) return false;
    if (map_index_ != index + 1) {
      map_index_ = index + 1;
      const uint32_t map_page = Le32(map_.data() + 1 + 4 * index);
      if (map_page == 0) {
        bit_ = (index + 1) * bits_per_map_;
        continue;
      }
      std::span<const uint8_t> bytes = pages_(map_page);
      const std::string where = "usage map page " + std::to_string(map_page);
      if (bytes.size() < format_.page_size) throw DamagedStructure(where + ": no such page");
      if (bytes[0] != kUsageMapPageType) throw DamagedStructure(where + ": not a usage map page");
      bitmap_.assign(bytes.begin() + 4, bytes.begin() + static_cast<ptrdiff_t>(format_.page_size));
    }
    const uint64_t end = (index + 1) * bits_per_map_;
    for (; bit_ < end; ++bit_) {
      const uint64_t at = bit_ - index * bits_per_map_;
      if ((at & 7) == 0 && bitmap_[at / 8] == 0) {
        bit_ += 7;
        continue;
      }
      if (bitmap_[at / 8] & (1 << (at & 7))) {
        const uint64_t number = bit_++;
        if (number > 0xFFFFFFFFu)
          throw DamagedStructure("the usage map lists a page past the file");
        page = static_cast<uint32_t>(number);
        return true;
      }
    }
  }
}

RowReader::RowReader(MdbHandle* mdb, MdbTableDef* table, std::vector<int> columns,
                     EngineErrorStyle style, const SourceReadFailure* failure)
    : mdb_(mdb),
      table_(table),
      style_(style),
      failure_(failure),
      columns_(std::move(columns)),
      values_(columns_.size()),
      complex_(columns_.size()),
      complex_keys_(columns_.size()),
      jet3_(mdb->f->jet_version == MDB_VER_JET3),
      code_page_(mdb->f->code_page) {
  format_.page_size = static_cast<size_t>(mdb->fmt->pg_size);
  format_.row_count_offset = mdb->fmt->row_count_offset;
  for (int c : columns_)
    column_defs_.push_back(static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c)));
  for (unsigned int i = 0; i < table->num_cols; ++i) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    layout_.push_back({col->col_num, col->var_col_num, col->fixed_offset,
                       col->col_type == MDB_BOOL ? 0 : col->col_size, col->is_fixed != 0});
  }
  long_value_pages_ = [this](uint32_t page) { return ReadPage(page, lval_page_); };
}

std::span<const uint8_t> RowReader::ReadPage(uint32_t page, std::vector<uint8_t>& into) {
  if (page == 0) return {};
  if (mdb_read_alt_pg(mdb_, page) != static_cast<ssize_t>(format_.page_size)) {
    RaiseIfReadFailed(mdb_, failure_, style_, table_->name, "page " + std::to_string(page));
    return {};
  }
  into.assign(mdb_->alt_pg_buf, mdb_->alt_pg_buf + format_.page_size);
  return into;
}

void RowReader::RaiseTableDamage(const std::string& what) const {
  RaiseDamagedTable(style_, table_->name, what);
}

void RowReader::SetComplexTexts(int i, std::unordered_map<int32_t, std::string> texts) {
  complex_[i] = std::move(texts);
}

bool RowReader::Advance() {
  if (finished_) return false;
  if (!started_) {
    started_ = true;
    if (!table_->usage_map) RaiseTableDamage("the table has no usage map");
    try {
      map_ = std::make_unique<UsageMap>(
          std::span<const uint8_t>(table_->usage_map, table_->map_sz),
          [this](uint32_t page) { return ReadPage(page, page_); }, format_);
    } catch (const DamagedStructure& e) {
      RaiseTableDamage("definition page " + std::to_string(table_->entry->table_pg) + ": " +
                       e.what());
    }
  }
  for (;;) {
    if (page_number_ == 0 || row_ >= slots_.size()) {
      uint32_t page = 0;
      try {
        if (!map_->Next(page)) {
          finished_ = true;
          return false;
        }
      } catch (const DamagedStructure& e) {
        RaiseTableDamage(e.what());
      }
      const std::string where = "data page " + std::to_string(page);
      if (ReadPage(page, page_).empty()) RaiseTableDamage(where + ": the page is not in the file");
      if (page_[0] != kDataPageType) RaiseTableDamage(where + ": not a data page");
      if (Le32(page_.data() + 4) != table_->entry->table_pg)
        RaiseTableDamage(where + ": the page belongs to another table");
      unsigned bad_row = 0;
      if (const char* bad = LocateRows(page_, format_, slots_, bad_row)) {
        unsigned rows = 0;
        if (PageRowCount(page_, format_, rows)) RaiseTableDamage(where + ": " + bad);
        RaiseTableDamage(where + ", row " + std::to_string(bad_row) + ": " + bad);
      }
      page_number_ = page;
      row_ = 0;
      continue;
    }
    current_row_ = row_++;
    const RowSlot& slot = slots_[current_row_];
    if (slot.kind == RowKind::kDeleted) continue;
    if (slot.kind == RowKind::kMoved) {
      // Its row is read where it now lies; a pointer that leads nowhere loses it.
      CheckMovedRow(slot);
      continue;
    }
    if (const char* bad = CrackRow(std::span<const uint8_t>(page_.data() + slot.start, slot.size),
                                   jet3_, table_->num_var_cols > 0, layout_, fields_, offsets_))
      RaiseTableDamage("data page " + std::to_string(page_number_) + ", row " +
                       std::to_string(current_row_) + ": " + bad);
    return true;
  }
}

void RowReader::CheckMovedRow(const RowSlot& slot) {
  const std::string where =
      "data page " + std::to_string(page_number_) + ", row " + std::to_string(current_row_);
  if (slot.size < 4) RaiseTableDamage(where + ": the moved row's new place does not fit the row");
  const uint8_t* p = page_.data() + slot.start;
  const unsigned row = p[0];
  const uint32_t page = p[1] | (p[2] << 8) | (static_cast<uint32_t>(p[3]) << 16);
  const std::string moved_to = where + ": the row was moved to page " + std::to_string(page) +
                               ", row " + std::to_string(row) + ", ";
  std::span<const uint8_t> target = ReadPage(page, moved_page_);
  if (target.empty() || target[0] != kDataPageType ||
      Le32(target.data() + 4) != table_->entry->table_pg)
    RaiseTableDamage(moved_to + "which is no data page of the table");
  unsigned rows = 0;
  if (PageRowCount(target, format_, rows) || row >= rows ||
      (Le16(target.data() + format_.row_count_offset + 2 + 2 * row) & 0xC000) != kDeletedRowFlag)
    RaiseTableDamage(moved_to + "which holds no moved row");
}

int64_t RowReader::CountRemaining() {
  int64_t count = 0;
  while (Advance()) ++count;
  return count;
}

bool RowReader::Next() {
  if (!Advance()) return false;
  for (size_t i = 0; i < columns_.size(); ++i) {
    try {
      Decode(static_cast<int>(i), fields_[columns_[i]]);
    } catch (const DamagedStructure& e) {
      RaiseTableDamage("data page " + std::to_string(page_number_) + ", row " +
                       std::to_string(current_row_) + ", column '" + column_defs_[i]->name +
                       "': " + e.what());
    }
  }
  return true;
}

void RowReader::ReadLongValue(const uint8_t* header, size_t size, std::string& out) {
  ferrolyte::ReadLongValue(std::span<const uint8_t>(header, size), long_value_pages_, format_, out);
}

namespace {

// The value of a Date/Time Extended column; throws the engine's error naming the column
// when the stored text is no date.
Value ExtendedDateValue(const uint8_t* p, size_t n, const MdbColumn& col) {
  // Linear and to 100 ns: the negative-date rule and the precision of OLE dates would
  // move dates before 1899 and drop the fraction of the second.
  int64_t day = 0, ticks = 0;
  if (!ExtendedDateParts(p, n, day, ticks)) {
    std::string shown;
    for (size_t k = 0; k < std::min<size_t>(n, 64); ++k)
      shown += p[k] >= 0x20 && p[k] < 0x7f ? static_cast<char>(p[k]) : '?';
    throw Error(kAdoGenericError, "Microsoft JET Database Engine",
                "The Date/Time Extended column '" + std::string(col.name) +
                    "' holds a value that is not a date: '" + shown + "'.");
  }
  return Value::PreciseDate(day, ticks);
}

// The value of an in-row column that needs nothing beyond its own n bytes (numbers, dates,
// GUIDs, binaries and unknown types as bytes); text, long values and complex keys are the
// reader's.
inline Value InRowValue(const uint8_t* p, size_t n, const MdbColumn& col) {
  switch (col.col_type) {
    case MDB_BYTE:
      return Value(int64_t{n >= 1 ? p[0] : 0});
    case MDB_INT:
      return Value(int64_t{n >= 2 ? static_cast<int16_t>(Le16(p)) : 0});
    case MDB_LONGINT:
      return Value(int64_t{n >= 4 ? static_cast<int32_t>(Le32(p)) : 0});
    case kMdbBigInt:
      return Value(n >= 8 ? Le64(p) : int64_t{0});
    case MDB_FLOAT: {
      float f = 0;
      if (n >= 4) std::memcpy(&f, p, 4);
      return Value::Single(f);
    }
    case MDB_DOUBLE: {
      double d = 0;
      if (n >= 8) std::memcpy(&d, p, 8);
      return Value(d);
    }
    case MDB_DATETIME: {
      double d = 0;
      if (n >= 8) std::memcpy(&d, p, 8);
      return Value::Date(d);
    }
    case kMdbDateTimeExtended:
      return ExtendedDateValue(p, n, col);
    case MDB_MONEY:
      return Value::Decimal(CurrencyText(n >= 8 ? Le64(p) : 0));
    case MDB_NUMERIC:
      // libmdb has precision and scale the wrong way round: col_prec holds the scale.
      return Value::Decimal(DecimalText(p, n, col.col_prec));
    case MDB_REPID:
      return n >= 16 ? Value(GuidText(p)) : Value::Null();
    default:
      return Value::FromBytes(Bytes(p, p + n));
  }
}

}  // namespace

void RowReader::Decode(int i, const MdbField& field) {
  if (!calculated_.empty() && calculated_[i] != 0) {
    DecodeCalculated(i, field);
    return;
  }
  MdbColumn* col = column_defs_[i];
  Value& out = values_[i];
  if (col->col_type == MDB_BOOL) {
    // A boolean lives in the null mask: "null" there means false.
    out = Value(!field.is_null);
    return;
  }
  if (field.is_null || field.value == nullptr) {
    out = Value::Null();
    return;
  }
  const uint8_t* p = static_cast<const uint8_t*>(field.value);
  size_t n = static_cast<size_t>(field.siz);
  if (n < static_cast<size_t>(FixedWidthOf(col->col_type)))
    throw DamagedStructure("the value is shorter than its type");
  switch (col->col_type) {
    case MDB_TEXT:
      scratch_.clear();
      AppendStoredText(p, n, jet3_, code_page_, scratch_);
      out = Value(scratch_);
      return;
    case MDB_MEMO: {
      std::string raw;
      ReadLongValue(p, n, raw);
      scratch_.clear();
      AppendStoredText(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), jet3_, code_page_,
                       scratch_);
      out = Value(scratch_);
      return;
    }
    case MDB_OLE: {
      std::string raw;
      ReadLongValue(p, n, raw);
      out = Value::FromBytes(Bytes(raw.begin(), raw.end()));
      return;
    }
    case MDB_COMPLEX: {
      int32_t key = n >= 4 ? static_cast<int32_t>(Le32(p)) : 0;
      if (complex_keys_[i]) {
        out = Value(int64_t{key});
        return;
      }
      auto it = complex_[i].find(key);
      out = Value(it == complex_[i].end() ? std::string() : it->second);
      return;
    }
    default:
      out = InRowValue(p, n, *col);
      return;
  }
}

}  // namespace ferrolyte
