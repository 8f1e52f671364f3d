// The open Access file underneath both engine interfaces: the libmdb handle with its catalogue,
// the raw object list of MSysObjects, table definitions and the raw column flags libmdb hides.
#pragma once

#include <glib.h>
// glib must come first: mdbtools.h uses its types without including it.
#include <mdbtools.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/env.h"
#include "support/errors.h"
#include "support/value.h"

namespace ferrolyte {

class SourceReadFailure;

// Which interface's error numbers a failure to open reports.
enum class EngineErrorStyle { kDao, kAdo };

struct MdbTableDeleter {
  void operator()(MdbTableDef* table) const;
};
// A table definition with its columns and indexes read; freed with everything libmdb hangs on it.
using MdbTablePtr = std::unique_ptr<MdbTableDef, MdbTableDeleter>;

struct MdbHandleCloser {
  void operator()(MdbHandle* handle) const;
};
using MdbHandlePtr = std::unique_ptr<MdbHandle, MdbHandleCloser>;

// One row of MSysObjects, undecorated by libmdb (which masks Type with 0x7F).
struct AccessObject {
  int32_t id = 0;
  int32_t parent_id = 0;
  std::string name;
  int type = 0;  // 1 local table, 4 linked through ODBC, 6 linked Access table, 5 query, ...
  uint32_t flags = 0;
  std::string connect;
  std::string foreign_name;
  std::string database;
};

// One row of MSysComplexColumns together with what it points at.
struct ComplexColumnInfo {
  std::string column_name;
  int32_t table_id = 0;       // ConceptualTableID: the owning table's page
  int32_t flat_table_id = 0;  // the hidden table holding the values
  std::string type_name;      // MSysComplexType_Attachment, _Long, ...
};

// One relationship column of MSysRelationships.
struct RelationshipColumn {
  std::string name;               // szRelationship
  std::string table;              // szObject: the table holding the foreign key
  std::string column;             // szColumn
  std::string referenced_table;   // szReferencedObject
  std::string referenced_column;  // szReferencedColumn
  int ordinal = 0;                // icolumn
  // grbit: 0x2 integrity not enforced, 0x100 updates cascade, 0x1000 deletes cascade.
  uint32_t attributes = 0;
};

// Checks a table's or column's property blob (the LvProp of MSysObjects, "KKD" or "MR2")
// record by record, so that libmdb's parser is only handed one it can read. Returns nullptr,
// or the reason it cannot be read.
const char* CheckPropertyBlob(std::span<const uint8_t> blob);

class AccessFile {
 public:
  // Opens the file read-only and reads its catalogue. Raises the engine's errors: a missing
  // file, a file that is not an Access database, an unreadable one, a wrong database password
  // ("Not a valid password."), a missing or unusable workgroup file (system_db). A file
  // without database password opens whatever password is given; an encrypted .accdb is
  // decrypted page by page as it is read, never onto the disk. With an env, the pages are
  // read through it; without, libmdb reads a plain file itself.
  static std::shared_ptr<AccessFile> Open(const std::string& path, EngineErrorStyle style,
                                          const std::string& password = "",
                                          const std::string& system_db = "", Env* env = nullptr);
  ~AccessFile();
  AccessFile(const AccessFile&) = delete;
  AccessFile& operator=(const AccessFile&) = delete;

  const std::string& path() const { return path_; }
  EngineErrorStyle style() const { return style_; }
  MdbHandle* handle() const { return mdb_.get(); }
  // What the first failed read of the file met, for the errors that report it.
  const SourceReadFailure* read_failure() const { return read_failure_.get(); }
  bool IsJet3() const;
  // A second handle on the same file with its own page buffers (without property lists), so
  // that several tables can be read at the same time.
  MdbHandlePtr Clone() const;

