#include "accesswriter/writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <set>

#include "encoding.h"
#include "encryption.h"

namespace accesswriter {

using internal::Bytes;
using internal::Put16;
using internal::Put32;
using internal::Put8;
using internal::Set16;
using internal::Set32;

namespace {

constexpr int kPageSize = 4096;
constexpr int kDataHeader = 14;  // type, flag, free space, owner, unknown, row count
constexpr int kMaxRowBytes = kPageSize - kDataHeader - 2;
constexpr int kMaxRowsPerPage = 255;  // row numbers in page pointers are one byte
constexpr int kInlineLongValue = 64;
constexpr int kChainChunk = kMaxRowBytes - 4;  // each chained long-value row starts with a pointer
constexpr std::uint32_t kMagic = 0x0659;       // Access repeats this in table definitions
constexpr std::uint32_t kLvalOwner = 0x4c41564c;  // "LVAL"
constexpr std::uint32_t kTablesContainer = 0x0F000001;
constexpr std::uint32_t kDatabasesContainer = 0x0F000002;
constexpr std::uint32_t kRelationshipsContainer = 0x0F000003;
constexpr std::uint32_t kRootContainer = 0x0F000000;
constexpr int kIndexEntriesStart = 0x1e0;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsLongValue(ColumnType t) {
  return t == ColumnType::kMemo || t == ColumnType::kOle;
}

// A calculated column's definition length: Access gives every fixed-size result type this
// length, text results their own plus the wrapper.
constexpr int kCalculatedFixedLength = 39;
constexpr int kCalculatedOverhead = 23;  // 16 header bytes, the length, 3 trailing bytes
constexpr std::uint8_t kCalculatedFlags = 0xC0;
constexpr int kExtendedDateLength = 42;

bool IsVariable(const Column& c) {
  if (IsLongValue(c.type) || c.expression) return true;
  if (c.type == ColumnType::kText || c.type == ColumnType::kBinary) return !c.fixed_length;
  return false;
}

int FixedTypeSize(ColumnType t) {
  switch (t) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
      return 1;
    case ColumnType::kInteger:
      return 2;
    case ColumnType::kLong:
    case ColumnType::kSingle:
      return 4;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kBigInt:
      return 8;
    case ColumnType::kGuid:
      return 16;
    case ColumnType::kDecimal:
      return 17;
    case ColumnType::kDateTimeExtended:
      return kExtendedDateLength;
    default:
      return 0;
  }
}

// One page of rows, filled from the end towards the header like Access does.
struct RowPage {
  std::uint32_t number = 0;
  std::array<std::uint8_t, kPageSize> buf{};
  int rows = 0;
  int low = kPageSize;

  bool open() const { return number != 0; }
  void Open(std::uint32_t page, std::uint32_t owner) {
    number = page;
    buf.fill(0);
    buf[0] = 0x01;
    buf[1] = 0x01;
    Set32(&buf[4], owner);
    rows = 0;
    low = kPageSize;
  }
  bool Fits(std::size_t len) const {
    return rows < kMaxRowsPerPage && static_cast<int>(len) <= low - (kDataHeader + 2 * (rows + 1));
  }
  // Returns the row number of the stored row.
  int Add(const std::uint8_t* data, std::size_t len) {
    low -= static_cast<int>(len);
    std::memcpy(&buf[low], data, len);
    Set16(&buf[kDataHeader + 2 * rows], static_cast<std::uint16_t>(low));
    return rows++;
  }
  void Seal() {
    Set16(&buf[2], static_cast<std::uint16_t>(low - (kDataHeader + 2 * rows)));
    Set16(&buf[12], static_cast<std::uint16_t>(rows));
  }
};

struct ColumnLayout {
  int number = 0;
  bool fixed = false;
  int fixed_offset = 0;  // within the fixed area
  int var_index = 0;     // for fixed columns: variable columns before it
  int stored_size = 0;   // col_len in the definition
};

// A physical index and the logical entries that name it.
struct RealIndex {
  std::vector<std::pair<int, bool>> columns;  // column number, descending
  std::uint8_t flags = 0;
  std::uint32_t root_page = 0;
  std::uint32_t map_row = 0;
};

struct LogicalIndex {
  std::string name;
  int real = 0;
  std::uint8_t type = 0;  // 1 primary key, 2 foreign key
  std::uint32_t rel_table_page = 0;
  int rel_index = -1;
  bool cascade_updates = false;
  bool cascade_deletes = false;
};

}  // namespace

struct internal::DatabaseState {
  std::filesystem::path path;
  DatabaseOptions options;
  int fd = -1;
  std::uint32_t next_page = 3;  // 0 header, 1 usage maps, 2 catalog definition
  bool finished = false;
  std::vector<std::unique_ptr<TableWriter>> tables;
  std::vector<LinkedTable> links;
  std::vector<Relationship> relationships;
  std::mt19937_64 random{std::random_device{}()};

  std::uint32_t Allocate(std::uint32_t count = 1) {
    std::uint32_t first = next_page;
    next_page += count;
    if (next_page > 0x00ffffff) throw WriteError("database grew past the largest page number");
    return first;
  }
  std::unique_ptr<internal::PageEncryption> encryption;

  void WritePage(std::uint32_t page, const std::uint8_t* data) {
    std::array<std::uint8_t, kPageSize> encrypted;
    if (encryption && page != 0) {
      encryption->EncryptPage(page, data, kPageSize, encrypted.data());
      data = encrypted.data();
    }
    off_t at = static_cast<off_t>(page) * kPageSize;
    std::size_t done = 0;
    while (done < kPageSize) {
      ssize_t n = ::pwrite(fd, data + done, kPageSize - done, at + static_cast<off_t>(done));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw WriteError("cannot write " + path.string() + ": " + std::strerror(errno));
      }
      done += static_cast<std::size_t>(n);
    }
  }
};

struct internal::TableState {
  internal::DatabaseState* db = nullptr;
  Table table;
  bool system_definition = false;  // written as a system table (type 0x53)
  std::vector<ColumnLayout> layout;
  int num_var = 0;
  int fixed_size = 0;
  std::uint32_t tdef_page = 0;
  RowPage data;
  RowPage lval;
  std::vector<std::uint32_t> data_pages;
  std::uint64_t rows = 0;
  std::int64_t autonumber = 0;
  std::vector<RealIndex> reals;
  std::vector<LogicalIndex> logicals;
  std::uint32_t used_map_row = 0;
  std::uint32_t free_map_row = 0;

