#include "platform/libmdb_handle.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/access_rows.h"
#include "platform/decrypted_file.h"
#include "platform/jet_password.h"
#include "platform/office_crypto.h"
#include "support/errors.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

constexpr int32_t kDaoFileNotFound = errc::kCouldNotFindFile.number;
constexpr int32_t kDaoUnrecognizedFormat = errc::kUnrecognizedFormat.number;
constexpr int32_t kAdoGeneric = errc::kUnspecified.number;

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
                                            const std::vector<std::string>& names,
                                            EngineErrorStyle style,
                                            const SourceReadFailure* failure) {
  std::vector<int> positions = ColumnPositions(table, names);
  std::vector<int> present;
  for (int p : positions)
    if (p >= 0) present.push_back(p);
  RowReader reader(mdb, table, present, style, failure);
  std::vector<std::vector<Value>> rows;
  while (reader.Next()) {
    std::vector<Value> row;
    int k = 0;
    for (int p : positions) row.push_back(p >= 0 ? reader.Get(k++) : Value());
    rows.push_back(std::move(row));
  }
  return rows;
}

constexpr uint8_t kDefinitionPageType = 0x02;
constexpr uint32_t kCatalogPage = 2;
// More pages than any table definition needs: a longer chain is a loop.
constexpr size_t kMaxDefinitionPages = 256;
// Access names have at most 64 characters.
constexpr size_t kMaxNameBytesJet4 = 128;
constexpr size_t kMaxNameBytesJet3 = 64;
constexpr size_t kMaxIndexes = 1000;

// The definition page chain joined into one buffer: the first page whole, continuation pages
// after their 8-byte header. Uses the handle's page buffer.
std::vector<uint8_t> JoinDefinitionPages(MdbHandle* mdb, uint32_t first_page,
                                         EngineErrorStyle style, const SourceReadFailure* failure,
                                         const std::string& table) {
  const size_t page_size = static_cast<size_t>(mdb->fmt->pg_size);
  std::vector<uint8_t> buffer;
  std::vector<uint32_t> visited;
  for (uint32_t page = first_page; page != 0;) {
    const std::string where = "definition page " + std::to_string(page);
    if (std::find(visited.begin(), visited.end(), page) != visited.end() ||
        visited.size() >= kMaxDefinitionPages)
      throw DamagedStructure(where + ": the definition's page chain loops");
    visited.push_back(page);
    if (mdb_read_pg(mdb, page) != static_cast<ssize_t>(page_size)) {
      RaiseIfReadFailed(mdb, failure, style, table, where);
      throw DamagedStructure(where + ": the page is not in the file");
    }
    if (mdb->pg_buf[0] != kDefinitionPageType)
      throw DamagedStructure(where + ": not a table definition page");
    const size_t skip = buffer.empty() ? 0 : 8;
    buffer.insert(buffer.end(), mdb->pg_buf + skip, mdb->pg_buf + page_size);
    page = Le32(mdb->pg_buf + 4);
  }
  return buffer;
}

// The bytes of the usage map row `pg_row` (page << 8 | row) points at. Uses the handle's page
// buffer.
std::vector<uint8_t> ReadUsageMapRow(MdbHandle* mdb, uint32_t pg_row, EngineErrorStyle style,
                                     const SourceReadFailure* failure, const std::string& table) {
  const std::string where =
      "usage map page " + std::to_string(pg_row >> 8) + ", row " + std::to_string(pg_row & 0xFF);
  const size_t page_size = static_cast<size_t>(mdb->fmt->pg_size);
  if (mdb_read_pg(mdb, pg_row >> 8) != static_cast<ssize_t>(page_size)) {
    RaiseIfReadFailed(mdb, failure, style, table, where);
    throw DamagedStructure(where + ": the page is not in the file");
  }
  const std::span<const uint8_t> page(mdb->pg_buf, page_size);
  const PageFormat format{page_size, static_cast<size_t>(mdb->fmt->row_count_offset)};
  RowSlot slot;
  if (const char* bad = LocateRow(page, format, pg_row & 0xFF, slot))
    throw DamagedStructure(where + ": " + bad);
  if (slot.kind != RowKind::kLive) throw DamagedStructure(where + ": the row is deleted");
  return std::vector<uint8_t>(page.begin() + static_cast<ptrdiff_t>(slot.start),
                              page.begin() + static_cast<ptrdiff_t>(slot.start + slot.size));
}

