#include "schema/column_catalogue.h"

#include "platform/ado.h"
#include "platform/source_connection.h"
#include "support/components.h"
#include "support/safe.h"

namespace ferrolyte {

DictionaryPtr ReadColumnCatalogue(const std::string& file_name, const std::string& system_db,
                                  const std::string& user_name, const std::string& password,
                                  const ComponentRegistry& components) {
  DictionaryPtr tables = Dictionary::Create();
  auto connection = CreateObjectAs<Connection>(components, "ADODB.Connection");
  connection->Open(BuildSourceConnectionString(file_name, system_db, user_name, password));
  std::shared_ptr<Recordset> rows;
  try {
    rows = connection->OpenSchema(kAdSchemaColumns);
  } catch (const Error&) {
    connection->Close();
    return tables;
  }
  DictionaryPtr table;
  std::string previous;
  bool first = true;
  for (; !rows->Eof(); rows->MoveNext()) {
    std::string table_name = SafeStr(rows->Field("TABLE_NAME"));
    std::string column_name = SafeStr(rows->Field("COLUMN_NAME"));
    if (first || table_name != previous) table = Dictionary::Create();
    first = false;
    previous = table_name;
    // A table whose columns come in a second run keeps only that run.
    if (table->Count() == 0) tables->Set(table_name, Value(table));
    DictionaryPtr column = Dictionary::Create();
    column->Set("NUMERIC_PRECISION", Value(SafeLng(rows->Field("NUMERIC_PRECISION"))));
    column->Set("NUMERIC_SCALE", Value(SafeLng(rows->Field("NUMERIC_SCALE"))));
    table->Set(column_name, Value(column));
  }
  rows->Close();
  connection->Close();
  return tables;
}

}  // namespace ferrolyte
