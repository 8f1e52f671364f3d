#include "platform/access_rows.h"

#include <cstring>

#include "platform/ado.h"
#include "support/errors.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

constexpr int kOffsetMask = 0x1fff;
constexpr int kSkippedRowFlag = 0x4000;  // what libmdb and other readers treat as deleted
constexpr int kMemoHeader = 12;
// Guards the page chain of a damaged long value against cycles.
constexpr int kMaxLongValuePages = 1 << 20;

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
  static const char kHex[] = "0123456789ABCDEF";
  // The first three groups are stored little-endian, the last two as bytes.
  static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string text = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kHex[d[kOrder[i]] >> 4]);
    text.push_back(kHex[d[kOrder[i]] & 0xF]);
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

RowReader::RowReader(MdbHandle* mdb, MdbTableDef* table, std::vector<int> columns)
    : mdb_(mdb),
      table_(table),
      columns_(std::move(columns)),
      values_(columns_.size()),
      complex_(columns_.size()),
      fields_(std::max<size_t>(table->num_cols, 1)),
      jet3_(mdb->f->jet_version == MDB_VER_JET3),
      code_page_(mdb->f->code_page) {
  for (int c : columns_)
    column_defs_.push_back(static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c)));
}

void RowReader::SetComplexTexts(int i, std::unordered_map<int32_t, std::string> texts) {
  complex_[i] = std::move(texts);
}

bool RowReader::Advance(int& row_start, int& row_size) {
  if (finished_) return false;
  MdbFormatConstants* fmt = mdb_->fmt;
  if (!started_) {
    started_ = true;
    mdb_rewind_table(table_);
    table_->cur_pg_num = 1;
    table_->cur_row = 0;
    if (!mdb_read_next_dpg(table_)) {
      finished_ = true;
      return false;
    }
  }
  for (;;) {
    unsigned int rows = Le16(mdb_->pg_buf + fmt->row_count_offset);
    if (table_->cur_row >= rows) {
      table_->cur_row = 0;
      if (!mdb_read_next_dpg(table_)) {
        finished_ = true;
        return false;
      }
      continue;
    }
    int start = 0;
    size_t size = 0;
    int row = static_cast<int>(table_->cur_row++);
    if (mdb_find_row(mdb_, row, &start, &size) != 0) continue;
    if (start & kSkippedRowFlag) continue;
    row_start = start & kOffsetMask;
    row_size = static_cast<int>(size);
    return true;
  }
}

int64_t RowReader::CountRemaining() {
  int64_t count = 0;
  int start = 0, size = 0;
  while (Advance(start, size)) ++count;
  return count;
}

bool RowReader::Next() {
  int start = 0, size = 0;
  for (;;) {
    if (!Advance(start, size)) return false;
    if (mdb_crack_row(table_, start, static_cast<size_t>(size), fields_.data()) >= 0) break;
  }
  for (size_t i = 0; i < columns_.size(); ++i) Decode(static_cast<int>(i), fields_[columns_[i]]);
  return true;
}

