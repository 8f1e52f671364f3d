#include "platform/access_provider.h"

#include <algorithm>
#include <mutex>

#include "platform/access_rows.h"
#include "platform/ado.h"
#include "platform/attachments.h"
#include "platform/calculated_value.h"
#include "platform/read_ahead.h"
#include "support/connection_string.h"
#include "support/errors.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

const char kJetSource[] = "Microsoft JET Database Engine";
constexpr int32_t kAdoTableNotFound = errc::kNoTable.number;              // 0x80040E37
constexpr int32_t kAdoMissingParameter = errc::kParameterMissing.number;  // 0x80040E10

MdbColumn* ColumnAt(MdbTableDef* table, unsigned int i) {
  return static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
}

// The ADO type of a column; a calculated one has the type of its results.
int AdoTypeOf(const MdbColumn& col, const CalculatedColumn* calc) {
  if (!calc) return AdoTypeOfColumn(col);
  MdbColumn result = col;
  result.col_type = calc->result_type;
  result.is_fixed = 0;
  return AdoTypeOfColumn(result);
}

int PositionOf(MdbTableDef& table, const MdbColumn* col) {
  for (unsigned int i = 0; i < table.num_cols; ++i)
    if (ColumnAt(&table, i) == col) return static_cast<int>(i);
  return -1;
}

// A result held in memory: the count of a table, the column catalogue.
class ValuesCursor : public Cursor {
 public:
  ValuesCursor(std::vector<std::string> names, std::vector<int> types,
               std::vector<std::vector<Value>> rows)
      : names_(std::move(names)), types_(std::move(types)), rows_(std::move(rows)) {}
  bool Eof() const override { return row_ >= rows_.size(); }
  void MoveNext() override {
    if (Eof()) RaiseNoCurrentRecord();
    ++row_;
  }
  int FieldCount() const override { return static_cast<int>(names_.size()); }
  const std::string& FieldName(int i) const override { return names_.at(i); }
  int FieldType(int i) const override { return types_.at(i); }
  const Value& FieldValue(int i) const override {
    if (Eof()) RaiseNoCurrentRecord();
    return rows_[row_].at(i);
  }

 private:
  std::vector<std::string> names_;
  std::vector<int> types_;
  std::vector<std::vector<Value>> rows_;
  size_t row_ = 0;
};

// Forward-only reading of one table on a handle of its own. The rows are decoded ahead on a
// worker, which holds `reading` while it reads: every handle of the file shares its stream.
class TableCursor : public Cursor {
 public:
  // Runs with `reading` held; Start begins the rows.
  TableCursor(std::shared_ptr<std::mutex> reading, std::shared_ptr<AccessFile> file,
              MdbHandlePtr mdb, MdbTablePtr table, std::vector<int> columns,
              const std::vector<CalculatedColumn>& calculated)
      : reading_(std::move(reading)),
        file_(std::move(file)),
        mdb_(std::move(mdb)),
        table_(std::move(table)) {
    for (size_t i = 0; i < columns.size(); ++i) {
      MdbColumn* col = ColumnAt(table_.get(), columns[i]);
      names_.push_back(col->name);
      types_.push_back(AdoTypeOf(*col, CalculatedAt(calculated, columns[i])));
    }
    reader_ = std::make_unique<RowReader>(mdb_.get(), table_.get(), columns, EngineErrorStyle::kAdo,
                                          file_->read_failure());
    for (size_t i = 0; i < columns.size(); ++i)
      if (const CalculatedColumn* calc = CalculatedAt(calculated, columns[i]))
        reader_->SetCalculated(static_cast<int>(i), calc->result_type);
    for (size_t i = 0; i < columns.size(); ++i) {
      MdbColumn* col = ColumnAt(table_.get(), columns[i]);
      if (col->col_type != MDB_COMPLEX) continue;
      const ComplexColumnInfo* info = FindComplexColumn(*file_, table_->entry->table_pg, col->name);
      if (info)
        reader_->SetComplexTexts(static_cast<int>(i), ReadComplexTexts(*file_, mdb_.get(), *info));
    }
  }
  ~TableCursor() override {
    ahead_.reset();
    std::lock_guard<std::mutex> hold(*reading_);
    reader_.reset();
    table_.reset();
    mdb_.reset();
  }
  // Starts the worker and stands on the first row; raises what reading it raises. Without
  // `reading` held: the worker takes it.
  void Start() {
    ahead_ = std::make_unique<ReadAhead>(*reading_, [this](ReadAhead::Row& row) {
      if (!reader_->Next()) return false;
      reader_->TakeValues(row);
      return true;
    });
    row_ = ahead_->Next();
  }
  bool Eof() const override { return row_ == nullptr; }
  void MoveNext() override {
    if (!row_) RaiseNoCurrentRecord();
    row_ = ahead_->Next();
  }
  int FieldCount() const override { return static_cast<int>(names_.size()); }
  const std::string& FieldName(int i) const override { return names_.at(i); }
  int FieldType(int i) const override { return types_.at(i); }
  const Value& FieldValue(int i) const override {
    if (!row_) RaiseNoCurrentRecord();
    if (i < 0 || i >= FieldCount())
      throw Error(errc::kItemNotFound, "ADODB.Recordset",
                  "Item cannot be found in the collection corresponding to the requested name or "
                  "ordinal.");
    return (*row_)[i];
  }

