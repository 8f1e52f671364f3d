#include "conversion/destination.h"

#include "conversion/copy_text.h"

namespace ferrolyte {
namespace {

// The statements and the dump's own lines, shared by both forms of rows.
class DumpDestination : public Destination {
 public:
  explicit DumpDestination(DumpFile& dump) : dump_(dump) {}

  void Write(const std::string& statement, bool blank_line_after) override {
    current_statement_ = statement;
    dump_.WriteDumpLine(statement + ";");
    if (blank_line_after) dump_.WriteDumpLine("");
  }
  void WriteDumpText(const std::string& line) override { dump_.WriteDumpLine(line); }
  int64_t rows_written() const override { return rows_written_; }

 protected:
  DumpFile& dump_;
  std::string line_;
  int64_t rows_written_ = 0;
};

class InsertDump : public DumpDestination {
 public:
  using DumpDestination::DumpDestination;

  void BeginRows(const std::string& quoted_table, const std::string& column_list) override {
    prefix_ = InsertPrefix(quoted_table, column_list);
  }
  void WriteRow(const TypedRow& row) override {
    line_.clear();
    AppendInsertRow(line_, prefix_, row);
    line_ += ';';
    dump_.WriteDumpLine(line_);
    ++rows_written_;
  }

 private:
  std::string prefix_;
};

class CopyDump : public DumpDestination {
 public:
  using DumpDestination::DumpDestination;

  void BeginRows(const std::string& quoted_table, const std::string& column_list) override {
    dump_.WriteDumpLine(CopyFromStdin(quoted_table, column_list) + ";");
  }
  void WriteRow(const TypedRow& row) override {
    line_.clear();
    AppendCopyRow(line_, row);
    dump_.WriteDumpLine(line_);
    ++rows_written_;
  }
  void EndRows() override { dump_.WriteDumpLine(kCopyEndOfData); }
};

}  // namespace

std::unique_ptr<Destination> MakeDumpDestination(DumpFile& dump, bool copy_blocks) {
  if (copy_blocks) return std::make_unique<CopyDump>(dump);
  return std::make_unique<InsertDump>(dump);
}

void ServerDestination::set_row_session(PgConnection* session, const Clock& clock) {
  if (!session) {
    chunks_.reset();
    return;
  }
  // A rejected row is sent alone the way every row once was, so that its report is the same.
  chunks_ = std::make_unique<CopyChunks>(
      *session, [this](const std::string& insert) { connection_->Execute(insert); }, clock);
}

void ServerDestination::set_while_waiting(std::function<void()> hook) {
  if (chunks_) chunks_->set_while_waiting(std::move(hook));
}

int64_t ServerDestination::rows_written() const {
  return rows_written_ + (chunks_ ? chunks_->committed_rows() : 0);
}

const std::string& ServerDestination::rejected_row() const {
  return chunks_ && !chunks_->rejected_row().empty() ? chunks_->rejected_row() : rejected_row_;
}

void ServerDestination::BeginRows(const std::string& quoted_table, const std::string& column_list) {
  // A failure before the first row of this table is no fault of the last table's rows.
  rejected_row_.clear();
  insert_prefix_ = InsertPrefix(quoted_table, column_list);
  if (chunks_) {
    const std::string columns = column_list.empty() ? "*" : column_list;
    chunks_->StartTable(CopyFromStdin(quoted_table, column_list), insert_prefix_,
                        "SELECT " + columns + " FROM " + quoted_table + " LIMIT 0");
  }
}

bool ServerDestination::RowsDue() const {
  return chunks_ ? chunks_->ChunkDue() || chunks_->StreamDue() : true;
}

void ServerDestination::KeepRows() {
  if (!chunks_) {
    FlushRows();
  } else if (chunks_->ChunkDue()) {
    chunks_->Commit();
  } else {
    chunks_->Stream();
  }
}

int64_t ServerDestination::DropUnkeptRows() {
  return chunks_ ? static_cast<int64_t>(chunks_->DropUnstreamed()) : 0;
}

void ServerDestination::Write(const std::string& statement, bool) {
  FlushRows();
  current_statement_ = statement;
  connection_->Execute(statement);
  current_statement_.clear();
}

void ServerDestination::WriteRow(const TypedRow& row) {
  rejected_row_.clear();
  if (chunks_) {
    chunks_->Add(row);
    return;
  }
  statement_.clear();
  AppendInsertRow(statement_, insert_prefix_, row);
  if (rows_per_round_trip_ == 1) {
    ExecuteRow(statement_);
    return;
  }
  if (!row_ends_.empty()) batch_ += ';';
  batch_ += statement_;
  row_ends_.push_back(batch_.size());
  if (row_ends_.size() >= rows_per_round_trip_ || batch_.size() >= kBytesPerRoundTrip) FlushRows();
}

void ServerDestination::ExecuteRow(const std::string& statement) {
  try {
    connection_->Execute(statement);
  } catch (...) {
    rejected_row_ = statement;
    throw;
  }
  ++rows_written_;
}

void ServerDestination::FlushRows() {
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

}  // namespace ferrolyte
