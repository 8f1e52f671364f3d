// The DAO-style engine ("DAO.DBEngine.120" ... "DAO.DBEngine.35") over libmdb: workspaces,
// databases, table definitions with their fields and indexes, reporting DAO's own numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/components.h"

namespace ferrolyte {

// DAO field type codes this layer reports beyond the plain 1..15 range.
enum DaoType : int {
  kDaoBoolean = 1,
  kDaoCurrency = 5,
  kDaoDate = 8,
  kDaoText = 10,
  kDaoMemo = 12,
  kDaoBigInt = 16,
  kDaoChar = 18,
  kDaoDecimal = 20,
  kDaoAttachment = 101,
  kDaoComplexText = 109,
};

// Attribute words of table definitions and fields.
inline constexpr uint32_t kDaoHiddenObject = 0x1;
inline constexpr uint32_t kDaoSystemObject = 0x80000002;
inline constexpr uint32_t kDaoAttachedTable = 0x40000000;
inline constexpr uint32_t kDaoAttachedOdbc = 0x20000000;
inline constexpr uint32_t kDaoFixedField = 0x1;
inline constexpr uint32_t kDaoVariableField = 0x2;
inline constexpr uint32_t kDaoAutoIncrField = 0x10;
inline constexpr uint32_t kDaoUpdatableField = 0x20;
inline constexpr uint32_t kDaoHyperlinkField = 0x8000;
// Attribute words of relations.
inline constexpr uint32_t kDaoRelationDontEnforce = 0x2;
inline constexpr uint32_t kDaoRelationUpdateCascade = 0x100;
inline constexpr uint32_t kDaoRelationDeleteCascade = 0x1000;

struct DaoField {
  std::string name;
  int type = 0;         // 0 for a type code the engine does not know
  int stored_type = 0;  // the table definition's type code, for a field of type 0
  int32_t size = 0;
  bool required = false;
  std::string default_value;
  uint32_t attributes = 0;
  // Calculated columns: the expression whose results the column holds; empty otherwise.
  std::string expression;
  std::string description;  // the Description property
  // The ValidationRule and ValidationText properties; empty when there are none.
  std::string validation_rule;
  std::string validation_text;
  // The AllowZeroLength property; true when the field has none (only text fields have one).
  bool allow_zero_length = true;
};

// What a table definition holds beside its fields and indexes.
struct DaoTableProperties {
  std::string description;
  std::string validation_rule;
  std::string validation_text;
};

// One row of MSysQueries: the attribute (0 start, 1 kind, 2 parameter, 3 flags, 4 remote
// database, 5 table, 6 column, 7 join, 8 WHERE, 9 GROUP BY, 10 HAVING, 11 ORDER BY, 255 end)
// and its values.
struct DaoQueryRow {
  int attribute = 0;
  int flag = 0;
  std::string name1, name2, expression;
};

// A saved query: its catalogue entry and its MSysQueries rows in stored order.
struct DaoQueryDef {
  std::string name;
  uint32_t flags = 0;  // MSysObjects.Flags: 0 select, 16 crosstab, ... 128 union
  std::vector<DaoQueryRow> rows;
};

struct DaoIndex {
  std::string name;
  bool primary = false;
  bool unique = false;
  bool ignore_nulls = false;
  bool foreign = false;
  bool required = false;
  std::vector<std::string> fields;
  std::vector<bool> descending;  // one per field: stored in descending order
};

struct DaoRelationField {
  std::string name;          // in the referenced table
  std::string foreign_name;  // in the referencing table
};

// A relationship: the foreign table's fields refer to the key of the table.
struct DaoRelation {
  std::string name;
  std::string table;                     // referenced
  std::string foreign_table;             // referencing
  uint32_t attributes = 0;               // kDaoRelation... bits
  std::vector<DaoRelationField> fields;  // in key order
};

// A table definition; fields, indexes and the description are read on first use and may
// raise then.
class DaoTableDef {
 public:
  using Loader = std::function<void(std::vector<DaoField>&, std::vector<DaoIndex>&,
                                    DaoTableProperties& properties)>;
  DaoTableDef(std::string name, uint32_t attributes, Loader loader)
      : name_(std::move(name)), attributes_(attributes), loader_(std::move(loader)) {}
  // A definition with its contents given (tests, and tables whose contents are known).
  DaoTableDef(std::string name, uint32_t attributes, std::vector<DaoField> fields,
              std::vector<DaoIndex> indexes)
      : name_(std::move(name)),
        attributes_(attributes),
        fields_(std::move(fields)),
        indexes_(std::move(indexes)),
        loaded_(true) {}

  const std::string& Name() const { return name_; }
  uint32_t Attributes() const { return attributes_; }
  const std::vector<DaoField>& Fields() { return Load(), fields_; }
  const std::vector<DaoIndex>& Indexes() { return Load(), indexes_; }
  // The Description property; empty when there is none.
  const std::string& Description() { return Load(), properties_.description; }
  const DaoTableProperties& Properties() { return Load(), properties_; }
  // A linked table's Connect (";DATABASE=path" for an Access back-end, with ";PWD=..." when
  // the link keeps a password; "ODBC;..." for an ODBC link) and SourceTableName; empty for a
  // local table.
  const std::string& Connect() const { return connect_; }
  const std::string& SourceTableName() const { return source_table_name_; }
  void SetLink(std::string connect, std::string source_table_name) {
    connect_ = std::move(connect);
    source_table_name_ = std::move(source_table_name);
  }

 private:
  void Load();
  std::string name_;
  uint32_t attributes_;
  Loader loader_;
  std::vector<DaoField> fields_;
  std::vector<DaoIndex> indexes_;
  DaoTableProperties properties_;
  std::string connect_, source_table_name_;
  bool loaded_ = false;
};

class DaoDatabase {
 public:
  virtual ~DaoDatabase() = default;
  // The table definitions in the engine's collection order.
  virtual std::vector<std::shared_ptr<DaoTableDef>> TableDefs() = 0;
  // The relationships, by name.
  virtual std::vector<DaoRelation> Relations() { return {}; }
  // The saved queries in catalogue order, without Access's own hidden ones ("~sq_...").
  virtual std::vector<DaoQueryDef> QueryDefs() { return {}; }
  virtual void Close() = 0;
};

class DaoWorkspace {
 public:
  virtual ~DaoWorkspace() = default;
  // Opens a database; connect is "" or "MS Access;PWD=" + ConnectionValue(password).
  // Raises the engine's errors.
  virtual std::shared_ptr<DaoDatabase> OpenDatabase(const std::string& name, bool exclusive,
                                                    bool read_only, const std::string& connect) = 0;
  virtual void Close() {}
};

class DaoEngine : public Component {
 public:
  // The workgroup information file used by workspaces created afterwards.
  virtual void SetSystemDB(const std::string& path) { system_db_ = path; }
  const std::string& SystemDB() const { return system_db_; }
  // Item `index` of the Workspaces collection (0: the default workspace).
  virtual std::shared_ptr<DaoWorkspace> Workspaces(int index) = 0;
  virtual std::shared_ptr<DaoWorkspace> CreateWorkspace(const std::string& name,
                                                        const std::string& user,
                                                        const std::string& password) = 0;
  virtual void Close() {}

 private:
  std::string system_db_;
};

// The engine over libmdb that every "DAO.DBEngine.NN" class name creates.
std::shared_ptr<DaoEngine> CreateLibmdbEngine();

}  // namespace ferrolyte
