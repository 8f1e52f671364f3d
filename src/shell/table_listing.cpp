#include "shell/table_listing.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "conversion/table_definition.h"
#include "platform/ado.h"
#include "platform/dao.h"
#include "platform/source_connection.h"
#include "schema/access_scanner.h"
#include "schema/engine.h"
#include "schema/schema_model.h"
#include "support/connection_string.h"
#include "support/errors.h"
#include "support/safe.h"
#include "support/status.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

// Closes the database on every way out.
struct DatabaseCloser {
  std::shared_ptr<DaoDatabase> database;
  ~DatabaseCloser() {
    if (database) database->Close();
  }
};

std::string KindOf(uint32_t attributes) {
  if (attributes & (kDaoAttachedTable | kDaoAttachedOdbc)) return "linked";
  if ((attributes & kDaoSystemObject) != 0) return "system";
  return "table";
}

// Columns of a table the scan leaves out: its Access types only, no conversion moves it.
TableListing FromDefinition(DaoTableDef& table) {
  TableListing listing{table.Name(), KindOf(table.Attributes()), std::nullopt, std::nullopt, {}};
  if (listing.kind == "linked") return listing;
  for (const DaoField& field : table.Fields())
    listing.column_list.push_back(
        {field.name,
         AccessTypeName(field.type, field.size, (field.attributes & kDaoAutoIncrField) != 0,
                        (field.attributes & kDaoHyperlinkField) != 0, field.stored_type),
         ""});
  listing.columns = static_cast<int>(listing.column_list.size());
  return listing;
}

std::optional<int64_t> CountRows(Connection& connection, const std::string& table) {
  try {
    return connection.CountRows(TableRows(table));
  } catch (const Error&) {
    // A table the provider cannot read still belongs in the listing.
    return std::nullopt;
  }
}

// Characters, not bytes, so that names such as "Zoë" line up.
size_t DisplayWidth(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string Count(const std::optional<int64_t>& n) {
  return n ? std::to_string(*n) : "-";
}

// Lines of cells, each column as wide as its widest cell; right-aligned where asked.
std::string Align(std::vector<std::vector<std::string>> rows, const std::vector<bool>& right) {
  std::vector<size_t> widths;
  for (auto& row : rows)
    for (size_t i = 0; i < row.size(); ++i) {
      row[i] = PrintableText(row[i]);
      if (widths.size() <= i) widths.push_back(0);
      widths[i] = std::max(widths[i], DisplayWidth(row[i]));
    }
  std::vector<std::string> lines;
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      const std::string pad(widths[i] - DisplayWidth(row[i]), ' ');
      if (i) line += "  ";
      line += i < right.size() && right[i] ? pad + row[i] : row[i] + pad;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(line);
  }
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

}  // namespace

std::string AccessTypeName(int type, int32_t size, bool autonumber, bool hyperlink,
                           int stored_type) {
  if (type == 0) return "unknown type " + std::to_string(stored_type);
  static const std::pair<int, const char*> kNames[] = {{1, "Yes/No"},
                                                       {2, "Byte"},
                                                       {3, "Integer"},
                                                       {4, "Long Integer"},
                                                       {5, "Currency"},
                                                       {6, "Single"},
                                                       {7, "Double"},
                                                       {8, "Date/Time"},
                                                       {9, "Binary"},
                                                       {10, "Text"},
                                                       {11, "OLE Object"},
                                                       {12, "Memo"},
                                                       {15, "Replication ID"},
                                                       {16, "Large Number"},
                                                       {17, "VarBinary"},
                                                       {18, "Text"},
                                                       {19, "Numeric"},
                                                       {20, "Decimal"},
                                                       {21, "Float"},
                                                       {22, "Time"},
                                                       {23, "Time Stamp"},
                                                       {101, "Attachment"},
                                                       {102, "Byte (multiple values)"},
                                                       {103, "Integer (multiple values)"},
                                                       {104, "Long Integer (multiple values)"},
                                                       {105, "Single (multiple values)"},
                                                       {106, "Double (multiple values)"},
                                                       {107, "Replication ID (multiple values)"},
                                                       {108, "Decimal (multiple values)"},
                                                       {109, "Text (multiple values)"}};
  if (type == 4 && autonumber) return "AutoNumber";
  if (type == 12 && hyperlink) return "Hyperlink";
  for (const auto& [code, name] : kNames) {
    if (code != type) continue;
    if (type == 10) return std::string(name) + " (" + std::to_string(size) + ")";
    if (type == 18) return std::string(name) + " (" + std::to_string(size) + ", fixed)";
    return name;
  }
  return "type " + std::to_string(type);
}

