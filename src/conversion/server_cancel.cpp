#include "conversion/server_cancel.h"

#include <chrono>
#include <string>

#include "support/errors.h"

namespace ferrolyte {
namespace {

// A signal handler sets the token and can wake nothing: it is looked at this often.
constexpr auto kLookInterval = std::chrono::milliseconds(50);
constexpr auto kCancelInterval = std::chrono::seconds(1);

}  // namespace

ServerCancel::ServerCancel(const CancelToken& end_now, SessionOpener open)
    : end_now_(end_now), open_(std::move(open)), thread_([this] { Watch(); }) {}

ServerCancel::~ServerCancel() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void ServerCancel::WatchStatementSession(int64_t backend_pid) {
  std::lock_guard lock(mutex_);
  backend_pid_ = backend_pid;
}

void ServerCancel::WatchRowSession(const PgConnection* session) {
  std::lock_guard lock(mutex_);
  row_session_ = session;
}

void ServerCancel::WatchLane(int64_t backend_pid, const PgConnection* rows) {
  std::lock_guard lock(mutex_);
  if (backend_pid > 0) lane_pids_.push_back(backend_pid);
  if (rows) lane_rows_.push_back(rows);
}

void ServerCancel::ForgetLanes() {
  std::lock_guard lock(mutex_);
  lane_pids_.clear();
  lane_rows_.clear();
}

void ServerCancel::Watch() {
  std::unique_lock lock(mutex_);
  auto last_cancel = std::chrono::steady_clock::time_point{};
  while (!stop_) {
    wake_.wait_for(lock, kLookInterval, [this] { return stop_; });
    if (stop_ || !end_now_.load(std::memory_order_relaxed)) continue;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_cancel < kCancelInterval) continue;
    last_cancel = now;
    // Under the lock: no row session can go while it is cancelled. Every lane at once, so
    // that none waits on the server for the others' cancels.
    if (row_session_) row_session_->RequestCancel();
    for (const PgConnection* rows : lane_rows_) rows->RequestCancel();
    std::vector<int64_t> pids = lane_pids_;
    if (backend_pid_ > 0) pids.insert(pids.begin(), backend_pid_);
    lock.unlock();
    CancelBackends(pids);
    lock.lock();
  }
}

void ServerCancel::CancelBackends(const std::vector<int64_t>& backend_pids) {
  if (backend_pids.empty() || !open_) return;
  std::string pids;
  for (int64_t pid : backend_pids) pids += (pids.empty() ? "" : ",") + std::to_string(pid);
  try {
    std::unique_ptr<PgConnection> session = open_();
    session->QueryValue(
        "SELECT count(pg_catalog.pg_cancel_backend(p)) FROM pg_catalog.unnest("
        "ARRAY[" +
        pids + "]::int[]) AS p");
  } catch (const Error&) {
    // The server is gone or refuses: the statement then ends with the connection.
  }
}

}  // namespace ferrolyte
