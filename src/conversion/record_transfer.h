// Copies the rows of one Access table into its PostgreSQL table: each row's typed values go to
// the destination, which renders them in the form it sends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "conversion/destination.h"
#include "conversion/run_outcome.h"
#include "platform/ado.h"
#include "support/run_context.h"

namespace ferrolyte {

struct RecordTransfer {
  Connection* source = nullptr;
  Destination* destination = nullptr;
  std::string source_table;
  // What is read from the source; with no table, source_table (no columns: every column).
  SourceRows source_rows;
  // "\"a\", \"b\"", written into each INSERT when column_list is on.
  std::string destination_column_list;
  bool column_list = true;
  std::string destination_table;  // unquoted
  bool ignore_large_blobs = false;
  std::string source_file_name;      // for the progress text
  std::string destination_database;  // for the progress text
  // One flag per result column; a missing one counts as not required.
  std::vector<bool> required;
  // The Access type code of each column by name, for the report on columns without a type.
  const std::unordered_map<std::string, int32_t>* column_types = nullptr;
  // Per result column: its binary values go whole into a bytea column (attachments).
  std::vector<bool> bytea;
  // When given, receives the bytes of the bytea values read.
  int64_t* bytea_bytes = nullptr;
  // The row count the table's definition stores, when it was read: a walk that finds every
  // live row and another number than this only adds a report line, as Access leaves the
  // stored count stale.
  std::optional<int64_t> stored_rows;
  // The run's figures, told of this transfer's rows and sent to the status beside the
  // progress; none: the progress text only.
  RunProgress* progress = nullptr;
};

// Moves the rows until the end or until ctx.cancel is set (read before each row); reports
// progress to ctx.status and lets events run every 10 rows. Returns the rows moved, or -1 after
// reporting a failure to the status and the run report. When given, `outcome` receives the
// rows moved, the live rows the source's pages hold (its COUNT(*)), the table's result and
// why; a walk that ends with another count than that fails the table with a report line
// giving both numbers.
int32_t MoveRecords(const RecordTransfer& transfer, std::string& run_report, const RunContext& ctx,
                    TableOutcome* outcome = nullptr);

}  // namespace ferrolyte
