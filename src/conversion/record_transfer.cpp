#include "conversion/record_transfer.h"

#include <cstdlib>

#include "conversion/copy_text.h"
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
  run_report += "Error moving data\r\nError: " + std::to_string(number) +
                "\r\nReason: " + description + "\r\n";
  if (!rejected_row.empty()) run_report += "SQL: " + rejected_row + "\r\n";
  return OneLine("Error " + std::to_string(number) + ": " + description);
}

}  // namespace

int32_t MoveRecords(const RecordTransfer& t, std::string& run_report, const RunContext& ctx,
                    TableOutcome* outcome) {
  StatusOutput& status = ctx.status;
  status.AddStatusLine("  Moving records");
  Destination& destination = *t.destination;
  std::string statement;
  std::shared_ptr<Recordset> rows;
  TableOutcome unused;
  TableOutcome& out = outcome ? *outcome : unused;
  int32_t moved = 0;
  const int64_t written_before = destination.rows_written();
  auto figures = [&](auto tell) {
    if (!t.progress) return;
    tell(*t.progress);
    status.SetProgressFigures(t.progress->Figures());
  };
  auto failed = [&](const std::string& reason) {
    out.result = TableResult::kFailed;
    out.rows_moved = destination.rows_written() - written_before;
    out.reason = reason;
    if (t.progress) t.progress->EndRows(out.rows_moved);
    return -1;
  };
  SourceRows asked = t.source_rows;
  if (asked.table.empty()) asked.table = t.source_table;
  try {
    const int32_t record_count = SafeLng(Value(t.source->CountRows(asked)));
    out.rows_expected = record_count;
    rows = CreateObjectAs<Recordset>(ctx.components, "ADODB.RecordSet");
    rows->Open(asked, *t.source);
    status.SetProgressRange("PROGRESS", 0, record_count);
    figures([&](RunProgress& p) { p.BeginRows(record_count); });

    std::string prefix = "INSERT INTO " + QuoteIdentifier(t.destination_table);
    // A table selected without column entries has no list: "()" would fail every row.
    if (t.column_list && !t.destination_column_list.empty())
      prefix += " (" + t.destination_column_list + ")";
    prefix += " VALUES (";

    std::vector<Column> columns;
    const int field_count = rows->FieldCount();
    for (int i = 0; i < field_count; ++i) {
      int type = rows->FieldType(i);
      const bool required = static_cast<size_t>(i) < t.required.size() && t.required[i];
      if (type == 0) {
        // A type the provider cannot name still has its stored bytes: they go as binary do.
        std::string code = "unknown";
        if (t.column_types) {
          auto found = t.column_types->find(rows->FieldName(i));
          if (found != t.column_types->end()) code = std::to_string(found->second);
        }
        const std::string note = "Column '" + rows->FieldName(i) + "' has the Access type code " +
                                 code +
                                 ", which has no PostgreSQL type: its values are carried "
                                 "as hexadecimal text";
        run_report += "- " + note + "\r\n";
        out.notes.push_back(note);
        columns.push_back(
            {{ColumnKind::kBinary, required, t.ignore_large_blobs}, rows->FieldName(i)});
        continue;
      }
      const bool bytea = static_cast<size_t>(i) < t.bytea.size() && t.bytea[i];
      columns.push_back(
          {{bytea ? ColumnKind::kBytea : KindOfType(type), required, t.ignore_large_blobs},
           rows->FieldName(i)});
    }

    const std::string progress_prefix =
        t.source_file_name + " - " + t.source_table + " -> " + t.destination_database + " (";
    const std::string progress_suffix = "/" + std::to_string(record_count) + ")";
    destination.BeginRows(QuoteIdentifier(t.destination_table),
                          t.column_list ? t.destination_column_list : "");
    // A replay of a rejected chunk takes a while; the window stays responsive meanwhile.
    destination.set_while_waiting([&status] { status.ProcessEvents(); });
    struct Unhook {
      Destination& d;
      ~Unhook() { d.set_while_waiting(nullptr); }
    } unhook{destination};
    const bool copy_lines = destination.wants_copy_lines();
    // A dump of COPY blocks writes no INSERT: the row is rendered as its COPY line alone.
    const bool insert_text = destination.wants_insert_text();
    std::string line;
    // Per column: the texts whose NUL characters became spaces.
    std::vector<int64_t> nul_texts(static_cast<size_t>(field_count), 0);
    while (!ctx.Cancelled() && !rows->Eof()) {
      statement.clear();
      if (insert_text) statement.assign(prefix);
      line.clear();
      for (int i = 0; i < field_count; ++i) {
        const ColumnSpec& spec = columns[i].spec;
        if (i) {
          if (insert_text) statement += ", ";
          if (copy_lines) line += '\t';
        }
        const Value& value = rows->FieldValue(i);
        if (t.bytea_bytes && spec.kind == ColumnKind::kBytea && value.kind() == Value::Kind::kBytes)
          *t.bytea_bytes += static_cast<int64_t>(value.AsBytes().size());
        if (value.IsText() &&
            (spec.kind == ColumnKind::kString || spec.kind == ColumnKind::kText) &&
            value.Text().find('\0') != std::string::npos)
          ++nul_texts[i];
        if (insert_text) AppendInsertLiteral(statement, spec, value);
        if (copy_lines) AppendCopyValue(line, spec, value);
      }
      if (insert_text) statement += ')';
      destination.WriteRow(statement, line);
      rows->MoveNext();
      ++moved;
      if (moved % 10 == 0) {
        // The progress and a cancel handled here count rows the server holds.
        if (destination.RowsDue()) {
          destination.FlushRows();
          figures([&](RunProgress& p) { p.Rows(moved); });
          status.SetProgress(progress_prefix + std::to_string(moved) + progress_suffix, moved);
        }
        status.ProcessEvents();
      }
    }
    // Stopped: rows the progress never showed are not left behind.
    if (!rows->Eof()) moved -= static_cast<int32_t>(destination.DropUncommittedRows());
    destination.EndRows();
    if (t.progress) t.progress->EndRows(moved);
    const bool walked_to_end = rows->Eof();
    rows->Close();
    for (int i = 0; i < field_count; ++i) {
      if (nul_texts[i] == 0) continue;
      const std::string note = "Table '" + t.source_table + "', column '" + columns[i].name +
                               "': " + std::to_string(nul_texts[i]) +
                               (nul_texts[i] == 1 ? " value holds" : " values hold") +
                               " the character NUL, which PostgreSQL text cannot hold; each NUL "
                               "became a space";
      run_report += "- " + note + "\r\n";
      out.notes.push_back(note);
      status.AddStatusLine("  " + note);
    }
    destination.WriteDumpText("-- " + std::to_string(moved) + " records");
    destination.WriteDumpText("");
    status.AddStatusLine("  " + std::to_string(moved) + " records moved");
    out.rows_moved = moved;
    if (!walked_to_end) {
      out.result = moved < record_count ? TableResult::kPartial : TableResult::kComplete;
      if (out.result == TableResult::kPartial) out.reason = "stopped on request";
    } else if (moved != record_count) {
      // The walk and the live rows of the table's pages disagree: rows were skipped or read
      // twice.
      out.result = moved < record_count ? TableResult::kPartial : TableResult::kFailed;
      const std::string numbers = std::to_string(moved) + " records moved, the table's data " +
                                  "pages hold " + std::to_string(record_count) + " live rows";
      out.reason = numbers;
      run_report += "- Row count differs for table '" + t.source_table + "': " + numbers + "\r\n";
    } else {
      out.result = TableResult::kComplete;
      if (t.stored_rows && *t.stored_rows != moved) {
        const std::string note = "the table definition stores " + std::to_string(*t.stored_rows) +
                                 " rows; " + std::to_string(moved) + " were found and moved";
        run_report += "- " + note + "\r\n";
        out.notes.push_back(note);
      }
    }
    return moved;
  } catch (const std::exception& e) {
    if (!destination.rejected_row().empty())
      return failed(ReportFailure(e, destination.rejected_row(), run_report, status));
    // Rows still held were read before the failure: sent alone they would be on the server
    // already, and one of them may be the first failure.
    try {
      destination.FlushRows();
    } catch (const std::exception& held) {
      return failed(ReportFailure(held, destination.rejected_row(), run_report, status));
    }
    return failed(ReportFailure(e, "", run_report, status));
  }
}

}  // namespace ferrolyte
