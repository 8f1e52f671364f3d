#include "platform/ado.h"

#include "support/errors.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

// The first key of a connection string ("Provider", "Driver", ...), lower-cased.
std::string FirstKey(const std::string& connection_string) {
  size_t eq = connection_string.find('=');
  return eq == std::string::npos ? "" : AsciiLower(Trim(connection_string.substr(0, eq)));
}

}  // namespace

void Connection::Open(const std::string& connection_string, Env* env) {
  Close();
  std::string key = FirstKey(connection_string);
  if (key == "provider")
    backend_ = OpenAccessBackend(connection_string, env);
  else if (key == "driver" || key == "dsn")
    backend_ = OpenOdbcBackend(connection_string);
  else
    throw Error(errc::kProviderNotFound, "ADODB.Connection",
                "Provider cannot be found. It may not be properly installed.");
}

std::shared_ptr<Recordset> Connection::Execute(const std::string& sql) {
  std::unique_ptr<Cursor> cursor = backend().Execute(sql);
  if (!cursor) return nullptr;
  auto rs = std::make_shared<Recordset>();
  rs->Attach(std::move(cursor));
  return rs;
}

std::shared_ptr<Recordset> Connection::OpenSchema(int schema) {
  auto rs = std::make_shared<Recordset>();
  rs->Attach(backend().OpenSchema(schema));
  return rs;
}

int64_t ConnectionBackend::CountRows(const SourceRows&) {
  throw Error(errc::kFeatureNotAvailable, "ADODB.Connection",
              "Object or provider is not capable of performing requested operation.");
}

std::unique_ptr<Cursor> ConnectionBackend::OpenRows(const SourceRows&) {
  throw Error(errc::kFeatureNotAvailable, "ADODB.Connection",
              "Object or provider is not capable of performing requested operation.");
}

int64_t Connection::CountRows(const SourceRows& rows) {
  return backend().CountRows(rows);
}

std::shared_ptr<Recordset> Connection::OpenRows(const SourceRows& rows) {
  auto rs = std::make_shared<Recordset>();
  rs->Open(rows, *this);
  return rs;
}

void Connection::Close() {
  backend_.reset();
}

ConnectionBackend& Connection::backend() {
  if (!backend_)
    throw Error(errc::kInvalidConnection, "ADODB.Connection",
                "The connection cannot be used to perform this operation. It is either closed or "
                "invalid in this context.");
  return *backend_;
}

void Recordset::Open(const std::string& sql, Connection& connection) {
  cursor_ = connection.backend().Execute(sql);
  if (!cursor_)
    throw Error(errc::kObjectClosed, "ADODB.Recordset",
                "Operation is not allowed when the object is closed.");
}

void Recordset::Open(const SourceRows& rows, Connection& connection) {
  cursor_ = connection.backend().OpenRows(rows);
}

Cursor& Recordset::cursor() const {
  if (!cursor_)
    throw Error(errc::kObjectClosed, "ADODB.Recordset",
                "Operation is not allowed when the object is closed.");
  return *cursor_;
}

bool Recordset::Eof() const {
  return cursor().Eof();
}
void Recordset::MoveNext() {
  cursor().MoveNext();
}
int Recordset::FieldCount() const {
  return cursor().FieldCount();
}
const std::string& Recordset::FieldName(int i) const {
  return cursor().FieldName(i);
}
int Recordset::FieldType(int i) const {
  return cursor().FieldType(i);
}
const Value& Recordset::FieldValue(int i) const {
  return cursor().FieldValue(i);
}

const Value& Recordset::Field(const std::string& name) const {
  Cursor& c = cursor();
  for (int i = 0; i < c.FieldCount(); ++i)
    if (EqualsIgnoreCase(c.FieldName(i), name)) return c.FieldValue(i);
  throw Error(errc::kItemNotFound, "ADODB.Recordset",
              "Item cannot be found in the collection corresponding to the requested name or "
              "ordinal.");
}

void RaiseNoCurrentRecord() {
  throw Error(errc::kNoCurrentRecord, "ADODB.Recordset",
              "Either BOF or EOF is True, or the current record has been deleted. Requested "
              "operation requires a current record.");
}

}  // namespace ferrolyte
