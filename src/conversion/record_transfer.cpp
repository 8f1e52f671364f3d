#include "conversion/record_transfer.h"

#include <cstdlib>

#include "conversion/literals.h"
#include "support/errors.h"
#include "support/safe.h"

namespace ferrolyte {
namespace {

struct Column {
  ColumnSpec spec;
  std::string name;
};

// Reports the failure and returns it as the table's reason.
std::string ReportFailure(const std::exception& e, const std::string& rejected_row,
                          std::string& run_report, StatusOutput& status) {
  auto* error = dynamic_cast<const Error*>(&e);
  const int32_t number = error ? error->number() : kAdoGenericError;
  const std::string description = error ? error->description() : std::string(e.what());
  status.AddStatusLine("  Error moving data");
  // The status line stays short; the log keeps why at the moment it happened.
  status.WriteLog("Error moving data: " + OneLine(description));
  run_report += "Error moving data\r\nError: " + std::to_string(number) +
                "\r\nReason: " + description + "\r\n";
  if (!rejected_row.empty()) run_report += "SQL: " + rejected_row + "\r\n";
  return OneLine("Error " + std::to_string(number) + ": " + description);
}

// One table's transfer, step by step; MoveRecords below runs the steps.
class TableTransfer {
 public:
  TableTransfer(const RecordTransfer& t, std::string& run_report, const RunContext& ctx,
                TableOutcome& out)
      : t_(t),
        run_report_(run_report),
        ctx_(ctx),
        status_(ctx.status),
        destination_(*t.destination),
        out_(out),
        written_before_(destination_.rows_written()) {}

  int32_t Run();

 private:
  void OpenSource();
  void ReadColumns();
  void Note(const std::string& note) {
    run_report_ += "- " + note + "\r\n";
    out_.notes.push_back(note);
  }
  void MoveRows();
  void WriteRow();
  void ShowProgress(int32_t rows);
  void ReportNulTexts();
  void JudgeCount(bool walked_to_end);
  int32_t Failed(const std::exception& e);
  int32_t Failed(const std::string& reason);
  template <typename Tell>
  void Figures(Tell tell) {
    if (!t_.progress) return;
    tell(*t_.progress);
    status_.SetProgressFigures(t_.progress->Figures());
  }