  int ColumnNumber(const std::string& name) const {
    std::string l = Lower(name);
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
      if (Lower(table.columns[i].name) == l) return static_cast<int>(i);
    }
    throw WriteError("table \"" + table.name + "\" has no column \"" + name + "\"");
  }

  void FlushData() {
    if (!data.open()) return;
    data.Seal();
    db->WritePage(data.number, data.buf.data());
    data.number = 0;
  }
  void FlushLval() {
    if (!lval.open()) return;
    lval.Seal();
    db->WritePage(lval.number, lval.buf.data());
    lval.number = 0;
  }

  // Stores a long value and returns its 12-byte row header (plus inline data).
  Bytes StoreLongValue(const Bytes& value) {
    if (value.size() > 0x00ffffff) throw WriteError("long value larger than 16 MB");
    Bytes header;
    auto len = static_cast<std::uint32_t>(value.size());
    if (value.size() <= static_cast<std::size_t>(kInlineLongValue)) {
      Put32(header, len | 0x80000000u);
      Put32(header, 0);
      Put32(header, 0);
      header.insert(header.end(), value.begin(), value.end());
      return header;
    }
    if (value.size() <= static_cast<std::size_t>(kMaxRowBytes)) {
      if (!lval.open() || !lval.Fits(value.size())) {
        FlushLval();
        lval.Open(db->Allocate(), kLvalOwner);
      }
      int row = lval.Add(value.data(), value.size());
      Put32(header, len | 0x40000000u);
      Put32(header, (lval.number << 8) | static_cast<std::uint32_t>(row));
      Put32(header, 0);
      return header;
    }
    std::size_t chunks = (value.size() + kChainChunk - 1) / kChainChunk;
    std::uint32_t first = db->Allocate(static_cast<std::uint32_t>(chunks));
    RowPage page;
    for (std::size_t i = 0; i < chunks; ++i) {
      page.Open(first + static_cast<std::uint32_t>(i), kLvalOwner);
      Bytes row;
      Put32(row, i + 1 < chunks ? ((first + static_cast<std::uint32_t>(i) + 1) << 8) : 0);
      std::size_t from = i * kChainChunk;
      std::size_t to = std::min(value.size(), from + kChainChunk);
      row.insert(row.end(), value.begin() + static_cast<std::ptrdiff_t>(from),
                 value.begin() + static_cast<std::ptrdiff_t>(to));
      page.Add(row.data(), row.size());
      page.Seal();
      db->WritePage(page.number, page.buf.data());
    }
    Put32(header, len);
    Put32(header, first << 8);
    Put32(header, 0);
    return header;
  }

  Bytes EncodeRow(std::span<const Value> values);
  // The stored bytes of one non-null value (booleans live in the null mask instead).
  Bytes EncodeValue(const Column& c, const ColumnLayout& l, const Value& v);
  // The wrapped result of a calculated column.
  Bytes EncodeCalculated(const Column& c, const ColumnLayout& l, const Value& v);
  void AppendRow(const Bytes& row) {
    if (row.size() > static_cast<std::size_t>(kMaxRowBytes)) {
      throw WriteError("row of table \"" + table.name + "\" is " + std::to_string(row.size()) +
                       " bytes; a row must fit in " + std::to_string(kMaxRowBytes));
    }
    if (!data.open() || !data.Fits(row.size())) {
      FlushData();
      data.Open(db->Allocate(), tdef_page);
      data_pages.push_back(data.number);
    }
    data.Add(row.data(), row.size());
    ++rows;
  }
};

namespace {

[[noreturn]] void BadValue(const Table& t, const Column& c, const std::string& why) {
  throw WriteError("table \"" + t.name + "\", column \"" + c.name + "\": " + why);
}

std::int64_t IntegerOf(const Table& t, const Column& c, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::kInt:
    case Value::Kind::kBool:
      return v.as_int();
    case Value::Kind::kDouble:
      if (std::nearbyint(v.as_double()) != v.as_double() || std::abs(v.as_double()) > 9.2e18) {
        BadValue(t, c, "value " + std::to_string(v.as_double()) + " is not an integer");
      }
      return static_cast<std::int64_t>(v.as_double());
    case Value::Kind::kText:
    case Value::Kind::kDecimal: {
      std::int64_t out = 0;
      const std::string& s = v.as_text();
      auto r = std::from_chars(s.data(), s.data() + s.size(), out);
      if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
        BadValue(t, c, "\"" + s + "\" is not an integer");
      }
      return out;
    }
    default:
      BadValue(t, c, "needs an integer value");
  }
}

double DoubleOf(const Table& t, const Column& c, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::kDouble:
    case Value::Kind::kDate:
      return v.as_double();
    case Value::Kind::kInt:
      return static_cast<double>(v.as_int());
    case Value::Kind::kText:
    case Value::Kind::kDecimal: {
      double out = 0;
      const std::string& s = v.as_text();
      auto r = std::from_chars(s.data(), s.data() + s.size(), out);
      if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
        BadValue(t, c, "\"" + s + "\" is not a number");
      }
      return out;
    }
    default:
      BadValue(t, c, "needs a number");
  }
}

std::string DecimalTextOf(const Table& t, const Column& c, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::kInt:
      return std::to_string(v.as_int());
    case Value::Kind::kDouble: {
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, v.as_double(), std::chars_format::fixed,
                             c.type == ColumnType::kCurrency ? 4 : c.scale);
      return std::string(buf, r.ptr);
    }
    case Value::Kind::kText:
    case Value::Kind::kDecimal:
      return v.as_text();
    default:
      BadValue(t, c, "needs a decimal number");
  }
}

const std::string& TextOf(const Table& t, const Column& c, const Value& v) {
  if (v.kind() == Value::Kind::kText || v.kind() == Value::Kind::kDecimal ||
      v.kind() == Value::Kind::kGuid) {
    return v.as_text();
  }
  BadValue(t, c, "needs a text value");
}

void CheckRange(const Table& t, const Column& c, std::int64_t v, std::int64_t lo, std::int64_t hi) {
  if (v < lo || v > hi) BadValue(t, c, "value " + std::to_string(v) + " out of range");
}

// Days since 0001-01-01 and 100 ns ticks into the day of a Date/Time Extended value.
void ExtendedParts(const Table& t, const Column& c, const Value& v, std::int64_t& days,
                   std::int64_t& ticks) {
  constexpr std::int64_t kTicksPerDay = 864000000000;
  if (v.kind() == Value::Kind::kText) {
    internal::ParseExtendedDateText(v.as_text(), days, ticks);
  } else if (v.kind() == Value::Kind::kDate && v.date_fields()) {
    const DateTime& f = *v.date_fields();
    days = internal::DaysFromCivil(f.year, f.month, f.day) - internal::DaysFromCivil(1, 1, 1);
    ticks = (f.hour * 3600LL + f.minute * 60LL) * 10000000LL + std::llround(f.second * 1e7);
  } else {
    // An OLE date counts the time forwards also before 1899-12-30.
    double serial = DoubleOf(t, c, v);
    double whole = std::trunc(serial);
    days = static_cast<std::int64_t>(whole) + internal::DaysFromCivil(1899, 12, 30) -
           internal::DaysFromCivil(1, 1, 1);
    ticks = std::llround(std::fabs(serial - whole) * static_cast<double>(kTicksPerDay));
  }
  if (ticks >= kTicksPerDay) {
    ticks -= kTicksPerDay;
    ++days;
  }
  if (days < 0 || days > internal::DaysFromCivil(9999, 12, 31) - internal::DaysFromCivil(1, 1, 1) ||
      ticks < 0)
    BadValue(t, c, "date outside 0001-01-01 .. 9999-12-31");
}

}  // namespace