 private:
  std::shared_ptr<std::mutex> reading_;
  std::shared_ptr<AccessFile> file_;
  MdbHandlePtr mdb_;
  MdbTablePtr table_;
  std::unique_ptr<RowReader> reader_;
  std::vector<std::string> names_;
  std::vector<int> types_;
  std::unique_ptr<ReadAhead> ahead_;
  const ReadAhead::Row* row_ = nullptr;
};

// What a complex-column statement reads: per result column whether it is the owning row's
// and its position there or in the hidden table; the hidden table's key column and the
// owning table's complex column.
struct ComplexSource {
  struct Column {
    bool owner = false;
    int position = 0;
  };
  std::vector<Column> columns;
  int key = 0;
  int complex = 0;
};

// One row per file or value of a complex column, in the hidden table's order. The owning
// rows' columns are read first, by key (they are small); the values stream. A value whose
// key no row stores is left out, so the walk ends short of the hidden table's stored count.
class ComplexCursor : public Cursor {
 public:
  // Runs with `reading` held.
  ComplexCursor(std::shared_ptr<std::mutex> reading, std::shared_ptr<AccessFile> file,
                MdbHandlePtr mdb, MdbTablePtr table, MdbTablePtr flat, ComplexSource source)
      : reading_(std::move(reading)),
        file_(std::move(file)),
        mdb_(std::move(mdb)),
        table_(std::move(table)),
        flat_(std::move(flat)),
        source_(std::move(source)) {
    std::vector<int> owner_columns;
    std::vector<int> flat_columns;
    for (const ComplexSource::Column& c : source_.columns) {
      MdbTableDef* from = c.owner ? table_.get() : flat_.get();
      MdbColumn* col = ColumnAt(from, c.position);
      names_.push_back(col->name);
      types_.push_back(!c.owner && EqualsIgnoreCase(col->name, "FileData") ? kAdLongVarBinary
                                                                           : AdoTypeOfColumn(*col));
      decode_.push_back(!c.owner && EqualsIgnoreCase(col->name, "FileData"));
      (c.owner ? owner_columns : flat_columns).push_back(c.position);
    }
    owner_columns.push_back(source_.complex);
    {
      RowReader owners(mdb_.get(), table_.get(), owner_columns);
      owners.SetComplexKeys(static_cast<int>(owner_columns.size()) - 1);
      while (owners.Next()) {
        std::vector<Value> values;
        for (int i = 0; i + 1 < owners.Count(); ++i) values.push_back(owners.Get(i));
        owners_[SafeLng(owners.Get(owners.Count() - 1))] = std::move(values);
      }
    }
    flat_columns.push_back(source_.key);
    reader_ = std::make_unique<RowReader>(mdb_.get(), flat_.get(), flat_columns,
                                          EngineErrorStyle::kAdo, file_->read_failure());
    values_.resize(source_.columns.size());
    Advance();
  }
  ~ComplexCursor() override {
    std::lock_guard<std::mutex> hold(*reading_);
    reader_.reset();
    flat_.reset();
    table_.reset();
    mdb_.reset();
  }
  bool Eof() const override { return eof_; }
  void MoveNext() override {
    if (eof_) RaiseNoCurrentRecord();
    std::lock_guard<std::mutex> hold(*reading_);
    Advance();
  }
  int FieldCount() const override { return static_cast<int>(names_.size()); }
  const std::string& FieldName(int i) const override { return names_.at(i); }
  int FieldType(int i) const override { return types_.at(i); }
  const Value& FieldValue(int i) const override { return values_.at(i); }

