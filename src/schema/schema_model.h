// The tables, relationships, queries and links of a scanned database as typed values: what
// every part of the program works from, filled by the scan itself. A value read from a
// schema description's text that does not read as the number or boolean it must be keeps its
// error, raised where the value is used: a table with a bad description then fails when the
// run reaches it, as that table, and a bad value nothing uses fails nothing.
#pragma once

#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "schema/query_model.h"
#include "support/errors.h"

namespace ferrolyte {

// A value, or the error reading it from a schema description's text gave.
template <typename T>
class Checked {
 public:
  Checked(T value) : content_(std::move(value)) {}
  Checked(Error error) : content_(std::move(error)) {}

  bool has_value() const { return std::holds_alternative<T>(content_); }
  // The value; raises the error of the reading when there is none.
  const T& value() const {
    if (const Error* error = std::get_if<Error>(&content_)) throw *error;
    return std::get<T>(content_);
  }

 private:
  std::variant<T, Error> content_;
};

struct SchemaField {
  Checked<std::string> name = std::string();
  Checked<int32_t> type = 0;
  int32_t size = 0;
  int32_t scale = 0;
  bool required = false;
  uint32_t attributes = 0;  // DAO field attribute bits
  std::string default_value;
  std::string expression;  // a calculated column's; empty otherwise
  std::string description;
  std::string validation_rule;  // Access text, e.g. ">0 And <100"; empty for none
  std::string validation_text;
  bool allow_zero_length = true;
  int32_t stored_type = 0;  // the table definition's type code, for a field of type 0

  bool autonumber() const { return attributes & 0x10; }
  bool hyperlink() const { return attributes & 0x8000; }  // of a memo
};

struct SchemaIndexField {
  Checked<std::string> name = std::string();
  bool descending = false;
};

struct SchemaIndex {
  Checked<std::string> name = std::string();
  Checked<bool> primary = false;
  Checked<bool> unique = false;
  bool ignore_nulls = false;
  // The index behind a relationship, not one of the table's own; so is an index whose
  // Foreign does not read as false.
  bool foreign = true;
  std::vector<SchemaIndexField> fields;
};

struct SchemaTable {
  Checked<std::string> name = std::string();
  uint32_t attributes = 0;  // DAO table attribute bits
  std::string description;
  std::string validation_rule;  // the table's rule over its columns; empty for none
  std::string validation_text;
  std::vector<SchemaField> fields;  // in column order
  std::vector<SchemaIndex> indexes;
};

struct SchemaRelationField {
  std::string name;          // the referenced table's column
  std::string foreign_name;  // the referencing table's column
};

struct SchemaRelation {
  std::string name;
  std::string table;          // referenced
  std::string foreign_table;  // referencing
  uint32_t attributes = 0;    // DAO relation attribute bits
  std::vector<SchemaRelationField> fields;
};

// A table linked from another database: its name here, its name there, and where it is.
struct SchemaLink {
  std::string name;
  std::string source_table;
  std::string connect;  // ";DATABASE=path[;PWD=...]" for Access, "ODBC;..." for ODBC
};

struct SchemaModel {
  std::vector<SchemaTable> tables;  // in the catalogue's order (by name)
  std::vector<SchemaRelation> relations;
  std::vector<SchemaQuery> queries;  // saved queries
  std::vector<SchemaLink> links;     // tables linked from other Access files
  // Why the source's relationships or saved queries could not be read; empty when they could.
  std::string relations_unreadable;
  std::string queries_unreadable;
};

// The text as a 32-bit integer; raises 13 "Type mismatch" when it is not an integer.
int32_t DirectLong(const std::string& text);
// The text as a boolean ("True"/"False" or a number); raises 13 otherwise.
bool DirectBool(const std::string& text);

// A schema given as the text of a file copy (what SaveSchemaFile writes): the one reader of
// that text. No part of the program reads a copy back, the scan included; tests describe
// their schemas this way. Keeps every CR of a name or a description; a text that does not
// parse gives an empty model. Never raises (see Checked).
SchemaModel ReadSchemaText(const std::string& text);
// Reads every table, relationship, query and link of the document; never raises (see
// Checked).
SchemaModel ReadSchemaModel(const pugi::xml_document& document);
// Reads one Table element; never raises.
SchemaTable ReadSchemaTable(const pugi::xml_node& table);
// Reads one Field element of a table; never raises.
SchemaField ReadSchemaField(const pugi::xml_node& field);

}  // namespace ferrolyte