bool RowReader::ReadLongValue(const uint8_t* header, size_t size, std::string& out) {
  out.clear();
  if (size < kMemoHeader) return false;
  uint32_t length_word = Le32(header);
  uint32_t length = length_word & 0x3FFFFFFF;
  if (length_word & 0x80000000) {
    size_t inline_size = std::min<size_t>(length, size - kMemoHeader);
    out.assign(reinterpret_cast<const char*>(header + kMemoHeader), inline_size);
    return true;
  }
  uint32_t pg_row = Le32(header + 4);
  bool single = (length_word & 0x40000000) != 0;
  if (!single && (length_word & 0xFF000000) != 0) return false;
  MdbFormatConstants* fmt = mdb_->fmt;
  int pages = 0;
  while (pg_row != 0 && out.size() < length && pages++ < kMaxLongValuePages) {
    if (mdb_read_alt_pg(mdb_, pg_row >> 8) != fmt->pg_size) return false;
    const uint8_t* page = mdb_->alt_pg_buf;
    unsigned int row = pg_row & 0xFF;
    unsigned int rows = Le16(page + fmt->row_count_offset);
    if (row >= rows) return false;
    int start = Le16(page + fmt->row_count_offset + 2 + row * 2) & kOffsetMask;
    int next =
        row == 0 ? fmt->pg_size : (Le16(page + fmt->row_count_offset + row * 2) & kOffsetMask);
    if (start >= next || next > fmt->pg_size) return false;
    const uint8_t* data = page + start;
    size_t data_size = static_cast<size_t>(next - start);
    if (single) {
      out.append(reinterpret_cast<const char*>(data), std::min<size_t>(data_size, length));
      return true;
    }
    if (data_size < 4) return false;
    pg_row = Le32(data);
    out.append(reinterpret_cast<const char*>(data + 4), data_size - 4);
  }
  if (out.size() > length) out.resize(length);
  return true;
}

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
  switch (col->col_type) {
    case MDB_BYTE:
      out = Value(int64_t{n >= 1 ? p[0] : 0});
      return;
    case MDB_INT:
      out = Value(int64_t{n >= 2 ? static_cast<int16_t>(Le16(p)) : 0});
      return;
    case MDB_LONGINT:
      out = Value(int64_t{n >= 4 ? static_cast<int32_t>(Le32(p)) : 0});
      return;
    case kMdbBigInt:
      out = Value(n >= 8 ? Le64(p) : int64_t{0});
      return;
    case MDB_FLOAT: {
      float f = 0;
      if (n >= 4) std::memcpy(&f, p, 4);
      out = Value::Single(f);
      return;
    }
    case MDB_DOUBLE: {
      double d = 0;
      if (n >= 8) std::memcpy(&d, p, 8);
      out = Value(d);
      return;
    }
    case MDB_DATETIME: {
      double d = 0;
      if (n >= 8) std::memcpy(&d, p, 8);
      out = Value::Date(d);
      return;
    }
    case kMdbDateTimeExtended: {
      // Linear and to 100 ns: the negative-date rule and the precision of OLE dates would
      // move dates before 1899 and drop the fraction of the second.
      int64_t day = 0, ticks = 0;
      if (!ExtendedDateParts(p, n, day, ticks)) {
        std::string shown;
        for (size_t k = 0; k < std::min<size_t>(n, 64); ++k)
          shown += p[k] >= 0x20 && p[k] < 0x7f ? static_cast<char>(p[k]) : '?';
        throw Error(kAdoGenericError, "Microsoft JET Database Engine",
                    "The Date/Time Extended column '" + std::string(col->name) +
                        "' holds a value that is not a date: '" + shown + "'.");
      }
      out = Value::PreciseDate(day, ticks);
      return;
    }
    case MDB_MONEY:
      out = Value::Decimal(CurrencyText(n >= 8 ? Le64(p) : 0));
      return;
    case MDB_NUMERIC:
      // libmdb has precision and scale the wrong way round: col_prec holds the scale.
      out = Value::Decimal(DecimalText(p, n, col->col_prec));
      return;
    case MDB_REPID:
      if (n >= 16)
        out = Value(GuidText(p));
      else
        out = Value::Null();
      return;
    case MDB_TEXT:
      scratch_.clear();
      AppendStoredText(p, n, jet3_, code_page_, scratch_);
      out = Value(scratch_);
      return;
    case MDB_BINARY:
      out = Value::FromBytes(Bytes(p, p + n));
      return;
    case MDB_MEMO: {
      std::string raw;
      if (!ReadLongValue(p, n, raw)) {
        out = Value::Null();
        return;
      }
      scratch_.clear();
      AppendStoredText(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), jet3_, code_page_,
                       scratch_);
      out = Value(scratch_);
      return;
    }
    case MDB_OLE: {
      std::string raw;
      if (!ReadLongValue(p, n, raw)) {
        out = Value::Null();
        return;
      }
      out = Value::FromBytes(Bytes(raw.begin(), raw.end()));
      return;
    }
    case MDB_COMPLEX: {
      int32_t key = n >= 4 ? static_cast<int32_t>(Le32(p)) : 0;
      auto it = complex_[i].find(key);
      out = Value(it == complex_[i].end() ? std::string() : it->second);
      return;
    }
    default:
      out = Value::FromBytes(Bytes(p, p + n));
      return;
  }
}

}  // namespace ferrolyte
