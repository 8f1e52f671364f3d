// Where the statements and rows of a run go: one implementation per target, the run and the
// record transfer talk to the interface alone. Each target renders a row from its typed values,
// once, in the form it sends: INSERT statements or COPY lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "conversion/copy_chunks.h"
#include "conversion/dump_file.h"
#include "conversion/typed_row.h"
#include "platform/ado.h"
#include "platform/pg_connection.h"
#include "support/clock.h"

namespace ferrolyte {

class Destination {
 public:
  virtual ~Destination() = default;

  // Executes the statement, or writes it with ";" and, when asked, an empty line after it.
  // While it runs it is the current statement; on the server that clears once it succeeded.
  // Rows still held are sent first.
  virtual void Write(const std::string& statement, bool blank_line_after) = 0;
  // A dump line as it stands (comments, empty lines, psql commands); nothing for the server.
  virtual void WriteDumpText(const std::string& line) = 0;

  // Starts the rows of a table: the quoted table and its column list (empty without one).
  virtual void BeginRows(const std::string& quoted_table, const std::string& column_list) = 0;
  // One row. Raises what rendering it raises (1003 for an oversize binary) with nothing of the
  // row written, or the server's refusal of a held row (see FlushRows).
  virtual void WriteRow(const TypedRow& row) = 0;
  // Asked at every tenth row: true when the rows should be made safe now (see KeepRows) and the
  // progress shown.
  virtual bool RowsDue() const { return true; }
  // When it returns, a stop keeps every row written so far: sent, or committed.
  virtual void KeepRows() { FlushRows(); }
  // Sends the held rows; when it returns, the server holds every row written so far. A round
  // trip or chunk the server rejects leaves exactly the rows before the rejected one, as
  // sending each alone would; that row's error is raised and rejected_row() names its INSERT.
  virtual void FlushRows() {}
  // On a stop: drops the rows written since the last KeepRows that a stop would not keep, and
  // returns how many (a stop leaves what the progress showed).
  virtual int64_t DropUnkeptRows() { return 0; }
  // Ends the rows of the table: sends the held rows, ends a COPY block.
  virtual void EndRows() { FlushRows(); }

  // Rows written so far: to the dump, or accepted by the server (held rows not counted).
  virtual int64_t rows_written() const = 0;
  // The INSERT the server rejected in the last FlushRows; empty when none was.
  virtual const std::string& rejected_row() const { return rejected_row_; }
  // Called now and then while rows are replayed, which may take a while.
  virtual void set_while_waiting(std::function<void()>) {}

  // The statement being built, executed or last written; quoted in error reports.
  const std::string& current_statement() const { return current_statement_; }
  void set_current_statement(std::string statement) { current_statement_ = std::move(statement); }

 protected:
  std::string current_statement_;
  std::string rejected_row_;
};

// A dump file: each row as its INSERT statement, or each table's rows as one COPY block.
std::unique_ptr<Destination> MakeDumpDestination(DumpFile& dump, bool copy_blocks);

// The server: each row as its INSERT, several per round trip; or, given a row session, the rows
// with COPY in chunks on that session, in binary where the columns allow (a rejected row's
// INSERT alone through the connection).
// Statements always go through the connection.
class ServerDestination : public Destination {
 public:
  // Rows held for one round trip to the server. The server commits once per round trip,
  // so with fsync on this sets the direct transfer's speed. More than the progress step
  // buys nothing: the transfer flushes before every progress event, so that the progress
  // shown never runs past a row the server then rejects.
  static constexpr size_t kRowsPerRoundTrip = 10;
  // Large values end a round trip early, so a batch of memos never grows without bound.
  static constexpr size_t kBytesPerRoundTrip = 1 << 20;

  // The connection must outlive this.
  explicit ServerDestination(Connection* connection) : connection_(connection) {}

  // Switches the server connection (the run reconnects to the new database).
  void set_connection(Connection* connection) { connection_ = connection; }
  // The rows go with COPY through this session (which must outlive this); none: INSERTs.
  // The clock times the chunks.
  void set_row_session(PgConnection* session, const Clock& clock = SystemClock());
  // 1 sends every row alone.
  void set_rows_per_round_trip(size_t rows) { rows_per_round_trip_ = rows ? rows : 1; }
  // COPY chunks of at most this many rows (besides their size and age limits).
  void set_rows_per_chunk(size_t rows) {
    if (chunks_) chunks_->set_max_rows(rows);
  }
  // False sends COPY rows as text, never in binary.
  void set_binary_copy(bool allowed) {
    if (chunks_) chunks_->set_binary(allowed);
  }
  // Rows committed with binary COPY.
  int64_t copy_rows_sent_binary() const { return chunks_ ? chunks_->binary_rows() : 0; }
  // INSERTs built for rows sent with COPY: only a rejected chunk's replay builds them.
  int64_t copy_rows_rendered_as_insert() const { return chunks_ ? chunks_->inserts_rendered() : 0; }

  void Write(const std::string& statement, bool blank_line_after) override;
  void WriteDumpText(const std::string&) override {}
  void BeginRows(const std::string& quoted_table, const std::string& column_list) override;
  void WriteRow(const TypedRow& row) override;
  bool RowsDue() const override;
  void KeepRows() override;
  void FlushRows() override;
  int64_t DropUnkeptRows() override;
  int64_t rows_written() const override;
  const std::string& rejected_row() const override;
  void set_while_waiting(std::function<void()> hook) override;

 private:
  void ExecuteRow(const std::string& statement);

  Connection* connection_ = nullptr;
  std::unique_ptr<CopyChunks> chunks_;
  size_t rows_per_round_trip_ = kRowsPerRoundTrip;
  std::string insert_prefix_;
  std::string statement_;
  // The held rows joined with ";", and where each one ends in that text.
  std::string batch_;
  std::vector<size_t> row_ends_;
  int64_t rows_written_ = 0;
};

}  // namespace ferrolyte