// A joined definition read front to back; each step checks that what it reads fits.
struct DefinitionCursor {
  const std::vector<uint8_t>& buf;
  const std::string where;
  const bool jet3;
  size_t pos = 0;

  // Throws DamagedStructure unless n bytes from `at` lie inside the definition.
  void Need(size_t at, size_t n, const char* what) const {
    if (at > buf.size() || n > buf.size() - at)
      throw DamagedStructure(where + what + " run past the end of the definition");
  }
  // Steps over `count` length-prefixed names, each 1..max_name bytes long.
  void SkipNames(size_t count, const char* what) {
    const size_t max_name = jet3 ? kMaxNameBytesJet3 : kMaxNameBytesJet4;
    for (size_t c = 0; c < count; ++c) {
      Need(pos, jet3 ? 1 : 2, what);
      const size_t length = jet3 ? buf[pos] : Le16(&buf[pos]);
      pos += jet3 ? 1 : 2;
      if (length == 0 || length > max_name)
        throw DamagedStructure(where + what + " has a length out of range");
      Need(pos, length, what);
      pos += length;
    }
  }
};

// Reads the column entries into raw's flags; returns their column numbers, each distinct, and
// rejects fixed columns whose size disagrees with their type or that end past a row.
std::vector<int> ReadColumnEntries(DefinitionCursor& cur, const MdbFormatConstants& fmt,
                                   size_t num_cols, AccessFile::RawDefinition& raw) {
  const std::vector<uint8_t>& buf = cur.buf;
  cur.Need(cur.pos, num_cols * fmt.tab_col_entry_size, "the column entries");
  std::vector<int> col_nums;
  for (size_t c = 0; c < num_cols; ++c) {
    const uint8_t* e = &buf[cur.pos + c * fmt.tab_col_entry_size];
    const int type = e[0];
    const int col_num = e[fmt.col_num_offset];
    const uint8_t flags = e[fmt.col_flags_offset];
    if (std::find(col_nums.begin(), col_nums.end(), col_num) != col_nums.end())
      throw DamagedStructure(cur.where + "two columns share one position in the row");
    col_nums.push_back(col_num);
    if ((flags & 0x01) && type != MDB_BOOL) {
      const int width = FixedWidthOf(type);
      const size_t size = Le16(e + fmt.col_size_offset);
      if (width != 0 && size != static_cast<size_t>(width))
        throw DamagedStructure(cur.where + "column " + std::to_string(c) +
                               " has a size that does not match its type");
      if (Le16(e + fmt.tab_col_offset_fixed) + size > static_cast<size_t>(fmt.pg_size))
        throw DamagedStructure(cur.where + "column " + std::to_string(c) +
                               " lies past the end of a row");
    }
    raw.column_flags.emplace_back(Le16(e + fmt.col_num_offset), flags);
    if (!cur.jet3)
      raw.column_ext_flags.emplace_back(Le16(e + fmt.col_num_offset), e[fmt.col_flags_offset + 1]);
  }
  cur.pos += num_cols * fmt.tab_col_entry_size;
  return col_nums;
}

