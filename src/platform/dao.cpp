#include "platform/dao.h"

#include <algorithm>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>

#include "platform/access_provider.h"
#include "platform/access_rows.h"
#include "platform/calculated_value.h"
#include "platform/libmdb_handle.h"
#include "support/connection_string.h"
#include "support/errors.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {

void DaoTableDef::Load() {
  if (loaded_) return;
  if (loader_) loader_(fields_, indexes_, properties_);
  loaded_ = true;
}

namespace {

constexpr uint8_t kRawAutoNumber = 0x04;
constexpr uint8_t kRawHyperlink = 0x80;

MdbColumn* ColumnAt(MdbTableDef* table, unsigned int i) {
  return static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
}

int ComplexDaoType(const std::string& type_name) {
  static const std::pair<const char*, int> kTypes[] = {
      {"MSysComplexType_Attachment", 101}, {"MSysComplexType_UnsignedByte", 102},
      {"MSysComplexType_Short", 103},      {"MSysComplexType_Long", 104},
      {"MSysComplexType_IEEESingle", 105}, {"MSysComplexType_IEEEDouble", 106},
      {"MSysComplexType_GUID", 107},       {"MSysComplexType_Decimal", 108},
      {"MSysComplexType_Text", 109}};
  for (const auto& [name, code] : kTypes)
    if (type_name == name) return code;
  // An append-only memo's version history and unknown kinds read as text.
  return kDaoComplexText;
}

// The DAO type of a libmdb column type (a calculated column's result type included); 0 for
// a type code neither knows, whose values then move as their stored bytes.
int DaoTypeOf(int col_type, bool fixed, const std::string& complex_type) {
  switch (col_type) {
    case MDB_BOOL:
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
    case MDB_MONEY:
    case MDB_FLOAT:
    case MDB_DOUBLE:
    case MDB_DATETIME:
    case MDB_BINARY:
    case MDB_OLE:
    case MDB_MEMO:
    case MDB_REPID:
      return col_type;
    case MDB_TEXT:
      return fixed ? kDaoChar : kDaoText;
    case MDB_NUMERIC:
      return kDaoDecimal;
    case MDB_COMPLEX:
      return ComplexDaoType(complex_type);
    case kMdbBigInt:
      return kDaoBigInt;
    case kMdbDateTimeExtended:
      return kDaoDate;
    default:
      return 0;
  }
}

int32_t DaoSizeOf(int col_type, int col_size, bool jet3) {
  switch (col_type) {
    case MDB_TEXT:
      return jet3 ? col_size : col_size / 2;
    case MDB_BINARY:
      return col_size;
    case MDB_BOOL:
      return 1;
    case MDB_NUMERIC:
      return 16;  // DAO reports 16 for a decimal; its stored value takes 17 bytes
    case kMdbDateTimeExtended:
      return 8;
    default:
      return FixedWidthOf(col_type);  // 0 for memo and OLE
  }
}

bool PropertyIsTrue(const char* value) {
  return value && (EqualsIgnoreCase(value, "yes") || EqualsIgnoreCase(value, "true") ||
                   std::string(value) == "1" || std::string(value) == "-1");
}

// The type name of a complex column's values, or "" when its definition cannot be read:
// the column then reads as text here and its values fail when they are read.
std::string ComplexTypeOf(AccessFile& file, MdbTableDef* table, const MdbColumn* col) {
  try {
    if (const ComplexColumnInfo* info = FindComplexColumn(file, table->entry->table_pg, col->name))
      return info->type_name;
  } catch (const Error&) {
  }
  return "";
}

// The raw definition's flags of a column, 0 when it lists none.
uint8_t RawFlagsOf(const AccessFile::RawDefinition& raw, const MdbColumn* col) {
  for (const auto& [num, flags] : raw.column_flags)
    if (num == col->col_num) return flags;
  return 0;
}

// The type and size DAO reports for a calculated column, with its expression and attributes.
void DescribeCalculated(const CalculatedColumn& calc, bool jet3, DaoField& f) {
  // Stored wrapped in variable-length form; to DAO it is a field of its result type,
  // which Access computes and no one writes.
  f.type = DaoTypeOf(calc.result_type, false, "");
  f.size = calc.result_type == MDB_TEXT ? calc.text_size : DaoSizeOf(calc.result_type, 0, jet3);
  f.expression = calc.expression;
  const bool fixed = calc.result_type != MDB_TEXT && calc.result_type != MDB_MEMO;
  f.attributes = fixed ? kDaoFixedField : kDaoVariableField;
}

// The DAO field of one column: type, size, the properties Access keeps and the attributes.
DaoField FieldOf(const MdbColumn* col, const std::string& complex_type, uint8_t flags,
                 const CalculatedColumn* calc, bool jet3) {
  DaoField f;
  f.name = col->name;
  f.type = DaoTypeOf(col->col_type, col->is_fixed, complex_type);
  if (f.type == 0) f.stored_type = col->col_type;
  f.size = DaoSizeOf(col->col_type, col->col_size, jet3);
  f.required = PropertyIsTrue(mdb_col_get_prop(col, "Required"));
  const char* def = mdb_col_get_prop(col, "DefaultValue");
  f.default_value = def ? def : "";
  if (const char* text = mdb_col_get_prop(col, "Description")) f.description = text;
  if (const char* text = mdb_col_get_prop(col, "ValidationRule")) f.validation_rule = text;
  if (const char* text = mdb_col_get_prop(col, "ValidationText")) f.validation_text = text;
  if (const char* text = mdb_col_get_prop(col, "AllowZeroLength"))
    f.allow_zero_length = PropertyIsTrue(text);
  if (calc) {
    DescribeCalculated(*calc, jet3, f);
    return f;
  }
  const bool fixed = col->is_fixed || col->col_type == MDB_BOOL;
  const bool autonumber =
      col->col_type == MDB_LONGINT && (col->is_long_auto || (flags & kRawAutoNumber));
  f.attributes = fixed ? kDaoFixedField : kDaoVariableField;
  if (autonumber)
    f.attributes |= kDaoAutoIncrField;
  else
    f.attributes |= kDaoUpdatableField;
  if (col->col_type == MDB_MEMO && (flags & kRawHyperlink)) f.attributes |= kDaoHyperlinkField;
  return f;
}

// The name of the table's column with libmdb number col_num, "" when there is none.
std::string NameOfColNum(MdbTableDef* table, int col_num) {
  for (unsigned int i = 0; i < table->num_cols; ++i)
    if (ColumnAt(table, i)->col_num == col_num) return ColumnAt(table, i)->name;
  return "";
}

// The DAO index of one libmdb index; nullopt for the hidden index Access keeps per complex
// column, which DAO does not list.
std::optional<DaoIndex> IndexOf(AccessFile& file, MdbTableDef* table, const MdbIndex* idx,
                                const AccessFile::RawDefinition& raw, const std::string& name,
                                const std::set<std::string>& complex_columns) {
  DaoIndex d;
  d.name = idx->name;
  d.primary = idx->index_type == 1;
  d.foreign = idx->index_type == 2;
  // Keys and flags are the physical index's: libmdb pairs physical indexes with logical
  // ones by number, which Access does not keep equal, and gives foreign keys none.
  const AccessFile::RawDefinition::Logical* logical = nullptr;
  for (const auto& l : raw.logical)
    if (l.number == idx->index_num && !logical) logical = &l;
  const uint8_t flags = logical ? raw.physical_flags[logical->physical] : 0;
  d.unique = d.primary || (flags & MDB_IDX_UNIQUE);
  d.ignore_nulls = (flags & MDB_IDX_IGNORENULLS) != 0;
  d.required = d.primary || (flags & MDB_IDX_REQUIRED);
  if (logical) {
    for (int col_num : raw.physical_keys[logical->physical]) {
      std::string col_name = NameOfColNum(table, col_num);
      if (!col_name.empty()) d.fields.push_back(col_name);
    }
  }
  if (d.fields.empty()) {
    // Foreign keys are not moved as indexes: without their relationships they stay empty.
    try {
      for (const RelationshipColumn& r : file.Relationships())
        if (r.name == d.name && r.table == name) d.fields.push_back(r.column);
    } catch (const Error&) {
    }
  }
  const std::vector<bool>* order = logical ? &raw.physical_descending[logical->physical] : nullptr;
  if (order && order->size() == d.fields.size())
    d.descending = *order;
  else
    d.descending.assign(d.fields.size(), false);
  bool hidden_complex =
      !d.fields.empty() && std::all_of(d.fields.begin(), d.fields.end(), [&](const std::string& f) {
        return complex_columns.count(f) > 0;
      });
  if (hidden_complex) return std::nullopt;
  return d;
}

// Reads the fields, indexes and table properties of table name; throws 3011 when the file
// has no such table.
void LoadTable(const std::shared_ptr<AccessFile>& file, const std::string& name,
               std::vector<DaoField>& fields, std::vector<DaoIndex>& indexes,
               DaoTableProperties& properties) {
  MdbTablePtr table = file->OpenTable(name);
  if (!table)
    throw Error(errc::kObjectNotFound, "DAO.TableDef",
                "The Microsoft Jet database engine could not find the object '" + name + "'.");
  AccessFile::RawDefinition raw = file->ReadRawDefinition(table.get());
  const std::vector<CalculatedColumn> calculated = FindCalculatedColumns(raw, table.get());
  auto table_text = [&](const char* property) {
    const char* text = mdb_table_get_prop(table.get(), property);
    return std::string(text ? text : "");
  };
  properties.description = table_text("Description");
  properties.validation_rule = table_text("ValidationRule");
  properties.validation_text = table_text("ValidationText");
  const bool jet3 = file->IsJet3();
  std::set<std::string> complex_columns;
  for (unsigned int i = 0; i < table->num_cols; ++i) {
    MdbColumn* col = ColumnAt(table.get(), i);
    std::string complex_type;
    if (col->col_type == MDB_COMPLEX) {
      complex_columns.insert(col->name);
      complex_type = ComplexTypeOf(*file, table.get(), col);
    }
    fields.push_back(FieldOf(col, complex_type, RawFlagsOf(raw, col),
                             CalculatedAt(calculated, static_cast<int>(i)), jet3));
  }
  for (unsigned int i = 0; table->indices && i < table->indices->len; ++i) {
    auto* idx = static_cast<MdbIndex*>(g_ptr_array_index(table->indices, i));
    if (std::optional<DaoIndex> d = IndexOf(*file, table.get(), idx, raw, name, complex_columns))
      indexes.push_back(std::move(*d));
  }
}

class LibmdbDatabase : public DaoDatabase {
 public:
  explicit LibmdbDatabase(std::shared_ptr<AccessFile> file) : file_(std::move(file)) {}

