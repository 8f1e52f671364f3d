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
#include <vector>

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

  // The sessions of a lane that moves a table's rows beside others': its statement session's
  // server process and its row session. Watched until ForgetLanes.
  void WatchLane(int64_t backend_pid, const PgConnection* rows);
  // Stops watching every lane; their sessions may go then.
  void ForgetLanes();

 private:
  void Watch();
  // Ends the statements the server processes are running for the watched sessions.
  void CancelBackends(const std::vector<int64_t>& backend_pids);

  const CancelToken& end_now_;
  SessionOpener open_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  int64_t backend_pid_ = 0;
  const PgConnection* row_session_ = nullptr;
  std::vector<int64_t> lane_pids_;
  std::vector<const PgConnection*> lane_rows_;
  std::thread thread_;  // last: starts once the rest is set
};

}  // namespace ferrolyte