Bytes internal::TableState::EncodeCalculated(const Column& c, const ColumnLayout& l,
                                             const Value& v) {
  Bytes value;
  switch (c.type) {
    case ColumnType::kBoolean:
      if (v.kind() != Value::Kind::kBool && v.kind() != Value::Kind::kInt)
        BadValue(table, c, "needs a boolean");
      value = {static_cast<std::uint8_t>(v.as_int() != 0 ? 0xff : 0x00)};
      break;
    case ColumnType::kText:
    case ColumnType::kMemo: {
      auto u16 = internal::Utf8ToUtf16(TextOf(table, c, v));
      int limit = (l.stored_size - kCalculatedOverhead) / 2;
      if (c.type == ColumnType::kText && static_cast<int>(u16.size()) > limit) {
        BadValue(table, c,
                 "text of " + std::to_string(u16.size()) +
                     " characters is longer than the column size " + std::to_string(limit));
      }
      // Access does not compress calculated text.
      value = internal::Utf16Le(u16);
      break;
    }
    case ColumnType::kDecimal: {
      // The value keeps its own scale: a 16-bit length, the scale, the sign, then 96 bits
      // of magnitude as a 32-bit word and a 64-bit word, most significant first.
      std::string text = DecimalTextOf(table, c, v);
      std::size_t dot = text.find('.');
      int scale = dot == std::string::npos ? 0 : static_cast<int>(text.size() - dot - 1);
      if (scale > 28) BadValue(table, c, "more than 28 decimal places");
      auto d = internal::ParseDecimal(text, scale, 28);
      if (d.magnitude >> 96) BadValue(table, c, "decimal value out of range");
      Put16(value, 14);
      Put8(value, static_cast<std::uint8_t>(scale));
      Put8(value, d.negative ? 0x80 : 0x00);
      Put32(value, static_cast<std::uint32_t>(d.magnitude >> 64));
      internal::Put64(value, static_cast<std::uint64_t>(d.magnitude));
      break;
    }
    default:
      value = EncodeValue(c, l, v);
  }
  Bytes wrapped(16, 0);
  Put32(wrapped, static_cast<std::uint32_t>(value.size()));
  wrapped.insert(wrapped.end(), value.begin(), value.end());
  wrapped.insert(wrapped.end(), 3, 0);
  return c.type == ColumnType::kMemo ? StoreLongValue(wrapped) : wrapped;
}

Bytes internal::TableState::EncodeValue(const Column& c, const ColumnLayout& l, const Value& v) {
  Bytes out;
  switch (c.type) {
    case ColumnType::kByte: {
      auto n = IntegerOf(table, c, v);
      CheckRange(table, c, n, 0, 255);
      Put8(out, static_cast<std::uint8_t>(n));
      break;
    }
    case ColumnType::kInteger: {
      auto n = IntegerOf(table, c, v);
      CheckRange(table, c, n, -32768, 32767);
      Put16(out, static_cast<std::uint16_t>(n));
      break;
    }
    case ColumnType::kLong: {
      auto n = IntegerOf(table, c, v);
      CheckRange(table, c, n, INT32_MIN, INT32_MAX);
      if (c.auto_number == AutoNumber::kIncrement) autonumber = std::max(autonumber, n);
      Put32(out, static_cast<std::uint32_t>(n));
      break;
    }
    case ColumnType::kBigInt:
      internal::Put64(out, static_cast<std::uint64_t>(IntegerOf(table, c, v)));
      break;
    case ColumnType::kSingle: {
      float f = static_cast<float>(DoubleOf(table, c, v));
      Put32(out, std::bit_cast<std::uint32_t>(f));
      break;
    }
    case ColumnType::kDouble:
      internal::PutDouble(out, DoubleOf(table, c, v));
      break;
    case ColumnType::kDateTime: {
      double d = v.kind() == Value::Kind::kText ? internal::ParseDateText(v.as_text())
                                                : DoubleOf(table, c, v);
      internal::PutDouble(out, d);
      break;
    }
    case ColumnType::kCurrency: {
      auto d = internal::ParseDecimal(DecimalTextOf(table, c, v), 4, 19);
      if (d.magnitude > static_cast<unsigned __int128>(INT64_MAX)) {
        BadValue(table, c, "currency value out of range");
      }
      auto n = static_cast<std::int64_t>(d.magnitude);
      internal::Put64(out, static_cast<std::uint64_t>(d.negative ? -n : n));
      break;
    }
    case ColumnType::kDecimal: {
      auto d = internal::ParseDecimal(DecimalTextOf(table, c, v), c.scale, c.precision);
      Put8(out, d.negative ? 0x80 : 0x00);
      // Four 32-bit little-endian words, most significant word first.
      for (int w = 3; w >= 0; --w) {
        Put32(out, static_cast<std::uint32_t>(d.magnitude >> (32 * w)));
      }
      break;
    }
    case ColumnType::kGuid:
      if (v.kind() != Value::Kind::kGuid && v.kind() != Value::Kind::kText) {
        BadValue(table, c, "needs a GUID");
      }
      out = internal::ParseGuid(v.as_text());
      break;
    case ColumnType::kText: {
      auto u16 = internal::Utf8ToUtf16(TextOf(table, c, v));
      if (static_cast<int>(u16.size()) > l.stored_size / 2) {
        BadValue(table, c,
                 "text of " + std::to_string(u16.size()) +
                     " characters is longer than the column size " +
                     std::to_string(l.stored_size / 2));
      }
      if (l.fixed) {
        u16.resize(static_cast<std::size_t>(l.stored_size / 2), u' ');
        out = internal::Utf16Le(u16);
      } else {
        out = internal::EncodeText(u16, true);
      }
      break;
    }
    case ColumnType::kBinary:
      if (v.kind() != Value::Kind::kBytes) BadValue(table, c, "needs a bytes value");
      out = v.as_bytes();
      if (static_cast<int>(out.size()) > l.stored_size) {
        BadValue(table, c,
                 std::to_string(out.size()) + " bytes exceed the column size " +
                     std::to_string(l.stored_size));
      }
      if (l.fixed) out.resize(static_cast<std::size_t>(l.stored_size), 0);
      break;
    case ColumnType::kMemo: {
      auto u16 = internal::Utf8ToUtf16(TextOf(table, c, v));
      // Long texts stay uncompressed, as Access stores them.
      out = StoreLongValue(internal::EncodeText(u16, u16.size() <= 1024));
      break;
    }
    case ColumnType::kOle:
      if (v.kind() != Value::Kind::kBytes) BadValue(table, c, "needs a bytes value");
      out = StoreLongValue(v.as_bytes());
      break;
    case ColumnType::kDateTimeExtended: {
      std::int64_t days = 0, ticks = 0;
      ExtendedParts(table, c, v, days, ticks);
      char text[kExtendedDateLength + 1];
      std::snprintf(text, sizeof text, "%019lld:%019lld:7", static_cast<long long>(days),
                    static_cast<long long>(ticks));
      out.assign(text, text + kExtendedDateLength);  // the NUL that ends the text included
      break;
    }
    default:
      BadValue(table, c, "unsupported column type");
  }
  return out;
}

