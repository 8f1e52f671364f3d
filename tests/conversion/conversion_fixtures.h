// Test doubles for conversion tests: schema description texts built from plain structs, an
// in-memory Access source, a recording server, and run settings.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "conversion/conversion_run.h"
#include "platform/ado.h"
#include "platform/odbc_test_server.h"
#include "schema/access_scanner.h"
#include "support/errors.h"
#include "support/status.h"
#include "support/value.h"
#include "testing/run_context.h"

namespace ferrolyte::testing {

struct FieldSpec {
  std::string name;
  int type = 10;
  int size = 50;
  int scale = 0;
  bool required = false;
  std::string default_value;
  bool autonumber = false;
  std::string type_text;   // overrides the Type text when set
  std::string expression;  // a calculated column's
  int stored_type = -1;    // the StoredType of a column of Type 0; below 0 none is written
};

struct IndexSpec {
  std::string name;
  std::vector<std::string> columns;
  bool primary = false;
  bool unique = false;
  bool foreign = false;
  std::vector<bool> descending;  // per column; missing entries are ascending
};

struct TableSpec {
  std::string name;
  std::vector<FieldSpec> fields;
  std::vector<IndexSpec> indexes;
};

// The schema description document of the tables, serialised as the scanner leaves it.
inline std::string SchemaXml(const std::vector<TableSpec>& tables) {
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("AccessDatabase");
  pugi::xml_node tables_node = root.append_child("Tables");
  auto text = [](pugi::xml_node parent, const char* name, const std::string& value) {
    parent.append_child(name).text().set(value.c_str());
  };
  for (const TableSpec& t : tables) {
    pugi::xml_node table = tables_node.append_child("Table");
    text(table, "Name", t.name);
    text(table, "Attributes", "0");
    pugi::xml_node indexes = table.append_child("Indexes");
    for (const IndexSpec& ix : t.indexes) {
      pugi::xml_node index = indexes.append_child("Index");
      text(index, "Name", ix.name);
      text(index, "Primary", ix.primary ? "1" : "0");
      text(index, "Unique", ix.unique || ix.primary ? "1" : "0");
      text(index, "IgnoreNulls", "0");
      text(index, "Foreign", ix.foreign ? "1" : "0");
      pugi::xml_node fields = index.append_child("Fields");
      for (size_t k = 0; k < ix.columns.size(); ++k) {
        pugi::xml_node field = fields.append_child("Field");
        text(field, "Name", ix.columns[k]);
        text(field, "Descending", k < ix.descending.size() && ix.descending[k] ? "1" : "0");
      }
    }
    pugi::xml_node fields = table.append_child("Fields");
    for (const FieldSpec& f : t.fields) {
      pugi::xml_node field = fields.append_child("Field");
      text(field, "Name", f.name);
      text(field, "Required", f.required ? "1" : "0");
      text(field, "DefaultValue", f.default_value);
      text(field, "Size", std::to_string(f.size));
      text(field, "Scale", std::to_string(f.scale));
      text(field, "Type", f.type_text.empty() ? std::to_string(f.type) : f.type_text);
      pugi::xml_node attributes = field.append_child("Attributes");
      attributes.text().set(f.autonumber ? "17" : "0");
      if (f.autonumber) {
        attributes.append_attribute("Bit1") = "1";
        attributes.append_attribute("Bit5") = "1";
      }
      text(field, "Expression", f.expression);
      if (f.stored_type >= 0) text(field, "StoredType", std::to_string(f.stored_type));
    }
  }
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw | pugi::format_no_declaration);
  return out.str();
}

// The Table element of a one-table schema description, kept alive with its document.
struct ParsedTable {
  explicit ParsedTable(const TableSpec& spec) {
    doc.load_string(SchemaXml({spec}).c_str());
    node = doc.select_node("*/Tables/Table").node();
  }
  pugi::xml_document doc;
  pugi::xml_node node;
};