// Reads the physical index entries' keys, orders and flags into raw; every key must name one
// of `col_nums`.
void ReadPhysicalIndexes(DefinitionCursor& cur, size_t num_ridx, const std::vector<int>& col_nums,
                         AccessFile::RawDefinition& raw) {
  const std::vector<uint8_t>& buf = cur.buf;
  const size_t physical_size = cur.jet3 ? 39 : 52;
  const size_t keys_at = cur.jet3 ? 0 : 4;
  cur.Need(cur.pos, num_ridx * physical_size, "the index entries");
  for (size_t r = 0; r < num_ridx; ++r) {
    const size_t pos = cur.pos;
    std::vector<int> keys;
    std::vector<bool> descending;
    for (int k = 0; k < 10; ++k) {
      const int col_num = Le16(&buf[pos + keys_at + 3 * k]);
      if (col_num == 0xFFFF) continue;
      if (std::find(col_nums.begin(), col_nums.end(), col_num) == col_nums.end())
        throw DamagedStructure(cur.where + "an index names a column the table does not have");
      keys.push_back(col_num);
      // The order flags after the column number: bit 0x01 set for ascending.
      descending.push_back((buf[pos + keys_at + 3 * k + 2] & 0x01) == 0);
    }
    raw.physical_keys.push_back(std::move(keys));
    raw.physical_descending.push_back(std::move(descending));
    // After the keys: the usage map and first page, and in Jet 4 four bytes more.
    raw.physical_flags.push_back(buf[pos + keys_at + 30 + 8 + (cur.jet3 ? 0 : 4)]);
    cur.pos += physical_size;
  }
}

// Reads the logical index entries into raw; each must point at one of the num_ridx physical
// entries.
void ReadLogicalIndexes(DefinitionCursor& cur, size_t num_idx, size_t num_ridx,
                        AccessFile::RawDefinition& raw) {
  const std::vector<uint8_t>& buf = cur.buf;
  const size_t logical_size = cur.jet3 ? 20 : 28;
  const size_t base = cur.jet3 ? 0 : 4;
  cur.Need(cur.pos, num_idx * logical_size, "the index entries");
  for (size_t l = 0; l < num_idx; ++l) {
    AccessFile::RawDefinition::Logical logical;
    logical.number = static_cast<int>(Le32(&buf[cur.pos + base]));
    logical.physical = static_cast<int>(Le32(&buf[cur.pos + base + 4]));
    logical.type = buf[cur.pos + base + 19];
    if (logical.physical < 0 || static_cast<size_t>(logical.physical) >= num_ridx)
      throw DamagedStructure(cur.where + "an index points at an index entry that does not exist");
    raw.logical.push_back(logical);
    cur.pos += logical_size;
  }
}

// Walks a joined definition, checking that every count, entry and name fits and that the
// columns and indexes are consistent. Throws DamagedStructure.
AccessFile::RawDefinition ParseDefinition(const std::vector<uint8_t>& buf,
                                          const MdbFormatConstants& fmt, bool jet3,
                                          uint32_t first_page) {
  AccessFile::RawDefinition raw;
  DefinitionCursor cur{buf, "definition page " + std::to_string(first_page) + ": ", jet3};
  cur.Need(0, fmt.tab_cols_start_offset, "the table's counts");
  const size_t num_cols = Le16(&buf[fmt.tab_num_cols_offset]);
  const size_t num_idx = Le32(&buf[fmt.tab_num_idxs_offset]);
  const size_t num_ridx = Le32(&buf[fmt.tab_num_ridxs_offset]);
  if (num_idx > kMaxIndexes || num_ridx > kMaxIndexes)
    throw DamagedStructure(cur.where + "the index count is out of range");
  cur.pos = fmt.tab_cols_start_offset + num_ridx * fmt.tab_ridx_entry_size;
  const std::vector<int> col_nums = ReadColumnEntries(cur, fmt, num_cols, raw);
  cur.SkipNames(num_cols, "a column name");
  ReadPhysicalIndexes(cur, num_ridx, col_nums, raw);
  ReadLogicalIndexes(cur, num_idx, num_ridx, raw);
  cur.SkipNames(num_idx, "an index name");
  return raw;
}

