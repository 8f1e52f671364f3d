// The rows of a direct run sent with COPY in chunks, each chunk committed on its own, so that
// the server holds whole chunks only: what the progress shows and what a cancel leaves.
//
// A COPY is atomic, and the server's complaint about it names a line, not a statement. So a
// chunk the server rejects is replayed as its rows' own INSERTs: the rows before the one at
// fault are committed, that row's INSERT is sent alone the way a single row always was (its
// error is what the user sees), and no row after it is sent.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pg_connection.h"
#include "support/clock.h"

namespace ferrolyte {

class CopyChunks {
 public:
  // A chunk is due once it holds this much INSERT text (kept for a replay) ...
  static constexpr size_t kChunkBytes = 8 << 20;
  // ... or has been open this long: the progress should not stand still for long.
  static constexpr std::chrono::milliseconds kChunkTime{500};
  // COPY data is handed to libpq in pieces of about this size.
  static constexpr size_t kSendBytes = 64 << 10;

  // Sends one INSERT alone and raises the server's error: the path a rejected row's report
  // comes from.
  using SingleRow = std::function<void(const std::string& insert)>;

  // Rows go through `session`; a rejected row is sent again through `single_row`. Both, and
  // the clock that times chunks, must outlive this.
  CopyChunks(PgConnection& session, SingleRow single_row, const Clock& clock = SystemClock())
      : session_(session), single_row_(std::move(single_row)), clock_(clock) {}
  ~CopyChunks();
  CopyChunks(const CopyChunks&) = delete;
  CopyChunks& operator=(const CopyChunks&) = delete;

  // Starts the rows of a table: the COPY ... FROM STDIN statement that opens each of its
  // chunks. Forgets the previous table's rejected row.
  void StartTable(std::string copy_statement) {
    copy_statement_ = std::move(copy_statement);
    rejected_row_.clear();
  }
  // A chunk is also due at this many rows; 0: no such limit (tests cut small chunks).
  void set_max_rows(size_t rows) { max_rows_ = rows; }
  // Called every few rows of a replay, which may take a while: lets the window breathe.
  void set_while_waiting(std::function<void()> hook) { while_waiting_ = std::move(hook); }

  // Holds the row and streams its line ("f1\tf2...", without the line end). Raises as
  // Commit does when the server has rejected a line of this chunk already.
  void Add(const std::string& insert, std::string_view copy_line);
  // True when the held rows should be committed now.
  bool ChunkDue() const;
  // Commits the held rows. When the server rejects them, replays them (see above) and raises
  // the rejected row's error; rejected_row() names its INSERT. A lost session raises
  // kAdoGenericError and names the chunk's first row.
  void Commit();
  // Drops the held rows: none of them stays on the server.
  void Discard();

  size_t held_rows() const { return ends_.size(); }
  // Rows the server has committed through this object.
  int64_t committed_rows() const { return committed_; }
  // The INSERT of the row the server rejected; empty when none was.
  const std::string& rejected_row() const { return rejected_row_; }

 private:
  std::string_view Insert(size_t row) const;
  void Send();
  // The held rows are not (all) on the server: find the one at fault, or commit them all.
  void Replay();
  [[noreturn]] void RaiseLost(const class Error& e);
  void Clear();

  PgConnection& session_;
  SingleRow single_row_;
  const Clock& clock_;
  std::function<void()> while_waiting_;
  std::string copy_statement_;

  // The held rows' INSERTs, one after the other, and where each ends.
  std::string inserts_;
  std::vector<size_t> ends_;
  // COPY lines not yet handed to libpq.
  std::string pending_;
  std::chrono::steady_clock::time_point chunk_start_;
  size_t max_rows_ = 0;
  int64_t committed_ = 0;
  std::string rejected_row_;
};

}  // namespace ferrolyte
