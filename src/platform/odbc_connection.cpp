#include "platform/odbc_connection.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ado.h"
#include "support/errors.h"
#include "support/oledate.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

constexpr size_t kChunkBytes = 32 * 1024;

using WideText = std::basic_string<SQLWCHAR>;

WideText ToWide(std::string_view utf8) {
  std::vector<uint8_t> le = Utf8ToUtf16Le(utf8);
  WideText wide(le.size() / 2, 0);
  for (size_t i = 0; i < wide.size(); ++i)
    wide[i] = static_cast<SQLWCHAR>(le[2 * i] | (le[2 * i + 1] << 8));
  return wide;
}

std::string FromWide(const SQLWCHAR* units, size_t count) {
  std::vector<uint8_t> le(count * 2);
  for (size_t i = 0; i < count; ++i) {
    le[2 * i] = static_cast<uint8_t>(units[i] & 0xFF);
    le[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
  }
  return Utf16LeToUtf8(le.data(), le.size());
}

// One ODBC handle, freed when it goes out of scope.
class Handle {
 public:
  Handle() = default;
  Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle_))) handle_ = SQL_NULL_HANDLE;
  }
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept { *this = std::move(other); }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      type_ = other.type_;
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }
  explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }

 private:
  void Reset() {
    if (handle_ == SQL_NULL_HANDLE) return;
    // The driver keeps a statement it still counts as running; once it is cancelled and
    // closed it lets it go, and nothing of ours refers to it any more.
    if (!SQL_SUCCEEDED(SQLFreeHandle(type_, handle_)) && type_ == SQL_HANDLE_STMT) {
      SQLCancel(handle_);
      SQLFreeStmt(handle_, SQL_CLOSE);
      SQLFreeHandle(type_, handle_);
    }
    handle_ = SQL_NULL_HANDLE;
  }
  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

struct Diagnostics {
  std::string state;  // SQLSTATE of the first record
  std::string text;   // every record's message, line breaks folded, joined by " "
};

