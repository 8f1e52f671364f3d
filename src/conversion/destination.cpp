#include "conversion/destination.h"

#include <string_view>

#include "conversion/copy_text.h"

namespace ferrolyte {

void Destination::set_row_session(PgConnection* session, const Clock& clock) {
  if (!session) {
    chunks_.reset();
    return;
  }
  // A rejected row is sent alone the way every row once was, so that its report is the same.
  chunks_ = std::make_unique<CopyChunks>(
      *session, [this](const std::string& insert) { connection_->Execute(insert); }, clock);
}

void Destination::set_while_waiting(std::function<void()> hook) {
  if (chunks_) chunks_->set_while_waiting(std::move(hook));
}

int64_t Destination::rows_written() const {
  return rows_written_ + (chunks_ ? chunks_->committed_rows() : 0);
}

const std::string& Destination::rejected_row() const {
  return chunks_ && !chunks_->rejected_row().empty() ? chunks_->rejected_row() : rejected_row_;
}

void Destination::BeginRows(const std::string& quoted_table, const std::string& column_list) {
  // A failure before the first row of this table is no fault of the last table's rows.
  rejected_row_.clear();
  if (chunks_) {
    chunks_->StartTable(CopyFromStdin(quoted_table, column_list));
  } else if (!is_direct() && copy_blocks_) {
    dump_->WriteDumpLine(CopyFromStdin(quoted_table, column_list) + ";");
  }
}

bool Destination::RowsDue() const {
  return chunks_ ? chunks_->ChunkDue() : true;
}

int64_t Destination::DropUncommittedRows() {
  if (!chunks_) return 0;
  const auto held = static_cast<int64_t>(chunks_->held_rows());
  chunks_->Discard();
  return held;
}

void Destination::EndRows() {
  FlushRows();
  if (!is_direct() && copy_blocks_) dump_->WriteDumpLine(kCopyEndOfData);
}

void Destination::Write(const std::string& statement, bool blank_line_after) {
  FlushRows();
  current_statement_ = statement;
  if (is_direct()) {
    connection_->Execute(statement);
    current_statement_.clear();
    return;
  }
  dump_->WriteDumpLine(statement + ";");
  if (blank_line_after) dump_->WriteDumpLine("");
}

void Destination::WriteRow(std::string& statement, std::string_view copy_line) {
  if (!is_direct()) {
    if (copy_blocks_) {
      dump_->WriteDumpLine(std::string(copy_line));
    } else {
      statement += ';';
      dump_->WriteDumpLine(statement);
    }
    ++rows_written_;
    return;
  }
  rejected_row_.clear();
  if (chunks_) {
    chunks_->Add(statement, copy_line);
    return;
  }
  if (rows_per_round_trip_ == 1) {
    ExecuteRow(statement);
    return;
  }
  if (!row_ends_.empty()) batch_ += ';';
  batch_ += statement;
  row_ends_.push_back(batch_.size());
  if (row_ends_.size() >= rows_per_round_trip_ || batch_.size() >= kBytesPerRoundTrip) FlushRows();
}

void Destination::ExecuteRow(const std::string& statement) {
  try {
    connection_->Execute(statement);
  } catch (...) {
    rejected_row_ = statement;
    throw;
  }
  ++rows_written_;
}

void Destination::FlushRows() {
  if (chunks_) {
    chunks_->Commit();
    return;
  }
  if (row_ends_.empty()) return;
  rejected_row_.clear();
  std::string batch = std::move(batch_);
  std::vector<size_t> ends = std::move(row_ends_);
  batch_.clear();
  row_ends_.clear();
  if (ends.size() == 1) {
    ExecuteRow(batch);
    return;
  }
  try {
    connection_->Execute(batch);
    rows_written_ += static_cast<int64_t>(ends.size());
    return;
  } catch (...) {
    // Nothing of the batch stayed; which row was at fault only a replay can tell.
  }
  size_t begin = 0;
  for (size_t end : ends) {
    ExecuteRow(batch.substr(begin, end - begin));
    begin = end + 1;
  }
}

void Destination::WriteDumpText(const std::string& line) {
  if (!is_direct()) dump_->WriteDumpLine(line);
}

}  // namespace ferrolyte
