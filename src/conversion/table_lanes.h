// What lets the rows of several tables of a direct run move at once: each table's status lines
// and report text held until the tables before it are done, and the threads that move them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/status.h"

namespace ferrolyte {

// A table's status lines, held so that the log keeps the source order of the tables whichever
// finished first; its progress only as the rows it shows. One thread at a time writes the
// lines; any thread reads the rows.
class HeldStatus : public StatusOutput {
 public:
  void AddStatusLine(const std::string& text) override { held_.emplace_back(true, text); }
  void WriteLog(const std::string& text) override { held_.emplace_back(false, text); }
  void SetProgressRange(const std::string&, int64_t, int64_t) override {}
  void SetProgress(const std::string&, int64_t position) override {
    shown_.store(position, std::memory_order_relaxed);
  }
  void ProcessEvents() override {}

  // The rows the table's progress last showed.
  int64_t shown() const { return shown_.load(std::memory_order_relaxed); }
  // Sends the held lines to `to` in the order they came, and forgets them.
  void Release(StatusOutput& to);

 private:
  std::vector<std::pair<bool, std::string>> held_;  // (status line, else log only)
  std::atomic<int64_t> shown_{0};
};

// Sends everything to the output it is pointed at: the run's own, or a table's held one.
class StatusRoute : public StatusOutput {
 public:
  explicit StatusRoute(StatusOutput& to) : to_(&to) {}
  void set_target(StatusOutput& to) { to_ = &to; }

  void AddStatusLine(const std::string& text) override { to_->AddStatusLine(text); }
  void WriteLog(const std::string& text) override { to_->WriteLog(text); }
  void SetProgressRange(const std::string& page, int64_t min, int64_t max) override {
    to_->SetProgressRange(page, min, max);
  }
  void SetProgress(const std::string& text, int64_t position) override {
    to_->SetProgress(text, position);
  }
  void SetProgressFigures(const ProgressFigures& figures) override {
    to_->SetProgressFigures(figures);
  }
  void ProcessEvents() override { to_->ProcessEvents(); }

 private:
  StatusOutput* to_;
};

// The report text, appended to the run's report or to a table's held text.
class ReportRoute {
 public:
  explicit ReportRoute(std::string& to) : to_(&to) {}
  void set_target(std::string& to) { to_ = &to; }
  ReportRoute& operator+=(const std::string& text) {
    *to_ += text;
    return *this;
  }
  std::string& text() { return *to_; }

 private:
  std::string* to_;
};

// A fixed number of lanes, each running one job at a time on a thread of its own. Jobs are
// known by a key of the caller's; the caller starts them and asks which have ended. The
// destructor waits for every job.
class JobLanes {
 public:
  explicit JobLanes(size_t lanes);
  ~JobLanes();
  JobLanes(const JobLanes&) = delete;
  JobLanes& operator=(const JobLanes&) = delete;

  size_t size() const { return busy_.size(); }
  // A lane without a job, not retired; size() when there is none.
  size_t FreeLane() const;
  // The free lane takes no more jobs (its sessions are lost).
  void Retire(size_t lane);
  // Lanes not retired.
  size_t Working() const;
  // Runs the job on the free lane's thread.
  void Start(size_t lane, size_t key, std::function<void()> job);
  // True once the job of that key has ended; what it raised is raised here, once.
  bool Ended(size_t key);
  // True while a started job has not ended.
  bool Busy() const;
  // Waits until a job ends, or at most `wait` (so that the caller can show progress).
  void WaitForEnd(std::chrono::milliseconds wait);

 private:
  mutable std::mutex mutex_;
  std::condition_variable ended_;
  std::vector<bool> busy_;
  std::vector<bool> retired_;
  std::vector<std::thread> threads_;
  // Ended jobs by key, with what each raised.
  std::vector<std::pair<size_t, std::exception_ptr>> done_;
  size_t endings_ = 0;  // counts every end, for WaitForEnd
};

}  // namespace ferrolyte
