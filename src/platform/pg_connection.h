// A PostgreSQL session through libpq, for the rows of a direct run: plain statements, and
// COPY FROM STDIN streamed in pieces as the rows are read.
//
// Errors carry the numbers the ODBC connection raises, so reports read the same whichever
// path a statement took: kAdoGenericError when the session cannot be opened or is lost,
// kAdoRejectedStatement when the server rejects a statement or COPY data. The description
// is the server's own: "ERROR: message", then " DETAIL: ...", " HINT: ..." and " CONTEXT: ..."
// when the server sent them (for COPY the context names the line), on one line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pg_parameters.h"

struct pg_conn;
struct pg_result;
struct pg_cancel;

namespace ferrolyte {

// The source an error of this session carries.
inline constexpr const char* kLibpqErrorSource = "PostgreSQL libpq";

// Where a session goes. An empty value leaves libpq's choice (the service file, PGHOST,
// PGPORT, ..., the password file, its defaults), as the ODBC driver leaves it.
struct PgParameters {
  std::string server;
  std::string port;
  std::string database;
  std::string user;
  std::string password;
  // Every further libpq parameter (sslmode, sslrootcert, connect_timeout, ...); never the
  // five above, never client_encoding.
  PgParameterList options;
};

class PgConnection {
 public:
  // Opens the session in UTF-8 and autocommit; raises kAdoGenericError with libpq's reason.
  explicit PgConnection(const PgParameters& where);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Runs the statement text (several statements separated by ";" run as one implicit
  // transaction). Raises the server's error; nothing of a rejected text stays.
  void Execute(const std::string& sql);
  // The first column of the first row of the query, or nullopt for no row or NULL.
  std::optional<std::string> QueryValue(const std::string& sql);
  // The type oid of each column the query returns, in order; raises as QueryValue does.
  std::vector<uint32_t> ResultTypes(const std::string& sql);

  // Starts "COPY ... FROM STDIN"; raises when the server refuses the statement.
  void BeginCopy(const std::string& copy_statement);
  // Hands data to the COPY; any split of the stream is fine. Raises when the session is lost,
  // and the server's error once it has rejected data sent before (else that shows at EndCopy).
  void PutCopyData(std::string_view data);
  // Ends the COPY and waits for the server; outside a transaction block the rows are
  // committed when this returns. Raises the server's error, which leaves none of them.
  void EndCopy();
  // Ends the COPY so that none of its rows stay; never raises (a lost session stays lost).
  void AbandonCopy();
  bool in_copy() const { return in_copy_; }

  // Asks the server to cancel what this session is running; the call waiting for it then
  // raises the server's "canceling statement" error. Any thread may call it, also while
  // another is inside a call of this session; nothing happens when the session is idle.
  void RequestCancel() const;

  // True inside BEGIN ... COMMIT (also when the block has failed).
  bool InTransaction() const;
  // True once the server has gone away; every later call raises kAdoGenericError.
  bool IsLost() const;
  // The value libpq connected with for the keyword (given, from the service file, a PG*
  // variable or its default); empty when it has none.
  std::string Parameter(const char* keyword) const;

 private:
  [[noreturn]] void RaiseSessionError();
  // The rows of the query, for the caller to free; raises the server's error.
  pg_result* Query(const std::string& sql);
  void FinishCommand(const std::string& what);

  pg_conn* conn_ = nullptr;
  pg_cancel* cancel_ = nullptr;  // libpq's cancel request, made once at connect
  bool in_copy_ = false;
};

}  // namespace ferrolyte
