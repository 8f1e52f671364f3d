// Reads an Access table's rows straight from its data pages and decodes every value itself:
// libmdb's text conversion truncates, clamps dates, loses characters outside the BMP and does
// not know big integers or extended dates.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/libmdb_handle.h"
#include "support/value.h"

namespace ferrolyte {

// libmdb column types it has no name for.
inline constexpr int kMdbBigInt = 0x13;
inline constexpr int kMdbDateTimeExtended = 0x14;

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

class RowReader {
 public:
  // Reads the given columns (positions in table->columns) of a table read through mdb. The
  // handle and the table must outlive the reader; nothing else may use the handle meanwhile.
  RowReader(MdbHandle* mdb, MdbTableDef* table, std::vector<int> columns);

  // Moves to the next row; false when there is none.
  bool Next();
  // Value of the i-th requested column in the current row.
  const Value& Get(int i) const { return values_[i]; }
  int Count() const { return static_cast<int>(columns_.size()); }
  // Counts the rows from the current position to the end without decoding them.
  int64_t CountRemaining();
  // For a complex column: the text to give for each key stored in the row.
  void SetComplexTexts(int i, std::unordered_map<int32_t, std::string> texts);
  // For a calculated column: its values are wrapped and of the given libmdb type.
  void SetCalculated(int i, int result_type);

 private:
  // Locates the next live row on the data pages; false at the end.
  bool Advance(int& row_start, int& row_size);
  void Decode(int i, const MdbField& field);
  // Unwraps and decodes a calculated column's value (calculated_value.cpp).
  void DecodeCalculated(int i, const MdbField& field);
  // Reads a memo or OLE value whose 12-byte header is at header; false when it is damaged.
  bool ReadLongValue(const uint8_t* header, size_t size, std::string& out);

  MdbHandle* mdb_;
  MdbTableDef* table_;
  std::vector<int> columns_;
  std::vector<MdbColumn*> column_defs_;
  std::vector<Value> values_;
  std::vector<std::unordered_map<int32_t, std::string>> complex_;
  std::vector<int> calculated_;  // result type per requested column; empty when none is
  std::vector<MdbField> fields_;
  std::string scratch_;
  bool jet3_;
  int code_page_;
  bool started_ = false;
  bool finished_ = false;
};

}  // namespace ferrolyte
