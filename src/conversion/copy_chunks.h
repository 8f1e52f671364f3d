// The rows of a direct run sent with COPY in chunks, each chunk committed on its own. Between
// commits the rows are streamed now and then; the progress shows the rows streamed, and a stop
// commits exactly those.
//
// A COPY is atomic, and the server's complaint about it names a line, not a statement. So a
// chunk the server rejects is replayed as its rows' own INSERTs, rendered then from the values
// the chunk holds (no accepted row ever has its INSERT built): the rows before the one at
// fault are committed, that row's INSERT is sent alone the way a single row always was (its
// error is what the user sees), and no row after it is sent.
//
// Rows go in the binary COPY format when every column of the table has an exact binary form
// for its server type: rendering them takes a fraction of the text's work on both sides. A
// value without one turns the rest of the table to text, its open chunk included.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "conversion/copy_binary.h"
#include "conversion/held_rows.h"
#include "conversion/typed_row.h"
#include "platform/pg_connection.h"
#include "support/clock.h"

namespace ferrolyte {

class CopyChunks {
 public:
  // A chunk is committed once the rows it holds for a replay take this much (a direct run
  // then peaks at about 54 MB; 32 MB would take it to 62 MB, too near the 64 MB it must stay
  // under when a few long rows overshoot) ...
  static constexpr size_t kChunkBytes = 24 << 20;
  // ... or once it has been open this long. Each commit costs the server a sync to disk.
  static constexpr std::chrono::milliseconds kChunkTime{2000};
  // Between commits the rows are streamed at least this often, and the progress shown then:
  // a stop commits what was streamed, so the progress never stands still for long.
  static constexpr std::chrono::milliseconds kStreamTime{100};
  // ... and once this much COPY text waits, so that it never piles up.
  static constexpr size_t kStreamBytes = 64 << 10;

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
  // chunks (text format) and the start of its rows' INSERTs (InsertPrefix). Forgets the
  // previous table's rejected row. `columns_query` returns no row but the COPY's columns, in
  // its order: their types decide whether the rows go in binary. Empty: text.
  void StartTable(std::string copy_statement, std::string insert_prefix,
                  const std::string& columns_query = {});
  // False sends every table as text.
  void set_binary(bool allowed) { binary_allowed_ = allowed; }
  // A chunk is also due at this many rows; 0: no such limit (tests cut small chunks).
  void set_max_rows(size_t rows) { max_rows_ = rows; }
  // Called every few rows of a replay, which may take a while: lets the window breathe.
  void set_while_waiting(std::function<void()> hook) { while_waiting_ = std::move(hook); }

  // Renders the row's COPY data and holds its values for a replay. Raises what rendering
  // raises, holding nothing of the row.
  void Add(const TypedRow& row);
  // True when the held rows should be committed now.
  bool ChunkDue() const;
  // True when the rows not yet streamed should be streamed now.
  bool StreamDue() const;
  // Hands the rows not yet streamed to the server; a stop then keeps them. Raises as Commit
  // does when the server has rejected a line of this chunk already.
  void Stream();
  // Commits the held rows. When the server rejects them, replays them (see above) and raises
  // the rejected row's error; rejected_row() names its INSERT. A lost session raises
  // kAdoGenericError and names the chunk's first row.
  void Commit();
  // Drops the rows not yet streamed and returns how many: a Commit then keeps what the last
  // Stream sent.
  size_t DropUnstreamed();
  // Drops the held rows: none of them stays on the server.
  void Discard();

  size_t held_rows() const { return held_.rows(); }
  // Rows the server has committed through this object.
  int64_t committed_rows() const { return committed_; }
  // The INSERT of the row the server rejected; empty when none was.
  const std::string& rejected_row() const { return rejected_row_; }
  // INSERTs built so far, all of them for replays.
  int64_t inserts_rendered() const { return inserts_rendered_; }
  // Rows committed in binary COPY chunks.
  int64_t binary_rows() const { return binary_rows_; }

 private:
  std::string Insert(size_t row);
  // Hands the pending data to the server: the first `rows` held rows are then streamed.
  void Send(size_t rows);
  // Decides the table's format from its first row's columns.
  void ChooseFormat(const TypedRow& row);
  // Turns the table to text, rendering the open chunk's rows again.
  void SwitchToText();
  // The held rows are not (all) on the server: find the one at fault, or commit them all.
  void Replay();
  [[noreturn]] void RaiseLost(const class Error& e);
  void Clear();

  PgConnection& session_;
  SingleRow single_row_;
  const Clock& clock_;
  std::function<void()> while_waiting_;
  std::string copy_statement_;
  std::string insert_prefix_;
  bool binary_allowed_ = true;
  // The server types of the table's columns; whether the format is decided, and which.
  std::vector<uint32_t> server_types_;
  bool format_chosen_ = false;
  bool binary_ = false;
  std::vector<BinaryField> fields_;

  // The held rows' values, with the columns they were added with.
  std::vector<ColumnSpec> columns_;
  HeldRows held_;
  // COPY data not yet handed to libpq, and the rows before it.
  std::string pending_;
  size_t streamed_rows_ = 0;
  std::chrono::steady_clock::time_point chunk_start_;
  std::chrono::steady_clock::time_point streamed_at_;
  size_t max_rows_ = 0;
  int64_t committed_ = 0;
  int64_t inserts_rendered_ = 0;
  int64_t binary_rows_ = 0;
  std::string rejected_row_;
};

}  // namespace ferrolyte