// The minimum bytes libmdb reads for a property value of the given type.
size_t PropertyValueSize(int dtype) {
  if (dtype == MDB_BOOL) return 1;
  return static_cast<size_t>(FixedWidthOf(dtype));
}

const char* CheckPropertyList(const uint8_t* body, size_t size, size_t& names) {
  names = 0;
  for (size_t p = 0; p < size;) {
    if (size - p < 2) return "a property name runs past its block";
    const size_t length = Le16(body + p);
    p += 2;
    if (length > size - p) return "a property name runs past its block";
    p += length;
    ++names;
  }
  return nullptr;
}

const char* CheckPropertyValues(const uint8_t* body, size_t size, size_t names) {
  if (size < 6) return "a property block is too short";
  const size_t name_length = Le16(body + 4);
  if (name_length > size - 6) return "a property block's name runs past the block";
  for (size_t p = 6 + name_length; p < size;) {
    if (size - p < 8) return "a property value runs past its block";
    const size_t length = Le16(body + p);
    const int dtype = body[p + 3];
    const size_t element = Le16(body + p + 4);
    const size_t value_size = Le16(body + p + 6);
    if (element >= names) return "a property names no known property";
    if (length < 8 + value_size || length > size - p) return "a property value runs past its block";
    if (value_size < PropertyValueSize(dtype)) return "a property value is shorter than its type";
    p += length;
  }
  return nullptr;
}

// libmdb opens a handle only on a path or a buffer: this one is opened on the plain first
// page, then reads every page through the stream instead (libmdb closes it with the handle).
MdbHandlePtr OpenOnStream(StreamPtr stream) {
  uint8_t page0[kAccdbPageSize];
  const size_t length = std::fread(page0, 1, sizeof page0, stream.get());
  MdbHandlePtr mdb(mdb_open_buffer(page0, length, MDB_NOFLAGS));
  if (!mdb) return mdb;
  std::fclose(mdb->f->stream);
  mdb->f->stream = stream.release();
  return mdb;
}

}  // namespace

const char* CheckPropertyBlob(std::span<const uint8_t> blob) {
  if (blob.size() < 4 ||
      (std::memcmp(blob.data(), "KKD", 4) != 0 && std::memcmp(blob.data(), "MR2", 4) != 0))
    return "the property list is of an unknown kind";
  bool have_names = false;
  size_t names = 0;
  for (size_t pos = 4; pos < blob.size();) {
    if (blob.size() - pos < 6) return "a property record runs past the list";
    const size_t length = Le32(blob.data() + pos);
    const int type = Le16(blob.data() + pos + 4);
    if (length < 6 || length > blob.size() - pos) return "a property record runs past the list";
    const uint8_t* body = blob.data() + pos + 6;
    const size_t body_size = length - 6;
    if (type == 0x80) {
      if (const char* bad = CheckPropertyList(body, body_size, names)) return bad;
      have_names = true;
    } else if (type <= 2) {
      if (!have_names) return "property values come before their names";
      if (const char* bad = CheckPropertyValues(body, body_size, names)) return bad;
    }
    pos += length;
  }
  return nullptr;
}

void MdbTableDeleter::operator()(MdbTableDef* table) const {
  if (table) mdb_free_tabledef(table);
}

void MdbHandleCloser::operator()(MdbHandle* handle) const {
  if (handle) mdb_close(handle);
}

