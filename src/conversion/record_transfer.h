// Copies the rows of one Access table into its PostgreSQL table, one INSERT per row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "conversion/destination.h"
#include "platform/ado.h"
#include "shell/status.h"

namespace ferrolyte {

struct RecordTransfer {
  Connection* source = nullptr;
  Destination* destination = nullptr;
  std::string source_table;
  // "[a], [b]"; empty reads every column.
  std::string source_column_list;
  // "\"a\", \"b\"", written into each INSERT when column_list is on.
  std::string destination_column_list;
  bool column_list = true;
  std::string destination_table;  // unquoted
  bool ignore_large_blobs = false;
  std::string source_file_name;      // for the progress text
  std::string destination_database;  // for the progress text
  // One flag per result column; a missing one counts as not required.
  std::vector<bool> required;
};

// Moves the rows until the end or until an abort is requested (read before each row);
// reports progress and lets events run every 10 rows. Returns the rows moved, or -1 after
// reporting a failure to the status and the run report.
int32_t MoveRecords(const RecordTransfer& transfer, std::string& run_report, StatusOutput& status);

}  // namespace ferrolyte