  // Every row of MSysObjects, in stored order.
  const std::vector<AccessObject>& Objects();
  // The object of a table (type 1, 4 or 6) by name: exact match first, then ignoring case.
  const AccessObject* FindTableObject(const std::string& name);
  // The complex columns of all tables. A damaged MSysComplexColumns raises DamagedTable, on
  // every call.
  const std::vector<ComplexColumnInfo>& ComplexColumns();
  // The relationship columns, ordered by relationship name and column ordinal. A damaged
  // MSysRelationships raises DamagedTable, on every call.
  const std::vector<RelationshipColumn>& Relationships();
  // The named columns of every row of a table (system tables too), through a handle of its
  // own; a column the table lacks reads as the empty value. Empty when there is no such table.
  std::vector<std::vector<Value>> ReadRows(const std::string& table,
                                           const std::vector<std::string>& columns);

  // What one pass over every page of the file finds for the table of a definition page.
  struct TableCensus {
    int64_t live_rows = 0;  // entries neither deleted nor moved away, on the pages it owns
    // The first of those pages whose free-space count its row offset table does not give
    // (which a changed row count would cause); 0 when there is none.
    uint32_t inconsistent_page = 0;
  };
  // The census of the table whose definition starts on `table_page`; the pass over the file
  // is made on the first call, for every table at once. A failed read raises the engine's
  // disk error naming `table`.
  TableCensus Census(uint32_t table_page, const std::string& table);
  // The row count the table's definition stores; empty when its page cannot be read.
  std::optional<int64_t> StoredRowCount(uint32_t table_page) const;

  // Reads a local table's definition with columns and indexes from the given handle (this
  // file's when null). Null when there is no such local table; a definition that cannot be
  // decoded raises DamagedTable.
  MdbTablePtr OpenTable(const std::string& name, MdbHandle* on = nullptr);
  // What libmdb does not pass on from the raw table definition.
  struct RawDefinition {
    // Column flag byte by the column's col_num (0x01 fixed width, 0x04 auto-number,
    // 0x40 GUID auto-number, 0x80 hyperlink).
    std::vector<std::pair<int, uint8_t>> column_flags;
    // The extended flag byte by col_num (ACE; 0xC0 marks a calculated column).
    std::vector<std::pair<int, uint8_t>> column_ext_flags;
    // Key columns (col_num values) of each physical index, which of them are stored in
    // descending order, and its flags (0x01 unique, 0x02 ignore nulls, 0x08 required), which
    // are the index's own: logical indexes only name the physical one they use.
    std::vector<std::vector<int>> physical_keys;
    std::vector<std::vector<bool>> physical_descending;
    std::vector<uint8_t> physical_flags;
    // For each logical index: its number, the physical index it uses and its type.
    struct Logical {
      int number = 0;
      int physical = -1;
      int type = 0;
    };
    std::vector<Logical> logical;
  };
  // Parses the raw definition pages of a table read through OpenTable; raises DamagedTable
  // when they cannot be decoded.
  RawDefinition ReadRawDefinition(MdbTableDef* table);

 private:
  AccessFile(std::string path, MdbHandlePtr mdb, EngineErrorStyle style,
             std::shared_ptr<const SourceReadFailure> read_failure);
  // Reads MSysObjects into the handle's catalogue and objects_, checking every row: a
  // catalogue that cannot be read raises DamagedTable rather than losing tables.
  void ReadCatalog();
  // Checks an entry's definition pages, then has libmdb read the table and its columns.
  MdbTablePtr ReadTable(MdbCatalogEntry* entry, MdbHandle* mdb);

  std::string path_;
  MdbHandlePtr mdb_;
  EngineErrorStyle style_;
  std::shared_ptr<const SourceReadFailure> read_failure_;
  bool objects_read_ = false;
  std::vector<AccessObject> objects_;
  bool complex_read_ = false;
  std::vector<ComplexColumnInfo> complex_;
  std::optional<Error> complex_error_;
  bool relationships_read_ = false;
  std::vector<RelationshipColumn> relationships_;
  std::optional<Error> relationships_error_;
  std::once_flag census_taken_;
  std::unordered_map<uint32_t, TableCensus> census_;  // by definition page
};

}  // namespace ferrolyte