Bytes internal::TableState::EncodeRow(std::span<const Value> values) {
  const auto& cols = table.columns;
  if (values.size() != cols.size()) {
    throw WriteError("table \"" + table.name + "\" has " + std::to_string(cols.size()) +
                     " columns but the row has " + std::to_string(values.size()) + " values");
  }
  std::size_t mask_bytes = (cols.size() + 7) / 8;
  Bytes fixed(static_cast<std::size_t>(fixed_size), 0);
  Bytes mask(mask_bytes, 0);
  std::vector<Bytes> var(static_cast<std::size_t>(num_var));

  for (std::size_t i = 0; i < cols.size(); ++i) {
    const Column& c = cols[i];
    const ColumnLayout& l = layout[i];
    Value generated;
    const Value* v = &values[i];
    if (v->is_null() && c.auto_number == AutoNumber::kIncrement) {
      generated = Value(static_cast<std::int64_t>(++autonumber));
      v = &generated;
    } else if (v->is_null() && c.auto_number == AutoNumber::kGuid) {
      Bytes g(16);
      for (auto& b : g) b = static_cast<std::uint8_t>(db->random());
      g[7] = static_cast<std::uint8_t>((g[7] & 0x0f) | 0x40);  // version 4, stored little-endian
      g[8] = static_cast<std::uint8_t>((g[8] & 0x3f) | 0x80);
      char text[40];
      std::snprintf(text, sizeof text,
                    "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3],
                    g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12],
                    g[13], g[14], g[15]);
      generated = Value::Guid(text);
      v = &generated;
    }
    if (v->is_null()) {
      if (c.required) BadValue(table, c, "is required but the value is null");
      if (!l.fixed) var[static_cast<std::size_t>(l.var_index)].clear();
      continue;
    }
    if (c.type == ColumnType::kBoolean && !c.expression) {
      bool b = v->kind() == Value::Kind::kBool || v->kind() == Value::Kind::kInt
                   ? v->as_int() != 0
                   : (BadValue(table, c, "needs a boolean"), false);
      if (b) mask[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
      continue;
    }
    mask[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
    Bytes out = c.expression ? EncodeCalculated(c, l, *v) : EncodeValue(c, l, *v);
    if (l.fixed) {
      std::memcpy(&fixed[static_cast<std::size_t>(l.fixed_offset)], out.data(), out.size());
    } else {
      var[static_cast<std::size_t>(l.var_index)] = std::move(out);
    }
  }

  Bytes row;
  Put16(row, static_cast<std::uint16_t>(cols.size()));
  row.insert(row.end(), fixed.begin(), fixed.end());
  if (num_var > 0) {
    std::vector<std::uint16_t> offsets;
    for (const Bytes& b : var) {
      offsets.push_back(static_cast<std::uint16_t>(row.size()));
      row.insert(row.end(), b.begin(), b.end());
    }
    std::uint16_t eod = static_cast<std::uint16_t>(row.size());
    Put16(row, eod);
    for (auto it = offsets.rbegin(); it != offsets.rend(); ++it) Put16(row, *it);
    Put16(row, static_cast<std::uint16_t>(num_var));
  }
  row.insert(row.end(), mask.begin(), mask.end());
  return row;
}

namespace {

void ValidateName(const std::string& what, const std::string& name) {
  if (name.empty()) throw WriteError(what + " name is empty");
  auto u16 = internal::Utf8ToUtf16(name);
  if (u16.size() > 64) throw WriteError(what + " name \"" + name + "\" is longer than 64");
}

std::unique_ptr<internal::TableState> MakeState(internal::DatabaseState* db, const Table& table,
                                                std::uint32_t tdef_page) {
  ValidateName("table", table.name);
  if (table.columns.empty()) throw WriteError("table \"" + table.name + "\" has no columns");
  if (table.columns.size() > 255)
    throw WriteError("table \"" + table.name + "\" has over 255 columns");
  auto s = std::make_unique<internal::TableState>();
  s->db = db;
  s->table = table;
  s->tdef_page = tdef_page;
  std::set<std::string> seen;
  int var_count = 0;
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const Column& c = table.columns[i];
    ValidateName("column", c.name);
    if (!seen.insert(Lower(c.name)).second) {
      throw WriteError("table \"" + table.name + "\" has two columns named \"" + c.name + "\"");
    }
    if (c.type == ColumnType::kBigInt && db->options.format != Format::kAce12) {
      throw WriteError("column \"" + c.name + "\": big integers need the ACE 12 format");
    }
    if (c.type == ColumnType::kDateTimeExtended && db->options.format != Format::kAce12) {
      throw WriteError("column \"" + c.name + "\": extended dates need the ACE 12 format");
    }
    if (c.expression) {
      if (db->options.format != Format::kAce12)
        throw WriteError("column \"" + c.name + "\": calculated columns need the ACE 12 format");
      if (c.type == ColumnType::kBinary || c.type == ColumnType::kOle ||
          c.type == ColumnType::kDateTimeExtended || c.expression->empty() ||
          c.auto_number != AutoNumber::kNone || c.default_value || c.fixed_length)
        throw WriteError("column \"" + c.name +
                         "\": a calculated column needs an expression and a plain result type");
    }
    if (c.auto_number == AutoNumber::kIncrement && c.type != ColumnType::kLong) {
      throw WriteError("column \"" + c.name + "\": incrementing auto-numbers must be Long");
    }
    if (c.auto_number == AutoNumber::kGuid && c.type != ColumnType::kGuid) {
      throw WriteError("column \"" + c.name + "\": GUID auto-numbers must be GUID columns");
    }
    ColumnLayout l;
    l.number = static_cast<int>(i);
    l.fixed = !IsVariable(c);
    if (c.type == ColumnType::kText || c.type == ColumnType::kBinary) {
      int size = c.size == 0 ? 255 : c.size;
      if (size < 1 || size > 255) {
        throw WriteError("column \"" + c.name + "\": size " + std::to_string(c.size) +
                         " is outside 1..255");
      }
      l.stored_size = c.type == ColumnType::kText ? size * 2 : size;
    } else if (!IsLongValue(c.type)) {
      l.stored_size = FixedTypeSize(c.type);
      if (l.stored_size == 0) throw WriteError("column \"" + c.name + "\": unknown type");
    }
    if (c.type == ColumnType::kDecimal &&
        (c.precision < 1 || c.precision > 28 || c.scale < 0 || c.scale > c.precision)) {
      throw WriteError("column \"" + c.name + "\": precision/scale out of range");
    }
    if (c.expression && c.type != ColumnType::kMemo) {
      l.stored_size = c.type == ColumnType::kText ? l.stored_size + kCalculatedOverhead
                                                  : kCalculatedFixedLength;
    }
    if (l.fixed) {
      l.var_index = var_count;
      l.fixed_offset = s->fixed_size;
      if (c.type != ColumnType::kBoolean) s->fixed_size += l.stored_size;
    } else {
      l.var_index = var_count++;
    }
    s->layout.push_back(l);
  }
  s->num_var = var_count;

  bool have_pk = false;
  std::set<std::string> index_names;
  for (const Index& ix : table.indexes) {
    ValidateName("index", ix.name);
    if (!index_names.insert(Lower(ix.name)).second) {
      throw WriteError("table \"" + table.name + "\" has two indexes named \"" + ix.name + "\"");
    }
    if (ix.columns.empty() || ix.columns.size() > 10) {
      throw WriteError("index \"" + ix.name + "\" needs 1 to 10 columns");
    }
    if (ix.primary_key && have_pk) {
      throw WriteError("table \"" + table.name + "\" has two primary keys");
    }
    have_pk = have_pk || ix.primary_key;
    RealIndex r;
    for (const IndexColumn& ic : ix.columns) {
      int n = s->ColumnNumber(ic.column);
      if (IsLongValue(table.columns[static_cast<std::size_t>(n)].type)) {
        throw WriteError("index \"" + ix.name + "\": memo and OLE columns cannot be indexed");
      }
      r.columns.emplace_back(n, ic.descending);
    }
    bool unique = ix.unique || ix.primary_key;
    bool required = ix.required || ix.primary_key;
    r.flags = static_cast<std::uint8_t>((unique ? 0x01 : 0) | (ix.ignore_nulls ? 0x02 : 0) |
                                        (required ? 0x08 : 0));
    s->reals.push_back(r);
    LogicalIndex li;
    li.name = ix.name;
    li.real = static_cast<int>(s->reals.size()) - 1;
    li.type = ix.primary_key ? 1 : 0;
    s->logicals.push_back(li);
  }
  return s;
}

}  // namespace

Value Value::Bytes(std::vector<std::uint8_t> bytes) {
  Value v;
  v.kind_ = Kind::kBytes;
  v.bytes_ = std::move(bytes);
  return v;
}

Value Value::Date(double ole) {
  Value v;
  v.kind_ = Kind::kDate;
  v.double_ = ole;
  return v;
}

