// The figures the progress of a run shows beside its text: which table of how many, rows per
// second and the time left for the whole run. Computed from the record transfer's counts and
// the run's clock, so that a test drives them with a clock of its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "support/clock.h"

namespace ferrolyte {

struct ProgressFigures {
  int table_number = 0;  // from 1; 0 before the first table
  int table_count = 0;
  int64_t rows_done = 0;   // over the whole run
  int64_t rows_total = 0;  // what the run expects over all its tables, as far as it knows
  // Over the last few seconds; none until rows have been seen for a second.
  std::optional<double> rows_per_second;
  // None while the rate is unknown or zero; zero once the run is finished.
  std::optional<std::chrono::seconds> time_left;
  bool finished = false;
};

// "Table 3 of 20, 52,300 rows/s, about 0:35 left"; "Table 3 of 20" when no rows are
// expected; empty before the run has a plan.
std::string ProgressFiguresText(const ProgressFigures& figures);

class RunProgress {
 public:
  // The clock must outlive this.
  explicit RunProgress(const Clock& clock);

  // The selected tables in the order the run takes them, each with its row count (0 when
  // unknown). Starts the clock.
  void Plan(std::vector<int64_t> rows);
  // The table at `index` of the plan starts; rows a table before it did not move are no
  // longer expected.
  void BeginTable(size_t index);
  // A transfer of the current table starts with `count` rows (its own count replaces the
  // planned one; a second transfer, a complex column's child table, adds to it).
  void BeginRows(int64_t count);
  // The current transfer has moved `moved` rows so far.
  void Rows(int64_t moved);
  // The current transfer ended with `moved` rows (fewer than reported when a stop dropped
  // rows not yet committed).
  void EndRows(int64_t moved);
  // The run is over: nothing more is expected.
  void Finish();

  ProgressFigures Figures() const;

 private:
  struct Sample {
    std::chrono::steady_clock::time_point at;
    int64_t rows;
  };
  void Measure();
  int64_t Done() const { return finished_rows_ + current_moved_; }

  const Clock& clock_;
  std::vector<int64_t> planned_;
  std::optional<size_t> table_;
  int64_t ahead_ = 0;    // planned rows of the tables after the current one
  int64_t pending_ = 0;  // the current table's planned rows until its transfer counts them
  int64_t finished_rows_ = 0;
  bool in_transfer_ = false;
  int64_t current_count_ = 0, current_moved_ = 0;
  bool finished_ = false;
  // Spaced at least kSampleSpacing apart, reaching back just beyond kRateWindow.
  std::deque<Sample> samples_;
  Sample latest_{};
};

}  // namespace ferrolyte
