// Where the statements of a run go: executed one by one on the server, or written into the
// dump file. The run and the record transfer differ between the two only through this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/copy_chunks.h"
#include "conversion/dump_file.h"
#include "platform/ado.h"
#include "platform/pg_connection.h"
#include "support/clock.h"

namespace ferrolyte {

class Destination {
 public:
  // Rows held for one round trip to the server. The server commits once per round trip,
  // so with fsync on this sets the direct transfer's speed. More than the progress step
  // buys nothing: the transfer flushes before every progress event, so that the progress
  // shown never runs past a row the server then rejects.
  static constexpr size_t kRowsPerRoundTrip = 10;
  // Large values end a round trip early, so a batch of memos never grows without bound.
  static constexpr size_t kBytesPerRoundTrip = 1 << 20;

  // Statements go to the server through the connection (which must outlive this).
  explicit Destination(Connection* connection) : connection_(connection) {}
  // Statements go into the dump file (which must outlive this).
  explicit Destination(DumpFile* dump) : dump_(dump) {}

  bool is_direct() const { return dump_ == nullptr; }
  // Switches the server connection (the run reconnects to the new database).
  void set_connection(Connection* connection) { connection_ = connection; }
  Connection* connection() const { return connection_; }
  // Server: the rows go with COPY in chunks through this session (which must outlive this),
  // a rejected row's INSERT alone through the connection. Statements stay on the connection.
  // The clock limits how long a chunk stays open.
  void set_row_session(PgConnection* session, const Clock& clock = SystemClock());
  // Dump: each table's rows as one COPY block instead of INSERT statements.
  void set_copy_blocks(bool on) { copy_blocks_ = on; }
  // True when WriteRow needs each row's COPY line as well as its INSERT.
  bool wants_copy_lines() const { return copy_blocks_ || chunks_ != nullptr; }
  // False when WriteRow needs no INSERT: a dump of COPY blocks writes only the COPY line.
  bool wants_insert_text() const { return is_direct() || !copy_blocks_; }

  // Executes the statement, or writes it with ";" and, when asked, an empty line after it.
  // While it runs it is the current statement; on the server that clears once it succeeded.
  // Rows still held are sent first.
  void Write(const std::string& statement, bool blank_line_after);

  // Starts the rows of a table: the quoted table and the column list of its INSERTs (empty
  // without one). A dump of COPY blocks writes the block's first line.
  void BeginRows(const std::string& quoted_table, const std::string& column_list);
  // One row: its INSERT (when wants_insert_text()) and, when wants_copy_lines(), its COPY line (no
  // line end). Dump: writes the INSERT with ";" appended to the caller's buffer, so that the
  // statement is never copied, or the COPY line. Server: the row is held and goes out with the next
  // ones.
  void WriteRow(std::string& statement, std::string_view copy_line = {});
  // Asked at every tenth row: true when the held rows should go out now. INSERTs go every
  // ten rows; COPY chunks when they are full.
  bool RowsDue() const;
  // Sends the held rows; when it returns, the server holds every row written so far. INSERTs
  // of a round trip run as one implicit transaction, a chunk as one COPY: on a rejection
  // nothing of it stays, so it is replayed row by row, which leaves exactly the rows before
  // the rejected one, as sending each alone would. The rejected row's error is raised and
  // rejected_row() names its statement.
  void FlushRows();
  // Server with a row session: drops the rows of the chunk not yet committed and returns how
  // many (a stop leaves what the progress showed). Otherwise nothing: returns 0.
  int64_t DropUncommittedRows();
  // Ends the rows of the table: sends the held rows; a dump of COPY blocks ends the block.
  void EndRows();

  // Rows written so far: to the dump, or accepted by the server (held rows not counted).
  int64_t rows_written() const;
  // The INSERT the server rejected in the last FlushRows; empty when none was.
  const std::string& rejected_row() const;
  // 1 sends every row alone.
  void set_rows_per_round_trip(size_t rows) { rows_per_round_trip_ = rows ? rows : 1; }
  // COPY chunks of at most this many rows (besides their size and age limits).
  void set_rows_per_chunk(size_t rows) {
    if (chunks_) chunks_->set_max_rows(rows);
  }
  // Called now and then while rows are replayed, which may take a while.
  void set_while_waiting(std::function<void()> hook);
  // A dump line as it stands (comments, empty lines); nothing for the server.
  void WriteDumpText(const std::string& line);

  // The statement being built, executed or last written; quoted in error reports.
  const std::string& current_statement() const { return current_statement_; }
  void set_current_statement(std::string statement) { current_statement_ = std::move(statement); }

 private:
  void ExecuteRow(const std::string& statement);

  Connection* connection_ = nullptr;
  DumpFile* dump_ = nullptr;
  bool copy_blocks_ = false;
  std::unique_ptr<CopyChunks> chunks_;
  std::string current_statement_;
  size_t rows_per_round_trip_ = kRowsPerRoundTrip;
  // The held rows joined with ";", and where each one ends in that text.
  std::string batch_;
  std::vector<size_t> row_ends_;
  std::string rejected_row_;
  int64_t rows_written_ = 0;
};

}  // namespace ferrolyte