std::shared_ptr<AccessFile> AccessFile::Open(const std::string& path, EngineErrorStyle style,
                                             const std::string& password,
                                             const std::string& system_db, Env* env) {
  if (path.empty() || !IsRegularFile(path))
    RaiseOpenError(style, kDaoFileNotFound, "Could not find file '" + path + "'.");
  const PasswordErrorStyle password_style = ToPasswordStyle(style);
  if (!system_db.empty()) CheckWorkgroupFile(system_db, password_style);
  // Every check happens before libmdb sees the file, so a refused password never gets as far
  // as an empty or partly read catalogue.
  Bytes page0 = ReadDefinitionPage(path, password_style);
  auto failure = std::make_shared<SourceReadFailure>(path);
  MdbHandlePtr mdb;
  if (IsEncryptedAccdb(page0)) {
    mdb = OpenOnStream(
        OpenDecryptedFile(env ? *env : SystemEnv(), path, password, password_style, failure));
  } else {
    CheckJetPassword(page0, password, password_style);
    if (env) {
      StreamPtr stream = OpenFileStream(*env, path, failure);
      if (!stream) RaiseOpenError(style, kDaoFileNotFound, "Could not find file '" + path + "'.");
      mdb = OpenOnStream(std::move(stream));
    } else {
      mdb = MdbHandlePtr(mdb_open(path.c_str(), MDB_NOFLAGS));
    }
  }
  if (!mdb)
    RaiseOpenError(style, kDaoUnrecognizedFormat, "Unrecognized database format '" + path + "'.");
  // Standard dashed form for GUID texts that libmdb produces itself.
  mdb_set_repid_fmt(mdb.get(), MDB_BRACES_4_2_2_8);
  std::shared_ptr<AccessFile> file(new AccessFile(path, std::move(mdb), style, std::move(failure)));
  file->ReadCatalog();
  return file;
}

AccessFile::AccessFile(std::string path, MdbHandlePtr mdb, EngineErrorStyle style,
                       std::shared_ptr<const SourceReadFailure> read_failure)
    : path_(std::move(path)),
      mdb_(std::move(mdb)),
      style_(style),
      read_failure_(std::move(read_failure)) {}

void AccessFile::ReadCatalog() {
  MdbHandle* mdb = mdb_.get();
  // libmdb's own catalogue reading skips rows it cannot crack and parses property lists
  // unchecked; this one reads MSysObjects through the checked reader.
  MdbCatalogEntry msys{};
  msys.mdb = mdb;
  msys.object_type = MDB_TABLE;
  msys.table_pg = kCatalogPage;
  std::snprintf(msys.object_name, sizeof msys.object_name, "%s", "MSysObjects");
  MdbTablePtr table = ReadTable(&msys, mdb);
  auto rows = ReadAllRows(
      mdb, table.get(),
      {"Id", "ParentId", "Name", "Type", "Flags", "Connect", "ForeignName", "Database", "LvProp"},
      style_, read_failure_.get());
  if (mdb->catalog) mdb_free_catalog(mdb);
  mdb->catalog = g_ptr_array_new();
  mdb->num_catalog = 0;
  for (const auto& row : rows) {
    // Every object has an id, a name and a type: a row without them is a damaged
    // catalogue (its definition points at the wrong bytes), not a nameless table.
    auto absent = [](const Value& v) { return v.IsEmpty() || v.IsNull(); };
    if (absent(row[0]) || absent(row[2]) || absent(row[3]) || SafeStr(row[2]).empty())
      RaiseDamagedTable(style_, "MSysObjects",
                        "definition page 2: an object has no id, name or type");
    AccessObject o;
    o.id = SafeLng(row[0]);
    o.parent_id = SafeLng(row[1]);
    o.name = SafeStr(row[2]);
    o.type = SafeLng(row[3]);
    o.flags = static_cast<uint32_t>(SafeLng(row[4]));
    o.connect = SafeStr(row[5]);
    o.foreign_name = SafeStr(row[6]);
    o.database = SafeStr(row[7]);
    auto* entry = static_cast<MdbCatalogEntry*>(g_malloc0(sizeof(MdbCatalogEntry)));
    entry->mdb = mdb;
    std::snprintf(entry->object_name, sizeof entry->object_name, "%s", o.name.c_str());
    entry->object_type = o.type & 0x7F;
    entry->table_pg = static_cast<uint32_t>(o.id) & 0x00FFFFFF;
    entry->flags = static_cast<int>(o.flags);
    g_ptr_array_add(mdb->catalog, entry);
    ++mdb->num_catalog;
    // Only tables' properties (Required, DefaultValue ...) are ever looked at.
    const Value& blob = row[8];
    if (entry->object_type == MDB_TABLE && blob.kind() == Value::Kind::kBytes &&
        !blob.AsBytes().empty()) {
      const Bytes& bytes = blob.AsBytes();
      if (const char* bad = CheckPropertyBlob(bytes))
        RaiseDamagedTable(style_, o.name, std::string("its properties: ") + bad);
      entry->props = mdb_kkd_to_props(mdb, const_cast<uint8_t*>(bytes.data()), bytes.size());
    }
    objects_.push_back(std::move(o));
  }
  objects_read_ = true;
}