std::vector<TableListing> ListSchemaTables(const SchemaModel& schema) {
  const DefinitionOptions conversion_defaults;
  std::vector<TableListing> tables;
  for (const SchemaTable& schema_table : schema.tables) {
    TableListing table{schema_table.name.value(), "table", std::nullopt, 0, {}};
    for (const SchemaField& field : schema_table.fields)
      table.column_list.push_back(
          {field.name.value(),
           AccessTypeName(field.type.value(), field.size, field.autonumber(), field.hyperlink(),
                          field.stored_type),
           ColumnTypeText(field, conversion_defaults)});
    table.columns = static_cast<int>(table.column_list.size());
    tables.push_back(std::move(table));
  }
  return tables;
}

std::vector<TableListing> ReadTableListing(const std::string& file, const std::string& password,
                                           bool all, const ComponentRegistry& components) {
  RecordingStatus quiet;
  const CancelToken never{false};
  const SchemaModel schema =
      ScanAccessDatabase(file, password, "", "", {quiet, never, components, SystemEnv(), "", ""});
  std::vector<TableListing> tables = ListSchemaTables(schema);

  if (all) {
    std::vector<TableListing> every;
    const std::string connect =
        password.empty() ? "" : "MS Access;PWD=" + ConnectionValue(password);
    DatabaseCloser database{
        CreateDaoEngine(components)->Workspaces(0)->OpenDatabase(file, false, true, connect)};
    for (const std::shared_ptr<DaoTableDef>& definition : database.database->TableDefs()) {
      auto scanned = std::find_if(tables.begin(), tables.end(), [&](const TableListing& t) {
        return t.name == definition->Name();
      });
      every.push_back(scanned != tables.end() ? std::move(*scanned) : FromDefinition(*definition));
    }
    tables = std::move(every);
  }

  auto connection = CreateObjectAs<Connection>(components, "ADODB.Connection");
  connection->Open(BuildSourceConnectionString(file, "", "", password));
  for (TableListing& table : tables)
    if (table.kind != "linked") table.rows = CountRows(*connection, table.name);
  connection->Close();
  return tables;
}

std::string FormatTableListing(const std::vector<TableListing>& tables, bool columns, bool kinds) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"Table", "Rows", "Columns"});
  if (kinds) rows.back().push_back("Kind");
  std::vector<std::vector<std::string>> column_rows;
  // Where each table's column lines go in the output.
  std::vector<std::pair<size_t, size_t>> column_ranges;
  for (const TableListing& table : tables) {
    rows.push_back(
        {table.name, Count(table.rows), table.columns ? std::to_string(*table.columns) : "-"});
    if (kinds) rows.back().push_back(table.kind);
    const size_t first = column_rows.size();
    for (const ColumnListing& column : table.column_list)
      column_rows.push_back({"  " + column.name, column.access_type,
                             column.postgresql_type.empty() ? "-" : column.postgresql_type});
    column_ranges.emplace_back(first, column_rows.size());
  }
  const std::vector<bool> right = {false, true, true, false};
  if (!columns) return Align(rows, right);

  // Table lines and column lines each line up among themselves.
  const std::vector<std::string> table_lines = Split(Align(rows, right), "\n");
  std::vector<std::vector<std::string>> header_and_columns = {
      {"  Column", "Access type", "PostgreSQL type"}};
  header_and_columns.insert(header_and_columns.end(), column_rows.begin(), column_rows.end());
  const std::vector<std::string> column_lines = Split(Align(header_and_columns, {}), "\n");
  std::string out = table_lines[0] + "\n" + column_lines[0] + "\n";
  for (size_t t = 0; t < tables.size(); ++t) {
    out += table_lines[t + 1] + "\n";
    for (size_t c = column_ranges[t].first; c < column_ranges[t].second; ++c)
      out += column_lines[c + 1] + "\n";
  }
  return out;
}

std::string TableListingJson(const std::string& source, const std::vector<TableListing>& tables,
                             bool columns) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const TableListing& table : tables) {
    nlohmann::ordered_json entry = {{"name", table.name}, {"kind", table.kind}};
    entry["rows"] = table.rows ? nlohmann::ordered_json(*table.rows) : nullptr;
    entry["column_count"] = table.columns ? nlohmann::ordered_json(*table.columns) : nullptr;
    if (columns) {
      entry["columns"] = nlohmann::ordered_json::array();
      for (const ColumnListing& column : table.column_list)
        entry["columns"].push_back(
            {{"name", column.name},
             {"access_type", column.access_type},
             {"postgresql_type", column.postgresql_type.empty()
                                     ? nlohmann::ordered_json(nullptr)
                                     : nlohmann::ordered_json(column.postgresql_type)}});
    }
    list.push_back(std::move(entry));
  }
  const nlohmann::ordered_json document = {{"source", source}, {"tables", std::move(list)}};
  // A name the reader could not decode must not cost the whole listing.
  return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace ferrolyte