Value Value::Date(const DateTime& t) {
  Value v = Date(ToOleDate(t));
  v.date_fields_ = t;
  return v;
}

Value Value::Decimal(std::string text) {
  Value v;
  v.kind_ = Kind::kDecimal;
  v.text_ = std::move(text);
  return v;
}

Value Value::Guid(std::string text) {
  Value v;
  v.kind_ = Kind::kGuid;
  v.text_ = std::move(text);
  return v;
}

TableWriter::TableWriter(std::unique_ptr<internal::TableState> state) : state_(std::move(state)) {}
TableWriter::~TableWriter() = default;

void TableWriter::AddRow(std::span<const Value> values) {
  if (state_->db->finished) throw WriteError("rows added after Finish()");
  state_->AppendRow(state_->EncodeRow(values));
}

std::uint64_t TableWriter::row_count() const {
  return state_->rows;
}
const Table& TableWriter::table() const {
  return state_->table;
}

DatabaseWriter::DatabaseWriter(const std::filesystem::path& path, DatabaseOptions options)
    : state_(std::make_unique<internal::DatabaseState>()) {
  state_->path = path;
  state_->options = std::move(options);
  const DatabaseOptions& o = state_->options;
  if (o.encrypt) {
    if (o.format != Format::kAce12) throw WriteError("only .accdb files can be encrypted");
    if (o.password.empty()) throw WriteError("an encrypted database needs a password");
    if (internal::Utf8ToUtf16(o.password).size() > 255) {
      throw WriteError("database password longer than 255 characters");
    }
    state_->encryption = internal::MakeEncryption(o.encryption, o.password, o.spin_count);
  } else if (internal::Utf8ToUtf16(o.password).size() > 20) {
    throw WriteError("database password longer than 20 characters");
  }
  state_->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (state_->fd < 0) {
    throw WriteError("cannot create " + path.string() + ": " + std::strerror(errno));
  }
}

DatabaseWriter::~DatabaseWriter() {
  if (state_->fd >= 0) ::close(state_->fd);
  if (!state_->finished) {
    std::error_code ec;
    std::filesystem::remove(state_->path, ec);
  }
}

TableWriter& DatabaseWriter::AddTable(const Table& table) {
  if (state_->finished) throw WriteError("table added after Finish()");
  for (const auto& t : state_->tables) {
    if (Lower(t->table().name) == Lower(table.name)) {
      throw WriteError("two tables named \"" + table.name + "\"");
    }
  }
  if (Lower(table.name).starts_with("msys") && !table.system) {
    // Names of the catalog tables are taken; other MSys names are fine when marked system.
  }
  for (const char* reserved : {"msysobjects", "msysaces", "msysqueries", "msysrelationships"}) {
    if (Lower(table.name) == reserved) throw WriteError("\"" + table.name + "\" is reserved");
  }
  auto s = MakeState(state_.get(), table, state_->Allocate());
  state_->tables.push_back(std::unique_ptr<TableWriter>(new TableWriter(std::move(s))));
  return *state_->tables.back();
}

void DatabaseWriter::AddLinkedTable(const LinkedTable& link) {
  ValidateName("linked table", link.name);
  if (link.database.empty() && link.connect.empty()) {
    throw WriteError("linked table \"" + link.name +
                     "\" needs a database path or a connect string");
  }
  state_->links.push_back(link);
}

void DatabaseWriter::AddRelationship(const Relationship& relationship) {
  ValidateName("relationship", relationship.name);
  if (relationship.primary_columns.empty() ||
      relationship.primary_columns.size() != relationship.foreign_columns.size()) {
    throw WriteError("relationship \"" + relationship.name +
                     "\" needs the same number of primary and foreign columns");
  }
  state_->relationships.push_back(relationship);
}