MdbTablePtr AccessFile::ReadTable(MdbCatalogEntry* entry, MdbHandle* mdb) {
  const std::string name = entry->object_name;
  const auto first_page = static_cast<uint32_t>(entry->table_pg);
  const std::string page = "definition page " + std::to_string(first_page);
  std::vector<uint8_t> definition;
  try {
    definition = JoinDefinitionPages(mdb, first_page, style_, read_failure_.get(), name);
    ParseDefinition(definition, *mdb->fmt, IsJet3(), first_page);
  } catch (const DamagedStructure& e) {
    RaiseDamagedTable(style_, name, e.what());
  }
  std::vector<uint8_t> usage_map;
  try {
    usage_map = ReadUsageMapRow(mdb, Le32(&definition[mdb->fmt->tab_usage_map_offset]), style_,
                                read_failure_.get(), name);
  } catch (const DamagedStructure& e) {
    RaiseDamagedTable(style_, name, page + ": " + e.what());
  }
  MdbTablePtr table(mdb_read_table(entry));
  RaiseIfReadFailed(mdb, read_failure_.get(), style_, name, page);
  if (!table) RaiseDamagedTable(style_, name, page + ": its usage maps cannot be found");
  // libmdb measures the row from the entry before it, which a deleted entry may put at the
  // page's end; the rows are walked through the map as the row reader locates it.
  g_free(table->usage_map);
  table->usage_map = static_cast<unsigned char*>(g_memdup2(usage_map.data(), usage_map.size()));
  table->map_sz = static_cast<int>(usage_map.size());
  const bool columns_read = mdb_read_columns(table.get()) != nullptr;
  RaiseIfReadFailed(mdb, read_failure_.get(), style_, name, page);
  if (!columns_read) RaiseDamagedTable(style_, name, page + ": its columns cannot be read");
  return table;
}

AccessFile::~AccessFile() = default;

bool AccessFile::IsJet3() const {
  return mdb_->f->jet_version == MDB_VER_JET3;
}

MdbHandlePtr AccessFile::Clone() const {
  MdbHandlePtr clone(mdb_clone_handle(mdb_.get()));
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
  MdbTablePtr table = ReadTable(entry, mdb);
  mdb_read_indices(table.get());
  RaiseIfReadFailed(mdb, read_failure_.get(), style_, table->name,
                    "definition page " + std::to_string(entry->table_pg));
  return table;
}

const std::vector<AccessObject>& AccessFile::Objects() {
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
  if (complex_error_) throw *complex_error_;
  if (complex_read_) return complex_;
  try {
    MdbHandlePtr clone = Clone();
    MdbTablePtr table = OpenTable("MSysComplexColumns", clone.get());
    if (table) {
      auto rows =
          ReadAllRows(clone.get(), table.get(),
                      {"ColumnName", "ComplexTypeObjectID", "FlatTableID", "ConceptualTableID"},
                      style_, read_failure_.get());
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
    }
  } catch (const Error& e) {
    // Remembered, so that no later call takes the columns for absent.
    complex_.clear();
    complex_error_ = e;
    throw;
  }
  complex_read_ = true;
  return complex_;
}

