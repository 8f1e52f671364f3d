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
constexpr int kOffsetMask = 0x1fff;
constexpr std::uint16_t kDeletedRow = 0xC000;
constexpr std::uint16_t kMovedAway = 0x4000;  // the row holds where it went
constexpr std::uint16_t kMovedHere = 0x8000;
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

bool IsKnownType(ColumnType t) {
  switch (t) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kBinary:
    case ColumnType::kText:
    case ColumnType::kOle:
    case ColumnType::kMemo:
    case ColumnType::kGuid:
    case ColumnType::kDecimal:
    case ColumnType::kBigInt:
    case ColumnType::kDateTimeExtended:
    case ColumnType::kComplex:
      return true;
  }
  return false;
}

bool IsVariable(const Column& c) {
  if (IsLongValue(c.type) || c.expression) return true;
  if (c.type == ColumnType::kText || c.type == ColumnType::kBinary || !IsKnownType(c.type))
    return !c.fixed_length;
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
    case ColumnType::kComplex:
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
  // An entry without bytes of its own, for a deleted row.
  void AddEntry(int offset, std::uint16_t flags) {
    Set16(&buf[kDataHeader + 2 * rows], static_cast<std::uint16_t>(offset | flags));
    ++rows;
  }
  void Flag(int row, std::uint16_t flags) {
    std::uint8_t* entry = &buf[kDataHeader + 2 * row];
    Set16(entry, static_cast<std::uint16_t>((entry[0] | entry[1] << 8) | flags));
  }
  // Where the last entry points (the page's end before the first).
  int LastOffset() const {
    if (rows == 0) return kPageSize;
    const std::uint8_t* entry = &buf[kDataHeader + 2 * (rows - 1)];
    return (entry[0] | entry[1] << 8) & kOffsetMask;
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

// One row's fields before they are put together: the fixed area, the variable values in
// column order, and the null mask, where a set bit marks a present value (or a true boolean).
struct RowFields {
  Bytes fixed;
  std::vector<Bytes> variable;
  Bytes null_mask;
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
  std::vector<Query> queries;
  // The hidden tables of complex columns, in the order their columns were declared.
  std::vector<std::unique_ptr<TableState>> flat_tables;
  struct ComplexColumn {
    std::string column;
    std::uint32_t table_page = 0;
    TableState* flat = nullptr;
    ComplexKind kind = ComplexKind::kNone;
    ColumnType value_type = ColumnType::kText;
  };
  std::vector<ComplexColumn> complex_columns;  // ComplexID - 1 is the index
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
  RowPage moved;  // rows moved off the page their entry is on
  std::vector<std::uint32_t> data_pages;
  std::uint64_t rows = 0;
  std::int64_t autonumber = 0;
  std::vector<RealIndex> reals;
  std::vector<LogicalIndex> logicals;
  std::uint32_t used_map_row = 0;
  std::uint32_t free_map_row = 0;
  // Per column: its ComplexID (0 for plain columns) and the last key given to a row.
  std::vector<int> complex_ids;
  std::vector<std::int64_t> complex_keys;

  int ColumnNumber(const std::string& name) const {
    std::string l = Lower(name);
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
      if (Lower(table.columns[i].name) == l) return static_cast<int>(i);
    }
    throw WriteError("table \"" + table.name + "\" has no column \"" + name + "\"");
  }

  void Flush(RowPage& page) {
    if (!page.open()) return;
    page.Seal();
    db->WritePage(page.number, page.buf.data());
    page.number = 0;
  }
  // `page` (data or moved), or a new data page of the table in its place, with room for a
  // row of `len` bytes and its entry.
  RowPage& DataPageFor(RowPage& page, std::size_t len) {
    if (!page.open() || !page.Fits(len)) {
      Flush(page);
      page.Open(db->Allocate(), tdef_page);
      data_pages.push_back(page.number);
    }
    return page;
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
        Flush(lval);
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
  // Encodes each value into the fixed area or the variable list and marks it in the null mask.
  RowFields EncodeFields(std::span<const Value> values);
  // The next auto-number for column `c`, or null when `c` has none.
  Value GenerateAutoNumber(const Column& c);
  // The stored bytes of one non-null value (booleans live in the null mask instead).
  Bytes EncodeValue(const Column& c, const ColumnLayout& l, const Value& v);
  // The wrapped result of a calculated column.
  Bytes EncodeCalculated(const Column& c, const ColumnLayout& l, const Value& v);
  // Writes a complex column's files or values into its hidden table; returns the row's key.
  std::int64_t StoreComplexValues(std::size_t column, const Value& v);
  void AppendRow(const Bytes& row) {
    if (row.size() > static_cast<std::size_t>(kMaxRowBytes)) {
      throw WriteError("row of table \"" + table.name + "\" is " + std::to_string(row.size()) +
                       " bytes; a row must fit in " + std::to_string(kMaxRowBytes));
    }
    DataPageFor(data, row.size()).Add(row.data(), row.size());
    ++rows;
  }
  void AppendDeleted(DeletedRow form, std::span<const Value> values) {
    if (form == DeletedRow::kKeepsBytes) {
      const Bytes row = EncodeRow(values);
      RowPage& page = DataPageFor(data, row.size());
      page.Flag(page.Add(row.data(), row.size()), kDeletedRow);
      return;
    }
    RowPage& page = DataPageFor(data, 0);
    page.AddEntry(form == DeletedRow::kAtPageEnd ? kPageSize : page.LastOffset(), kDeletedRow);
  }
  void AppendMoved(const Bytes& row) {
    RowPage& target = DataPageFor(moved, row.size());
    const int at = target.Add(row.data(), row.size());
    target.Flag(at, kMovedHere);
    const Bytes pointer = {static_cast<std::uint8_t>(at), static_cast<std::uint8_t>(target.number),
                           static_cast<std::uint8_t>(target.number >> 8),
                           static_cast<std::uint8_t>(target.number >> 16)};
    RowPage& page = DataPageFor(data, pointer.size());
    page.Flag(page.Add(pointer.data(), pointer.size()), kMovedAway);
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

bool BooleanOf(const Table& t, const Column& c, const Value& v) {
  if (v.kind() != Value::Kind::kBool && v.kind() != Value::Kind::kInt) {
    BadValue(t, c, "needs a boolean");
  }
  return v.as_int() != 0;
}

std::int64_t IntegerIn(const Table& t, const Column& c, const Value& v, std::int64_t lo,
                       std::int64_t hi) {
  std::int64_t n = IntegerOf(t, c, v);
  if (n < lo || n > hi) BadValue(t, c, "value " + std::to_string(n) + " out of range");
  return n;
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

Bytes ExtendedDateBytes(const Table& t, const Column& c, const Value& v) {
  std::int64_t days = 0, ticks = 0;
  ExtendedParts(t, c, v, days, ticks);
  char text[kExtendedDateLength + 1];
  std::snprintf(text, sizeof text, "%019lld:%019lld:7", static_cast<long long>(days),
                static_cast<long long>(ticks));
  return Bytes(text, text + kExtendedDateLength);  // the NUL that ends the text included
}

Bytes CurrencyBytes(const Table& t, const Column& c, const Value& v) {
  auto d = internal::ParseDecimal(DecimalTextOf(t, c, v), 4, 19);
  if (d.magnitude > static_cast<unsigned __int128>(INT64_MAX)) {
    BadValue(t, c, "currency value out of range");
  }
  auto n = static_cast<std::int64_t>(d.magnitude);
  Bytes out;
  internal::Put64(out, static_cast<std::uint64_t>(d.negative ? -n : n));
  return out;
}

Bytes DecimalBytes(const Table& t, const Column& c, const Value& v) {
  auto d = internal::ParseDecimal(DecimalTextOf(t, c, v), c.scale, c.precision);
  Bytes out;
  Put8(out, d.negative ? 0x80 : 0x00);
  // Four 32-bit little-endian words, most significant word first.
  for (int w = 3; w >= 0; --w) {
    Put32(out, static_cast<std::uint32_t>(d.magnitude >> (32 * w)));
  }
  return out;
}

// A calculated decimal keeps its own scale: a 16-bit length, the scale, the sign, then 96
// bits of magnitude as a 32-bit word and a 64-bit word, most significant first.
Bytes ScaledDecimalBytes(const Table& t, const Column& c, const Value& v) {
  std::string text = DecimalTextOf(t, c, v);
  std::size_t dot = text.find('.');
  int scale = dot == std::string::npos ? 0 : static_cast<int>(text.size() - dot - 1);
  if (scale > 28) BadValue(t, c, "more than 28 decimal places");
  auto d = internal::ParseDecimal(text, scale, 28);
  if (d.magnitude >> 96) BadValue(t, c, "decimal value out of range");
  Bytes out;
  Put16(out, 14);
  Put8(out, static_cast<std::uint8_t>(scale));
  Put8(out, d.negative ? 0x80 : 0x00);
  Put32(out, static_cast<std::uint32_t>(d.magnitude >> 64));
  internal::Put64(out, static_cast<std::uint64_t>(d.magnitude));
  return out;
}

Bytes GuidBytes(const Table& t, const Column& c, const Value& v) {
  if (v.kind() != Value::Kind::kGuid && v.kind() != Value::Kind::kText) {
    BadValue(t, c, "needs a GUID");
  }
  return internal::ParseGuid(v.as_text());
}

Bytes TextBytes(const Table& t, const Column& c, const ColumnLayout& l, const Value& v) {
  auto u16 = internal::Utf8ToUtf16(TextOf(t, c, v));
  if (static_cast<int>(u16.size()) > l.stored_size / 2) {
    BadValue(t, c,
             "text of " + std::to_string(u16.size()) +
                 " characters is longer than the column size " + std::to_string(l.stored_size / 2));
  }
  if (!l.fixed) return internal::EncodeText(u16, true);
  u16.resize(static_cast<std::size_t>(l.stored_size / 2), u' ');
  return internal::Utf16Le(u16);
}

Bytes BinaryBytes(const Table& t, const Column& c, const ColumnLayout& l, const Value& v) {
  if (v.kind() != Value::Kind::kBytes) BadValue(t, c, "needs a bytes value");
  Bytes out = v.as_bytes();
  if (static_cast<int>(out.size()) > l.stored_size) {
    BadValue(t, c,
             std::to_string(out.size()) + " bytes exceed the column size " +
                 std::to_string(l.stored_size));
  }
  if (l.fixed) out.resize(static_cast<std::size_t>(l.stored_size), 0);
  return out;
}

// A version 4 GUID, drawn from `random`.
Value RandomGuid(std::mt19937_64& random) {
  Bytes g(16);
  for (auto& b : g) b = static_cast<std::uint8_t>(random());
  g[7] = static_cast<std::uint8_t>((g[7] & 0x0f) | 0x40);  // version 4, stored little-endian
  g[8] = static_cast<std::uint8_t>((g[8] & 0x3f) | 0x80);
  char text[40];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14],
                g[15]);
  return Value::Guid(text);
}

void Append(Bytes& row, const Bytes& part) {
  row.insert(row.end(), part.begin(), part.end());
}

// Appends the variable values one after another; returns where each starts in the row.
std::vector<std::uint16_t> AppendVariablePart(Bytes& row, const std::vector<Bytes>& values) {
  std::vector<std::uint16_t> offsets;
  for (const Bytes& b : values) {
    offsets.push_back(static_cast<std::uint16_t>(row.size()));
    Append(row, b);
  }
  return offsets;
}

// Appends where the variable data ends, the offsets last column first, and their count.
void AppendOffsetTable(Bytes& row, const std::vector<std::uint16_t>& offsets) {
  Put16(row, static_cast<std::uint16_t>(row.size()));
  for (auto it = offsets.rbegin(); it != offsets.rend(); ++it) Put16(row, *it);
  Put16(row, static_cast<std::uint16_t>(offsets.size()));
}

}  // namespace

Bytes internal::TableState::EncodeCalculated(const Column& c, const ColumnLayout& l,
                                             const Value& v) {
  Bytes value;  // a null stays empty: Access's empty wrapper
  switch (v.is_null() ? ColumnType::kByte : c.type) {
    case ColumnType::kBoolean:
      value = {static_cast<std::uint8_t>(BooleanOf(table, c, v) ? 0xff : 0x00)};
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
    case ColumnType::kDecimal:
      value = ScaledDecimalBytes(table, c, v);
      break;
    default:
      if (!v.is_null()) value = EncodeValue(c, l, v);
  }
  Bytes wrapped(16, 0);
  Put32(wrapped, static_cast<std::uint32_t>(value.size()));
  Append(wrapped, value);
  wrapped.insert(wrapped.end(), 3, 0);
  return c.type == ColumnType::kMemo ? StoreLongValue(wrapped) : wrapped;
}

Bytes internal::TableState::EncodeValue(const Column& c, const ColumnLayout& l, const Value& v) {
  Bytes out;
  switch (c.type) {
    case ColumnType::kByte:
      Put8(out, static_cast<std::uint8_t>(IntegerIn(table, c, v, 0, 255)));
      break;
    case ColumnType::kInteger:
      Put16(out, static_cast<std::uint16_t>(IntegerIn(table, c, v, -32768, 32767)));
      break;
    case ColumnType::kLong: {
      std::int64_t n = IntegerIn(table, c, v, INT32_MIN, INT32_MAX);
      if (c.auto_number == AutoNumber::kIncrement) autonumber = std::max(autonumber, n);
      Put32(out, static_cast<std::uint32_t>(n));
      break;
    }
    case ColumnType::kBigInt:
      internal::Put64(out, static_cast<std::uint64_t>(IntegerOf(table, c, v)));
      break;
    case ColumnType::kSingle:
      Put32(out, std::bit_cast<std::uint32_t>(static_cast<float>(DoubleOf(table, c, v))));
      break;
    case ColumnType::kDouble:
      internal::PutDouble(out, DoubleOf(table, c, v));
      break;
    case ColumnType::kDateTime:
      internal::PutDouble(out, v.kind() == Value::Kind::kText ? internal::ParseDateText(v.as_text())
                                                              : DoubleOf(table, c, v));
      break;
    case ColumnType::kCurrency:
      return CurrencyBytes(table, c, v);
    case ColumnType::kDecimal:
      return DecimalBytes(table, c, v);
    case ColumnType::kGuid:
      return GuidBytes(table, c, v);
    case ColumnType::kText:
      return TextBytes(table, c, l, v);
    case ColumnType::kBinary:
      return BinaryBytes(table, c, l, v);
    case ColumnType::kMemo: {
      auto u16 = internal::Utf8ToUtf16(TextOf(table, c, v));
      // Long texts stay uncompressed, as Access stores them.
      return StoreLongValue(internal::EncodeText(u16, u16.size() <= 1024));
    }
    case ColumnType::kOle:
      if (v.kind() != Value::Kind::kBytes) BadValue(table, c, "needs a bytes value");
      return StoreLongValue(v.as_bytes());
    case ColumnType::kDateTimeExtended:
      return ExtendedDateBytes(table, c, v);
    default:
      return BinaryBytes(table, c, l, v);
  }
  return out;
}

Value internal::TableState::GenerateAutoNumber(const Column& c) {
  switch (c.auto_number) {
    case AutoNumber::kIncrement:
      return Value(static_cast<std::int64_t>(++autonumber));
    case AutoNumber::kGuid:
      return RandomGuid(db->random);
    default:
      return Value();
  }
}

RowFields internal::TableState::EncodeFields(std::span<const Value> values) {
  const auto& cols = table.columns;
  RowFields f{.fixed = Bytes(static_cast<std::size_t>(fixed_size), 0),
              .variable = std::vector<Bytes>(static_cast<std::size_t>(num_var)),
              .null_mask = Bytes((cols.size() + 7) / 8, 0)};
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const Column& c = cols[i];
    const ColumnLayout& l = layout[i];
    if (c.type == ColumnType::kComplex) {
      // Every row gets its own key, also one without files or values.
      f.null_mask[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
      Bytes key;
      Put32(key, static_cast<std::uint32_t>(StoreComplexValues(i, values[i])));
      std::memcpy(&f.fixed[static_cast<std::size_t>(l.fixed_offset)], key.data(), key.size());
      continue;
    }
    Value generated = values[i].is_null() ? GenerateAutoNumber(c) : Value();
    const Value& v = generated.is_null() ? values[i] : generated;
    if (v.is_null()) {
      if (c.required) BadValue(table, c, "is required but the value is null");
      // Access stores a calculated column's Null as an empty wrapper, not in the null mask.
      if (!c.expression) continue;
    }
    const auto bit = static_cast<std::uint8_t>(1u << (i % 8));
    if (c.type == ColumnType::kBoolean && !c.expression) {
      if (BooleanOf(table, c, v)) f.null_mask[i / 8] |= bit;
      continue;
    }
    f.null_mask[i / 8] |= bit;
    Bytes out = c.expression ? EncodeCalculated(c, l, v) : EncodeValue(c, l, v);
    if (l.fixed) {
      std::memcpy(&f.fixed[static_cast<std::size_t>(l.fixed_offset)], out.data(), out.size());
    } else {
      f.variable[static_cast<std::size_t>(l.var_index)] = std::move(out);
    }
  }
  return f;
}

// A row is the column count, the fixed part, the variable part with its offset table (when
// the table has variable columns), and the null mask.
Bytes internal::TableState::EncodeRow(std::span<const Value> values) {
  if (values.size() != table.columns.size()) {
    throw WriteError("table \"" + table.name + "\" has " + std::to_string(table.columns.size()) +
                     " columns but the row has " + std::to_string(values.size()) + " values");
  }
  RowFields f = EncodeFields(values);
  Bytes row;
  Put16(row, static_cast<std::uint16_t>(table.columns.size()));
  Append(row, f.fixed);
  if (num_var > 0) AppendOffsetTable(row, AppendVariablePart(row, f.variable));
  Append(row, f.null_mask);
  return row;
}

namespace {

void ValidateName(const std::string& what, const std::string& name) {
  if (name.empty()) throw WriteError(what + " name is empty");
  auto u16 = internal::Utf8ToUtf16(name);
  if (u16.size() > 64) throw WriteError(what + " name \"" + name + "\" is longer than 64");
}

// Refuses a column that the file format or Access cannot hold.
void CheckColumn(const Column& c, Format format) {
  if (c.type == ColumnType::kBigInt && format != Format::kAce12) {
    throw WriteError("column \"" + c.name + "\": big integers need the ACE 12 format");
  }
  if (c.type == ColumnType::kDateTimeExtended && format != Format::kAce12) {
    throw WriteError("column \"" + c.name + "\": extended dates need the ACE 12 format");
  }
  if (c.expression && !IsKnownType(c.type))
    throw WriteError("column \"" + c.name + "\": a calculated column needs a known result type");
  if (c.expression) {
    if (format != Format::kAce12)
      throw WriteError("column \"" + c.name + "\": calculated columns need the ACE 12 format");
    if (c.type == ColumnType::kBinary || c.type == ColumnType::kOle ||
        c.type == ColumnType::kDateTimeExtended || c.expression->empty() ||
        c.auto_number != AutoNumber::kNone || c.default_value || c.fixed_length)
      throw WriteError("column \"" + c.name +
                       "\": a calculated column needs an expression and a plain result type");
  }
  if ((c.type == ColumnType::kComplex) != (c.complex != ComplexKind::kNone)) {
    throw WriteError("column \"" + c.name + "\": complex columns and only they name their kind");
  }
  if (c.type == ColumnType::kComplex) {
    if (format != Format::kAce12)
      throw WriteError("column \"" + c.name + "\": complex columns need the ACE 12 format");
    static constexpr ColumnType kValueTypes[] = {
        ColumnType::kByte,   ColumnType::kInteger, ColumnType::kLong,    ColumnType::kSingle,
        ColumnType::kDouble, ColumnType::kGuid,    ColumnType::kDecimal, ColumnType::kText};
    if (c.complex == ComplexKind::kMultiValue &&
        std::find(std::begin(kValueTypes), std::end(kValueTypes), c.value_type) ==
            std::end(kValueTypes))
      throw WriteError("column \"" + c.name + "\": a multi-value column cannot hold that type");
    if (c.required || c.auto_number != AutoNumber::kNone || c.default_value || c.expression)
      throw WriteError("column \"" + c.name + "\": a complex column takes no further options");
  }
  if (c.auto_number == AutoNumber::kIncrement && c.type != ColumnType::kLong) {
    throw WriteError("column \"" + c.name + "\": incrementing auto-numbers must be Long");
  }
  if (c.auto_number == AutoNumber::kGuid && c.type != ColumnType::kGuid) {
    throw WriteError("column \"" + c.name + "\": GUID auto-numbers must be GUID columns");
  }
  if (c.type == ColumnType::kDecimal &&
      (c.precision < 1 || c.precision > 28 || c.scale < 0 || c.scale > c.precision)) {
    throw WriteError("column \"" + c.name + "\": precision/scale out of range");
  }
}

// The column length the definition stores; 0 for memo and OLE, whose values live elsewhere.
int StoredSize(const Column& c) {
  int stored = 0;
  if (c.type == ColumnType::kText || c.type == ColumnType::kBinary || !IsKnownType(c.type)) {
    int size = c.size == 0 ? 255 : c.size;
    if (size < 1 || size > 255) {
      throw WriteError("column \"" + c.name + "\": size " + std::to_string(c.size) +
                       " is outside 1..255");
    }
    stored = c.type == ColumnType::kText ? size * 2 : size;
  } else if (!IsLongValue(c.type)) {
    stored = FixedTypeSize(c.type);
    if (stored == 0) throw WriteError("column \"" + c.name + "\": unknown type");
  }
  if (c.expression && c.type != ColumnType::kMemo) {
    stored = c.type == ColumnType::kText ? stored + kCalculatedOverhead : kCalculatedFixedLength;
  }
  return stored;
}

// Checks the columns and gives each its place: an offset in the fixed area, or a slot in the
// variable part. Booleans take no fixed bytes; their value is the null-mask bit.
void LayOutColumns(internal::TableState& s) {
  const Table& table = s.table;
  std::set<std::string> seen;
  int var_count = 0;
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const Column& c = table.columns[i];
    ValidateName("column", c.name);
    if (!seen.insert(Lower(c.name)).second) {
      throw WriteError("table \"" + table.name + "\" has two columns named \"" + c.name + "\"");
    }
    CheckColumn(c, s.db->options.format);
    ColumnLayout l{
        .number = static_cast<int>(i), .fixed = !IsVariable(c), .stored_size = StoredSize(c)};
    if (l.fixed) {
      l.var_index = var_count;
      l.fixed_offset = s.fixed_size;
      if (c.type != ColumnType::kBoolean) s.fixed_size += l.stored_size;
    } else {
      l.var_index = var_count++;
    }
    s.layout.push_back(l);
  }
  s.num_var = var_count;
}

RealIndex PhysicalIndex(const internal::TableState& s, const Index& ix) {
  RealIndex r;
  for (const IndexColumn& ic : ix.columns) {
    int n = s.ColumnNumber(ic.column);
    if (IsLongValue(s.table.columns[static_cast<std::size_t>(n)].type)) {
      throw WriteError("index \"" + ix.name + "\": memo and OLE columns cannot be indexed");
    }
    r.columns.emplace_back(n, ic.descending);
  }
  bool unique = ix.unique || ix.primary_key;
  bool required = ix.required || ix.primary_key;
  r.flags = static_cast<std::uint8_t>((unique ? 0x01 : 0) | (ix.ignore_nulls ? 0x02 : 0) |
                                      (required ? 0x08 : 0));
  return r;
}

// Each declared index becomes one physical index and one logical index naming it.
void AddDeclaredIndexes(internal::TableState& s) {
  const Table& table = s.table;
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
    RealIndex real = PhysicalIndex(s, ix);
    auto same = std::find_if(s.reals.begin(), s.reals.end(), [&](const RealIndex& r) {
      return r.columns == real.columns && r.flags == real.flags;
    });
    if (!table.access_index_layout || same == s.reals.end()) {
      s.reals.push_back(real);
      same = s.reals.end() - 1;
    }
    s.logicals.push_back({.name = ix.name,
                          .real = static_cast<int>(same - s.reals.begin()),
                          .type = static_cast<std::uint8_t>(ix.primary_key ? 1 : 0)});
  }
}

// The columns an attachment holds per file, in the order Access lays them out in the
// hidden table (the type table lists them in another order).
std::vector<Column> AttachmentColumns() {
  return {{.name = "FileData", .type = ColumnType::kOle},
          {.name = "FileFlags", .type = ColumnType::kLong},
          {.name = "FileName", .type = ColumnType::kText, .size = 255},
          {.name = "FileTimeStamp", .type = ColumnType::kDateTime},
          {.name = "FileType", .type = ColumnType::kText, .size = 255},
          {.name = "FileURL", .type = ColumnType::kMemo}};
}

Column ValueColumn(ColumnType type) {
  Column c{.name = "Value", .type = type, .size = type == ColumnType::kText ? 255 : 0};
  if (type == ColumnType::kDecimal) c.scale = 2;
  return c;
}

// 32 hex digits that stand in for the GUID Access puts in the names of the hidden parts of a
// complex column; derived from the names, so that the same description gives the same file.
std::string HiddenNameHex(const std::string& seed) {
  std::uint64_t a = 1469598103934665603ull, b = 1099511628211ull;
  for (unsigned char ch : seed) {
    a = (a ^ ch) * 1099511628211ull;
    b = (b ^ ch) * 14029467366897019727ull + 1;
  }
  char text[33];
  std::snprintf(text, sizeof text, "%016llX%016llX", static_cast<unsigned long long>(a),
                static_cast<unsigned long long>(b));
  return text;
}

// What Access names a complex column's hidden table and its key columns: f_<hex>_<column>,
// <table>_<column> (the table's own key) and _<column> (the key the owning row stores).
Table FlatTable(const std::string& owner, const Column& c) {
  auto fit = [](std::string name) { return name.size() > 64 ? name.substr(0, 64) : name; };
  const std::string hex = HiddenNameHex(owner + "\n" + c.name);
  Table t{.name = fit("f_" + hex + "_" + c.name)};
  t.columns = c.complex == ComplexKind::kAttachment
                  ? AttachmentColumns()
                  : std::vector<Column>{ValueColumn(c.value_type)};
  if (c.complex == ComplexKind::kMultiValue) t.columns[0].size = c.size;
  const std::string own_key = fit(owner + "_" + c.name);
  const std::string row_key = fit("_" + c.name);
  t.columns.push_back(
      {.name = own_key, .type = ColumnType::kLong, .auto_number = AutoNumber::kIncrement});
  t.columns.push_back({.name = row_key, .type = ColumnType::kLong});
  const std::string scalar = c.complex == ComplexKind::kAttachment ? "FileName" : "Value";
  t.indexes = {{.name = row_key, .columns = {{row_key}}, .required = true},
               {.name = "IdxFKPrimaryScalar",
                .columns = {{row_key}, {scalar}},
                .unique = true,
                .required = true},
               {.name = "MSysComplexPKIndex", .columns = {{own_key}}, .primary_key = true}};
  return t;
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
  LayOutColumns(*s);
  AddDeclaredIndexes(*s);
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

Value Value::Attachments(std::vector<Attachment> files) {
  Value v;
  v.kind_ = Kind::kAttachments;
  v.attachments_ = std::make_shared<const std::vector<Attachment>>(std::move(files));
  return v;
}

Value Value::Items(std::vector<Value> items) {
  Value v;
  v.kind_ = Kind::kItems;
  v.items_ = std::move(items);
  return v;
}

const std::vector<Attachment>& Value::as_attachments() const {
  static const std::vector<Attachment> kNone;
  return attachments_ ? *attachments_ : kNone;
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

void TableWriter::AddDeletedRow(DeletedRow form, std::span<const Value> values) {
  if (state_->db->finished) throw WriteError("rows added after Finish()");
  state_->AppendDeleted(form, values);
}

void TableWriter::AddMovedRow(std::span<const Value> values) {
  if (state_->db->finished) throw WriteError("rows added after Finish()");
  state_->AppendMoved(state_->EncodeRow(values));
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
  // The catalogue's own tables are taken; other MSys names are fine.
  for (const char* reserved : {"msysobjects", "msysaces", "msysqueries", "msysrelationships"}) {
    if (Lower(table.name) == reserved) throw WriteError("\"" + table.name + "\" is reserved");
  }
  // Access indexes each complex column's key uniquely; DAO does not list that index.
  Table with_keys = table;
  for (const Column& c : table.columns)
    if (c.type == ColumnType::kComplex)
      with_keys.indexes.push_back(
          {.name = c.name.substr(0, 31) + "_" + HiddenNameHex(table.name + "\n" + c.name),
           .columns = {{c.name}},
           .unique = true,
           .required = true});
  auto s = MakeState(state_.get(), with_keys, state_->Allocate());
  s->complex_ids.assign(table.columns.size(), 0);
  s->complex_keys.assign(table.columns.size(), 0);
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const Column& c = table.columns[i];
    if (c.type != ColumnType::kComplex) continue;
    auto flat = MakeState(state_.get(), FlatTable(table.name, c), state_->Allocate());
    state_->complex_columns.push_back({c.name, s->tdef_page, flat.get(), c.complex, c.value_type});
    state_->flat_tables.push_back(std::move(flat));
    s->complex_ids[i] = static_cast<int>(state_->complex_columns.size());
  }
  state_->tables.push_back(std::unique_ptr<TableWriter>(new TableWriter(std::move(s))));
  return *state_->tables.back();
}

void DatabaseWriter::AddQuery(const Query& query) {
  if (state_->finished) throw WriteError("query added after Finish()");
  ValidateName("query", query.name);
  for (const auto& t : state_->tables)
    if (Lower(t->table().name) == Lower(query.name))
      throw WriteError("a table is named \"" + query.name + "\" already");
  for (const Query& q : state_->queries)
    if (Lower(q.name) == Lower(query.name))
      throw WriteError("two queries named \"" + query.name + "\"");
  state_->queries.push_back(query);
}

std::int64_t internal::TableState::StoreComplexValues(std::size_t column, const Value& v) {
  const Column& c = table.columns[column];
  const std::int64_t key = ++complex_keys[column];
  TableState& flat = *db->complex_columns[static_cast<std::size_t>(complex_ids[column]) - 1].flat;
  if (v.is_null()) return key;
  if (c.complex == ComplexKind::kAttachment) {
    if (v.kind() != Value::Kind::kAttachments) BadValue(table, c, "needs attachments");
    for (const Attachment& file : v.as_attachments()) {
      const std::size_t dot = file.file_name.rfind('.');
      const std::string type = dot == std::string::npos ? "" : file.file_name.substr(dot + 1);
      std::vector<Value> row = {Value::Bytes(AttachmentFileData(file)),
                                Value(),
                                Value(file.file_name),
                                Value(),
                                type.empty() ? Value() : Value(type),
                                Value(),
                                Value(),
                                Value(key)};
      flat.AppendRow(flat.EncodeRow(row));
    }
    return key;
  }
  if (v.kind() != Value::Kind::kItems) BadValue(table, c, "needs a list of values");
  for (const Value& item : v.as_items()) {
    if (item.is_null()) BadValue(table, c, "a multi-value column holds no null values");
    std::vector<Value> row = {item, Value(), Value(key)};
    flat.AppendRow(flat.EncodeRow(row));
  }
  return key;
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
    if (c.allow_zero_length) p.Bool(c.name, "AllowZeroLength", *c.allow_zero_length);
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

void PutName(Bytes& b, const std::string& name) {
  Bytes nb = NameBytes(name);
  b.insert(b.end(), nb.begin(), nb.end());
}

// The definition's header: row count, next auto-number, column and index counts, usage maps,
// and each physical index's row count. The total length is filled in last.
Bytes DefinitionHeader(const internal::TableState& s) {
  const Table& t = s.table;
  Bytes b(8, 0);
  b[0] = 0x02;
  b[1] = 0x01;
  Put32(b, 0);  // total length
  Put32(b, kMagic);
  Put32(b, t.stored_rows.value_or(static_cast<std::uint32_t>(s.rows)));
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
  return b;
}

void PutColumnEntry(Bytes& b, const Column& c, const ColumnLayout& l, int complex_id) {
  Put8(b, static_cast<std::uint8_t>(c.type));
  Put32(b, kMagic);
  Put16(b, static_cast<std::uint16_t>(l.number));
  Put16(b, static_cast<std::uint16_t>(l.var_index));
  Put16(b, 0);
  if (c.type == ColumnType::kComplex) {
    Put32(b, static_cast<std::uint32_t>(complex_id));  // the column's ComplexID
  } else if (c.type == ColumnType::kDecimal && c.expression) {
    Put16(b, 0);  // a calculated decimal keeps its scale with each value
  } else if (c.type == ColumnType::kDecimal) {
    Put8(b, static_cast<std::uint8_t>(c.precision));
    Put8(b, static_cast<std::uint8_t>(c.scale));
  } else {
    Put16(b, 0x0409);  // General sort order
  }
  if (c.type != ColumnType::kComplex) Put16(b, 0);
  std::uint8_t flags = 0;
  if (l.fixed) flags |= 0x01;
  if (!c.required) flags |= 0x02;
  if (c.auto_number == AutoNumber::kIncrement || c.type == ColumnType::kComplex) flags |= 0x04;
  if (c.auto_number == AutoNumber::kGuid) flags |= 0x40;
  Put8(b, flags);
  bool compressed = c.type == ColumnType::kText || c.type == ColumnType::kMemo;
  Put8(b, c.expression ? kCalculatedFlags : compressed ? 0x01 : 0x00);
  Put32(b, 0);
  Put16(b, static_cast<std::uint16_t>(l.fixed ? l.fixed_offset : 0));
  Put16(b, static_cast<std::uint16_t>(l.stored_size));
}

// Up to ten columns (number and order), the usage map and the root page.
void PutPhysicalIndex(Bytes& b, const RealIndex& r) {
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

void PutLogicalIndex(Bytes& b, const LogicalIndex& li, std::size_t number) {
  Put32(b, kMagic);
  Put32(b, static_cast<std::uint32_t>(number));
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

// Where each memo and OLE column may put new long-value pages.
void PutLongValueColumns(Bytes& b, const internal::TableState& s) {
  for (std::size_t i = 0; i < s.table.columns.size(); ++i) {
    if (!IsLongValue(s.table.columns[i].type)) continue;
    Put16(b, static_cast<std::uint16_t>(i));
    Put32(b, s.free_map_row);
    Put32(b, s.free_map_row);
  }
}

Bytes BuildTdef(const internal::TableState& s) {
  const Table& t = s.table;
  Bytes b = DefinitionHeader(s);
  for (std::size_t i = 0; i < t.columns.size(); ++i)
    PutColumnEntry(b, t.columns[i], s.layout[i], s.complex_ids.empty() ? 0 : s.complex_ids[i]);
  for (const Column& c : t.columns) PutName(b, c.name);
  for (const RealIndex& r : s.reals) PutPhysicalIndex(b, r);
  // A logical index's number is its place in `logicals`; Access stores them by name.
  std::vector<std::size_t> order(s.logicals.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (t.access_index_layout)
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return Lower(s.logicals[a].name) < Lower(s.logicals[b].name);
    });
  for (std::size_t i : order) PutLogicalIndex(b, s.logicals[i], i);
  for (std::size_t i : order) PutName(b, s.logicals[i].name);
  PutLongValueColumns(b, s);
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

void FlushPages(const std::vector<internal::TableState*>& tables) {
  for (auto* s : tables) {
    for (RowPage* page : {&s->data, &s->lval, &s->moved}) s->Flush(*page);
  }
}

internal::TableState& TableNamed(const std::vector<internal::TableState*>& tables,
                                 const std::string& name) {
  for (auto* s : tables) {
    if (Lower(s->table.name) == Lower(name)) return *s;
  }
  throw WriteError("relationship refers to unknown table \"" + name + "\"");
}

using IndexKey = std::vector<std::pair<int, bool>>;  // column number, descending

IndexKey KeyOf(const internal::TableState& s, const std::vector<std::string>& columns) {
  IndexKey key;
  for (const auto& c : columns) key.emplace_back(s.ColumnNumber(c), false);
  return key;
}

// The logical index of the primary table on exactly the referenced columns. Foreign keys whose
// physical index is not placed yet cannot be referenced.
int ReferencedIndex(const Relationship& r, const internal::TableState& pt, const IndexKey& key) {
  for (std::size_t i = 0; i < pt.logicals.size(); ++i) {
    auto real = static_cast<std::size_t>(pt.logicals[i].real);
    if (real < pt.reals.size() && pt.reals[real].columns == key) return static_cast<int>(i);
  }
  throw WriteError("relationship \"" + r.name + "\": table \"" + pt.table.name +
                   "\" has no index on the referenced columns");
}

// The physical index a foreign key uses: one on the same columns, else a new one in `extra`,
// which goes after the declared ones (readers pair physical indexes with non-foreign-key
// logical ones in order).
int ForeignKeyPhysicalIndex(const internal::TableState& ft, std::vector<RealIndex>& extra,
                            const IndexKey& key) {
  int real = -1;
  for (std::size_t i = 0; i < ft.reals.size(); ++i) {
    if (ft.reals[i].columns == key) real = static_cast<int>(i);
  }
  if (real >= 0) return real;
  for (std::size_t i = 0; i < extra.size(); ++i) {
    if (extra[i].columns == key) real = static_cast<int>(ft.reals.size() + i);
  }
  if (real >= 0) return real;
  extra.push_back({.columns = key});
  return static_cast<int>(ft.reals.size() + extra.size() - 1);
}

// An enforced relationship gives the foreign table a logical foreign-key index.
void AddForeignKeyIndexes(const std::vector<Relationship>& relationships,
                          const std::vector<internal::TableState*>& user) {
  std::map<internal::TableState*, std::vector<RealIndex>> extra_reals;
  for (const Relationship& r : relationships) {
    internal::TableState& pt = TableNamed(user, r.primary_table);
    internal::TableState& ft = TableNamed(user, r.foreign_table);
    IndexKey primary = KeyOf(pt, r.primary_columns);
    IndexKey foreign = KeyOf(ft, r.foreign_columns);
    if (!r.enforce) continue;
    LogicalIndex li{.name = r.name,
                    .type = 2,
                    .rel_table_page = pt.tdef_page,
                    .rel_index = ReferencedIndex(r, pt, primary),
                    .cascade_updates = r.cascade_updates,
                    .cascade_deletes = r.cascade_deletes};
    li.real = ForeignKeyPhysicalIndex(ft, extra_reals[&ft], foreign);
    ft.logicals.push_back(li);
  }
  for (auto& [t, extra] : extra_reals) t->reals.insert(t->reals.end(), extra.begin(), extra.end());
}

// The complex types Access describes by an empty table each, as MSysComplexType_<name>.
struct ComplexTypeTable {
  const char* name;
  ComplexKind kind;
  ColumnType value_type;
};
constexpr ComplexTypeTable kComplexTypes[] = {
    {"UnsignedByte", ComplexKind::kMultiValue, ColumnType::kByte},
    {"Short", ComplexKind::kMultiValue, ColumnType::kInteger},
    {"Long", ComplexKind::kMultiValue, ColumnType::kLong},
    {"IEEESingle", ComplexKind::kMultiValue, ColumnType::kSingle},
    {"IEEEDouble", ComplexKind::kMultiValue, ColumnType::kDouble},
    {"GUID", ComplexKind::kMultiValue, ColumnType::kGuid},
    {"Decimal", ComplexKind::kMultiValue, ColumnType::kDecimal},
    {"Text", ComplexKind::kMultiValue, ColumnType::kText},
    {"Attachment", ComplexKind::kAttachment, ColumnType::kText},
};

Table ComplexTypeDefinition(const ComplexTypeTable& t) {
  Table table{.name = std::string("MSysComplexType_") + t.name, .system = true};
  if (t.kind == ComplexKind::kAttachment) {
    std::vector<Column> c = AttachmentColumns();
    table.columns = {c[5], c[2], c[4], c[0], c[3], c[1]};
  } else {
    table.columns = {ValueColumn(t.value_type)};
  }
  return table;
}

Table ComplexColumnsTable() {
  Table t{.name = "MSysComplexColumns", .system = true};
  t.columns = {
      {.name = "ColumnName", .type = ColumnType::kText, .size = 255},
      {.name = "ComplexTypeObjectID", .type = ColumnType::kLong},
      {.name = "FlatTableID", .type = ColumnType::kLong},
      {.name = "ConceptualTableID", .type = ColumnType::kLong},
      {.name = "ComplexID", .type = ColumnType::kLong, .auto_number = AutoNumber::kIncrement}};
  t.indexes = {{.name = "IdxConceptualTableID", .columns = {{"ConceptualTableID"}}},
               {.name = "IdxFlatTableID", .columns = {{"FlatTableID"}}},
               {.name = "IdxID", .columns = {{"ComplexID"}}, .primary_key = true}};
  return t;
}

// The tables Access expects in every file, in the order they are written; the complex
// column tables only when a table has such a column.
struct SystemTables {
  std::unique_ptr<internal::TableState> catalog, aces, queries, relationships, complex_columns;
  std::vector<std::unique_ptr<internal::TableState>> complex_types;  // as kComplexTypes

  std::vector<internal::TableState*> All() const {
    std::vector<internal::TableState*> all = {catalog.get(), aces.get(), queries.get(),
                                              relationships.get()};
    if (complex_columns) all.push_back(complex_columns.get());
    for (const auto& t : complex_types) all.push_back(t.get());
    return all;
  }
};

SystemTables MakeSystemTables(internal::DatabaseState& db) {
  SystemTables sys;
  sys.catalog = MakeState(&db, CatalogTable(), 2);
  sys.aces = MakeState(&db, AcesTable(), db.Allocate());
  sys.queries = MakeState(&db, QueriesTable(), db.Allocate());
  sys.relationships = MakeState(&db, RelationshipsTable(), db.Allocate());
  if (!db.complex_columns.empty()) {
    sys.complex_columns = MakeState(&db, ComplexColumnsTable(), db.Allocate());
    for (const ComplexTypeTable& t : kComplexTypes)
      sys.complex_types.push_back(MakeState(&db, ComplexTypeDefinition(t), db.Allocate()));
  }
  for (auto* s : sys.All()) s->system_definition = true;
  return sys;
}

// One MSysComplexColumns row per complex column, in ComplexID order.
void WriteComplexColumnRows(const internal::DatabaseState& db, const SystemTables& sys) {
  for (const auto& cc : db.complex_columns) {
    std::size_t type = 0;
    while (kComplexTypes[type].kind != cc.kind ||
           (cc.kind == ComplexKind::kMultiValue && kComplexTypes[type].value_type != cc.value_type))
      ++type;
    std::vector<Value> row = {Value(cc.column),
                              Value(static_cast<std::int64_t>(sys.complex_types[type]->tdef_page)),
                              Value(static_cast<std::int64_t>(cc.flat->tdef_page)),
                              Value(static_cast<std::int64_t>(cc.table_page)), Value()};
    sys.complex_columns->AppendRow(sys.complex_columns->EncodeRow(row));
  }
}

void WriteQueryRows(const std::vector<Query>& queries, std::uint32_t first_id,
                    internal::TableState& out) {
  std::uint32_t id = first_id;
  for (const Query& q : queries) {
    int order = 0;
    for (const QueryRow& r : QueryRows(q)) {
      // Order keeps the rows of one attribute in sequence; Access writes it as binary.
      Bytes order_bytes = {static_cast<std::uint8_t>(order >> 8),
                           static_cast<std::uint8_t>(order & 0xff)};
      ++order;
      auto text = [](const std::string& t) { return t.empty() ? Value() : Value(t); };
      std::vector<Value> row = {Value(static_cast<std::int64_t>(id)),
                                Value(r.attribute),
                                Value::Bytes(order_bytes),
                                text(r.name1),
                                text(r.name2),
                                text(r.expression),
                                Value(r.flag),
                                Value()};
      out.AppendRow(out.EncodeRow(row));
    }
    ++id;
  }
}

// One MSysRelationships row per column pair.
void WriteRelationshipRows(const std::vector<Relationship>& relationships,
                           const std::vector<internal::TableState*>& user,
                           internal::TableState& out) {
  for (const Relationship& r : relationships) {
    std::int64_t grbit =
        (r.enforce ? 0 : 0x2) | (r.cascade_updates ? 0x100 : 0) | (r.cascade_deletes ? 0x1000 : 0);
    for (std::size_t i = 0; i < r.foreign_columns.size(); ++i) {
      std::vector<Value> row = {Value(static_cast<std::int64_t>(r.foreign_columns.size())),
                                Value(grbit),
                                Value(static_cast<std::int64_t>(i)),
                                Value(r.foreign_columns[i]),
                                Value(TableNamed(user, r.foreign_table).table.name),
                                Value(r.primary_columns[i]),
                                Value(TableNamed(user, r.primary_table).table.name),
                                Value(r.name)};
      out.AppendRow(out.EncodeRow(row));
    }
  }
}

// MSysObjects.Type values.
constexpr int kObjectTable = 1;
constexpr int kObjectDatabase = 2;
constexpr int kObjectContainer = 3;
constexpr int kObjectOdbcLink = 4;
constexpr int kObjectQuery = 5;
constexpr std::uint32_t kFirstQueryId = 0x00e00000;
constexpr int kObjectAccessLink = 6;
constexpr std::uint32_t kSystemObject = 0x80000000u;

// The fields of one MSysObjects row that differ between objects.
struct CatalogObject {
  std::int64_t id = 0;
  std::int64_t parent = kTablesContainer;
  std::string name;
  int type = kObjectTable;
  std::uint32_t flags = 0;
  Value database, connect, foreign_name, properties;
};

void AddCatalogRow(internal::TableState& catalog, double created, const CatalogObject& o) {
  std::vector<Value> row = {Value(o.id),
                            Value(o.parent),
                            Value(o.name),
                            Value(o.type),
                            Value::Date(created),
                            Value::Date(created),
                            Value(),
                            Value(static_cast<std::int64_t>(static_cast<std::int32_t>(o.flags))),
                            o.database,
                            o.connect,
                            o.foreign_name,
                            Value(),
                            Value(),
                            Value(),
                            o.properties,
                            Value(),
                            Value()};
  catalog.AppendRow(catalog.EncodeRow(row));
}

CatalogObject UserTableObject(const internal::TableState& s) {
  std::uint32_t flags = 0;
  if (s.table.hidden) flags |= 0x8;
  if (s.table.system) flags |= 0x80000002u;
  return {.id = s.tdef_page,
          .name = s.table.name,
          .flags = flags,
          .properties = Value::Bytes(TableProperties(s.table))};
}

CatalogObject LinkedTableObject(const LinkedTable& l, std::uint32_t id) {
  CatalogObject o{.id = id,
                  .name = l.name,
                  .flags = l.hidden ? 0x8u : 0u,
                  .foreign_name = Value(l.foreign_name.empty() ? l.name : l.foreign_name)};
  if (!l.database.empty()) {
    o.type = kObjectAccessLink;
    o.database = Value(l.database);
    if (!l.connect.empty()) o.connect = Value(l.connect);
  } else {
    o.type = kObjectOdbcLink;
    o.connect = Value(l.connect);
  }
  return o;
}

// The containers, the database object, then every table, link and query.
void WriteCatalogRows(const internal::DatabaseState& db,
                      const std::vector<internal::TableState*>& user, const SystemTables& sys) {
  internal::TableState& catalog = *sys.catalog;
  auto add = [&](const CatalogObject& o) { AddCatalogRow(catalog, db.options.creation_date, o); };
  add({.id = kTablesContainer,
       .parent = kRootContainer,
       .name = "Tables",
       .type = kObjectContainer,
       .flags = kSystemObject});
  add({.id = kDatabasesContainer,
       .parent = kRootContainer,
       .name = "Databases",
       .type = kObjectContainer,
       .flags = kSystemObject});
  add({.id = kRelationshipsContainer,
       .parent = kRootContainer,
       .name = "Relationships",
       .type = kObjectContainer,
       .flags = kSystemObject});
  add({.id = 0x10000000,
       .parent = kDatabasesContainer,
       .name = "MSysDb",
       .type = kObjectDatabase,
       .flags = kSystemObject});
  for (auto* s : sys.All()) {
    // Access marks the complex type tables beyond the system bit.
    const bool type_table = s->table.name.rfind("MSysComplexType_", 0) == 0;
    add({.id = s->tdef_page,
         .name = s->table.name,
         .flags = type_table ? 0x80030000u : kSystemObject});
  }
  for (auto* s : user) add(UserTableObject(*s));
  for (const auto& flat : db.flat_tables)
    add({.id = flat->tdef_page, .name = flat->table.name, .flags = 0x800a0000u});
  std::uint32_t link_id = 0x00f00000;
  for (const LinkedTable& l : db.links) add(LinkedTableObject(l, link_id++));
  std::uint32_t query_id = kFirstQueryId;
  for (const Query& q : db.queries)
    add({.id = query_id++,
         .name = q.name,
         .type = kObjectQuery,
         .flags = static_cast<std::uint32_t>(QueryObjectFlags(q.kind))});
}

// Usage-map rows: on page 1, and on pages allocated as each one fills up.
class UsageMapRows {
 public:
  UsageMapRows() { current_.Open(1, 0); }

  // Returns the page and row number a definition refers to the row by.
  std::uint32_t Add(internal::DatabaseState& db, const Bytes& row) {
    if (!current_.Fits(row.size())) {
      full_.push_back(current_);
      current_.Open(db.Allocate(), 0);
    }
    int r = current_.Add(row.data(), row.size());
    return (current_.number << 8) | static_cast<std::uint32_t>(r);
  }

  void WriteAll(internal::DatabaseState& db) {
    full_.push_back(current_);
    for (RowPage& p : full_) {
      p.Seal();
      db.WritePage(p.number, p.buf.data());
    }
  }

 private:
  RowPage current_;
  std::vector<RowPage> full_;
};

// Index B-trees are written as empty leaves.
std::uint32_t WriteEmptyIndexRoot(internal::DatabaseState& db, std::uint32_t tdef_page) {
  std::uint32_t page = db.Allocate();
  std::array<std::uint8_t, kPageSize> leaf{};
  leaf[0] = 0x04;
  leaf[1] = 0x01;
  Set16(&leaf[2], kPageSize - kIndexEntriesStart);
  Set32(&leaf[4], tdef_page);
  db.WritePage(page, leaf.data());
  return page;
}

// Each table's used and free pages, and each physical index's root page and its map.
void WriteUsageMapsAndIndexRoots(internal::DatabaseState& db,
                                 const std::vector<internal::TableState*>& tables) {
  UsageMapRows maps;
  for (auto* s : tables) {
    s->used_map_row = maps.Add(db, UsageMap(db, s->data_pages));
    s->free_map_row = maps.Add(db, UsageMap(db, {}));
    for (RealIndex& r : s->reals) {
      r.root_page = WriteEmptyIndexRoot(db, s->tdef_page);
      r.map_row = maps.Add(db, UsageMap(db, {r.root_page}));
    }
  }
  maps.WriteAll(db);
}

// Writes the definition on its page, continued on pages allocated now when it is longer.
void WriteTableDefinition(internal::DatabaseState& db, const internal::TableState& s) {
  constexpr std::size_t kPageHeader = 8;  // also the first bytes of BuildTdef, not copied
  Bytes tdef = BuildTdef(s);
  int count = TdefPageCount(tdef.size());
  std::uint32_t next = count > 1 ? db.Allocate(static_cast<std::uint32_t>(count - 1)) : 0;
  std::size_t at = kPageHeader;
  for (int i = 0; i < count; ++i) {
    std::array<std::uint8_t, kPageSize> page{};
    std::uint32_t number = i == 0 ? s.tdef_page : next + static_cast<std::uint32_t>(i - 1);
    page[0] = 0x02;
    page[1] = 0x01;
    Set32(&page[4], i + 1 < count ? next + static_cast<std::uint32_t>(i) : 0);
    std::size_t take = std::min(tdef.size() - at, kPageSize - kPageHeader);
    std::memcpy(&page[kPageHeader], &tdef[at], take);
    at += take;
    Set16(&page[2], static_cast<std::uint16_t>(kPageSize - kPageHeader - take - 8));
    db.WritePage(number, page.data());
  }
}

using HeaderPage = std::array<std::uint8_t, kPageSize>;

// Engine name and version, code page, sort order and creation date.
void PutHeaderFields(HeaderPage& h, const DatabaseOptions& options) {
  static constexpr std::uint8_t kHead[] = {0x00, 0x01, 0x00, 0x00};
  std::memcpy(&h[0], kHead, 4);
  const char* engine = options.format == Format::kAce12 ? "Standard ACE DB" : "Standard Jet DB";
  std::memcpy(&h[4], engine, std::strlen(engine));
  h[0x14] = options.format == Format::kAce12 ? 0x02 : 0x01;
  static constexpr std::uint8_t kFixed[] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                                            0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                            0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
  std::memcpy(&h[0x18], kFixed, sizeof kFixed);
  Set16(&h[0x3c], 0x04e4);  // code page 1252
  Set32(&h[0x6a], 0x000011a6);
  Set32(&h[0x6e], 0x00000409);  // General sort order
  std::memcpy(&h[0x72], &options.creation_date, 8);
  static constexpr std::uint8_t kVersion[] = {0x54, 0x06, 0x00, 0x00, '4', '.', '0', 0x00};
  std::memcpy(&h[0x98], kVersion, sizeof kVersion);
}

// The password, XORed with the whole days of the creation date (all zero without one).
void PutMaskedPassword(HeaderPage& h, const std::string& password, double creation_date) {
  Bytes pw = internal::Utf16Le(internal::Utf8ToUtf16(password));
  auto mask = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::floor(creation_date)));
  for (std::size_t i = 0; i < 40; ++i) {
    std::uint8_t c = i < pw.size() ? pw[i] : 0;
    h[0x42 + i] = c ^ static_cast<std::uint8_t>(mask >> (8 * (i % 4)));
  }
}

void PutEncryptionHeader(HeaderPage& h, const internal::PageEncryption& encryption) {
  std::memcpy(&h[0x3e], encryption.encoding_key(), 4);
  const Bytes& provider = encryption.provider();
  constexpr std::size_t kProviderAt = 0x299;
  if (provider.size() > kPageSize - kProviderAt - 2) throw WriteError("encryption header too long");
  Set16(&h[kProviderAt], static_cast<std::uint16_t>(provider.size()));
  std::memcpy(&h[kProviderAt + 2], provider.data(), provider.size());
}

void WriteHeaderPage(internal::DatabaseState& db) {
  HeaderPage h{};
  PutHeaderFields(h, db.options);
  // An encrypted file keeps its password in the encryption header only.
  PutMaskedPassword(h, db.encryption ? std::string() : db.options.password,
                    db.options.creation_date);
  if (db.encryption) PutEncryptionHeader(h, *db.encryption);
  static constexpr std::uint8_t kKey[] = {0xc7, 0xda, 0x39, 0x6b};
  internal::Rc4(kKey, 4, &h[0x18], 128);
  db.WritePage(0, h.data());
}

void CloseFinishedFile(internal::DatabaseState& db) {
  if (::ftruncate(db.fd, static_cast<off_t>(db.next_page) * kPageSize) != 0 ||
      ::fsync(db.fd) != 0) {
    throw WriteError("cannot finish " + db.path.string() + ": " + std::strerror(errno));
  }
  ::close(db.fd);
  db.fd = -1;
  db.finished = true;
}

}  // namespace

// Pages are numbered in the order they are allocated below, so the steps keep this order.
void DatabaseWriter::Finish() {
  internal::DatabaseState& db = *state_;
  if (db.finished) throw WriteError("Finish() called twice");
  std::vector<internal::TableState*> user;
  for (auto& t : db.tables) user.push_back(t->state_.get());
  std::vector<internal::TableState*> flat;
  for (auto& t : db.flat_tables) flat.push_back(t.get());
  FlushPages(user);
  FlushPages(flat);
  AddForeignKeyIndexes(db.relationships, user);

  SystemTables sys = MakeSystemTables(db);
  WriteRelationshipRows(db.relationships, user, *sys.relationships);
  if (sys.complex_columns) WriteComplexColumnRows(db, sys);
  WriteQueryRows(db.queries, kFirstQueryId, *sys.queries);
  if (!db.options.damaged_table.empty()) {
    internal::TableState* damaged = nullptr;
    for (auto* t : sys.All())
      if (Lower(t->table.name) == Lower(db.options.damaged_table)) damaged = t;
    if (!damaged || !damaged->data.open())
      throw WriteError("damaged_table: \"" + db.options.damaged_table + "\" holds no rows");
    Set16(&damaged->data.buf[kDataHeader], kOffsetMask);
  }
  WriteCatalogRows(db, user, sys);
  FlushPages(sys.All());

  std::vector<internal::TableState*> all = user;
  all.insert(all.end(), flat.begin(), flat.end());
  for (auto* s : sys.All()) all.push_back(s);
  WriteUsageMapsAndIndexRoots(db, all);
  for (auto* s : all) WriteTableDefinition(db, *s);
  WriteHeaderPage(db);
  CloseFinishedFile(db);
}

void WriteDatabase(const std::filesystem::path& path, const DatabaseDescription& d) {
  DatabaseWriter w(path, d.options);
  for (const TableContent& t : d.tables) {
    TableWriter& tw = w.AddTable(t.table);
    for (std::size_t i = 0; i <= t.rows.size(); ++i) {
      for (const TableContent::Deleted& deleted : t.deleted_rows)
        if (deleted.before == i) tw.AddDeletedRow(deleted.form, deleted.values);
      if (i == t.rows.size()) break;
      if (std::find(t.moved_rows.begin(), t.moved_rows.end(), i) != t.moved_rows.end())
        tw.AddMovedRow(t.rows[i]);
      else
        tw.AddRow(t.rows[i]);
    }
  }
  for (const LinkedTable& l : d.linked_tables) w.AddLinkedTable(l);
  for (const Relationship& r : d.relationships) w.AddRelationship(r);
  for (const Query& q : d.queries) w.AddQuery(q);
  w.Finish();
}

}  // namespace accesswriter
