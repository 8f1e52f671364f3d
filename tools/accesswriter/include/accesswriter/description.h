// Reads database descriptions from JSON, and builds the synthetic benchmark databases.
//
// JSON layout (every key but "tables"/"name"/"columns"/"type" is optional):
//
//   {"format": "jet4" | "ace12", "password": "...", "encrypt": false, "creation_date": 45000.5,
//    "encryption": "agile" | "standard" | "nonstandard" | "rc4-cryptoapi" | "rc4-office",
//    "tables": [{"name": "Orders", "description": "...", "hidden": false, "system": false,
//                "columns": [{"name": "Id", "type": "long", "auto_number": "increment",
//                             "size": 50, "fixed_length": false, "required": true,
//                             "precision": 18, "scale": 2, "default": "0",
//                             "description": "...", "properties": {"Caption": "..."},
//                             "expression": "[Price]*[Quantity]"}],
//                "indexes": [{"name": "PrimaryKey", "columns": ["Id", "-Date"],
//                             "primary_key": true, "unique": false, "ignore_nulls": false,
//                             "required": false}],
//                "rows": [[null, "text", 12, 1.5, true,
//                          {"date": "2024-01-31T12:30:00"}, {"date": 45000.25},
//                          {"hex": "89504e47"}, {"base64": "iVBORw=="},
//                          {"decimal": "12.3400"}, {"guid": "{...}"},
//                          {"repeat": "abc", "times": 2000}]]}],
//    "linked_tables": [{"name": "...", "foreign_name": "...", "database": "...",
//                       "connect": "..."}],
//    "relationships": [{"name": "...", "primary_table": "...", "primary_columns": ["Id"],
//                       "foreign_table": "...", "foreign_columns": ["CustomerId"],
//                       "enforce": true, "cascade_updates": false, "cascade_deletes": false}],
//    "queries": [{"name": "...", "kind": "select" | "make_table" | "append" | "update" |
//                 "delete" | "crosstab" | "data_definition" | "pass_through" | "union",
//                 "parameters": [{"name": "[Start]", "type": 8}], "distinct": false,
//                 "distinct_row": false, "top": 10, "top_percent": false,
//                 "tables": ["Orders", {"name": "Customers", "alias": "C"}],
//                 "columns": ["[Orders].[Id]", {"expression": "Sum([Qty])", "alias": "Total"}],
//                 "joins": [{"left": "Orders", "right": "C", "kind": "inner" | "left" | "right",
//                            "on": "[Orders].[CustomerId]=[C].[Id]"}],
//                 "where": "...", "group_by": ["..."], "having": "...",
//                 "order_by": ["[Id]", {"expression": "[Total]", "descending": true}],
//                 "target": "table written", "sql": "pass-through or DDL statement",
//                 "connect": "ODBC;DSN=...", "union_parts": ["SELECT ...", "SELECT ..."],
//                 "union_all": false}]}
//
// Columns of type "attachment" and "multivalue" (with "value_type", a type name below) need
// "format": "ace12"; their row values are {"attachments": [{"name": "a.txt", "text": "...",
// "hex": "...", "base64": "...", "compress": true}]} and arrays of values. A column's
// "allow_zero_length" writes its AllowZeroLength property; validation rules are the
// properties "ValidationRule" and "ValidationText" of a column or a table.
//
// Type names: boolean, byte, integer, long, currency, single, double, datetime, binary,
// text, ole, memo, guid, decimal, bigint, datetimeextended. Plain strings also fill datetime
// ("YYYY-MM-DD[ HH:MM[:SS]]"), datetimeextended ("YYYY-MM-DD[ HH:MM[:SS[.fffffff]]]", exact
// to 100 ns, as is {"date": text}), currency, decimal and guid columns. A column with an
// "expression" is calculated: "type" is its result type, and each row gives the result.
// "-Name" in an index's columns (or {"column": "Name", "descending": true}) is descending.
#ifndef FERROLYTE_TOOLS_ACCESSWRITER_DESCRIPTION_H_
#define FERROLYTE_TOOLS_ACCESSWRITER_DESCRIPTION_H_

#include <cstdint>
#include <filesystem>
#include <nlohmann/json_fwd.hpp>
#include <string_view>

#include "accesswriter/writer.h"

namespace accesswriter {

// Converts a JSON description (layout above). Throws WriteError naming the bad key.
DatabaseDescription ParseDescription(const nlohmann::json& json);

// Reads and converts the JSON file at `path`. Throws WriteError.
DatabaseDescription ReadDescriptionFile(const std::filesystem::path& path);

// Returns the column type named `name` ("long", "memo" ...). Throws WriteError.
ColumnType ColumnTypeFromName(std::string_view name);

// Returns the encryption named `name` ("agile", "nonstandard" ...). Throws WriteError.
Encryption EncryptionFromName(std::string_view name);

// Writes a table "Bench" of `rows` rows with ten mixed columns (auto-number, long, text,
// date, currency, double, boolean, memo, integer, decimal), streaming as it goes; with
// `tables` above 1 also "Bench2" .. "BenchN", alike.
void WriteBenchmarkRows(const std::filesystem::path& path, std::uint64_t rows,
                        DatabaseOptions options = {}, int tables = 1);

// Writes `tables` small tables "T00001" ... of a few columns and rows each.
void WriteBenchmarkTables(const std::filesystem::path& path, int tables,
                          DatabaseOptions options = {});

}  // namespace accesswriter

#endif  // FERROLYTE_TOOLS_ACCESSWRITER_DESCRIPTION_H_
