// Reads an Access table's rows straight from its data pages and decodes every value itself:
// libmdb's text conversion truncates, clamps dates, loses characters outside the BMP and does
// not know big integers or extended dates.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/libmdb_handle.h"
#include "support/value.h"

namespace ferrolyte {

// libmdb column types it has no name for.
inline constexpr int kMdbBigInt = 0x13;
inline constexpr int kMdbDateTimeExtended = 0x14;

// Bytes a value of a fixed-width column type occupies; 0 for the others.
int FixedWidthOf(int col_type);

// The ADO type code the provider reports for a column (complex columns read as memo).
int AdoTypeOfColumn(const MdbColumn& column);

// Appends the UTF-8 form of a stored text: Jet 4 and later hold UTF-16 (optionally with the
// engine's "compressed unicode" form), Jet 3 the database code page.
void AppendStoredText(const uint8_t* data, size_t size, bool jet3, int code_page, std::string& out);

// The stored decimal (sign byte and a 96..128-bit magnitude) as exact text with `scale`
// decimals, e.g. "-12.340".
std::string DecimalText(const uint8_t* data, size_t size, int scale);
// A currency value (int64 ten-thousandths) as text with exactly four decimals.
std::string CurrencyText(int64_t ten_thousandths);
// The 16 bytes of a GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string GuidText(const uint8_t* data);
// A Date/Time Extended value, stored as ASCII "days:ticks:7" (days since 0001-01-01 and
// 100 ns ticks into the day, each up to 19 digits) with NUL padding: the day counted from
// 1899-12-30 and the ticks. False for any other text or a value outside 0001..9999.
bool ExtendedDateParts(const uint8_t* data, size_t size, int64_t& ole_day, int64_t& ticks);

// A page, a row or a chain of pages that cannot be decoded; what() says where and why
// ("long-value page 12, row 0: ..."). Readers turn it into DamagedTable.
class DamagedStructure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The error a damaged table raises through the engine (DAO number) or the provider (ADO
// number): "The table 'T' is damaged: <where>: <what>".
[[noreturn]] void RaiseDamagedTable(EngineErrorStyle style, const std::string& table,
                                    const std::string& where_and_what);

// When a read of the file under mdb has failed (libmdb reads such a page as missing or empty),
// raises "Disk or network error." (3043, or the provider's generic number) naming the table,
// where it was read (`where`: "data page 12") and, from failure when given, the file and the
// system's reason; otherwise does nothing.
void RaiseIfReadFailed(MdbHandle* mdb, const SourceReadFailure* failure, EngineErrorStyle style,
                       const std::string& table, const std::string& where);

// The bytes of one page by number; empty when the file has no such page.
using PageSource = std::function<std::span<const uint8_t>(uint32_t page)>;

// Where the format keeps a page's row count and how long a page is.
struct PageFormat {
  size_t page_size = 4096;
  size_t row_count_offset = 12;
};

// What a data page's row offset table says of one row.
enum class RowKind {
  kLive,     // the row is here (also a row moved here from another page, flagged 0x8000)
  kDeleted,  // flagged 0xC000: nothing to read, and its offset may be anything
  kMoved,    // flagged 0x4000 alone: the row holds where it was moved to (row, 3-byte page)
};
// The bounds of one row of a data page, found through the page's row offset table.
struct RowSlot {
  size_t start = 0;
  size_t size = 0;
  RowKind kind = RowKind::kLive;
};
// The row count of a data page; nullptr, or the reason when the offset table does not fit.
const char* PageRowCount(std::span<const uint8_t> page, const PageFormat& format, unsigned& rows);
// Locates row `row` (below the page's row count); nullptr, or the reason it is damaged. A row
// ends where the lowest entry before it that lies above it starts, so that deleted entries
// pointing at the page's end do not stretch the rows after them.
const char* LocateRow(std::span<const uint8_t> page, const PageFormat& format, unsigned row,
                      RowSlot& slot);
// Locates every row of the page as LocateRow does, in one pass; nullptr, or the reason and
// the row it concerns.
const char* LocateRows(std::span<const uint8_t> page, const PageFormat& format,
                       std::vector<RowSlot>& slots, unsigned& bad_row);
// Rows a census counts on a data page: every entry neither deleted nor moved away; nullptr,
// or the reason the page's offset table does not fit. `consistent` tells whether the page's
// free-space count is the space between its offset table and its lowest row.
const char* CountLiveRows(std::span<const uint8_t> page, const PageFormat& format, unsigned& live,
                          bool& consistent);

// What a row cracker needs of a column, in the table's column order.
struct RowColumn {
  int col_num = 0;           // bit in the null mask
  unsigned var_col_num = 0;  // entry in the variable-length offset table
  int fixed_offset = 0;      // after the column count
  int size = 0;              // bytes of a fixed-width value
  bool fixed = false;
};
// Splits a stored row (Jet 3 or Jet 4 layout) into one field per column, as libmdb's row
// cracking does on intact rows, but checks every count and offset against the row first.
// Returns nullptr, or the reason when the row cannot be decoded. `offsets` is scratch.
const char* CrackRow(std::span<const uint8_t> row, bool jet3, bool has_variable_columns,
                     const std::vector<RowColumn>& columns, std::vector<MdbField>& fields,
                     std::vector<unsigned>& offsets);

// Reads the long value (memo or OLE) whose 12-byte header and inline bytes are `field`,
// following its page chain through `pages`. Throws DamagedStructure on a header of unknown
// kind, a chain that leaves the file, returns to a page or ends before the stored length.
void ReadLongValue(std::span<const uint8_t> field, const PageSource& pages,
                   const PageFormat& format, std::string& out);

// The data pages a table's usage map lists, in page order. Throws DamagedStructure on a map
// of unknown kind or a map page that is not one.
class UsageMap {
 public:
  UsageMap(std::span<const uint8_t> map, PageSource pages, const PageFormat& format);
  // The next listed page; false after the last.
  bool Next(uint32_t& page);

 private:
  std::vector<uint8_t> map_;
  PageSource pages_;
  PageFormat format_;
  int type_ = 0;
  uint64_t bit_ = 0;           // next bit to look at, over the whole map
  uint64_t bits_per_map_ = 0;  // bits of one bitmap (type 1: one map page)
  size_t map_index_ = 0;       // type 1: the map page whose bitmap is loaded, +1
  std::vector<uint8_t> bitmap_;
};

class RowReader {
 public:
  // Reads the given columns (positions in table->columns) of a table read through mdb. The
  // handle and the table must outlive the reader; nothing else may use the handle meanwhile.
  // Damage raises DamagedTable with the numbers of `style`.
  // A failed read names what failure recorded, when given.
  RowReader(MdbHandle* mdb, MdbTableDef* table, std::vector<int> columns,
            EngineErrorStyle style = EngineErrorStyle::kAdo,
            const SourceReadFailure* failure = nullptr);

  // Moves to the next row; false when there is none. A page or row that cannot be decoded
  // raises DamagedTable naming the table and the page: nothing is skipped.
  bool Next();
  // Value of the i-th requested column in the current row.
  const Value& Get(int i) const { return values_[i]; }
  // Hands the current row's values over to `row`, whose old content is dropped, without
  // moving them one by one: Next sets every value again.
  void TakeValues(std::vector<Value>& row) {
    row.swap(values_);
    values_.clear();
    values_.resize(columns_.size());
  }
  int Count() const { return static_cast<int>(columns_.size()); }
  // Counts the rows from the current position to the end without decoding them.
  int64_t CountRemaining();
  // For a complex column: the text to give for each key stored in the row.
  void SetComplexTexts(int i, std::unordered_map<int32_t, std::string> texts);
  // For a complex column: give the key the row stores (an integer) instead of texts.
  void SetComplexKeys(int i) { complex_keys_.at(i) = true; }
  // For a calculated column: its values are wrapped and of the given libmdb type.
  void SetCalculated(int i, int result_type);

 private:
  // Locates the next live row on the data pages and cracks it into fields_; false at the end.
  bool Advance();
  void Decode(int i, const MdbField& field);
  // Unwraps and decodes a calculated column's value (calculated_value.cpp).
  void DecodeCalculated(int i, const MdbField& field);
  // Reads a memo or OLE value; damage raises DamagedStructure.
  void ReadLongValue(const uint8_t* header, size_t size, std::string& out);
  std::span<const uint8_t> ReadPage(uint32_t page, std::vector<uint8_t>& into);
  // Raises DamagedTable unless the moved row's pointer leads to a row moved there.
  void CheckMovedRow(const RowSlot& slot);
  [[noreturn]] void RaiseTableDamage(const std::string& what) const;

  MdbHandle* mdb_;
  MdbTableDef* table_;
  EngineErrorStyle style_;
  const SourceReadFailure* failure_;
  std::vector<int> columns_;
  std::vector<MdbColumn*> column_defs_;
  std::vector<RowColumn> layout_;
  std::vector<Value> values_;
  std::vector<std::unordered_map<int32_t, std::string>> complex_;
  std::vector<bool> complex_keys_;
  std::vector<int> calculated_;  // result type per requested column; empty when none is
  std::vector<MdbField> fields_;
  std::vector<unsigned> offsets_;
  std::string scratch_;
  PageFormat format_;
  PageSource long_value_pages_;
  std::unique_ptr<UsageMap> map_;
  std::vector<uint8_t> page_;        // the current data page
  std::vector<uint8_t> lval_page_;   // the last long-value page read
  std::vector<uint8_t> moved_page_;  // the page a moved row went to
  std::vector<RowSlot> slots_;       // the current data page's rows
  uint32_t page_number_ = 0;
  size_t row_ = 0;          // the next row of the page to look at
  size_t current_row_ = 0;  // the row the values are from
  bool jet3_;
  int code_page_;
  bool started_ = false;
  bool finished_ = false;
};

}  // namespace ferrolyte