  std::vector<std::shared_ptr<DaoTableDef>> TableDefs() override {
    File();
    std::set<int32_t> flat_tables;
    try {
      for (const ComplexColumnInfo& info : file_->ComplexColumns())
        flat_tables.insert(info.flat_table_id);
    } catch (const Error&) {
      // The flat tables are system tables too; a damaged MSysComplexColumns fails only the
      // values of the complex columns that need it.
    }
    std::vector<const AccessObject*> tables;
    for (const AccessObject& o : file_->Objects())
      if ((o.type == 1 || o.type == 4 || o.type == 6) && !flat_tables.count(o.id))
        tables.push_back(&o);
    // The engine's collection lists table definitions by name.
    std::stable_sort(tables.begin(), tables.end(),
                     [](const AccessObject* a, const AccessObject* b) {
                       return AsciiLower(a->name) < AsciiLower(b->name);
                     });
    std::vector<std::shared_ptr<DaoTableDef>> defs;
    for (const AccessObject* o : tables) {
      uint32_t attributes = 0;
      if (o->flags & kDaoSystemObject) attributes |= kDaoSystemObject;
      if (o->flags & 0x8) attributes |= kDaoHiddenObject;
      if (o->type == 6) attributes |= kDaoAttachedTable;
      if (o->type == 4) attributes |= kDaoAttachedOdbc;
      if (o->type != 1) {
        // Linked tables live elsewhere; their fields are not read here.
        auto link = std::make_shared<DaoTableDef>(o->name, attributes, std::vector<DaoField>{},
                                                  std::vector<DaoIndex>{});
        std::string connect = o->connect;
        if (!o->database.empty()) connect += ";DATABASE=" + o->database;
        link->SetLink(connect, o->foreign_name.empty() ? o->name : o->foreign_name);
        defs.push_back(std::move(link));
        continue;
      }
      std::shared_ptr<AccessFile> file = file_;
      std::string name = o->name;
      defs.push_back(std::make_shared<DaoTableDef>(
          name, attributes,
          [file, name](std::vector<DaoField>& fields, std::vector<DaoIndex>& indexes,
                       DaoTableProperties& properties) {
            LoadTable(file, name, fields, indexes, properties);
          }));
    }
    return defs;
  }