const std::vector<RelationshipColumn>& AccessFile::Relationships() {
  if (relationships_error_) throw *relationships_error_;
  if (relationships_read_) return relationships_;
  try {
    MdbHandlePtr clone = Clone();
    MdbTablePtr table = OpenTable("MSysRelationships", clone.get());
    if (table) {
      auto rows = ReadAllRows(clone.get(), table.get(),
                              {"szRelationship", "szObject", "szColumn", "szReferencedObject",
                               "szReferencedColumn", "icolumn", "grbit"},
                              style_, read_failure_.get());
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
    }
  } catch (const Error& e) {
    relationships_.clear();
    relationships_error_ = e;
    throw;
  }
  std::stable_sort(relationships_.begin(), relationships_.end(),
                   [](const RelationshipColumn& a, const RelationshipColumn& b) {
                     return a.name != b.name ? a.name < b.name : a.ordinal < b.ordinal;
                   });
  relationships_read_ = true;
  return relationships_;
}

AccessFile::TableCensus AccessFile::Census(uint32_t table_page, const std::string& table) {
  std::call_once(census_taken_, [&] {
    // An encrypted file's plain content is as long as the file.
    struct stat st {};
    const uint64_t bytes = stat(path_.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    MdbHandlePtr clone = Clone();
    const size_t page_size = static_cast<size_t>(clone->fmt->pg_size);
    const PageFormat format{page_size, static_cast<size_t>(clone->fmt->row_count_offset)};
    constexpr uint8_t kDataPage = 0x01;
    for (uint64_t page = 1; page < bytes / page_size; ++page) {
      if (mdb_read_pg(clone.get(), static_cast<unsigned long>(page)) !=
          static_cast<ssize_t>(page_size)) {
        RaiseIfReadFailed(clone.get(), read_failure_.get(), style_, table,
                          "page " + std::to_string(page));
        break;
      }
      const std::span<const uint8_t> bytes_of(clone->pg_buf, page_size);
      if (bytes_of[0] != kDataPage) continue;
      unsigned live = 0;
      bool consistent = true;
      // A page whose offset table does not fit is the walk's to report, not counted here.
      if (CountLiveRows(bytes_of, format, live, consistent)) continue;
      TableCensus& census = census_[Le32(clone->pg_buf + 4)];
      census.live_rows += live;
      if (!consistent && census.inconsistent_page == 0)
        census.inconsistent_page = static_cast<uint32_t>(page);
    }
  });
  auto found = census_.find(table_page);
  return found == census_.end() ? TableCensus{} : found->second;
}

std::optional<int64_t> AccessFile::StoredRowCount(uint32_t table_page) const {
  MdbHandlePtr clone = Clone();
  if (mdb_read_pg(clone.get(), table_page) != clone->fmt->pg_size ||
      clone->pg_buf[0] != kDefinitionPageType)
    return std::nullopt;
  return Le32(clone->pg_buf + clone->fmt->tab_num_rows_offset);
}

std::vector<std::vector<Value>> AccessFile::ReadRows(const std::string& name,
                                                     const std::vector<std::string>& columns) {
  MdbHandlePtr clone = Clone();
  MdbTablePtr table = OpenTable(name, clone.get());
  if (!table) return {};
  return ReadAllRows(clone.get(), table.get(), columns, style_, read_failure_.get());
}

AccessFile::RawDefinition AccessFile::ReadRawDefinition(MdbTableDef* table) {
  MdbHandlePtr clone = Clone();
  const auto first = static_cast<uint32_t>(table->entry->table_pg);
  try {
    return ParseDefinition(
        JoinDefinitionPages(clone.get(), first, style_, read_failure_.get(), table->name),
        *mdb_->fmt, IsJet3(), first);
  } catch (const DamagedStructure& e) {
    RaiseDamagedTable(style_, table->name, e.what());
  }
}

}  // namespace ferrolyte
