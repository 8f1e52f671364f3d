// The ADO-style connection and record set ("ADODB.Connection", "ADODB.RecordSet"). One
// connection class serves both ends of a conversion: a "Provider=" string opens the Access
// file through the libmdb layer, a "Driver=" string opens a server through ODBC.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/components.h"
#include "support/env.h"
#include "support/errors.h"
#include "support/value.h"

namespace ferrolyte {

// ADO data type codes, as a record set reports them for its fields.
enum AdoType : int {
  kAdEmpty = 0,
  kAdSmallInt = 2,
  kAdInteger = 3,
  kAdSingle = 4,
  kAdDouble = 5,
  kAdCurrency = 6,
  kAdDate = 7,
  kAdBSTR = 8,
  kAdBoolean = 11,
  kAdDecimal = 14,
  kAdTinyInt = 16,
  kAdUnsignedTinyInt = 17,
  kAdBigInt = 20,
  kAdGUID = 72,
  kAdBinary = 128,
  kAdChar = 129,
  kAdWChar = 130,
  kAdNumeric = 131,
  kAdDBTimeStamp = 135,
  kAdVarChar = 200,
  kAdLongVarChar = 201,
  kAdVarWChar = 202,
  kAdLongVarWChar = 203,
  kAdVarBinary = 204,
  kAdLongVarBinary = 205,
};

// Schema numbers for OpenSchema: the columns catalogue, and the tables' statistics
// (TABLE_NAME, CARDINALITY: the row count each table's definition stores).
inline constexpr int kAdSchemaColumns = 4;
inline constexpr int kAdSchemaStatistics = 19;

// HRESULTs that ADO clients see.
inline constexpr int32_t kAdoGenericError = errc::kUnspecified.number;           // 0x80004005
inline constexpr int32_t kAdoRejectedStatement = errc::kErrorsInCommand.number;  // 0x80040E14
inline constexpr int32_t kAdoInvalidPassword = errc::kAuthFailed.number;         // 0x80040E4D

// One column of the rows a source is asked for. Of a complex column's rows, `of_values` picks
// a column of its hidden table of files or values (FileName, FileData, Value) over one of
// the owning row.
struct SourceColumn {
  std::string name;
  bool of_values = false;
};

// The rows a source is asked for: a table's own, or with `complex_column` one row per file or
// value of that column. No columns: every column of the table, in its order.
struct SourceRows {
  std::string table;
  std::string complex_column;
  std::vector<SourceColumn> columns;
};

// Every column of the table's own rows.
inline SourceRows TableRows(std::string table) {
  SourceRows rows;
  rows.table = std::move(table);
  return rows;
}
// The named columns of the table's own rows, in that order.
inline SourceRows TableRows(std::string table, const std::vector<std::string>& columns) {
  SourceRows rows = TableRows(std::move(table));
  for (const std::string& name : columns) rows.columns.push_back({name});
  return rows;
}

// A forward-only, read-only cursor over a result, as a backend produces it.
class Cursor {
 public:
  virtual ~Cursor() = default;
  // True when there is no current row.
  virtual bool Eof() const = 0;
  // Moves to the next row; raises the backend's error when reading fails.
  virtual void MoveNext() = 0;
  // Number of columns of the result.
  virtual int FieldCount() const = 0;
  // Name of column i (0-based).
  virtual const std::string& FieldName(int i) const = 0;
  // ADO type code of column i; 0 when the column's type cannot be read.
  virtual int FieldType(int i) const = 0;
  // Value of column i in the current row (null for a database null).
  virtual const Value& FieldValue(int i) const = 0;
};

// What a connection string opens: the libmdb layer or an ODBC server.
class ConnectionBackend {
 public:
  virtual ~ConnectionBackend() = default;
  // Runs a statement; returns a cursor for a query, null for a statement without result.
  virtual std::unique_ptr<Cursor> Execute(const std::string& sql) = 0;
  // The schema row set of the given number; raises when the backend has none.
  virtual std::unique_ptr<Cursor> OpenSchema(int schema) = 0;
  // The number of rows OpenRows would give; raises as it would. A backend that is no source
  // raises 3251.
  virtual int64_t CountRows(const SourceRows& rows);
  // A cursor on the first of the rows; unknown tables and columns raise the provider's error.
  virtual std::unique_ptr<Cursor> OpenRows(const SourceRows& rows);
};

// Opens the Access file described by a "Provider=..." connection string, read through env when
// one is given.
std::unique_ptr<ConnectionBackend> OpenAccessBackend(const std::string& connection_string,
                                                     Env* env = nullptr);
// Opens the server described by a "Driver=..." ODBC connection string.
std::unique_ptr<ConnectionBackend> OpenOdbcBackend(const std::string& connection_string);

class Connection : public Component {
 public:
  // Opens the connection; raises the provider's number and description on failure. An
  // Access file is read through env when one is given.
  void Open(const std::string& connection_string, Env* env = nullptr);
  // Runs a statement; returns an open record set for a query, null otherwise.
  std::shared_ptr<class Recordset> Execute(const std::string& sql);
  // The schema row set (kAdSchemaColumns: TABLE_NAME, COLUMN_NAME, NUMERIC_PRECISION, ...).
  std::shared_ptr<class Recordset> OpenSchema(int schema);
  // The source's count of the rows (ConnectionBackend::CountRows).
  int64_t CountRows(const SourceRows& rows);
  // The rows as an open record set (ConnectionBackend::OpenRows).
  std::shared_ptr<class Recordset> OpenRows(const SourceRows& rows);
  // Closes the connection; closing a closed one does nothing.
  void Close();
  // Uses a backend that is open already (tests, and callers that open backends themselves).
  void AttachBackend(std::unique_ptr<ConnectionBackend> backend) { backend_ = std::move(backend); }
  bool IsOpen() const { return backend_ != nullptr; }
  // The backend, for record sets opened on this connection. Raises 3709 when closed.
  ConnectionBackend& backend();

 private:
  std::unique_ptr<ConnectionBackend> backend_;
};

class Recordset : public Component {
 public:
  // Runs the query on the connection and stands on its first row (forward-only, read-only).
  void Open(const std::string& sql, Connection& connection);
  // Opens the source's rows and stands on the first (forward-only, read-only).
  void Open(const SourceRows& rows, Connection& connection);
  // Takes over a cursor a connection produced.
  void Attach(std::unique_ptr<Cursor> cursor) { cursor_ = std::move(cursor); }
  bool Eof() const;
  void MoveNext();
  int FieldCount() const;
  const std::string& FieldName(int i) const;
  int FieldType(int i) const;
  const Value& FieldValue(int i) const;
  // Value of the column with that name (letter case ignored); raises 3265 when missing.
  const Value& Field(const std::string& name) const;
  void Close() { cursor_.reset(); }
  bool IsOpen() const { return cursor_ != nullptr; }

 private:
  Cursor& cursor() const;
  std::unique_ptr<Cursor> cursor_;
};

// Raises ADO's error 3021: a cursor was read or moved past its last row.
[[noreturn]] void RaiseNoCurrentRecord();

}  // namespace ferrolyte
