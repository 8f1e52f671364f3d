#include "platform/pg_connection.h"

#include <libpq-fe.h>

#include <memory>
#include <vector>

#include "platform/ado.h"
#include "support/errors.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// Server and libpq texts fold to one line: reports hold the description on a single line.
std::string OneLine(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == '\t') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else if (c != ' ' || out.empty() || out.back() != ' ') {
      out += c;
    }
  }
  return Trim(out);
}

// The state classes after which the session is gone: connection exceptions and the
// server's shutdowns.
bool EndsSession(const char* sqlstate) {
  if (!sqlstate) return false;
  std::string_view s(sqlstate);
  return s.starts_with("08") || s == "57P01" || s == "57P02" || s == "57P03";
}

std::string ServerText(const PGresult* r) {
  const char* primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
  if (!primary) return OneLine(PQresultErrorMessage(r));
  const char* severity = PQresultErrorField(r, PG_DIAG_SEVERITY);
  std::string text = std::string(severity ? severity : "ERROR") + ": " + primary;
  auto add = [&](const char* label, int field) {
    if (const char* v = PQresultErrorField(r, field)) text += std::string(" ") + label + ": " + v;
  };
  add("DETAIL", PG_DIAG_MESSAGE_DETAIL);
  add("HINT", PG_DIAG_MESSAGE_HINT);
  add("CONTEXT", PG_DIAG_CONTEXT);
  return OneLine(text);
}

}  // namespace

PgConnection::PgConnection(const PgParameters& where) {
  // Given as separate values, nothing in them needs quoting and none is read as a
  // connection string of its own; libpq takes an empty value for one not given.
  std::vector<const char*> keywords = {"host", "port", "dbname", "user", "password"};
  std::vector<const char*> values = {where.server.c_str(), where.port.c_str(),
                                     where.database.c_str(), where.user.c_str(),
                                     where.password.c_str()};
  for (const PgParameter& p : where.options) {
    keywords.push_back(p.keyword.c_str());
    values.push_back(p.value.c_str());
  }
  // Last, so that nothing given replaces it: every text this session sends is UTF-8.
  keywords.insert(keywords.end(), {"client_encoding", nullptr});
  values.insert(values.end(), {"UTF8", nullptr});
  conn_ = PQconnectdbParams(keywords.data(), values.data(), 0);
  if (!conn_) throw Error(kAdoGenericError, kLibpqErrorSource, "Out of memory");
  if (PQstatus(conn_) != CONNECTION_OK) {
    std::string why = OneLine(PQerrorMessage(conn_));
    PQfinish(conn_);
    conn_ = nullptr;
    throw Error(kAdoGenericError, kLibpqErrorSource, why);
  }
  cancel_ = PQgetCancel(conn_);
  // Notices (a COMMIT outside a transaction warns) would go to standard error.
  PQsetNoticeProcessor(
      conn_, [](void*, const char*) {}, nullptr);
}

PgConnection::~PgConnection() {
  if (in_copy_) AbandonCopy();
  if (cancel_) PQfreeCancel(cancel_);
  PQfinish(conn_);
}

void PgConnection::RequestCancel() const {
  char error[256];
  if (cancel_) PQcancel(cancel_, error, sizeof error);
}

bool PgConnection::IsLost() const {
  return PQstatus(conn_) != CONNECTION_OK;
}

std::string PgConnection::Parameter(const char* keyword) const {
  std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(PQconninfo(conn_),
                                                                       &PQconninfoFree);
  for (const PQconninfoOption* o = options.get(); o && o->keyword; ++o)
    if (std::string_view(o->keyword) == keyword) return o->val ? o->val : "";
  return "";
}

bool PgConnection::InTransaction() const {
  PGTransactionStatusType s = PQtransactionStatus(conn_);
  return s == PQTRANS_INTRANS || s == PQTRANS_INERROR;
}

void PgConnection::RaiseSessionError() {
  throw Error(kAdoGenericError, kLibpqErrorSource, OneLine(PQerrorMessage(conn_)));
}

// Collects the results of the command just sent; raises the first error among them.
void PgConnection::FinishCommand(const std::string& what) {
  Result failure;
  while (PGresult* raw = PQgetResult(conn_)) {
    Result r(raw);
    ExecStatusType s = PQresultStatus(raw);
    if ((s == PGRES_FATAL_ERROR || s == PGRES_BAD_RESPONSE) && !failure) failure = std::move(r);
    // A COPY cannot be the answer to these commands: end it, so that the session stays usable.
    if (s == PGRES_COPY_IN) PQputCopyEnd(conn_, "unexpected COPY");
    if (s == PGRES_COPY_OUT) {
      char* row = nullptr;
      while (PQgetCopyData(conn_, &row, 0) > 0) PQfreemem(row);
    }
  }
  if (!failure) return;
  const char* sqlstate = PQresultErrorField(failure.get(), PG_DIAG_SQLSTATE);
  bool lost = IsLost() || EndsSession(sqlstate);
  std::string text = ServerText(failure.get());
  if (text.empty()) text = "The server rejected " + what + " without a reason.";
  throw Error(lost ? kAdoGenericError : kAdoRejectedStatement, kLibpqErrorSource, text);
}

