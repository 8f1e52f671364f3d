#include "schema/access_scanner.h"

#include <set>

#include "platform/dao.h"
#include "platform/source_connection.h"
#include "schema/column_catalogue.h"
#include "schema/engine.h"
#include "schema/schema_document.h"
#include "support/connection_string.h"
#include "support/errors.h"
#include "support/safe.h"

namespace ferrolyte {
namespace {

constexpr uint32_t kSkippedTableBits = 0x80000000 | 0x2 | 0x40000000 | 0x20000000;

// Closes the database on every way out of the scan.
struct DatabaseCloser {
  std::shared_ptr<DaoDatabase> database;
  ~DatabaseCloser() {
    if (database) database->Close();
  }
};

std::vector<SchemaIndex> ReadIndexes(DaoTableDef& table, StatusOutput& status) {
  const std::vector<DaoIndex>* indexes = nullptr;
  try {
    indexes = &table.Indexes();
  } catch (const Error&) {
    indexes = nullptr;
  }
  if (!indexes || indexes->empty()) {
    status.AddStatusLine("  - Unable to read indexes");
    return {};
  }
  std::vector<SchemaIndex> read;
  for (const DaoIndex& index : *indexes) {
    SchemaIndex& to = read.emplace_back();
    to.name = index.name;
    to.primary = index.primary;
    to.unique = index.unique;
    to.ignore_nulls = index.ignore_nulls;
    to.foreign = index.foreign;
    for (size_t k = 0; k < index.fields.size(); ++k)
      to.fields.push_back({index.fields[k], k < index.descending.size() && index.descending[k]});
  }
  return read;
}

std::vector<SchemaField> ReadFields(DaoTableDef& table, const DictionaryPtr& catalogue,
                                    StatusOutput& status) {
  std::vector<SchemaField> read;
  for (const DaoField& field : table.Fields()) {
    SchemaField& to = read.emplace_back();
    to.name = field.name;
    to.type = field.type;
    to.size = field.size;
    if (field.type == kDaoCurrency || field.type == kDaoDecimal) {
      to.size = 19;
      to.scale = 4;
      DictionaryPtr column = catalogue ? catalogue->Section(field.name) : nullptr;
      if (column) {
        to.size = SafeLng(column->Item("NUMERIC_PRECISION"));
        to.scale = SafeLng(column->Item("NUMERIC_SCALE"));
      }
    }
    to.required = field.required;
    to.attributes = field.attributes;
    to.default_value = field.type == kDaoBoolean ? NormaliseBooleanDefault(field.default_value)
                                                 : field.default_value;
    to.expression = field.expression;
    to.description = field.description;
    to.validation_rule = field.validation_rule;
    to.validation_text = field.validation_text;
    to.allow_zero_length = field.allow_zero_length;
    if (field.type == 0) to.stored_type = field.stored_type;
    status.ProcessEvents();
  }
  return read;
}

// Only relationships between scanned tables: the rest (system tables, linked tables) could
// never become foreign keys of the destination. Relationships that cannot be read fail only
// a run that moves them: their reason is kept instead.
void ReadRelations(SchemaModel& model, DaoDatabase& database,
                   const std::set<std::string>& scanned) {
  std::vector<DaoRelation> relations;
  try {
    relations = database.Relations();
  } catch (const Error& e) {
    model.relations_unreadable = e.description();
  }
  for (const DaoRelation& relation : relations) {
    if (!scanned.count(relation.table) || !scanned.count(relation.foreign_table)) continue;
    SchemaRelation& to = model.relations.emplace_back();
    to.name = relation.name;
    to.table = relation.table;
    to.foreign_table = relation.foreign_table;
    to.attributes = relation.attributes;
    for (const DaoRelationField& pair : relation.fields)
      to.fields.push_back({pair.name, pair.foreign_name});
  }
}

// As with the relationships, queries that cannot be read leave their reason for a run that
// moves them.
void ReadQueries(SchemaModel& model, DaoDatabase& database) {
  std::vector<DaoQueryDef> queries;
  try {
    queries = database.QueryDefs();
  } catch (const Error& e) {
    model.queries_unreadable = e.description();
  }
  for (const DaoQueryDef& query : queries) {
    SchemaQuery& to = model.queries.emplace_back(SchemaQuery{query.name, query.flags, {}});
    for (const DaoQueryRow& r : query.rows)
      to.rows.push_back({r.attribute, r.flag, r.name1, r.name2, r.expression});
  }
}

}  // namespace

SchemaModel ScanAccessDatabase(const std::string& file_name, const std::string& password,
                               const std::string& user_name, const std::string& system_db,
                               const RunContext& ctx) {
  StatusOutput& status = ctx.status;
  std::shared_ptr<DaoEngine> engine = CreateDaoEngine(ctx.components);
  SchemaModel model;
  status.AddStatusLine("Connecting to source database");

  std::shared_ptr<DaoWorkspace> workspace;
  std::string connect;
  // The provider ignores a workgroup file for an .accdb but keeps its database password;
  // the engine must open it the same way.
  if (!system_db.empty() && !IsAccdbFile(file_name)) {
    engine->SetSystemDB(system_db);
    workspace = engine->CreateWorkspace("", user_name, password);
  } else {
    workspace = engine->Workspaces(0);
    if (!password.empty()) connect = "MS Access;PWD=" + ConnectionValue(password);
  }
  DictionaryPtr catalogue =
      ReadColumnCatalogue(file_name, system_db, user_name, password, ctx.components);
  DatabaseCloser database{workspace->OpenDatabase(file_name, false, true, connect)};

  status.AddStatusLine("Scanning table structures");
  std::set<std::string> scanned;
  std::vector<std::shared_ptr<DaoTableDef>> links;
  for (const std::shared_ptr<DaoTableDef>& table : database.database->TableDefs()) {
    const std::string& name = table->Name();
    DictionaryPtr table_catalogue = catalogue->Section(name);
    if (table->Attributes() & kDaoAttachedTable) links.push_back(table);
    if (table->Attributes() & kSkippedTableBits) continue;
    if (table->Fields().empty()) continue;
    status.AddStatusLine("  - Reading " + name);
    SchemaTable& to = model.tables.emplace_back();
    to.name = name;
    to.attributes = table->Attributes();
    to.indexes = ReadIndexes(*table, status);
    to.fields = ReadFields(*table, table_catalogue, status);
    const DaoTableProperties& properties = table->Properties();
    to.description = properties.description;
    to.validation_rule = properties.validation_rule;
    to.validation_text = properties.validation_text;
    scanned.insert(name);
    status.ProcessEvents();
  }
  ReadRelations(model, *database.database, scanned);
  ReadQueries(model, *database.database);
  // Tables linked from other Access files: the run may follow them to their back-ends.
  for (const auto& link : links)
    model.links.push_back({link->Name(), link->SourceTableName(), link->Connect()});
  status.AddStatusLine("Scanning completed");
  if (!ctx.temp_folder.empty()) SaveSchemaFile(model, ctx.temp_folder);
  return model;
}

}  // namespace ferrolyte