 private:
  void Advance() {
    while (reader_->Next()) {
      auto owner = owners_.find(SafeLng(reader_->Get(reader_->Count() - 1)));
      if (owner == owners_.end()) continue;
      int from_owner = 0, from_flat = 0;
      for (size_t i = 0; i < source_.columns.size(); ++i) {
        if (source_.columns[i].owner) {
          values_[i] = owner->second[from_owner++];
          continue;
        }
        const Value& v = reader_->Get(from_flat++);
        if (decode_[i] && v.kind() == Value::Kind::kBytes) {
          try {
            values_[i] = Value::FromBytes(AttachmentFileBytes(v.AsBytes()));
          } catch (const DamagedStructure& e) {
            RaiseDamagedTable(EngineErrorStyle::kAdo, flat_->name, e.what());
          }
        } else {
          values_[i] = v;
        }
      }
      return;
    }
    eof_ = true;
  }

  std::shared_ptr<std::mutex> reading_;
  std::shared_ptr<AccessFile> file_;
  MdbHandlePtr mdb_;
  MdbTablePtr table_;
  MdbTablePtr flat_;
  ComplexSource source_;
  std::unordered_map<int64_t, std::vector<Value>> owners_;
  std::unique_ptr<RowReader> reader_;
  std::vector<std::string> names_;
  std::vector<int> types_;
  std::vector<bool> decode_;
  std::vector<Value> values_;
  bool eof_ = false;
};

// Precision the provider's column catalogue reports (null where it reports none).
Value CataloguePrecision(const MdbColumn& col, const CalculatedColumn* calc) {
  // A calculated decimal keeps a scale with each value and none in its definition.
  if (calc) {
    if (calc->result_type == MDB_NUMERIC) return Value(28);
    MdbColumn result = col;
    result.col_type = calc->result_type;
    return CataloguePrecision(result, nullptr);
  }
  switch (col.col_type) {
    case MDB_BYTE:
      return Value(3);
    case MDB_INT:
      return Value(5);
    case MDB_LONGINT:
      return Value(10);
    case MDB_FLOAT:
      return Value(7);
    case MDB_DOUBLE:
      return Value(15);
    case MDB_MONEY:
      return Value(19);
    case kMdbBigInt:
      return Value(19);
    case MDB_NUMERIC:
      return Value(col.col_scale);  // libmdb swaps the two
    default:
      return Value::Null();
  }
}

Value CatalogueScale(const MdbColumn& col, const CalculatedColumn* calc) {
  if (calc) return calc->result_type == MDB_MONEY ? Value(4) : Value::Null();
  switch (col.col_type) {
    case MDB_MONEY:
      return Value(4);
    case MDB_NUMERIC:
      return Value(col.col_prec);
    default:
      return Value::Null();
  }
}

class AccessBackend : public ConnectionBackend {
 public:
  AccessBackend(std::shared_ptr<AccessFile> file, AccessConnectionSettings settings)
      : reading_(std::make_shared<std::mutex>()),
        file_(std::move(file)),
        settings_(std::move(settings)) {}

  std::unique_ptr<Cursor> Execute(const std::string&) override {
    throw Error(kAdoRejectedStatement, kJetSource,
                "This source runs no statements: its rows are read through OpenRows.");
  }

  int64_t CountRows(const SourceRows& rows) override {
    std::lock_guard<std::mutex> hold(*reading_);
    MdbHandlePtr mdb = file_->Clone();
    MdbTablePtr table = OpenReadableTable(rows.table, mdb.get());
    if (!rows.complex_column.empty()) {
      int complex = 0;
      MdbTablePtr flat = ValuesTable(rows, mdb.get(), *table, complex);
      ComplexColumns(rows, *table, *flat);
      return flat->num_rows;
    }
    TableColumns(rows, *table);
    // The live rows on the table's pages, not the count its definition stores, which
    // Access leaves stale: the run then holds the rows it walked against a number the walk
    // did not produce. A stored count that differs is believed stale unless a page of the
    // table has lost track of its own rows.
    const AccessFile::TableCensus census = file_->Census(table->entry->table_pg, table->name);
    if (census.live_rows != table->num_rows && census.inconsistent_page != 0)
      RaiseDamagedTable(EngineErrorStyle::kAdo, table->name,
                        "data page " + std::to_string(census.inconsistent_page) +
                            ": its row count does not match its free space");
    return census.live_rows;
  }

