#include "support/run_progress.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace ferrolyte {
namespace {

using std::chrono::duration;
using std::chrono::milliseconds;

// Long enough that one slow chunk or an index build does not swing the rate, short enough
// that it follows a table of wide rows after one of narrow ones.
constexpr auto kRateWindow = std::chrono::seconds(5);
// Less than this of measuring gives a rate that means little.
constexpr auto kLeastSpan = std::chrono::seconds(1);
constexpr auto kSampleSpacing = milliseconds(100);

// 52300 -> "52,300": three significant digits, so that the figure does not flicker.
std::string RateText(double rate) {
  if (rate < 10) {
    const long tenths = std::lround(rate * 10);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
  }
  double rounded = rate;
  if (rate >= 1000) {
    const double unit = std::pow(10.0, std::floor(std::log10(rate)) - 2);
    rounded = std::round(rate / unit) * unit;
  }
  std::string digits = std::to_string(std::llround(rounded));
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

// "0:35", "12:05", "1:02:09".
std::string DurationText(std::chrono::seconds left) {
  const int64_t total = left.count();
  const int64_t hours = total / 3600, minutes = total / 60 % 60, seconds = total % 60;
  auto two = [](int64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  if (hours > 0) return std::to_string(hours) + ":" + two(minutes) + ":" + two(seconds);
  return std::to_string(minutes) + ":" + two(seconds);
}

}  // namespace

std::string ProgressFiguresText(const ProgressFigures& f) {
  if (f.table_count <= 0) return "";
  std::string text = "Table " + std::to_string(std::max(f.table_number, 1)) + " of " +
                     std::to_string(f.table_count);
  // Nothing to move (empty tables, a run without records): no rate to wait for.
  if (f.rows_total <= 0) return f.finished ? text + ", finished" : text;
  if (f.rows_per_second) text += ", " + RateText(*f.rows_per_second) + " rows/s";
  if (f.finished) return text + ", finished";
  if (f.time_left) return text + ", about " + DurationText(*f.time_left) + " left";
  return text + (f.rows_per_second ? ", time left unknown" : ", measuring the rate");
}

RunProgress::RunProgress(const Clock& clock) : clock_(clock) {}

void RunProgress::Plan(std::vector<int64_t> rows) {
  for (int64_t& n : rows) n = std::max<int64_t>(n, 0);
  planned_ = std::move(rows);
  ahead_ = std::accumulate(planned_.begin(), planned_.end(), int64_t{0});
  table_.reset();
  pending_ = finished_rows_ = current_count_ = current_moved_ = 0;
  in_transfer_ = finished_ = false;
  samples_.clear();
  Measure();
}

void RunProgress::BeginTable(size_t index) {
  if (index >= planned_.size()) return;
  if (in_transfer_) EndRows(current_moved_);
  table_ = index;
  pending_ = planned_[index];
  ahead_ = std::accumulate(planned_.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                           planned_.end(), int64_t{0});
  Measure();
}

void RunProgress::BeginRows(int64_t count) {
  if (in_transfer_) EndRows(current_moved_);
  in_transfer_ = true;
  pending_ = 0;
  current_count_ = std::max<int64_t>(count, 0);
  current_moved_ = 0;
  Measure();
}

void RunProgress::Rows(int64_t moved) {
  if (!in_transfer_) return;
  current_moved_ = std::max<int64_t>(moved, 0);
  Measure();
}

void RunProgress::EndRows(int64_t moved) {
  if (!in_transfer_) return;
  finished_rows_ += std::max<int64_t>(moved, 0);
  in_transfer_ = false;
  current_count_ = current_moved_ = 0;
  Measure();
}

void RunProgress::Finish() {
  if (in_transfer_) EndRows(current_moved_);
  finished_ = true;
  ahead_ = pending_ = 0;
}

void RunProgress::Measure() {
  latest_ = {clock_.Now(), Done()};
  if (samples_.empty() || latest_.at - samples_.back().at >= kSampleSpacing)
    samples_.push_back(latest_);
  // The oldest sample kept is the last one at or before the window's start.
  while (samples_.size() > 1 && latest_.at - samples_[1].at >= kRateWindow) samples_.pop_front();
}

ProgressFigures RunProgress::Figures() const {
  ProgressFigures f;
  f.table_count = static_cast<int>(planned_.size());
  f.table_number = table_ ? static_cast<int>(*table_) + 1 : 0;
  f.finished = finished_;
  f.rows_done = Done();
  f.rows_total =
      f.rows_done + std::max<int64_t>(current_count_ - current_moved_, 0) + pending_ + ahead_;
  if (!samples_.empty()) {
    const duration<double> span = latest_.at - samples_.front().at;
    if (span >= kLeastSpan)
      f.rows_per_second =
          std::max(0.0, static_cast<double>(latest_.rows - samples_.front().rows) / span.count());
  }
  if (finished_) {
    f.time_left = std::chrono::seconds(0);
  } else if (f.rows_per_second && *f.rows_per_second > 0) {
    const double left = static_cast<double>(f.rows_total - f.rows_done) / *f.rows_per_second;
    f.time_left = std::chrono::seconds(static_cast<int64_t>(std::ceil(left)));
  }
  return f;
}

}  // namespace ferrolyte
