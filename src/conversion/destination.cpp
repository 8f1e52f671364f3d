#include "conversion/destination.h"

#include <string_view>

namespace ferrolyte {

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

void Destination::WriteRow(std::string& statement) {
  if (!is_direct()) {
    statement += ';';
    dump_->WriteDumpLine(statement);
    ++rows_written_;
    return;
  }
  rejected_row_.clear();
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