namespace {

Bytes NameBytes(const std::string& name) {
  Bytes b = internal::Utf16Le(internal::Utf8ToUtf16(name));
  Bytes out;
  Put16(out, static_cast<std::uint16_t>(b.size()));
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

// Builds a property blob: one unnamed block for the object, one named block per column.
class PropertyBlob {
 public:
  void Text(const std::string& block, const std::string& name, const std::string& value) {
    auto u16 = internal::Utf8ToUtf16(value);
    Add(block, name, u16.size() > 255 ? 0x0C : 0x0A, internal::Utf16Le(u16));
  }
  void Bool(const std::string& block, const std::string& name, bool value) {
    Add(block, name, 0x01, Bytes{static_cast<std::uint8_t>(value ? 0xff : 0x00)});
  }
  void Byte(const std::string& block, const std::string& name, std::uint8_t value) {
    Add(block, name, 0x02, Bytes{value});
  }
  bool empty() const { return blocks_.empty(); }

  Bytes Build() const {
    Bytes out = {'M', 'R', '2', 0};
    Bytes names;
    for (const auto& n : names_) {
      Bytes nb = NameBytes(n);
      names.insert(names.end(), nb.begin(), nb.end());
    }
    Put32(out, static_cast<std::uint32_t>(names.size() + 6));
    Put16(out, 0x80);
    out.insert(out.end(), names.begin(), names.end());
    for (const auto& [block, entries] : blocks_) {
      Bytes body;
      Bytes bn = block.empty() ? Bytes{0, 0} : NameBytes(block);
      Put32(body, static_cast<std::uint32_t>(4 + bn.size()));
      body.insert(body.end(), bn.begin(), bn.end());
      body.insert(body.end(), entries.begin(), entries.end());
      Put32(out, static_cast<std::uint32_t>(body.size() + 6));
      Put16(out, block.empty() ? 0x00 : 0x01);
      out.insert(out.end(), body.begin(), body.end());
    }
    return out;
  }

 private:
  void Add(const std::string& block, const std::string& name, std::uint8_t type,
           const Bytes& value) {
    auto it = std::find(names_.begin(), names_.end(), name);
    std::size_t index = static_cast<std::size_t>(it - names_.begin());
    if (it == names_.end()) names_.push_back(name);
    Bytes& entries = Block(block);
    Put16(entries, static_cast<std::uint16_t>(8 + value.size()));
    Put8(entries, 0);
    Put8(entries, type);
    Put16(entries, static_cast<std::uint16_t>(index));
    Put16(entries, static_cast<std::uint16_t>(value.size()));
    entries.insert(entries.end(), value.begin(), value.end());
  }
  Bytes& Block(const std::string& name) {
    for (auto& [n, b] : blocks_) {
      if (n == name) return b;
    }
    // The object's own block comes first.
    if (name.empty()) return blocks_.insert(blocks_.begin(), {name, Bytes{}})->second;
    blocks_.push_back({name, Bytes{}});
    return blocks_.back().second;
  }
  std::vector<std::string> names_;
  std::vector<std::pair<std::string, Bytes>> blocks_;
};

Bytes TableProperties(const Table& t) {
  PropertyBlob p;
  if (!t.description.empty()) p.Text("", "Description", t.description);
  for (const auto& tp : t.properties) p.Text("", tp.name, tp.value);
  for (const Column& c : t.columns) {
    if (c.default_value) p.Text(c.name, "DefaultValue", *c.default_value);
    p.Bool(c.name, "Required", c.required);
    if (!c.description.empty()) p.Text(c.name, "Description", c.description);
    if (c.expression) {
      p.Text(c.name, "Expression", *c.expression);
      p.Byte(c.name, "ResultType", static_cast<std::uint8_t>(c.type));
    }
    for (const auto& cp : c.properties) p.Text(c.name, cp.name, cp.value);
  }
  return p.Build();
}

Table CatalogTable() {
  Table t{.name = "MSysObjects", .system = true};
  auto col = [&](const char* n, ColumnType ty, int size = 0) {
    t.columns.push_back(Column{.name = n, .type = ty, .size = size});
  };
  col("Id", ColumnType::kLong);
  col("ParentId", ColumnType::kLong);
  col("Name", ColumnType::kText, 255);
  col("Type", ColumnType::kInteger);
  col("DateCreate", ColumnType::kDateTime);
  col("DateUpdate", ColumnType::kDateTime);
  col("Owner", ColumnType::kBinary, 255);
  col("Flags", ColumnType::kLong);
  col("Database", ColumnType::kMemo);
  col("Connect", ColumnType::kMemo);
  col("ForeignName", ColumnType::kText, 255);
  col("RmtInfoShort", ColumnType::kBinary, 255);
  col("RmtInfoLong", ColumnType::kOle);
  col("Lv", ColumnType::kOle);
  col("LvProp", ColumnType::kOle);
  col("LvModule", ColumnType::kOle);
  col("LvExtra", ColumnType::kOle);
  t.indexes.push_back({.name = "Id", .columns = {{"Id"}}, .unique = true});
  t.indexes.push_back(
      {.name = "ParentIdName", .columns = {{"ParentId"}, {"Name"}}, .unique = true});
  return t;
}

Table AcesTable() {
  Table t{.name = "MSysACEs", .system = true};
  t.columns = {{.name = "ObjectId", .type = ColumnType::kLong},
               {.name = "SID", .type = ColumnType::kBinary, .size = 255},
               {.name = "ACM", .type = ColumnType::kLong},
               {.name = "FInheritable", .type = ColumnType::kBoolean}};
  t.indexes.push_back({.name = "ObjectId", .columns = {{"ObjectId"}, {"SID"}}});
  return t;
}

Table QueriesTable() {
  Table t{.name = "MSysQueries", .system = true};
  t.columns = {{.name = "ObjectId", .type = ColumnType::kLong},
               {.name = "Attribute", .type = ColumnType::kByte},
               {.name = "Order", .type = ColumnType::kBinary, .size = 255},
               {.name = "Name1", .type = ColumnType::kText, .size = 255},
               {.name = "Name2", .type = ColumnType::kText, .size = 255},
               {.name = "Expression", .type = ColumnType::kMemo},
               {.name = "Flag", .type = ColumnType::kInteger},
               {.name = "LvExtra", .type = ColumnType::kOle}};
  t.indexes.push_back({.name = "ObjectIdAttribute", .columns = {{"ObjectId"}, {"Attribute"}}});
  return t;
}

Table RelationshipsTable() {
  Table t{.name = "MSysRelationships", .system = true};
  t.columns = {{.name = "ccolumn", .type = ColumnType::kLong},
               {.name = "grbit", .type = ColumnType::kLong},
               {.name = "icolumn", .type = ColumnType::kLong},
               {.name = "szColumn", .type = ColumnType::kText, .size = 64},
               {.name = "szObject", .type = ColumnType::kText, .size = 64},
               {.name = "szReferencedColumn", .type = ColumnType::kText, .size = 64},
               {.name = "szReferencedObject", .type = ColumnType::kText, .size = 64},
               {.name = "szRelationship", .type = ColumnType::kText, .size = 64}};
  t.indexes.push_back({.name = "szObject", .columns = {{"szObject"}}});
  t.indexes.push_back({.name = "szReferencedObject", .columns = {{"szReferencedObject"}}});
  return t;
}

Bytes BuildTdef(const internal::TableState& s) {
  const Table& t = s.table;
  Bytes b(8, 0);
  b[0] = 0x02;
  b[1] = 0x01;
  Put32(b, 0);  // total length, set below
  Put32(b, kMagic);
  Put32(b, static_cast<std::uint32_t>(s.rows));
  Put32(b, static_cast<std::uint32_t>(s.autonumber));
  bool has_auto = std::any_of(t.columns.begin(), t.columns.end(),
                              [](const Column& c) { return c.auto_number != AutoNumber::kNone; });
  Put8(b, has_auto ? 1 : 0);
  Put8(b, 0);
  Put16(b, 0);
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 0);
  Put8(b, s.system_definition ? 0x53 : 0x4e);
  Put16(b, static_cast<std::uint16_t>(t.columns.size()));
  Put16(b, static_cast<std::uint16_t>(s.num_var));
  Put16(b, static_cast<std::uint16_t>(t.columns.size()));
  Put32(b, static_cast<std::uint32_t>(s.logicals.size()));
  Put32(b, static_cast<std::uint32_t>(s.reals.size()));
  Put32(b, s.used_map_row);
  Put32(b, s.free_map_row);
  for (std::size_t i = 0; i < s.reals.size(); ++i) {
    Put32(b, 0);
    Put32(b, static_cast<std::uint32_t>(s.rows));
    Put32(b, 0);
  }
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const Column& c = t.columns[i];
    const ColumnLayout& l = s.layout[i];
    Put8(b, static_cast<std::uint8_t>(c.type));
    Put32(b, kMagic);
    Put16(b, static_cast<std::uint16_t>(l.number));
    Put16(b, static_cast<std::uint16_t>(l.var_index));
    Put16(b, 0);
    if (c.type == ColumnType::kDecimal && c.expression) {
      Put16(b, 0);  // a calculated decimal keeps its scale with each value
    } else if (c.type == ColumnType::kDecimal) {
      Put8(b, static_cast<std::uint8_t>(c.precision));
      Put8(b, static_cast<std::uint8_t>(c.scale));
    } else {
      Put16(b, 0x0409);  // General sort order
    }
    Put16(b, 0);
    std::uint8_t flags = 0;
    if (l.fixed) flags |= 0x01;
    if (!c.required) flags |= 0x02;
    if (c.auto_number == AutoNumber::kIncrement) flags |= 0x04;
    if (c.auto_number == AutoNumber::kGuid) flags |= 0x40;
    Put8(b, flags);
    bool compressed = c.type == ColumnType::kText || c.type == ColumnType::kMemo;
    Put8(b, c.expression ? kCalculatedFlags : compressed ? 0x01 : 0x00);
    Put32(b, 0);
    Put16(b, static_cast<std::uint16_t>(l.fixed ? l.fixed_offset : 0));
    Put16(b, static_cast<std::uint16_t>(l.stored_size));
  }
  for (const Column& c : t.columns) {
    Bytes nb = NameBytes(c.name);
    b.insert(b.end(), nb.begin(), nb.end());
  }
  for (const RealIndex& r : s.reals) {
    Put32(b, kMagic);
    for (std::size_t k = 0; k < 10; ++k) {
      if (k < r.columns.size()) {
        Put16(b, static_cast<std::uint16_t>(r.columns[k].first));
        Put8(b, r.columns[k].second ? 0x00 : 0x01);
      } else {
        Put16(b, 0xffff);
        Put8(b, 0);
      }
    }
    Put32(b, r.map_row);
    Put32(b, r.root_page);
    Put32(b, 0);
    Put8(b, static_cast<std::uint8_t>(r.flags | 0x80));
    Put32(b, 0);
    Put8(b, 0);
  }
  for (std::size_t i = 0; i < s.logicals.size(); ++i) {
    const LogicalIndex& li = s.logicals[i];
    Put32(b, kMagic);
    Put32(b, static_cast<std::uint32_t>(i));
    Put32(b, static_cast<std::uint32_t>(li.real));
    Put8(b, li.type == 2 ? 1 : 0);
    Put32(b, static_cast<std::uint32_t>(li.rel_index));
    Put32(b, li.rel_table_page);
    if (li.type == 2) {
      Put8(b, li.cascade_updates ? 1 : 0);
      Put8(b, li.cascade_deletes ? 1 : 0);
    } else {
      Put8(b, 0x04);
      Put8(b, 0x04);
    }
    Put8(b, li.type);
    Put32(b, 0);
  }
  for (const auto& li : s.logicals) {
    Bytes nb = NameBytes(li.name);
    b.insert(b.end(), nb.begin(), nb.end());
  }
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    if (!IsLongValue(t.columns[i].type)) continue;
    Put16(b, static_cast<std::uint16_t>(i));
    Put32(b, s.free_map_row);
    Put32(b, s.free_map_row);
  }
  Put16(b, 0xffff);
  Set32(&b[8], static_cast<std::uint32_t>(b.size()));
  return b;
}

