#include "platform/libmdb_handle.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/access_rows.h"
#include "platform/jet_password.h"
#include "platform/office_crypto.h"
#include "support/errors.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

constexpr int32_t kDaoFileNotFound = 3024;
constexpr int32_t kDaoUnrecognizedFormat = 3343;
constexpr int32_t kAdoGeneric = -2147467259;

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

[[noreturn]] void RaiseOpenError(EngineErrorStyle style, int32_t dao_number,
                                 const std::string& text) {
  if (style == EngineErrorStyle::kDao) throw Error(dao_number, "DAO.Workspace", text);
  throw Error(kAdoGeneric, "Microsoft JET Database Engine", text);
}

PasswordErrorStyle ToPasswordStyle(EngineErrorStyle style) {
  return style == EngineErrorStyle::kDao ? PasswordErrorStyle::kDao : PasswordErrorStyle::kAdo;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

MdbColumn* ColumnAt(MdbTableDef* table, unsigned int i) {
  return static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
}

// Positions of the named columns (exact names); -1 for a missing one.
std::vector<int> ColumnPositions(MdbTableDef* table, const std::vector<std::string>& names) {
  std::vector<int> positions;
  for (const std::string& name : names) {
    int found = -1;
    for (unsigned int i = 0; i < table->num_cols; ++i)
      if (name == ColumnAt(table, i)->name) found = static_cast<int>(i);
    positions.push_back(found);
  }
  return positions;
}

// Reads the named columns of every row; a missing column reads as the empty value.
std::vector<std::vector<Value>> ReadAllRows(MdbHandle* mdb, MdbTableDef* table,
                                            const std::vector<std::string>& names) {
  std::vector<int> positions = ColumnPositions(table, names);
  std::vector<int> present;
  for (int p : positions)
    if (p >= 0) present.push_back(p);
  RowReader reader(mdb, table, present);
  std::vector<std::vector<Value>> rows;
  while (reader.Next()) {
    std::vector<Value> row;
    int k = 0;
    for (int p : positions) row.push_back(p >= 0 ? reader.Get(k++) : Value());
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

void MdbTableDeleter::operator()(MdbTableDef* table) const {
  if (table) mdb_free_tabledef(table);
}

void MdbHandleCloser::operator()(MdbHandle* handle) const {
  if (handle) mdb_close(handle);
}

std::shared_ptr<AccessFile> AccessFile::Open(const std::string& path, EngineErrorStyle style,
                                             const std::string& password,
                                             const std::string& system_db) {
  if (path.empty() || !IsRegularFile(path))
    RaiseOpenError(style, kDaoFileNotFound, "Could not find file '" + path + "'.");
  const PasswordErrorStyle password_style = ToPasswordStyle(style);
  if (!system_db.empty()) CheckWorkgroupFile(system_db, password_style);
  // Every check happens before libmdb sees the file, so a refused password never gets as far
  // as an empty or partly read catalogue.
  Bytes page0 = ReadDefinitionPage(path, password_style);
  MdbHandlePtr mdb;
  if (IsEncryptedAccdb(page0)) {
    auto image =
        std::make_shared<std::vector<uint8_t>>(DecryptAccdb(path, password, password_style));
    mdb = MdbHandlePtr(mdb_open_buffer(image->data(), image->size(), MDB_NOFLAGS),
                       MdbHandleCloser{image});
  } else {
    CheckJetPassword(page0, password, password_style);
    mdb = MdbHandlePtr(mdb_open(path.c_str(), MDB_NOFLAGS));
  }
  if (!mdb)
    RaiseOpenError(style, kDaoUnrecognizedFormat, "Unrecognized database format '" + path + "'.");
  if (!mdb_read_catalog(mdb.get(), MDB_ANY))
    RaiseOpenError(style, kDaoUnrecognizedFormat,
                   "The database '" + path + "' cannot be read: it is damaged.");
  // Standard dashed form for GUID texts that libmdb produces itself.
  mdb_set_repid_fmt(mdb.get(), MDB_BRACES_4_2_2_8);
  return std::shared_ptr<AccessFile>(new AccessFile(path, std::move(mdb)));
}

AccessFile::AccessFile(std::string path, MdbHandlePtr mdb)
    : path_(std::move(path)), mdb_(std::move(mdb)) {}

AccessFile::~AccessFile() = default;

bool AccessFile::IsJet3() const {
  return mdb_->f->jet_version == MDB_VER_JET3;
}

MdbHandlePtr AccessFile::Clone() const {
  MdbHandlePtr clone(mdb_clone_handle(mdb_.get()), MdbHandleCloser{mdb_.get_deleter().image});
  if (!clone) throw Error(kAdoGeneric, "Microsoft JET Database Engine", "Out of memory.");
  return clone;
}

MdbTablePtr AccessFile::OpenTable(const std::string& name, MdbHandle* on) {
  MdbHandle* mdb = on ? on : mdb_.get();
  MdbCatalogEntry* entry = nullptr;
  for (unsigned int i = 0; i < mdb->num_catalog; ++i) {
    auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (e->object_type == MDB_TABLE && name == e->object_name) {
      entry = e;
      break;
    }
  }
  if (!entry) {
    for (unsigned int i = 0; i < mdb->num_catalog; ++i) {
      auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
      if (e->object_type == MDB_TABLE && EqualsIgnoreCase(name, e->object_name)) {
        entry = e;
        break;
      }
    }
  }
  if (!entry) return nullptr;
  MdbTablePtr table(mdb_read_table(entry));
  if (!table) return nullptr;
  if (!mdb_read_columns(table.get())) return nullptr;
  mdb_read_indices(table.get());
  return table;
}

const std::vector<AccessObject>& AccessFile::Objects() {
  if (objects_read_) return objects_;
  MdbHandlePtr clone = Clone();
  MdbTablePtr table = OpenTable("MSysObjects", clone.get());
  if (table) {
    auto rows = ReadAllRows(
        clone.get(), table.get(),
        {"Id", "ParentId", "Name", "Type", "Flags", "Connect", "ForeignName", "Database"});
    for (const auto& row : rows) {
      AccessObject o;
      o.id = SafeLng(row[0]);
      o.parent_id = SafeLng(row[1]);
      o.name = SafeStr(row[2]);
      o.type = SafeLng(row[3]);
      o.flags = static_cast<uint32_t>(SafeLng(row[4]));
      o.connect = SafeStr(row[5]);
      o.foreign_name = SafeStr(row[6]);
      o.database = SafeStr(row[7]);
      objects_.push_back(std::move(o));
    }
  }
  objects_read_ = true;
  return objects_;
}

const AccessObject* AccessFile::FindTableObject(const std::string& name) {
  const auto& objects = Objects();
  auto is_table = [](const AccessObject& o) { return o.type == 1 || o.type == 4 || o.type == 6; };
  for (const auto& o : objects)
    if (is_table(o) && o.name == name) return &o;
  for (const auto& o : objects)
    if (is_table(o) && EqualsIgnoreCase(o.name, name)) return &o;
  return nullptr;
}

const std::vector<ComplexColumnInfo>& AccessFile::ComplexColumns() {
  if (complex_read_) return complex_;
  complex_read_ = true;
  MdbHandlePtr clone = Clone();
  MdbTablePtr table = OpenTable("MSysComplexColumns", clone.get());
  if (!table) return complex_;
  auto rows =
      ReadAllRows(clone.get(), table.get(),
                  {"ColumnName", "ComplexTypeObjectID", "FlatTableID", "ConceptualTableID"});
  for (const auto& row : rows) {
    ComplexColumnInfo info;
    info.column_name = SafeStr(row[0]);
    int32_t type_id = SafeLng(row[1]);
    info.flat_table_id = SafeLng(row[2]);
    info.table_id = SafeLng(row[3]);
    for (const auto& o : Objects())
      if (o.id == type_id) info.type_name = o.name;
    complex_.push_back(std::move(info));
  }
  return complex_;
}

const std::vector<RelationshipColumn>& AccessFile::Relationships() {
  if (relationships_read_) return relationships_;
  relationships_read_ = true;
  MdbHandlePtr clone = Clone();
  MdbTablePtr table = OpenTable("MSysRelationships", clone.get());
  if (!table) return relationships_;
  auto rows = ReadAllRows(clone.get(), table.get(),
                          {"szRelationship", "szObject", "szColumn", "szReferencedObject",
                           "szReferencedColumn", "icolumn", "grbit"});
  for (const auto& row : rows) {
    RelationshipColumn r;
    r.name = SafeStr(row[0]);
    r.table = SafeStr(row[1]);
    r.column = SafeStr(row[2]);
    r.referenced_table = SafeStr(row[3]);
    r.referenced_column = SafeStr(row[4]);
    r.ordinal = SafeLng(row[5]);
    r.attributes = static_cast<uint32_t>(SafeLng(row[6]));
    relationships_.push_back(std::move(r));
  }
  std::stable_sort(relationships_.begin(), relationships_.end(),
                   [](const RelationshipColumn& a, const RelationshipColumn& b) {
                     return a.name != b.name ? a.name < b.name : a.ordinal < b.ordinal;
                   });
  return relationships_;
}

std::vector<uint8_t> AccessFile::ReadDefinitionPages(uint32_t first_page) {
  MdbHandlePtr clone = Clone();
  MdbHandle* mdb = clone.get();
  const size_t page_size = static_cast<size_t>(mdb->fmt->pg_size);
  std::vector<uint8_t> buffer;
  uint32_t page = first_page;
  for (int n = 0; page != 0 && n < 256; ++n) {
    if (mdb_read_pg(mdb, page) != static_cast<ssize_t>(page_size) || mdb->pg_buf[0] != 0x02) break;
    // Continuation pages repeat an 8-byte header before the data.
    const uint8_t* data = mdb->pg_buf;
    size_t skip = buffer.empty() ? 0 : 8;
    buffer.insert(buffer.end(), data + skip, data + page_size);
    page = Le32(data + 4);
  }
  return buffer;
}

AccessFile::RawDefinition AccessFile::ReadRawDefinition(MdbTableDef* table) {
  RawDefinition raw;
  std::vector<uint8_t> buf = ReadDefinitionPages(table->entry->table_pg);
  MdbFormatConstants* fmt = mdb_->fmt;
  const bool jet3 = IsJet3();
  auto fits = [&](size_t pos, size_t n) { return pos + n <= buf.size(); };
  if (!fits(fmt->tab_num_ridxs_offset, 4)) return raw;
  size_t num_cols = Le16(&buf[fmt->tab_num_cols_offset]);
  size_t num_idx = Le32(&buf[fmt->tab_num_idxs_offset]);
  size_t num_ridx = Le32(&buf[fmt->tab_num_ridxs_offset]);
  if (num_cols > 4096 || num_idx > 4096 || num_ridx > 4096) return raw;
  size_t pos = fmt->tab_cols_start_offset + num_ridx * fmt->tab_ridx_entry_size;
  for (size_t c = 0; c < num_cols; ++c) {
    size_t entry = pos + c * fmt->tab_col_entry_size;
    if (!fits(entry, fmt->tab_col_entry_size)) return raw;
    raw.column_flags.emplace_back(Le16(&buf[entry + fmt->col_num_offset]),
                                  buf[entry + fmt->col_flags_offset]);
    if (!jet3)
      raw.column_ext_flags.emplace_back(Le16(&buf[entry + fmt->col_num_offset]),
                                        buf[entry + fmt->col_flags_offset + 1]);
  }
  pos += num_cols * fmt->tab_col_entry_size;
  for (size_t c = 0; c < num_cols; ++c) {
    if (jet3) {
      if (!fits(pos, 1)) return raw;
      pos += 1 + buf[pos];
    } else {
      if (!fits(pos, 2)) return raw;
      pos += 2 + Le16(&buf[pos]);
    }
  }
  const size_t physical_size = jet3 ? 39 : 52;
  const size_t keys_at = jet3 ? 0 : 4;
  for (size_t r = 0; r < num_ridx; ++r) {
    if (!fits(pos, physical_size)) return raw;
    std::vector<int> keys;
    std::vector<bool> descending;
    for (int k = 0; k < 10; ++k) {
      int col_num = Le16(&buf[pos + keys_at + 3 * k]);
      if (col_num == 0xFFFF) continue;
      keys.push_back(col_num);
      // The order flags after the column number: bit 0x01 set for ascending.
      descending.push_back((buf[pos + keys_at + 3 * k + 2] & 0x01) == 0);
    }
    raw.physical_keys.push_back(std::move(keys));
    raw.physical_descending.push_back(std::move(descending));
    pos += physical_size;
  }
  const size_t logical_size = jet3 ? 20 : 28;
  const size_t base = jet3 ? 0 : 4;
  for (size_t l = 0; l < num_idx; ++l) {
    if (!fits(pos, logical_size)) return raw;
    RawDefinition::Logical logical;
    logical.number = static_cast<int>(Le32(&buf[pos + base]));
    logical.physical = static_cast<int>(Le32(&buf[pos + base + 4]));
    logical.type = buf[pos + base + 19];
    raw.logical.push_back(logical);
    pos += logical_size;
  }
  return raw;
}

}  // namespace ferrolyte
