#include "platform/calculated_value.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/access_rows.h"
#include "platform/ado.h"
#include "support/errors.h"

namespace ferrolyte {
namespace {

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Le64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

MdbColumn* ColumnAt(MdbTableDef* table, unsigned int i) {
  return static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
}

// Result types whose stored form this layer decodes.
bool IsStorageType(int type) {
  switch (type) {
    case MDB_BOOL:
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
    case MDB_MONEY:
    case MDB_FLOAT:
    case MDB_DOUBLE:
    case MDB_DATETIME:
    case MDB_TEXT:
    case MDB_MEMO:
    case MDB_REPID:
    case MDB_NUMERIC:
    case kMdbBigInt:
      return true;
    default:
      return false;
  }
}

// Bytes a value of a fixed-size result type needs. A decimal result carries its own length,
// and no result is a complex value.
size_t FixedSize(int type) {
  if (type == MDB_NUMERIC || type == MDB_COMPLEX) return 0;
  return static_cast<size_t>(FixedWidthOf(type));
}

[[noreturn]] void RaiseDamaged(const MdbColumn& column) {
  throw Error(kAdoGenericError, "Microsoft JET Database Engine",
              "The calculated column '" + std::string(column.name) +
                  "' holds a value that is cut short or damaged.");
}

// The value of a fixed-width result that holds at least FixedSize(type) bytes; bytes for a
// type without a reading of its own.
Value FixedResultValue(int type, const uint8_t* p, size_t n) {
  switch (type) {
    case MDB_BYTE:
      return Value(int64_t{p[0]});
    case MDB_INT:
      return Value(int64_t{static_cast<int16_t>(Le16(p))});
    case MDB_LONGINT:
      return Value(int64_t{static_cast<int32_t>(Le32(p))});
    case kMdbBigInt:
      return Value(static_cast<int64_t>(Le64(p)));
    case MDB_FLOAT: {
      float f;
      std::memcpy(&f, p, 4);
      return Value::Single(f);
    }
    case MDB_DOUBLE: {
      double d;
      std::memcpy(&d, p, 8);
      return Value(d);
    }
    case MDB_DATETIME: {
      double d;
      std::memcpy(&d, p, 8);
      return Value::Date(d);
    }
    case MDB_MONEY:
      return Value::Decimal(CurrencyText(static_cast<int64_t>(Le64(p))));
    case MDB_REPID:
      return Value(GuidText(p));
    default:
      return Value::FromBytes(Bytes(p, p + n));
  }
}

}  // namespace

std::vector<CalculatedColumn> FindCalculatedColumns(const AccessFile::RawDefinition& raw,
                                                    MdbTableDef* table) {
  std::vector<CalculatedColumn> found;
  for (unsigned int i = 0; i < table->num_cols; ++i) {
    MdbColumn* col = ColumnAt(table, i);
    bool calculated = false;
    for (const auto& [num, flags] : raw.column_ext_flags)
      if (num == col->col_num) calculated = (flags & kCalculatedColumnFlags) != 0;
    if (!calculated) continue;
    CalculatedColumn c;
    c.position = static_cast<int>(i);
    c.result_type = col->col_type;
    // The property is authoritative; the definition's own type is the fallback.
    if (const char* result = mdb_col_get_prop(col, "ResultType")) {
      char* end = nullptr;
      long type = std::strtol(result, &end, 10);
      if (end != result && *end == '\0' && IsStorageType(static_cast<int>(type)))
        c.result_type = static_cast<int>(type);
    }
    if (const char* expression = mdb_col_get_prop(col, "Expression")) c.expression = expression;
    // The definition's length counts the wrapper too; Access leaves it unset at times, and
    // then a text result may be as long as any text.
    if (col->col_size > static_cast<int>(kCalculatedOverhead) + 1) {
      int32_t characters = (col->col_size - static_cast<int32_t>(kCalculatedOverhead)) / 2;
      if (characters >= 1 && characters <= 255) c.text_size = characters;
    }
    found.push_back(std::move(c));
  }
  return found;
}

std::vector<CalculatedColumn> CalculatedColumnsOf(AccessFile& file, MdbTableDef* table) {
  if (file.IsJet3()) return {};
  // The properties hang only on the tables of the file's own handle. Only a column with an
  // expression can be calculated; the flag in the raw definition decides.
  MdbTablePtr own = file.OpenTable(table->name);
  if (!own) return {};
  bool any = false;
  for (unsigned int i = 0; i < own->num_cols && !any; ++i)
    any = mdb_col_get_prop(ColumnAt(own.get(), i), "Expression") != nullptr;
  if (!any) return {};
  return FindCalculatedColumns(file.ReadRawDefinition(own.get()), own.get());
}

const CalculatedColumn* CalculatedAt(const std::vector<CalculatedColumn>& columns, int position) {
  for (const CalculatedColumn& c : columns)
    if (c.position == position) return &c;
  return nullptr;
}

bool UnwrapCalculatedValue(const uint8_t* data, size_t size, const uint8_t*& value,
                           size_t& value_size) {
  if (size < kCalculatedHeader) return false;
  value = data + kCalculatedHeader;
  value_size = std::min<size_t>(Le32(data + kCalculatedHeader - 4), size - kCalculatedHeader);
  return true;
}

bool CalculatedDecimalText(const uint8_t* data, size_t size, std::string& text) {
  if (size < 4) return false;
  size_t declared = Le16(data);
  size_t magnitude_bytes = (declared > 0 ? declared : size - 2);
  if (magnitude_bytes < 2) return false;
  magnitude_bytes = std::min<size_t>((magnitude_bytes - 2) / 4 * 4, 16);
  int scale = data[2];
  bool negative = data[3] != 0;
  if (scale > 28 || size < 4 + magnitude_bytes) return false;
  const uint8_t* p = data + 4;
  unsigned __int128 magnitude = 0;
  size_t at = 0;
  if (magnitude_bytes % 8 != 0) {
    magnitude = Le32(p);
    at = 4;
  }
  for (; at < magnitude_bytes; at += 8) magnitude = (magnitude << 64) | Le64(p + at);

  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  if (digits.size() <= static_cast<size_t>(scale))
    digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
  if (scale > 0) digits.insert(digits.size() - static_cast<size_t>(scale), ".");
  bool zero = digits.find_first_not_of("0.") == std::string::npos;
  text = (negative && !zero ? "-" : "") + digits;
  return true;
}

void RowReader::SetCalculated(int i, int result_type) {
  if (calculated_.size() < columns_.size()) calculated_.resize(columns_.size(), 0);
  calculated_[i] = result_type;
}

void RowReader::DecodeCalculated(int i, const MdbField& field) {
  const MdbColumn& col = *column_defs_[i];
  const int type = calculated_[i];
  Value& out = values_[i];
  if (field.is_null || field.value == nullptr) {
    out = Value::Null();
    return;
  }
  const uint8_t* stored = static_cast<const uint8_t*>(field.value);
  size_t stored_size = static_cast<size_t>(field.siz);
  std::string long_value;
  if (type == MDB_MEMO) {
    // A memo result is a long value whose content is the wrapper.
    ReadLongValue(stored, stored_size, long_value);
    stored = reinterpret_cast<const uint8_t*>(long_value.data());
    stored_size = long_value.size();
  }
  const uint8_t* p = nullptr;
  size_t n = 0;
  if (!UnwrapCalculatedValue(stored, stored_size, p, n)) RaiseDamaged(col);
  // Access writes an empty wrapper where the expression gave no value (Null), whatever the
  // result type: a text is then no empty text.
  if (n == 0) {
    out = Value::Null();
    return;
  }

  switch (type) {
    case MDB_BOOL:
      out = Value(n > 0 && p[0] != 0);
      return;
    case MDB_TEXT:
    case MDB_MEMO:
      scratch_.clear();
      AppendStoredText(p, n, jet3_, code_page_, scratch_);
      out = Value(scratch_);
      return;
    case MDB_NUMERIC: {
      std::string text;
      if (!CalculatedDecimalText(p, n, text)) RaiseDamaged(col);
      out = Value::Decimal(std::move(text));
      return;
    }
    default:
      break;
  }
  if (n < FixedSize(type)) RaiseDamaged(col);
  out = FixedResultValue(type, p, n);
}

}  // namespace ferrolyte