int TdefPageCount(std::size_t size) {
  if (size <= kPageSize) return 1;
  return 1 + static_cast<int>((size - kPageSize + (kPageSize - 8) - 1) / (kPageSize - 8));
}

// A usage map row: inline bitmap for a compact page range, else bitmap pages.
Bytes UsageMap(internal::DatabaseState& db, std::vector<std::uint32_t> pages) {
  Bytes row;
  std::sort(pages.begin(), pages.end());
  constexpr std::uint32_t kInlineBits = 8 * 120;
  if (pages.empty() || pages.back() - pages.front() < kInlineBits) {
    std::uint32_t start = pages.empty() ? 0 : pages.front();
    Put8(row, 0x00);
    Put32(row, start);
    Bytes bits(pages.empty() ? 1 : (pages.back() - start) / 8 + 1, 0);
    for (auto p : pages)
      bits[(p - start) / 8] |= static_cast<std::uint8_t>(1u << ((p - start) % 8));
    row.insert(row.end(), bits.begin(), bits.end());
    return row;
  }
  constexpr std::uint32_t kBitsPerPage = (kPageSize - 4) * 8;
  std::uint32_t maps = pages.back() / kBitsPerPage + 1;
  std::vector<std::uint32_t> map_pages(maps, 0);
  std::vector<std::array<std::uint8_t, kPageSize>> bufs(maps);
  for (auto p : pages) {
    std::uint32_t m = p / kBitsPerPage;
    if (map_pages[m] == 0) {
      map_pages[m] = db.Allocate();
      bufs[m].fill(0);
      bufs[m][0] = 0x05;
      bufs[m][1] = 0x01;
    }
    std::uint32_t bit = p % kBitsPerPage;
    bufs[m][4 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
  }
  Put8(row, 0x01);
  for (std::uint32_t m = 0; m < maps; ++m) {
    Put32(row, map_pages[m]);
    if (map_pages[m]) db.WritePage(map_pages[m], bufs[m].data());
  }
  return row;
}

}  // namespace