  std::unique_ptr<Cursor> OpenRows(const SourceRows& rows) override {
    std::unique_ptr<TableCursor> cursor;
    {
      std::lock_guard<std::mutex> hold(*reading_);
      MdbHandlePtr mdb = file_->Clone();
      MdbTablePtr table = OpenReadableTable(rows.table, mdb.get());
      if (!rows.complex_column.empty())
        return ComplexValues(rows, std::move(mdb), std::move(table));
      std::vector<int> columns = TableColumns(rows, *table);
      std::vector<CalculatedColumn> calculated = CalculatedColumnsOf(*file_, table.get());
      cursor = std::make_unique<TableCursor>(reading_, file_, std::move(mdb), std::move(table),
                                             columns, calculated);
    }
    cursor->Start();
    return cursor;
  }

  std::unique_ptr<Cursor> OpenSchema(int schema) override {
    std::lock_guard<std::mutex> hold(*reading_);
    if (schema == kAdSchemaStatistics) return Statistics();
    if (schema != kAdSchemaColumns)
      throw Error(errc::kFeatureNotAvailable, "ADODB.Connection",
                  "Object or provider is not capable of performing requested operation.");
    std::vector<std::string> tables;
    for (const AccessObject& o : file_->Objects())
      if (o.type == 1) tables.push_back(o.name);
    auto by_name = [](const std::string& a, const std::string& b) {
      return AsciiLower(a) < AsciiLower(b);
    };
    std::stable_sort(tables.begin(), tables.end(), by_name);
    std::vector<std::vector<Value>> rows;
    for (const std::string& name : tables) {
      MdbTablePtr table = file_->OpenTable(name);
      if (!table) continue;
      const std::vector<CalculatedColumn> calculated = CalculatedColumnsOf(*file_, table.get());
      std::vector<MdbColumn*> cols;
      for (unsigned int i = 0; i < table->num_cols; ++i) cols.push_back(ColumnAt(table.get(), i));
      std::stable_sort(cols.begin(), cols.end(),
                       [&](MdbColumn* a, MdbColumn* b) { return by_name(a->name, b->name); });
      for (MdbColumn* col : cols) {
        const char* def = mdb_col_get_prop(col, "DefaultValue");
        const char* required = mdb_col_get_prop(col, "Required");
        bool nullable = !(required && EqualsIgnoreCase(required, "yes"));
        const CalculatedColumn* calc = CalculatedAt(calculated, PositionOf(*table, col));
        int type = AdoTypeOf(*col, calc);
        Value length = Value::Null();
        if (calc && calc->result_type == MDB_TEXT)
          length = Value(calc->text_size);
        else if (!calc && col->col_type == MDB_TEXT)
          length = Value(file_->IsJet3() ? col->col_size : col->col_size / 2);
        rows.push_back({Value::Null(), Value::Null(), Value(std::string(table->name)),
                        Value(std::string(col->name)), Value(col->col_num + 1),
                        Value(def != nullptr), def ? Value(std::string(def)) : Value::Null(),
                        Value(nullable), Value(type), length, CataloguePrecision(*col, calc),
                        CatalogueScale(*col, calc)});
      }
    }
    return std::make_unique<ValuesCursor>(
        std::vector<std::string>{"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "COLUMN_NAME",
                                 "ORDINAL_POSITION", "COLUMN_HASDEFAULT", "COLUMN_DEFAULT",
                                 "IS_NULLABLE", "DATA_TYPE", "CHARACTER_MAXIMUM_LENGTH",
                                 "NUMERIC_PRECISION", "NUMERIC_SCALE"},
        std::vector<int>{kAdVarWChar, kAdVarWChar, kAdVarWChar, kAdVarWChar, kAdInteger, kAdBoolean,
                         kAdVarWChar, kAdBoolean, kAdSmallInt, kAdInteger, kAdSmallInt,
                         kAdSmallInt},
        std::move(rows));
  }