  std::vector<DaoRelation> Relations() override {
    std::vector<DaoRelation> relations;
    for (const RelationshipColumn& r : File().Relationships()) {
      if (relations.empty() || relations.back().name != r.name) {
        DaoRelation relation;
        relation.name = r.name;
        relation.table = r.referenced_table;
        relation.foreign_table = r.table;
        relation.attributes = r.attributes;
        relations.push_back(std::move(relation));
      }
      relations.back().fields.push_back({r.referenced_column, r.column});
    }
    return relations;
  }

  std::vector<DaoQueryDef> QueryDefs() override {
    std::vector<DaoQueryDef> queries;
    std::unordered_map<int32_t, size_t> by_id;
    for (const AccessObject& o : File().Objects()) {
      if (o.type != kQueryObject || o.name.empty() || o.name[0] == '~') continue;
      by_id[o.id] = queries.size();
      queries.push_back({o.name, o.flags, {}});
    }
    if (queries.empty()) return queries;
    const auto rows = File().ReadRows(
        "MSysQueries", {"ObjectId", "Attribute", "Order", "Name1", "Name2", "Expression", "Flag"});
    // Rows of one query and attribute follow their Order, a binary key compared bytewise.
    std::vector<std::pair<std::tuple<int32_t, int, std::string>, DaoQueryRow>> sorted;
    for (const auto& row : rows) {
      auto found = by_id.find(SafeLng(row[0]));
      if (found == by_id.end()) continue;
      DaoQueryRow r{SafeLng(row[1]), SafeLng(row[6]), SafeStr(row[3]), SafeStr(row[4]),
                    SafeStr(row[5])};
      const std::string order = row[2].kind() == Value::Kind::kBytes
                                    ? std::string(row[2].AsBytes().begin(), row[2].AsBytes().end())
                                    : std::string();
      sorted.push_back({{static_cast<int32_t>(found->second), r.attribute, order}, std::move(r)});
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [key, row] : sorted) queries[std::get<0>(key)].rows.push_back(std::move(row));
    return queries;
  }