  const RecordTransfer& t_;
  std::string& run_report_;
  const RunContext& ctx_;
  StatusOutput& status_;
  Destination& destination_;
  TableOutcome& out_;
  const int64_t written_before_;
  std::shared_ptr<Recordset> rows_;
  int32_t record_count_ = 0;
  int32_t moved_ = 0;
  int32_t shown_ = 0;  // the rows the progress shows
  std::vector<Column> columns_;
  std::vector<ColumnSpec> specs_;
  std::vector<const Value*> values_;
  // Per column: the texts whose NUL characters became spaces.
  std::vector<int64_t> nul_texts_;
  std::string progress_prefix_;
  std::string progress_suffix_;
};

void TableTransfer::OpenSource() {
  SourceRows asked = t_.source_rows;
  if (asked.table.empty()) asked.table = t_.source_table;
  const int32_t record_count = SafeLng(Value(t_.source->CountRows(asked)));
  record_count_ = record_count;
  out_.rows_expected = record_count;
  rows_ = CreateObjectAs<Recordset>(ctx_.components, "ADODB.RecordSet");
  rows_->Open(asked, *t_.source);
  status_.SetProgressRange("PROGRESS", 0, record_count);
  Figures([&](RunProgress& p) { p.BeginRows(record_count); });
}

void TableTransfer::ReadColumns() {
  const int field_count = rows_->FieldCount();
  for (int i = 0; i < field_count; ++i) {
    const int type = rows_->FieldType(i);
    const bool required = static_cast<size_t>(i) < t_.required.size() && t_.required[i];
    const bool bytea = static_cast<size_t>(i) < t_.bytea.size() && t_.bytea[i];
    ColumnKind kind = bytea ? ColumnKind::kBytea : KindOfType(type);
    if (type == 0) {
      // A type the provider cannot name still has its stored bytes: they go as binary do.
      std::string code = "unknown";
      if (t_.column_types) {
        auto found = t_.column_types->find(rows_->FieldName(i));
        if (found != t_.column_types->end()) code = std::to_string(found->second);
      }
      Note("Column '" + rows_->FieldName(i) + "' has the Access type code " + code +
           ", which has no PostgreSQL type: its values are carried as hexadecimal text");
      kind = ColumnKind::kBinary;
    }
    columns_.push_back({{kind, required, t_.ignore_large_blobs}, rows_->FieldName(i)});
    specs_.push_back(columns_.back().spec);
  }
  values_.resize(columns_.size());
  nul_texts_.assign(columns_.size(), 0);
}

void TableTransfer::WriteRow() {
  for (size_t i = 0; i < columns_.size(); ++i) {
    const ColumnKind kind = specs_[i].kind;
    const Value& value = rows_->FieldValue(static_cast<int>(i));
    values_[i] = &value;
    if (t_.bytea_bytes && kind == ColumnKind::kBytea && value.kind() == Value::Kind::kBytes)
      *t_.bytea_bytes += static_cast<int64_t>(value.AsBytes().size());
    if (value.IsText() && (kind == ColumnKind::kString || kind == ColumnKind::kText) &&
        value.Text().find('\0') != std::string::npos)
      ++nul_texts_[i];
  }
  destination_.WriteRow({specs_, values_});
}

void TableTransfer::ShowProgress(int32_t rows) {
  shown_ = rows;
  status_.SetProgress(progress_prefix_ + std::to_string(rows) + progress_suffix_, rows);
}

void TableTransfer::MoveRows() {
  progress_prefix_ =
      t_.source_file_name + " - " + t_.source_table + " -> " + t_.destination_database + " (";
  progress_suffix_ = "/" + std::to_string(record_count_) + ")";
  destination_.BeginRows(QuoteIdentifier(t_.destination_table),
                         t_.column_list ? t_.destination_column_list : "");
  // A replay of a rejected chunk takes a while; the window stays responsive meanwhile.
  destination_.set_while_waiting([this] { status_.ProcessEvents(); });
  struct Unhook {
    Destination& d;
    ~Unhook() { d.set_while_waiting(nullptr); }
  } unhook{destination_};
  while (!ctx_.Cancelled() && !rows_->Eof()) {
    WriteRow();
    rows_->MoveNext();
    ++moved_;
    if (moved_ % 10 == 0) {
      // The progress and a cancel handled here count rows a stop keeps.
      if (destination_.RowsDue()) {
        destination_.KeepRows();
        Figures([&](RunProgress& p) { p.Rows(moved_); });
        ShowProgress(moved_);
      }
      status_.ProcessEvents();
    }
  }
  // Stopped: rows the progress never showed are not left behind.
  if (!rows_->Eof()) moved_ -= static_cast<int32_t>(destination_.DropUnkeptRows());
  destination_.EndRows();
  if (t_.progress) t_.progress->EndRows(moved_);
}

void TableTransfer::ReportNulTexts() {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (nul_texts_[i] == 0) continue;
    const std::string note = "Table '" + t_.source_table + "', column '" + columns_[i].name +
                             "': " + std::to_string(nul_texts_[i]) +
                             (nul_texts_[i] == 1 ? " value holds" : " values hold") +
                             " the character NUL, which PostgreSQL text cannot hold; each NUL "
                             "became a space";
    Note(note);
    status_.AddStatusLine("  " + note);
  }
}

void TableTransfer::JudgeCount(bool walked_to_end) {
  out_.rows_moved = moved_;
  if (!walked_to_end) {
    out_.result = moved_ < record_count_ ? TableResult::kPartial : TableResult::kComplete;
    if (out_.result == TableResult::kPartial) out_.reason = "stopped on request";
  } else if (moved_ != record_count_) {
    // The walk and the live rows of the table's pages disagree: rows were skipped or read
    // twice.
    out_.result = moved_ < record_count_ ? TableResult::kPartial : TableResult::kFailed;
    const std::string numbers = std::to_string(moved_) + " records moved, the table's data " +
                                "pages hold " + std::to_string(record_count_) + " live rows";
    out_.reason = numbers;
    run_report_ += "- Row count differs for table '" + t_.source_table + "': " + numbers + "\r\n";
  } else {
    out_.result = TableResult::kComplete;
    if (t_.stored_rows && *t_.stored_rows != moved_)
      Note("the table definition stores " + std::to_string(*t_.stored_rows) + " rows; " +
           std::to_string(moved_) + " were found and moved");
  }
}

int32_t TableTransfer::Failed(const std::string& reason) {
  out_.result = TableResult::kFailed;
  out_.rows_moved = destination_.rows_written() - written_before_;
  out_.reason = reason;
  if (t_.progress) t_.progress->EndRows(out_.rows_moved);
  // Rows streamed and shown go with their chunk when a row of it is rejected.
  if (shown_ > out_.rows_moved) ShowProgress(static_cast<int32_t>(out_.rows_moved));
  return -1;
}

int32_t TableTransfer::Failed(const std::exception& e) {
  if (!destination_.rejected_row().empty())
    return Failed(ReportFailure(e, destination_.rejected_row(), run_report_, status_));
  // Rows still held were read before the failure: sent alone they would be on the server
  // already, and one of them may be the first failure.
  try {
    destination_.FlushRows();
  } catch (const std::exception& held) {
    return Failed(ReportFailure(held, destination_.rejected_row(), run_report_, status_));
  }
  return Failed(ReportFailure(e, "", run_report_, status_));
}

int32_t TableTransfer::Run() {
  status_.AddStatusLine("  Moving records");
  try {
    OpenSource();
    ReadColumns();
    MoveRows();
    const bool walked_to_end = rows_->Eof();
    rows_->Close();
    ReportNulTexts();
    destination_.WriteDumpText("-- " + std::to_string(moved_) + " records");
    destination_.WriteDumpText("");
    status_.AddStatusLine("  " + std::to_string(moved_) + " records moved");
    JudgeCount(walked_to_end);
    return moved_;
  } catch (const std::exception& e) {
    return Failed(e);
  }
}

}  // namespace

int32_t MoveRecords(const RecordTransfer& t, std::string& run_report, const RunContext& ctx,
                    TableOutcome* outcome) {
  TableOutcome unused;
  return TableTransfer(t, run_report, ctx, outcome ? *outcome : unused).Run();
}

}  // namespace ferrolyte