 private:
  // Every local table with the row count its definition stores; one page read per table.
  std::unique_ptr<Cursor> Statistics() {
    std::vector<std::vector<Value>> rows;
    for (const AccessObject& o : file_->Objects()) {
      if (o.type != 1) continue;
      if (auto stored = file_->StoredRowCount(static_cast<uint32_t>(o.id) & 0x00FFFFFF))
        rows.push_back({Value(o.name), Value(*stored)});
    }
    return std::make_unique<ValuesCursor>(std::vector<std::string>{"TABLE_NAME", "CARDINALITY"},
                                          std::vector<int>{kAdVarWChar, kAdBigInt},
                                          std::move(rows));
  }

  MdbTablePtr OpenReadableTable(const std::string& name, MdbHandle* mdb) {
    const AccessObject* object = file_->FindTableObject(name);
    if (object && object->type != 1)
      throw Error(kAdoGenericError, kJetSource,
                  "The table '" + name +
                      "' is linked to another database, which this source does not read.");
    MdbTablePtr table = object ? file_->OpenTable(object->name, mdb) : nullptr;
    if (!table)
      throw Error(kAdoTableNotFound, kJetSource,
                  "The Microsoft Jet database engine cannot find the input table or query '" +
                      name + "'.  Make sure it exists and that its name is spelled correctly.");
    return table;
  }

  // The hidden table of a complex column's files or values, and the column's position.
  MdbTablePtr ValuesTable(const SourceRows& rows, MdbHandle* mdb, MdbTableDef& table,
                          int& complex) {
    complex = ColumnIndex(table, rows.complex_column);
    const MdbColumn* col = ColumnAt(&table, complex);
    const ComplexColumnInfo* info =
        col->col_type == MDB_COMPLEX ? FindComplexColumn(*file_, table.entry->table_pg, col->name)
                                     : nullptr;
    std::string flat_name;
    for (const AccessObject& o : file_->Objects())
      if (info && o.id == info->flat_table_id) flat_name = o.name;
    MdbTablePtr flat = flat_name.empty() ? nullptr : file_->OpenTable(flat_name, mdb);
    if (!flat)
      throw Error(kAdoTableNotFound, kJetSource,
                  "The column '" + rows.complex_column + "' of table '" + rows.table +
                      "' holds no attachments or multiple values.");
    return flat;
  }

  // The files or values of a complex column, each with the owning row's columns asked for.
  std::unique_ptr<Cursor> ComplexValues(const SourceRows& rows, MdbHandlePtr mdb,
                                        MdbTablePtr table) {
    int complex = 0;
    MdbTablePtr flat = ValuesTable(rows, mdb.get(), *table, complex);
    ComplexSource source;
    source.columns = ComplexColumns(rows, *table, *flat);
    int key = -1;
    for (unsigned int i = 0; i < flat->num_cols; ++i)
      if (ColumnAt(flat.get(), i)->name[0] == '_') key = static_cast<int>(i);
    if (key < 0) RaiseDamagedTable(EngineErrorStyle::kAdo, flat->name, "it has no key column");
    source.key = key;
    source.complex = complex;
    return std::make_unique<ComplexCursor>(reading_, file_, std::move(mdb), std::move(table),
                                           std::move(flat), std::move(source));
  }

  // The positions of the columns asked of a table's own rows.
  static std::vector<int> TableColumns(const SourceRows& rows, MdbTableDef& table) {
    std::vector<int> columns;
    for (const SourceColumn& column : rows.columns) {
      if (column.of_values) RaiseMissingParameter();
      columns.push_back(ColumnIndex(table, column.name));
    }
    if (rows.columns.empty())
      for (unsigned int i = 0; i < table.num_cols; ++i) columns.push_back(static_cast<int>(i));
    return columns;
  }

  // Where each column asked of a complex column's rows is read: the owning row or the values.
  static std::vector<ComplexSource::Column> ComplexColumns(const SourceRows& rows,
                                                           MdbTableDef& table, MdbTableDef& flat) {
    std::vector<ComplexSource::Column> columns;
    for (const SourceColumn& column : rows.columns)
      columns.push_back(
          {!column.of_values, ColumnIndex(column.of_values ? flat : table, column.name)});
    return columns;
  }