  void Close() override { file_.reset(); }

 private:
  static constexpr int kQueryObject = 5;
  AccessFile& File() {
    if (!file_)
      throw Error(errc::kObjectInvalid, "DAO.Database", "Object invalid or no longer set.");
    return *file_;
  }
  std::shared_ptr<AccessFile> file_;
};

class LibmdbWorkspace : public DaoWorkspace {
 public:
  LibmdbWorkspace(std::string system_db, std::string user, std::string password)
      : system_db_(std::move(system_db)), user_(std::move(user)), password_(std::move(password)) {}

  std::shared_ptr<DaoDatabase> OpenDatabase(const std::string& name, bool, bool,
                                            const std::string& connect) override {
    std::string database_password;
    // Read as the provider reads its string, so that both accept the same passwords.
    for (const ConnectionPart& part : SplitConnectionString(connect))
      if (EqualsIgnoreCase(part.key, "PWD")) database_password = part.value;
    // The workgroup user and password are not checked: the workgroup file format does not
    // enforce them; the file itself must be usable.
    return std::make_shared<LibmdbDatabase>(
        AccessFile::Open(name, EngineErrorStyle::kDao, database_password, system_db_));
  }

 private:
  std::string system_db_, user_, password_;
};

class LibmdbEngine : public DaoEngine {
 public:
  std::shared_ptr<DaoWorkspace> Workspaces(int index) override {
    if (index != 0 && index >= static_cast<int>(created_.size()) + 1)
      throw Error(errc::kItemNotFound, "DAO.Workspaces", "Item not found in this collection.");
    if (index > 0) return created_[index - 1];
    if (!default_) default_ = std::make_shared<LibmdbWorkspace>(SystemDB(), "admin", "");
    return default_;
  }
  std::shared_ptr<DaoWorkspace> CreateWorkspace(const std::string&, const std::string& user,
                                                const std::string& password) override {
    auto ws = std::make_shared<LibmdbWorkspace>(SystemDB(), user, password);
    created_.push_back(ws);
    return ws;
  }
  void Close() override {
    default_.reset();
    created_.clear();
  }

 private:
  std::shared_ptr<DaoWorkspace> default_;
  std::vector<std::shared_ptr<DaoWorkspace>> created_;
};

}  // namespace

std::shared_ptr<DaoEngine> CreateLibmdbEngine() {
  return std::make_shared<LibmdbEngine>();
}

}  // namespace ferrolyte