void PgConnection::Execute(const std::string& sql) {
  if (in_copy_) throw Error(kAdoGenericError, kLibpqErrorSource, "A COPY is in progress.");
  if (!PQsendQuery(conn_, sql.c_str())) RaiseSessionError();
  FinishCommand("the statement");
}

pg_result* PgConnection::Query(const std::string& sql) {
  if (in_copy_) throw Error(kAdoGenericError, kLibpqErrorSource, "A COPY is in progress.");
  Result r(PQexec(conn_, sql.c_str()));
  if (!r) RaiseSessionError();
  if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
    const char* sqlstate = PQresultErrorField(r.get(), PG_DIAG_SQLSTATE);
    bool lost = IsLost() || EndsSession(sqlstate);
    throw Error(lost ? kAdoGenericError : kAdoRejectedStatement, kLibpqErrorSource,
                ServerText(r.get()));
  }
  return r.release();
}

std::vector<uint32_t> PgConnection::ResultTypes(const std::string& sql) {
  Result r(Query(sql));
  std::vector<uint32_t> types;
  for (int i = 0; i < PQnfields(r.get()); ++i) types.push_back(PQftype(r.get(), i));
  return types;
}

std::optional<std::string> PgConnection::QueryValue(const std::string& sql) {
  Result r(Query(sql));
  if (PQntuples(r.get()) == 0 || PQnfields(r.get()) == 0 || PQgetisnull(r.get(), 0, 0))
    return std::nullopt;
  return std::string(PQgetvalue(r.get(), 0, 0), static_cast<size_t>(PQgetlength(r.get(), 0, 0)));
}

void PgConnection::BeginCopy(const std::string& copy_statement) {
  if (in_copy_) throw Error(kAdoGenericError, kLibpqErrorSource, "A COPY is in progress.");
  if (!PQsendQuery(conn_, copy_statement.c_str())) RaiseSessionError();
  PGresult* raw = PQgetResult(conn_);
  if (!raw) RaiseSessionError();
  Result first(raw);
  if (PQresultStatus(raw) == PGRES_COPY_IN) {
    in_copy_ = true;
    return;
  }
  // Not a COPY FROM STDIN, or refused: drain the rest and raise what the server said.
  const char* sqlstate = PQresultErrorField(raw, PG_DIAG_SQLSTATE);
  bool failed = PQresultStatus(raw) == PGRES_FATAL_ERROR;
  std::string text = failed ? ServerText(raw) : "The statement is not a COPY FROM STDIN.";
  bool lost = IsLost() || EndsSession(sqlstate);
  while (PGresult* more = PQgetResult(conn_)) PQclear(more);
  throw Error(lost ? kAdoGenericError : kAdoRejectedStatement, kLibpqErrorSource, text);
}

void PgConnection::PutCopyData(std::string_view data) {
  if (!in_copy_) throw Error(kAdoGenericError, kLibpqErrorSource, "No COPY is in progress.");
  if (data.empty()) return;
  // Blocking mode: returns once libpq has buffered or sent the data. -1 when the session
  // broke, or when the server has ended the COPY with an error already.
  if (PQputCopyData(conn_, data.data(), static_cast<int>(data.size())) == 1) return;
  in_copy_ = false;
  if (IsLost()) RaiseSessionError();
  FinishCommand("the COPY data");
  throw Error(kAdoGenericError, kLibpqErrorSource, OneLine(PQerrorMessage(conn_)));
}

void PgConnection::EndCopy() {
  if (!in_copy_) throw Error(kAdoGenericError, kLibpqErrorSource, "No COPY is in progress.");
  in_copy_ = false;
  if (PQputCopyEnd(conn_, nullptr) != 1 && IsLost()) RaiseSessionError();
  FinishCommand("the COPY data");
}

void PgConnection::AbandonCopy() {
  if (!in_copy_) return;
  in_copy_ = false;
  // The server ends a COPY that the client fails with an error, which undoes all of it.
  PQputCopyEnd(conn_, "abandoned by the client");
  while (PGresult* r = PQgetResult(conn_)) PQclear(r);
}

}  // namespace ferrolyte