  static int ColumnIndex(MdbTableDef& table, const std::string& name) {
    for (unsigned int i = 0; i < table.num_cols; ++i)
      if (EqualsIgnoreCase(name, ColumnAt(&table, i)->name)) return static_cast<int>(i);
    RaiseMissingParameter();
  }

  [[noreturn]] static void RaiseMissingParameter() {
    throw Error(kAdoMissingParameter, kJetSource,
                "No value given for one or more required parameters.");
  }

  // Held around every use of the file's handles: a cursor's worker reads beside the caller.
  std::shared_ptr<std::mutex> reading_;
  std::shared_ptr<AccessFile> file_;
  AccessConnectionSettings settings_;
};

}  // namespace

AccessConnectionSettings ParseAccessConnectionString(const std::string& connection_string) {
  AccessConnectionSettings s;
  for (const ConnectionPart& part : SplitConnectionString(connection_string)) {
    const std::string key = AsciiLower(part.key);
    const std::string& value = part.value;
    if (key == "provider")
      s.provider = value;
    else if (key == "data source")
      s.data_source = value;
    else if (key == "jet oledb:database password")
      s.database_password = value;
    else if (key == "jet oledb:system database")
      s.system_database = value;
    else if (key == "user id")
      s.user_id = value;
    else if (key == "password")
      s.password = value;
  }
  std::string provider = AsciiLower(s.provider);
  if (provider != "microsoft.jet.oledb.4.0" && provider.rfind("microsoft.ace.oledb.", 0) != 0)
    throw Error(errc::kProviderNotFound, "ADODB.Connection",
                "Provider cannot be found. It may not be properly installed.");
  return s;
}

const ComplexColumnInfo* FindComplexColumn(AccessFile& file, uint32_t table_page,
                                           const std::string& column) {
  for (const ComplexColumnInfo& info : file.ComplexColumns())
    if (static_cast<uint32_t>(info.table_id) == table_page && info.column_name == column)
      return &info;
  return nullptr;
}

std::unordered_map<int32_t, std::string> ReadComplexTexts(AccessFile& file, MdbHandle* mdb,
                                                          const ComplexColumnInfo& info) {
  std::unordered_map<int32_t, std::string> texts;
  std::string flat_name;
  for (const AccessObject& o : file.Objects())
    if (o.id == info.flat_table_id) flat_name = o.name;
  if (flat_name.empty()) return texts;
  MdbTablePtr flat = file.OpenTable(flat_name, mdb);
  if (!flat) return texts;
  // The flat table holds the type's value columns, its own key "<table>_<column>" and the
  // key the owning row stores, named "_<column>".
  bool attachment = info.type_name == "MSysComplexType_Attachment";
  int value_col = -1, key_col = -1;
  for (unsigned int i = 0; i < flat->num_cols; ++i) {
    std::string name = ColumnAt(flat.get(), i)->name;
    if (attachment ? name == "FileName" : EqualsIgnoreCase(name, "value")) value_col = i;
    if (!name.empty() && name[0] == '_') key_col = i;
  }
  if (value_col < 0 || key_col < 0) return texts;
  RowReader reader(mdb, flat.get(), {value_col, key_col}, EngineErrorStyle::kAdo,
                   file.read_failure());
  while (reader.Next()) {
    if (reader.Get(0).IsNull()) continue;
    std::string& text = texts[SafeLng(reader.Get(1))];
    if (!text.empty()) text += "; ";
    const Value& v = reader.Get(0);
    text += v.kind() == Value::Kind::kDecimal ? v.DecimalText() : SafeStr(v);
  }
  return texts;
}

std::unique_ptr<ConnectionBackend> OpenAccessBackend(const std::string& connection_string,
                                                     Env* env) {
  AccessConnectionSettings settings = ParseAccessConnectionString(connection_string);
  auto file = AccessFile::Open(settings.data_source, EngineErrorStyle::kAdo,
                               settings.database_password, settings.system_database, env);
  return std::make_unique<AccessBackend>(std::move(file), std::move(settings));
}

}  // namespace ferrolyte