class VectorCursor : public Cursor {
 public:
  VectorCursor(std::vector<std::string> names, std::vector<int> types,
               std::vector<std::vector<Value>> rows)
      : names_(std::move(names)), types_(std::move(types)), rows_(std::move(rows)) {}
  bool Eof() const override { return row_ >= rows_.size(); }
  void MoveNext() override { ++row_; }
  int FieldCount() const override { return static_cast<int>(names_.size()); }
  const std::string& FieldName(int i) const override { return names_.at(i); }
  int FieldType(int i) const override { return types_.at(i); }
  const Value& FieldValue(int i) const override { return rows_.at(row_).at(i); }

 private:
  std::vector<std::string> names_;
  std::vector<int> types_;
  std::vector<std::vector<Value>> rows_;
  size_t row_ = 0;
};

struct FakeTable {
  std::vector<std::string> names;
  std::vector<int> types;  // ADO type codes
  std::vector<std::vector<Value>> rows;
};

// An Access source answering the two calls the record transfer makes. `statements` logs
// each call: "CountRows [T]", "OpenRows [T] *" or "OpenRows [T] [B], [A]".
class FakeAccess : public ConnectionBackend {
 public:
  std::map<std::string, FakeTable> tables;
  std::vector<std::string> statements;
  bool fail_count = false;

  std::unique_ptr<Cursor> Execute(const std::string& sql) override {
    throw Error(kAdoRejectedStatement, "This source runs no statements: " + sql);
  }
  int64_t CountRows(const SourceRows& asked) override {
    statements.push_back("CountRows [" + asked.table + "]");
    if (fail_count) throw Error(-2147217865, "The table cannot be found.");
    return static_cast<int64_t>(Table(asked.table).rows.size());
  }
  std::unique_ptr<Cursor> OpenRows(const SourceRows& asked) override {
    std::string list;
    for (const SourceColumn& c : asked.columns) list += (list.empty() ? "[" : ", [") + c.name + "]";
    statements.push_back("OpenRows [" + asked.table + "] " + (list.empty() ? "*" : list));
    const FakeTable& t = Table(asked.table);
    std::vector<int> pick;
    if (asked.columns.empty()) {
      for (size_t i = 0; i < t.names.size(); ++i) pick.push_back(static_cast<int>(i));
    } else {
      for (const SourceColumn& c : asked.columns) {
        size_t i = 0;
        while (i < t.names.size() && t.names[i] != c.name) ++i;
        if (i == t.names.size()) throw Error(-2147217904, "No value given for " + c.name);
        pick.push_back(static_cast<int>(i));
      }
    }
    std::vector<std::string> names;
    std::vector<int> types;
    std::vector<std::vector<Value>> rows;
    for (int i : pick) names.push_back(t.names[i]), types.push_back(t.types[i]);
    for (const auto& r : t.rows) {
      std::vector<Value> row;
      for (int i : pick) row.push_back(r[i]);
      rows.push_back(std::move(row));
    }
    return std::make_unique<VectorCursor>(names, types, rows);
  }
  std::unique_ptr<Cursor> OpenSchema(int) override { throw Error(3251, "Not supported"); }

 private:
  const FakeTable& Table(const std::string& name) {
    auto it = tables.find(name);
    if (it == tables.end()) throw Error(-2147217865, "The table '" + name + "' cannot be found.");
    return it->second;
  }
};

// A server that records what it is sent; `reject` decides which statements fail.
class FakeServer : public ConnectionBackend {
 public:
  explicit FakeServer(std::vector<std::string>* log) : log_(log) {}
  std::function<bool(const std::string&)> reject;
  int64_t database_count = 0;

  // Rows a table loses between the INSERTs and the count, as a faulty path would.
  std::map<std::string, int64_t> lost_rows;