// The driver's messages fold to one line: reports put the description on a single line.
std::string FoldLines(std::string text) {
  text = ReplaceAll(text, "\r\n", "\n");
  std::string out;
  for (char c : text) {
    if (c == '\n' || c == '\r') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  return Trim(out);
}

Diagnostics ReadDiagnostics(const Handle& handle) {
  Diagnostics diag;
  std::vector<std::string> texts;
  for (SQLSMALLINT record = 1; record < 100; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::vector<SQLWCHAR> message(1024);
    SQLRETURN rc =
        SQLGetDiagRecW(handle.type(), handle.get(), record, state, &native, message.data(),
                       static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.resize(static_cast<size_t>(length) + 1);
      rc = SQLGetDiagRecW(handle.type(), handle.get(), record, state, &native, message.data(),
                          static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    if (diag.state.empty()) diag.state = FromWide(state, 5);
    size_t units = std::min<size_t>(std::max<SQLSMALLINT>(length, 0), message.size() - 1);
    std::string text = FoldLines(FromWide(message.data(), units));
    if (!text.empty() && std::find(texts.begin(), texts.end(), text) == texts.end())
      texts.push_back(text);
  }
  diag.text = texts.empty() ? "The ODBC driver reported a failure without a description."
                            : Join(texts, " ");
  return diag;
}

// A lost connection reads as a connection failure even in the middle of a statement.
[[noreturn]] void Raise(const Handle& handle, int32_t number) {
  Diagnostics diag = ReadDiagnostics(handle);
  if (diag.state.rfind("08", 0) == 0) number = kAdoGenericError;
  throw Error(number, kOdbcErrorSource, diag.text);
}

// The environment and connection handles. Shared with open cursors, so a statement handle
// never outlives the connection it belongs to.
struct Session {
  Handle env;
  Handle dbc;
  bool connected = false;
  ~Session() {
    if (!connected) return;
    if (!SQL_SUCCEEDED(SQLDisconnect(dbc.get()))) {
      SQLEndTran(SQL_HANDLE_DBC, dbc.get(), SQL_ROLLBACK);
      SQLDisconnect(dbc.get());
    }
  }
};

// How a column's values are read from the driver.
enum class Fetch {
  kInteger,
  kBit,
  kSingle,
  kDouble,
  kDecimal,
  kDate,
  kTime,
  kTimestamp,
  kText,
  kBinary
};

struct ColumnInfo {
  std::string name;
  int ado_type = kAdEmpty;
  Fetch fetch = Fetch::kText;
};

// The ADO type code and the reading method of an ODBC SQL type, as ADO's ODBC provider maps
// them. Types without an ADO counterpart are read as text.
ColumnInfo MapSqlType(SQLSMALLINT sql_type) {
  constexpr int kAdDBDate = 133, kAdDBTime = 134;
  switch (sql_type) {
    case SQL_BIT:
      return {"", kAdBoolean, Fetch::kBit};
    case SQL_TINYINT:
      return {"", kAdTinyInt, Fetch::kInteger};
    case SQL_SMALLINT:
      return {"", kAdSmallInt, Fetch::kInteger};
    case SQL_INTEGER:
      return {"", kAdInteger, Fetch::kInteger};
    case SQL_BIGINT:
      return {"", kAdBigInt, Fetch::kInteger};
    case SQL_REAL:
      return {"", kAdSingle, Fetch::kSingle};
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return {"", kAdDouble, Fetch::kDouble};
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      return {"", kAdNumeric, Fetch::kDecimal};
    case SQL_TYPE_DATE:
      return {"", kAdDBDate, Fetch::kDate};
    case SQL_TYPE_TIME:
      return {"", kAdDBTime, Fetch::kTime};
    case SQL_TYPE_TIMESTAMP:
      return {"", kAdDBTimeStamp, Fetch::kTimestamp};
    case SQL_GUID:
      return {"", kAdGUID, Fetch::kText};
    case SQL_CHAR:
      return {"", kAdChar, Fetch::kText};
    case SQL_VARCHAR:
      return {"", kAdVarChar, Fetch::kText};
    case SQL_LONGVARCHAR:
      return {"", kAdLongVarChar, Fetch::kText};
    case SQL_WCHAR:
      return {"", kAdWChar, Fetch::kText};
    case SQL_WVARCHAR:
      return {"", kAdVarWChar, Fetch::kText};
    case SQL_WLONGVARCHAR:
      return {"", kAdLongVarWChar, Fetch::kText};
    case SQL_BINARY:
      return {"", kAdBinary, Fetch::kBinary};
    case SQL_VARBINARY:
      return {"", kAdVarBinary, Fetch::kBinary};
    case SQL_LONGVARBINARY:
      return {"", kAdLongVarBinary, Fetch::kBinary};
    default:
      return {"", kAdVarWChar, Fetch::kText};
  }
}

[[noreturn]] void RaiseNoSuchField() {
  throw Error(errc::kItemNotFound, "ADODB.Recordset",
              "Item cannot be found in the collection corresponding to the requested name or "
              "ordinal.");
}

class OdbcCursor : public Cursor {
 public:
  OdbcCursor(std::shared_ptr<Session> session, Handle statement, SQLSMALLINT columns)
      : session_(std::move(session)), statement_(std::move(statement)) {
    for (SQLSMALLINT i = 1; i <= columns; ++i) columns_.push_back(Describe(i));
    values_.resize(columns_.size());
    Fetch();
  }

  bool Eof() const override { return eof_; }
  void MoveNext() override {
    if (eof_) RaiseNoCurrentRecord();
    Fetch();
  }
  int FieldCount() const override { return static_cast<int>(columns_.size()); }
  const std::string& FieldName(int i) const override { return Column(i).name; }
  int FieldType(int i) const override { return Column(i).ado_type; }
  const Value& FieldValue(int i) const override {
    Column(i);
    if (eof_) RaiseNoCurrentRecord();
    return values_[static_cast<size_t>(i)];
  }

 private:
  const ColumnInfo& Column(int i) const {
    if (i < 0 || i >= FieldCount()) RaiseNoSuchField();
    return columns_[static_cast<size_t>(i)];
  }

  ColumnInfo Describe(SQLSMALLINT number) {
    std::vector<SQLWCHAR> name(256);
    SQLSMALLINT length = 0, sql_type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    SQLRETURN rc = SQLDescribeColW(statement_.get(), number, name.data(),
                                   static_cast<SQLSMALLINT>(name.size()), &length, &sql_type, &size,
                                   &digits, &nullable);
    if (SQL_SUCCEEDED(rc) && length >= static_cast<SQLSMALLINT>(name.size())) {
      name.resize(static_cast<size_t>(length) + 1);
      rc = SQLDescribeColW(statement_.get(), number, name.data(),
                           static_cast<SQLSMALLINT>(name.size()), &length, &sql_type, &size,
                           &digits, &nullable);
    }
    if (!SQL_SUCCEEDED(rc)) Raise(statement_, kAdoGenericError);
    ColumnInfo info = MapSqlType(sql_type);
    info.name = FromWide(name.data(), std::min<size_t>(length, name.size() - 1));
    return info;
  }

  void Fetch() {
    SQLRETURN rc = SQLFetch(statement_.get());
    if (rc == SQL_NO_DATA) {
      eof_ = true;
      SQLFreeStmt(statement_.get(), SQL_CLOSE);
      return;
    }
    if (!SQL_SUCCEEDED(rc)) Raise(statement_, kAdoGenericError);
    for (size_t i = 0; i < columns_.size(); ++i) values_[i] = Read(i);
  }

  // Reads a fixed-size value; false for a null.
  template <class T>
  bool ReadFixed(SQLUSMALLINT column, SQLSMALLINT c_type, T& out) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(statement_.get(), column, c_type, &out, sizeof out, &indicator);
    if (!SQL_SUCCEEDED(rc)) Raise(statement_, kAdoGenericError);
    return indicator != SQL_NULL_DATA;
  }

  // Reads a value of any length in pieces; false for a null.
  template <class Unit>
  bool ReadLong(SQLUSMALLINT column, SQLSMALLINT c_type, std::vector<Unit>& out) {
    out.clear();
    const size_t terminator = c_type == SQL_C_BINARY ? 0 : sizeof(Unit);
    chunk_.resize(kChunkBytes);
    for (;;) {
      SQLLEN indicator = 0;
      SQLRETURN rc = SQLGetData(statement_.get(), column, c_type, chunk_.data(),
                                static_cast<SQLLEN>(chunk_.size()), &indicator);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) Raise(statement_, kAdoGenericError);
      if (indicator == SQL_NULL_DATA) return false;
      const size_t room = chunk_.size() - terminator;
      bool complete = indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) <= room;
      size_t bytes = complete ? static_cast<size_t>(indicator) : room;
      const Unit* units = reinterpret_cast<const Unit*>(chunk_.data());
      out.insert(out.end(), units, units + bytes / sizeof(Unit));
      if (complete || rc == SQL_SUCCESS) break;
    }
    return true;
  }

  Value Read(size_t index) {
    const auto column = static_cast<SQLUSMALLINT>(index + 1);
    switch (columns_[index].fetch) {
      case Fetch::kInteger: {
        SQLBIGINT v = 0;
        return ReadFixed(column, SQL_C_SBIGINT, v) ? Value(static_cast<int64_t>(v)) : Value::Null();
      }
      case Fetch::kBit: {
        unsigned char v = 0;
        return ReadFixed(column, SQL_C_BIT, v) ? Value(v != 0) : Value::Null();
      }
      case Fetch::kSingle: {
        SQLREAL v = 0;
        return ReadFixed(column, SQL_C_FLOAT, v) ? Value::Single(v) : Value::Null();
      }
      case Fetch::kDouble: {
        SQLDOUBLE v = 0;
        return ReadFixed(column, SQL_C_DOUBLE, v) ? Value(static_cast<double>(v)) : Value::Null();
      }
      case Fetch::kDate: {
        SQL_DATE_STRUCT d{};
        if (!ReadFixed(column, SQL_C_TYPE_DATE, d)) return Value::Null();
        return Value::Date(static_cast<double>(DaysFromOleEpoch(d.year, d.month, d.day)));
      }
      case Fetch::kTime: {
        SQL_TIME_STRUCT t{};
        if (!ReadFixed(column, SQL_C_TYPE_TIME, t)) return Value::Null();
        return Value::Date((t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0);
      }
      case Fetch::kTimestamp: {
        SQL_TIMESTAMP_STRUCT t{};
        if (!ReadFixed(column, SQL_C_TYPE_TIMESTAMP, t)) return Value::Null();
        double serial = FieldsToOleDate({t.year, t.month, t.day, t.hour, t.minute, t.second});
        // Before 1899-12-30 the fraction counts forwards from a negative day.
        double fraction = t.fraction / 1e9 / 86400.0;
        return Value::Date(serial < 0 ? serial - fraction : serial + fraction);
      }
      case Fetch::kBinary: {
        Bytes bytes;
        return ReadLong(column, SQL_C_BINARY, bytes) ? Value::FromBytes(std::move(bytes))
                                                     : Value::Null();
      }
      case Fetch::kDecimal:
      case Fetch::kText: {
        std::vector<SQLWCHAR> units;
        if (!ReadLong(column, SQL_C_WCHAR, units)) return Value::Null();
        std::string text = FromWide(units.data(), units.size());
        if (columns_[index].fetch == Fetch::kDecimal) return Value::Decimal(std::move(text));
        return Value(std::move(text));
      }
    }
    return Value::Null();
  }

  std::shared_ptr<Session> session_;  // declared first: outlives the statement handle
  Handle statement_;
  std::vector<ColumnInfo> columns_;
  std::vector<Value> values_;
  std::vector<unsigned char> chunk_;
  bool eof_ = false;
};

class OdbcBackend : public ConnectionBackend {
 public:
  explicit OdbcBackend(const std::string& connection_string)
      : session_(std::make_shared<Session>()) {
    session_->env = Handle(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    if (!session_->env)
      throw Error(kAdoGenericError, kOdbcErrorSource,
                  "The ODBC driver manager could not allocate an environment.");
    SQLSetEnvAttr(session_->env.get(), SQL_ATTR_ODBC_VERSION,
                  reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    session_->dbc = Handle(SQL_HANDLE_DBC, session_->env.get());
    if (!session_->dbc) Raise(session_->env, kAdoGenericError);
    // No login timeout: the driver would pass it to libpq as connect_timeout and refuse the
    // connect_timeout of the string's pqopt, where the run gives its own.
    WideText wide = ToWide(connection_string);
    SQLRETURN rc = SQLDriverConnectW(session_->dbc.get(), nullptr, wide.data(),
                                     static_cast<SQLSMALLINT>(wide.size()), nullptr, 0, nullptr,
                                     SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
      Diagnostics diag = ReadDiagnostics(session_->dbc);
      throw Error(kAdoGenericError, kOdbcErrorSource, diag.text);
    }
    session_->connected = true;
    // ADO works in autocommit: every statement stands alone unless it opens a transaction.
    rc = SQLSetConnectAttrW(session_->dbc.get(), SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    if (!SQL_SUCCEEDED(rc)) Raise(session_->dbc, kAdoGenericError);
  }

  std::unique_ptr<Cursor> Execute(const std::string& sql) override {
    // Statements without a result reuse one handle: one allocation per connection, not per row.
    Handle statement = idle_ ? std::move(idle_) : Handle(SQL_HANDLE_STMT, session_->dbc.get());
    if (!statement) Raise(session_->dbc, kAdoGenericError);
    WideText wide = ToWide(sql);
    SQLRETURN rc =
        SQLExecDirectW(statement.get(), wide.data(), static_cast<SQLINTEGER>(wide.size()));
    if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(rc)) Reject(std::move(statement));
    SQLSMALLINT columns = 0;
    if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(SQLNumResultCols(statement.get(), &columns)))
      Reject(std::move(statement));
    if (columns == 0) {
      // Several statements in one text give one result each; a later one may be the failure.
      if (rc != SQL_NO_DATA) {
        SQLRETURN more;
        while (SQL_SUCCEEDED(more = SQLMoreResults(statement.get()))) {
        }
        if (more != SQL_NO_DATA) Reject(std::move(statement));
      }
      SQLFreeStmt(statement.get(), SQL_CLOSE);
      idle_ = std::move(statement);
      return nullptr;
    }
    return std::make_unique<OdbcCursor>(session_, std::move(statement), columns);
  }

  std::unique_ptr<Cursor> OpenSchema(int) override {
    throw Error(errc::kFeatureNotAvailable, "ADODB.Connection",
                "Object or provider is not capable of performing requested operation.");
  }

 private:
  // Takes the statement: everything is read from the driver while it still exists, then it
  // is freed here, never kept for reuse (after a rejection the driver fails every later
  // statement on the same handle without a diagnostic), and only then is the error raised.
  [[noreturn]] void Reject(Handle statement) {
    const Diagnostics diag = ReadDiagnostics(statement);
    // A statement that failed because the connection is gone is a connection failure.
    SQLUINTEGER dead = SQL_CD_FALSE;
    SQLGetConnectAttrW(session_->dbc.get(), SQL_ATTR_CONNECTION_DEAD, &dead, sizeof dead, nullptr);
    const bool lost = dead == SQL_CD_TRUE || diag.state.rfind("08", 0) == 0;
    statement = Handle();
    throw Error(lost ? kAdoGenericError : kAdoRejectedStatement, kOdbcErrorSource, diag.text);
  }

  std::shared_ptr<Session> session_;  // declared first: outlives the idle statement handle
  Handle idle_;
};

}  // namespace

std::unique_ptr<ConnectionBackend> OpenOdbcBackend(const std::string& connection_string) {
  return std::make_unique<OdbcBackend>(connection_string);
}

}  // namespace ferrolyte
