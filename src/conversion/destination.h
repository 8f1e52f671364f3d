// Where the statements of a run go: executed one by one on the server, or written into the
// dump file. The run and the record transfer differ between the two only through this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "conversion/connections.h"
#include "platform/ado.h"

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

  // Executes the statement, or writes it with ";" and, when asked, an empty line after it.
  // While it runs it is the current statement; on the server that clears once it succeeded.
  // Rows still held are sent first.
  void Write(const std::string& statement, bool blank_line_after);
  // One row's INSERT. Dump: appends ";" to the caller's buffer and writes it, so that the
  // statement is never copied. Server: the row is held and goes out with the next ones in
  // one round trip, at the latest at FlushRows.
  void WriteRow(std::string& statement);
  // Sends the held rows. A round trip runs as one implicit transaction, so a rejected row
  // leaves none of its batch behind; the batch is then replayed row by row, which leaves
  // exactly the rows before the rejected one, as sending each alone would. The rejected
  // row's error is raised and rejected_row() names its statement.
  void FlushRows();
  // Rows written so far: to the dump, or accepted by the server (held rows not counted).
  int64_t rows_written() const { return rows_written_; }
  // The INSERT the server rejected in the last FlushRows; empty when none was.
  const std::string& rejected_row() const { return rejected_row_; }
  // 1 sends every row alone.
  void set_rows_per_round_trip(size_t rows) { rows_per_round_trip_ = rows ? rows : 1; }
  // A dump line as it stands (comments, empty lines); nothing for the server.
  void WriteDumpText(const std::string& line);

  // The statement being built, executed or last written; quoted in error reports.
  const std::string& current_statement() const { return current_statement_; }
  void set_current_statement(std::string statement) { current_statement_ = std::move(statement); }

 private:
  void ExecuteRow(const std::string& statement);

  Connection* connection_ = nullptr;
  DumpFile* dump_ = nullptr;
  std::string current_statement_;
  size_t rows_per_round_trip_ = kRowsPerRoundTrip;
  // The held rows joined with ";", and where each one ends in that text.
  std::string batch_;
  std::vector<size_t> row_ends_;
  std::string rejected_row_;
  int64_t rows_written_ = 0;
};

}  // namespace ferrolyte