  std::unique_ptr<Cursor> Execute(const std::string& sql) override {
    log_->push_back(sql);
    if (reject && reject(sql))
      throw Error(kAdoRejectedStatement, "ERROR: syntax error at or near \"(\"");
    auto one = [](int64_t n) {
      return std::make_unique<VectorCursor>(std::vector<std::string>{"count"}, std::vector<int>{20},
                                            std::vector<std::vector<Value>>{{Value(n)}});
    };
    if (sql.rfind("SELECT COUNT(*) FROM pg_catalog.pg_database", 0) == 0)
      return one(database_count);
    const std::string count_prefix = "SELECT count(*) FROM ";
    if (sql.rfind(count_prefix, 0) == 0) {
      const std::string table = sql.substr(count_prefix.size());
      int64_t rows = -lost_rows[table];
      const std::string insert = "INSERT INTO " + table + " ";
      for (const std::string& sent : *log_) {
        if (reject && reject(sent)) continue;
        for (size_t at = sent.find(insert); at != std::string::npos; at = sent.find(insert, at + 1))
          ++rows;  // a round trip holds several rows
      }
      return one(rows);
    }
    return nullptr;
  }
  std::unique_ptr<Cursor> OpenSchema(int) override { throw Error(3251, "Not supported"); }

 private:
  std::vector<std::string>* log_;
};

// The start-up settings as a dump run lists them, for the given dump file and selection.
inline DictionaryPtr RunSettings(const std::string& dump_file,
                                 const std::vector<std::string>& tables) {
  DictionaryPtr s = Dictionary::Create();
  s->Set("sourcefilename", "C:\\data\\shop.mdb");
  s->Set("sourceusername", "");
  s->Set("sourcepassword", "");
  s->Set("destinationmethod", "DUMP");
  s->Set("destinationserver", "localhost");
  s->Set("destinationport", "5432");
  s->Set("destinationusername", "postgres");
  s->Set("destinationpassword", "");
  s->Set("destinationdatabase", "velkan");
  s->Set("maintenancedb", "postgres");
  s->Set("destinationdumpfilename", dump_file);
  s->Set("sourcetables", Value::TextList(tables));
  s->Set("dropdatabase", 0);
  for (const char* key :
       {"createtables", "unicode", "autocommit", "transferdefaultvalues", "transferindexes",
        "transferautonumbers", "transferrecords", "columnlist"})
    s->Set(key, 1);
  s->Set("tableprefix", "");
  s->Set("negativeboolean", 0);
  s->Set("ignorelargeblobs", 0);
  s->Set("memotype", "TEXT");
  s->Set("datetimetype", "TIMESTAMP");
  DictionaryPtr outer = Dictionary::Create();
  outer->Set(kSettingsSection, s);
  return outer;
}

inline DictionaryPtr Section(const DictionaryPtr& settings) {
  return settings->Section(kSettingsSection);
}

// Points the section at `database` on the test server (platform/odbc_test_server.h).
inline void SetDirectDestination(const DictionaryPtr& section, const std::string& database) {
  section->Set("destinationmethod", "DIRECT");
  section->Set("destinationserver", ServerHost());
  section->Set("destinationport", ServerPort());
  section->Set("destinationusername", ServerUser());
  section->Set("destinationpassword", ServerPassword());
  section->Set("maintenancedb", MaintenanceDb());
  section->Set("destinationdatabase", database);
}

// What a scan leaves the wizard with: the schema, the scanned tables, and the selection
// of every table with every field as the table tree writes it (table, then its fields).
struct ScannedSource {
  SchemaModel schema;
  std::vector<std::string> tables;
  std::vector<std::string> selection;
};

inline ScannedSource ScanEverything(const std::string& path, const std::string& password = "") {
  RecordingStatus status;
  ScannedSource s{ScanAccessDatabase(path, password, "", "", ContextFor(status)), {}, {}};
  for (const SchemaTable& t : s.schema.tables) {
    const std::string& name = t.name.value();
    s.tables.push_back(name);
    s.selection.push_back(name);
    for (const SchemaField& f : t.fields) s.selection.push_back(name + "\\" + f.name.value());
  }
  return s;
}

}  // namespace ferrolyte::testing
