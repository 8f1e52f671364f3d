// Ends the server waits of a run that has to end now (SIGTERM): a lock the run waits for,
// or a statement that runs long, would otherwise keep it alive, since no call into ODBC or
// libpq looks at the run's cancel token.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/pg_connection.h"
#include "support/run_context.h"

namespace ferrolyte {

class ServerCancel {
 public:
  // Opens a session of its own to the server, for the cancel of another session.
  using SessionOpener = std::function<std::unique_ptr<PgConnection>()>;

  // Watches `end_now` from a thread of its own. Once it is set, whatever the watched
  // sessions are running is cancelled, and again every second while this lives, so that a
  // statement sent after the first cancel cannot wait either. The session from `open`
  // cancels the statement session (with pg_cancel_backend); the row session is cancelled
  // through libpq's own request.
  ServerCancel(const CancelToken& end_now, SessionOpener open);
  // Stops the watch; the watched sessions must outlive it.
  ~ServerCancel();
  ServerCancel(const ServerCancel&) = delete;
  ServerCancel& operator=(const ServerCancel&) = delete;

  // The server process of the session that runs the statements; 0: none.
  void WatchStatementSession(int64_t backend_pid);
  // The session that carries the rows; null: none.
  void WatchRowSession(const PgConnection* session);

 private:
  void Watch();
  // Ends the statement the server process is running for the watched session.
  void CancelBackend(int64_t backend_pid);

  const CancelToken& end_now_;
  SessionOpener open_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  int64_t backend_pid_ = 0;
  const PgConnection* row_session_ = nullptr;
  std::thread thread_;  // last: starts once the rest is set
};

}  // namespace ferrolyte
