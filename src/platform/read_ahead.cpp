#include "platform/read_ahead.h"

namespace ferrolyte {

size_t ApproximateBytes(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kText:
      return sizeof(Value) + value.Text().size();
    case Value::Kind::kDecimal:
      return sizeof(Value) + value.DecimalText().size();
    case Value::Kind::kBytes:
      return sizeof(Value) + value.AsBytes().size();
    default:
      return sizeof(Value);
  }
}

ReadAhead::ReadAhead(std::mutex& lock, Producer next, Limits limits)
    : lock_(lock), next_(std::move(next)), limits_(limits), worker_([this] { Work(); }) {}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> queue(queue_mutex_);
    stop_ = true;
    room_.notify_all();
  }
  worker_.join();
}

const ReadAhead::Row* ReadAhead::Next() {
  if (position_ + 1 < taken_.size()) return &taken_[++position_];
  std::deque<Row> more;
  {
    std::unique_lock<std::mutex> queue(queue_mutex_);
    ready_.wait(queue, [this] { return !queue_.empty() || done_; });
    if (queue_.empty()) {
      if (failure_) std::rethrow_exception(failure_);
      return nullptr;
    }
    more.swap(queue_);
    queued_bytes_ = 0;
    if (!taken_.empty()) spent_.push_back(std::move(taken_));
    room_.notify_one();
  }
  taken_ = std::move(more);
  position_ = 0;
  return &taken_[0];
}

void ReadAhead::Work() {
  std::exception_ptr failure;
  bool end = false;
  std::vector<Row> spare;  // emptied rows that keep their room
  std::vector<std::deque<Row>> spent;
  while (!end) {
    for (std::deque<Row>& rows : spent)
      for (Row& row : rows) {
        row.clear();
        if (spare.size() < limits_.rows + limits_.batch_rows) spare.push_back(std::move(row));
      }
    spent.clear();
    std::deque<Row> batch;
    size_t bytes = 0;
    {
      std::lock_guard<std::mutex> hold(lock_);
      while (batch.size() < limits_.batch_rows && bytes < limits_.batch_bytes) {
        if (stop_) return;
        Row row;
        if (!spare.empty()) {
          row = std::move(spare.back());
          spare.pop_back();
        }
        try {
          if (!next_(row)) {
            end = true;
            break;
          }
        } catch (...) {
          failure = std::current_exception();
          end = true;
          break;
        }
        for (const Value& v : row) bytes += ApproximateBytes(v);
        batch.push_back(std::move(row));
      }
    }
    std::unique_lock<std::mutex> queue(queue_mutex_);
    room_.wait(queue, [this] {
      return stop_ || (queue_.size() < limits_.rows && queued_bytes_ < limits_.bytes);
    });
    if (stop_) return;
    for (Row& row : batch) queue_.push_back(std::move(row));
    queued_bytes_ += bytes;
    spent.swap(spent_);
    if (end) {
      done_ = true;
      failure_ = failure;
    }
    ready_.notify_one();
  }
}

}  // namespace ferrolyte