void DatabaseWriter::Finish() {
  internal::DatabaseState& db = *state_;
  if (db.finished) throw WriteError("Finish() called twice");
  std::vector<internal::TableState*> user;
  for (auto& t : db.tables) user.push_back(t->state_.get());
  for (auto* s : user) {
    s->FlushData();
    s->FlushLval();
  }
  auto find_table = [&](const std::string& name) -> internal::TableState* {
    for (auto* s : user) {
      if (Lower(s->table.name) == Lower(name)) return s;
    }
    throw WriteError("relationship refers to unknown table \"" + name + "\"");
  };

  // Relationship indexes: the foreign side gets a logical foreign-key index that shares
  // an existing physical index on the same columns, or gets its own placed last (readers
  // pair physical indexes with non-foreign-key logical ones in order).
  std::map<internal::TableState*, std::vector<RealIndex>> extra_reals;
  for (const Relationship& r : db.relationships) {
    auto* pt = find_table(r.primary_table);
    auto* ft = find_table(r.foreign_table);
    std::vector<std::pair<int, bool>> pcols, fcols;
    for (const auto& c : r.primary_columns) pcols.emplace_back(pt->ColumnNumber(c), false);
    for (const auto& c : r.foreign_columns) fcols.emplace_back(ft->ColumnNumber(c), false);
    if (!r.enforce) continue;
    int rel_index = -1;
    for (std::size_t i = 0; i < pt->logicals.size(); ++i) {
      if (pt->reals[static_cast<std::size_t>(pt->logicals[i].real)].columns == pcols) {
        rel_index = static_cast<int>(i);
        break;
      }
    }
    if (rel_index < 0) {
      throw WriteError("relationship \"" + r.name + "\": table \"" + pt->table.name +
                       "\" has no index on the referenced columns");
    }
    LogicalIndex li;
    li.name = r.name;
    li.type = 2;
    li.rel_table_page = pt->tdef_page;
    li.rel_index = rel_index;
    li.cascade_updates = r.cascade_updates;
    li.cascade_deletes = r.cascade_deletes;
    li.real = -1;
    for (std::size_t i = 0; i < ft->reals.size(); ++i) {
      if (ft->reals[i].columns == fcols) li.real = static_cast<int>(i);
    }
    auto& extra = extra_reals[ft];
    if (li.real < 0) {
      for (std::size_t i = 0; i < extra.size(); ++i) {
        if (extra[i].columns == fcols) li.real = static_cast<int>(ft->reals.size() + i);
      }
    }
    if (li.real < 0) {
      RealIndex ri;
      ri.columns = fcols;
      extra.push_back(ri);
      li.real = static_cast<int>(ft->reals.size() + extra.size() - 1);
    }
    ft->logicals.push_back(li);
  }
  for (auto& [t, extra] : extra_reals) t->reals.insert(t->reals.end(), extra.begin(), extra.end());

  // Catalog tables.
  std::vector<std::unique_ptr<internal::TableState>> sys;
  sys.push_back(MakeState(&db, CatalogTable(), 2));
  sys.push_back(MakeState(&db, AcesTable(), db.Allocate()));
  sys.push_back(MakeState(&db, QueriesTable(), db.Allocate()));
  sys.push_back(MakeState(&db, RelationshipsTable(), db.Allocate()));
  for (auto& s : sys) s->system_definition = true;
  internal::TableState& catalog = *sys[0];

  // Relationship rows.
  for (const Relationship& r : db.relationships) {
    std::int64_t grbit =
        (r.enforce ? 0 : 0x2) | (r.cascade_updates ? 0x100 : 0) | (r.cascade_deletes ? 0x1000 : 0);
    for (std::size_t i = 0; i < r.foreign_columns.size(); ++i) {
      std::vector<Value> row = {Value(static_cast<std::int64_t>(r.foreign_columns.size())),
                                Value(grbit),
                                Value(static_cast<std::int64_t>(i)),
                                Value(r.foreign_columns[i]),
                                Value(find_table(r.foreign_table)->table.name),
                                Value(r.primary_columns[i]),
                                Value(find_table(r.primary_table)->table.name),
                                Value(r.name)};
      sys[3]->AppendRow(sys[3]->EncodeRow(row));
    }
  }

  // Catalog rows.
  double now = db.options.creation_date;
  auto add_object = [&](std::int64_t id, std::int64_t parent, const std::string& name, int type,
                        std::uint32_t flags, const Value& database, const Value& connect,
                        const Value& foreign, const Value& props) {
    std::vector<Value> row = {Value(id),
                              Value(parent),
                              Value(name),
                              Value(type),
                              Value::Date(now),
                              Value::Date(now),
                              Value(),
                              Value(static_cast<std::int64_t>(static_cast<std::int32_t>(flags))),
                              database,
                              connect,
                              foreign,
                              Value(),
                              Value(),
                              Value(),
                              props,
                              Value(),
                              Value()};
    catalog.AppendRow(catalog.EncodeRow(row));
  };
  const std::uint32_t kSysFlags = 0x80000000u;
  add_object(kTablesContainer, kRootContainer, "Tables", 3, kSysFlags, {}, {}, {}, {});
  add_object(kDatabasesContainer, kRootContainer, "Databases", 3, kSysFlags, {}, {}, {}, {});
  add_object(kRelationshipsContainer, kRootContainer, "Relationships", 3, kSysFlags, {}, {}, {},
             {});
  add_object(0x10000000, kDatabasesContainer, "MSysDb", 2, kSysFlags, {}, {}, {}, {});
  for (auto& s : sys) {
    add_object(s->tdef_page, kTablesContainer, s->table.name, 1, kSysFlags, {}, {}, {}, {});
  }
  for (auto* s : user) {
    std::uint32_t flags = 0;
    if (s->table.hidden) flags |= 0x8;
    if (s->table.system) flags |= 0x80000002u;
    Bytes props = TableProperties(s->table);
    add_object(s->tdef_page, kTablesContainer, s->table.name, 1, flags, {}, {}, {},
               Value::Bytes(props));
  }
  std::uint32_t link_id = 0x00f00000;
  for (const LinkedTable& l : db.links) {
    std::string foreign = l.foreign_name.empty() ? l.name : l.foreign_name;
    std::uint32_t flags = l.hidden ? 0x8 : 0;
    if (!l.database.empty()) {
      add_object(link_id++, kTablesContainer, l.name, 6, flags, Value(l.database),
                 l.connect.empty() ? Value() : Value(l.connect), Value(foreign), {});
    } else {
      add_object(link_id++, kTablesContainer, l.name, 4, flags, {}, Value(l.connect),
                 Value(foreign), {});
    }
  }
  for (auto& s : sys) {
    s->FlushData();
    s->FlushLval();
  }

  // Index roots (empty leaves), usage maps and definitions.
  std::vector<internal::TableState*> all = user;
  for (auto& s : sys) all.push_back(s.get());
  RowPage maps;
  maps.Open(1, 0);
  std::vector<RowPage> map_pages;
  auto add_map_row = [&](const Bytes& row) -> std::uint32_t {
    if (!maps.Fits(row.size())) {
      map_pages.push_back(maps);
      maps.Open(db.Allocate(), 0);
    }
    int r = maps.Add(row.data(), row.size());
    return (maps.number << 8) | static_cast<std::uint32_t>(r);
  };
  for (auto* s : all) {
    s->used_map_row = add_map_row(UsageMap(db, s->data_pages));
    s->free_map_row = add_map_row(UsageMap(db, {}));
    for (RealIndex& r : s->reals) {
      r.root_page = db.Allocate();
      std::array<std::uint8_t, kPageSize> leaf{};
      leaf[0] = 0x04;
      leaf[1] = 0x01;
      Set16(&leaf[2], kPageSize - kIndexEntriesStart);
      Set32(&leaf[4], s->tdef_page);
      db.WritePage(r.root_page, leaf.data());
      r.map_row = add_map_row(UsageMap(db, {r.root_page}));
    }
  }
  map_pages.push_back(maps);
  for (RowPage& p : map_pages) {
    p.Seal();
    db.WritePage(p.number, p.buf.data());
  }
  for (auto* s : all) {
    Bytes tdef = BuildTdef(*s);
    int count = TdefPageCount(tdef.size());
    std::uint32_t next = count > 1 ? db.Allocate(static_cast<std::uint32_t>(count - 1)) : 0;
    std::size_t at = 0;
    for (int i = 0; i < count; ++i) {
      std::array<std::uint8_t, kPageSize> page{};
      std::uint32_t number = i == 0 ? s->tdef_page : next + static_cast<std::uint32_t>(i - 1);
      page[0] = 0x02;
      page[1] = 0x01;
      Set32(&page[4], i + 1 < count ? next + static_cast<std::uint32_t>(i) : 0);
      std::size_t start = i == 0 ? 8 : 8;
      if (i == 0) at = 8;
      std::size_t take = std::min(tdef.size() - at, static_cast<std::size_t>(kPageSize) - start);
      std::memcpy(&page[start], &tdef[at], take);
      at += take;
      Set16(&page[2], static_cast<std::uint16_t>(kPageSize - start - take - 8));
      db.WritePage(number, page.data());
    }
  }

  // Header page.
  std::array<std::uint8_t, kPageSize> h{};
  static constexpr std::uint8_t kHead[] = {0x00, 0x01, 0x00, 0x00};
  std::memcpy(&h[0], kHead, 4);
  const char* engine = db.options.format == Format::kAce12 ? "Standard ACE DB" : "Standard Jet DB";
  std::memcpy(&h[4], engine, std::strlen(engine));
  h[0x14] = db.options.format == Format::kAce12 ? 0x02 : 0x01;
  static constexpr std::uint8_t kFixed[] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                                            0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                            0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
  std::memcpy(&h[0x18], kFixed, sizeof kFixed);
  Set16(&h[0x3c], 0x04e4);  // code page 1252
  Set32(&h[0x6a], 0x000011a6);
  Set32(&h[0x6e], 0x00000409);  // General sort order
  std::memcpy(&h[0x72], &now, 8);
  // An encrypted file keeps its password in the encryption header only.
  Bytes pw =
      db.encryption ? Bytes{} : internal::Utf16Le(internal::Utf8ToUtf16(db.options.password));
  std::uint32_t mask = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::floor(now)));
  for (std::size_t i = 0; i < 40; ++i) {
    std::uint8_t c = i < pw.size() ? pw[i] : 0;
    h[0x42 + i] = c ^ static_cast<std::uint8_t>(mask >> (8 * (i % 4)));
  }
  static constexpr std::uint8_t kVersion[] = {0x54, 0x06, 0x00, 0x00, '4', '.', '0', 0x00};
  std::memcpy(&h[0x98], kVersion, sizeof kVersion);
  if (db.encryption) {
    std::memcpy(&h[0x3e], db.encryption->encoding_key(), 4);
    const Bytes& provider = db.encryption->provider();
    constexpr std::size_t kProviderAt = 0x299;
    if (provider.size() > kPageSize - kProviderAt - 2)
      throw WriteError("encryption header too long");
    Set16(&h[kProviderAt], static_cast<std::uint16_t>(provider.size()));
    std::memcpy(&h[kProviderAt + 2], provider.data(), provider.size());
  }
  static constexpr std::uint8_t kKey[] = {0xc7, 0xda, 0x39, 0x6b};
  internal::Rc4(kKey, 4, &h[0x18], 128);
  db.WritePage(0, h.data());

  if (::ftruncate(db.fd, static_cast<off_t>(db.next_page) * kPageSize) != 0 ||
      ::fsync(db.fd) != 0) {
    throw WriteError("cannot finish " + db.path.string() + ": " + std::strerror(errno));
  }
  ::close(db.fd);
  db.fd = -1;
  db.finished = true;
}

void WriteDatabase(const std::filesystem::path& path, const DatabaseDescription& d) {
  DatabaseWriter w(path, d.options);
  for (const TableContent& t : d.tables) {
    TableWriter& tw = w.AddTable(t.table);
    for (const auto& row : t.rows) tw.AddRow(row);
  }
  for (const LinkedTable& l : d.linked_tables) w.AddLinkedTable(l);
  for (const Relationship& r : d.relationships) w.AddRelationship(r);
  w.Finish();
}

}  // namespace accesswriter
