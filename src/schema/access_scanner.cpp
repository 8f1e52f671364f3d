#include "schema/access_scanner.h"

#include <set>

#include "platform/dao.h"
#include "platform/source_connection.h"
#include "schema/column_catalogue.h"
#include "schema/engine.h"
#include "schema/query_model.h"
#include "schema/schema_document.h"
#include "support/connection_string.h"
#include "support/errors.h"
#include "support/safe.h"

namespace ferrolyte {
namespace {

constexpr uint32_t kSkippedTableBits = 0x80000000 | 0x2 | 0x40000000 | 0x20000000;

const char* Flag(bool value) {
  return value ? "1" : "0";
}

// Closes the database on every way out of the scan.
struct DatabaseCloser {
  std::shared_ptr<DaoDatabase> database;
  ~DatabaseCloser() {
    if (database) database->Close();
  }
};

void AppendIndexes(pugi::xml_node table_node, DaoTableDef& table, StatusOutput& status) {
  pugi::xml_node indexes_node = table_node.append_child("Indexes");
  const std::vector<DaoIndex>* indexes = nullptr;
  try {
    indexes = &table.Indexes();
  } catch (const Error&) {
    indexes = nullptr;
  }
  if (!indexes || indexes->empty()) {
    status.AddStatusLine("  - Unable to read indexes");
    return;
  }
  for (const DaoIndex& index : *indexes) {
    pugi::xml_node node = indexes_node.append_child("Index");
    AppendTextElement(node, "Name", index.name);
    AppendTextElement(node, "Primary", Flag(index.primary));
    AppendTextElement(node, "Unique", Flag(index.unique));
    AppendTextElement(node, "IgnoreNulls", Flag(index.ignore_nulls));
    AppendTextElement(node, "Foreign", Flag(index.foreign));
    pugi::xml_node fields = node.append_child("Fields");
    for (size_t k = 0; k < index.fields.size(); ++k) {
      pugi::xml_node field = fields.append_child("Field");
      AppendTextElement(field, "Name", index.fields[k]);
      AppendTextElement(field, "Descending",
                        Flag(k < index.descending.size() && index.descending[k]));
    }
  }
}

void AppendFields(pugi::xml_node table_node, DaoTableDef& table, const DictionaryPtr& catalogue,
                  StatusOutput& status) {
  pugi::xml_node fields_node = table_node.append_child("Fields");
  for (const DaoField& field : table.Fields()) {
    std::string default_value = field.default_value;
    if (field.type == kDaoBoolean) default_value = NormaliseBooleanDefault(default_value);
    int32_t size = field.size;
    int32_t scale = 0;
    if (field.type == kDaoCurrency || field.type == kDaoDecimal) {
      size = 19;
      scale = 4;
      DictionaryPtr column = catalogue ? catalogue->Section(field.name) : nullptr;
      if (column) {
        size = SafeLng(column->Item("NUMERIC_PRECISION"));
        scale = SafeLng(column->Item("NUMERIC_SCALE"));
      }
    }
    pugi::xml_node node = fields_node.append_child("Field");
    AppendTextElement(node, "Name", field.name);
    AppendTextElement(node, "Required", Flag(field.required));
    AppendTextElement(node, "DefaultValue", default_value);
    AppendTextElement(node, "Size", std::to_string(size));
    AppendTextElement(node, "Scale", std::to_string(scale));
    AppendTextElement(node, "Type", std::to_string(field.type));
    AppendAttributesElement(node, field.attributes);
    // After the elements every reader expects: the values of a calculated column are copied
    // as they are stored; its expression stays on record.
    AppendTextElement(node, "Expression", field.expression);
    AppendTextElement(node, "Description", field.description);
    AppendTextElement(node, "ValidationRule", field.validation_rule);
    AppendTextElement(node, "ValidationText", field.validation_text);
    AppendTextElement(node, "AllowZeroLength", Flag(field.allow_zero_length));
    if (field.type == 0) AppendTextElement(node, "StoredType", std::to_string(field.stored_type));
    status.ProcessEvents();
  }
}

// Only relationships between scanned tables: the rest (system tables, linked tables) could
// never become foreign keys of the destination. Relationships that cannot be read fail only
// a run that moves them: the reason is kept in an Unreadable element.
void AppendRelations(pugi::xml_node root, DaoDatabase& database,
                     const std::set<std::string>& scanned) {
  pugi::xml_node relations_node = root.append_child("Relations");
  std::vector<DaoRelation> relations;
  try {
    relations = database.Relations();
  } catch (const Error& e) {
    AppendTextElement(relations_node, "Unreadable", e.description());
  }
  for (const DaoRelation& relation : relations) {
    if (!scanned.count(relation.table) || !scanned.count(relation.foreign_table)) continue;
    pugi::xml_node node = relations_node.append_child("Relation");
    AppendTextElement(node, "Name", relation.name);
    AppendTextElement(node, "Table", relation.table);
    AppendTextElement(node, "ForeignTable", relation.foreign_table);
    AppendAttributesElement(node, relation.attributes);
    pugi::xml_node fields = node.append_child("Fields");
    for (const DaoRelationField& pair : relation.fields) {
      pugi::xml_node field = fields.append_child("Field");
      AppendTextElement(field, "Name", pair.name);
      AppendTextElement(field, "ForeignName", pair.foreign_name);
    }
  }
}

// Each query with its rows as Access keeps them, and for the reader the SQL they make. As with
// the relationships, queries that cannot be read leave their reason for a run that moves them.
void AppendQueries(pugi::xml_node root, DaoDatabase& database) {
  pugi::xml_node queries_node = root.append_child("Queries");
  std::vector<DaoQueryDef> queries;
  try {
    queries = database.QueryDefs();
  } catch (const Error& e) {
    AppendTextElement(queries_node, "Unreadable", e.description());
  }
  for (const DaoQueryDef& query : queries) {
    pugi::xml_node node = queries_node.append_child("Query");
    AppendTextElement(node, "Name", query.name);
    AppendTextElement(node, "Flags", std::to_string(query.flags));
    SchemaQuery schema_query{query.name, query.flags, {}};
    pugi::xml_node rows = node.append_child("Rows");
    for (const DaoQueryRow& r : query.rows) {
      pugi::xml_node row = rows.append_child("Row");
      AppendTextElement(row, "Attribute", std::to_string(r.attribute));
      AppendTextElement(row, "Flag", std::to_string(r.flag));
      AppendTextElement(row, "Name1", r.name1);
      AppendTextElement(row, "Name2", r.name2);
      AppendTextElement(row, "Expression", r.expression);
      schema_query.rows.push_back({r.attribute, r.flag, r.name1, r.name2, r.expression});
    }
    AppendTextElement(node, "SQL", AccessSql(ReadQueryModel(schema_query)));
  }
}

}  // namespace

SchemaScan ScanAccessDatabase(const std::string& file_name, const std::string& password,
                              const std::string& user_name, const std::string& system_db,
                              const RunContext& ctx) {
  StatusOutput& status = ctx.status;
  std::shared_ptr<DaoEngine> engine = CreateDaoEngine(ctx.components);
  auto document = std::make_shared<pugi::xml_document>();
  pugi::xml_node root = document->append_child("AccessDatabase");
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

  pugi::xml_node tables_node = root.append_child("Tables");
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
    pugi::xml_node table_node = tables_node.append_child("Table");
    AppendTextElement(table_node, "Name", name);
    AppendAttributesElement(table_node, table->Attributes());
    AppendIndexes(table_node, *table, status);
    AppendFields(table_node, *table, table_catalogue, status);
    const DaoTableProperties& properties = table->Properties();
    AppendTextElement(table_node, "Description", properties.description);
    AppendTextElement(table_node, "ValidationRule", properties.validation_rule);
    AppendTextElement(table_node, "ValidationText", properties.validation_text);
    scanned.insert(name);
    status.ProcessEvents();
  }
  // After the tables, so that every query of the tables finds the document as before.
  AppendRelations(root, *database.database, scanned);
  AppendQueries(root, *database.database);
  // Tables linked from other Access files: the run may follow them to their back-ends.
  pugi::xml_node links_node = root.append_child("LinkedTables");
  for (const auto& link : links) {
    pugi::xml_node node = links_node.append_child("LinkedTable");
    AppendTextElement(node, "Name", link->Name());
    AppendTextElement(node, "SourceTableName", link->SourceTableName());
    AppendTextElement(node, "Connect", link->Connect());
  }
  status.AddStatusLine("Scanning completed");
  if (!ctx.temp_folder.empty()) SaveSchemaFile(*document, ctx.temp_folder);
  // Read from the nodes just built, never from text: names keep every CR they have.
  SchemaModel model = ReadSchemaModel(*document);
  return {std::move(model), std::move(document)};
}

}  // namespace ferrolyte
