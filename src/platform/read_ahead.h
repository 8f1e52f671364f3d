// Rows decoded on a thread of their own while the caller sends the ones before them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "support/value.h"

namespace ferrolyte {

// Bytes a value holds, roughly: what the queue's bound counts.
size_t ApproximateBytes(const Value& value);

class ReadAhead {
 public:
  using Row = std::vector<Value>;
  // Fills the next row, which arrives empty (perhaps with room from a row the caller is done
  // with); false after the last. Runs on the worker with `lock` held.
  using Producer = std::function<bool(Row& row)>;
  // The queue holds at most about `rows` rows or `bytes` bytes; the worker decodes up to
  // `batch_rows` rows (or `batch_bytes`) per turn of the lock.
  struct Limits {
    size_t rows = 512;
    size_t bytes = size_t{4} << 20;
    size_t batch_rows = 64;
    size_t batch_bytes = size_t{1} << 20;
  };

  // Starts the worker. `lock` guards what the producer reads (the libmdb handle and every
  // handle sharing its file) and must outlive this.
  ReadAhead(std::mutex& lock, Producer next, Limits limits);
  ReadAhead(std::mutex& lock, Producer next) : ReadAhead(lock, std::move(next), Limits{}) {}
  // Stops the worker after the row it is decoding, and waits for it.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next row, valid until the next call; null after the last. What the producer raised
  // is raised here once every row before it was taken, and on every call after; the row
  // taken before stays valid then.
  const Row* Next();

 private:
  void Work();

  std::mutex& lock_;
  Producer next_;
  Limits limits_;
  std::mutex queue_mutex_;
  std::condition_variable ready_;  // rows, the end or a failure are queued
  std::condition_variable room_;   // the queue has room, or the worker is to stop
  std::deque<Row> queue_;
  size_t queued_bytes_ = 0;
  bool done_ = false;
  std::exception_ptr failure_;
  std::atomic<bool> stop_{false};
  // Rows the caller is done with, for the worker to refill: what the worker allocated is freed
  // on the worker, since a free on the caller's thread contends for the worker's heap lock.
  std::vector<std::deque<Row>> spent_;
  std::deque<Row> taken_;  // the caller's, off the queue
  size_t position_ = 0;
  std::thread worker_;  // last: starts once everything above exists
};

}  // namespace ferrolyte
