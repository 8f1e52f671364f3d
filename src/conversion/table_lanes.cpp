#include "conversion/table_lanes.h"

#include <algorithm>

namespace ferrolyte {

void HeldStatus::Release(StatusOutput& to) {
  for (const auto& [status_line, text] : held_) {
    if (status_line)
      to.AddStatusLine(text);
    else
      to.WriteLog(text);
  }
  held_.clear();
}

JobLanes::JobLanes(size_t lanes)
    : busy_(std::max<size_t>(lanes, 1)), retired_(busy_.size()), threads_(busy_.size()) {}

JobLanes::~JobLanes() {
  for (std::thread& thread : threads_)
    if (thread.joinable()) thread.join();
}

size_t JobLanes::FreeLane() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t lane = 0; lane < busy_.size(); ++lane)
    if (!busy_[lane] && !retired_[lane]) return lane;
  return busy_.size();
}

void JobLanes::Retire(size_t lane) {
  std::lock_guard<std::mutex> lock(mutex_);
  retired_[lane] = true;
}

size_t JobLanes::Working() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(std::count(retired_.begin(), retired_.end(), false));
}

void JobLanes::Start(size_t lane, size_t key, std::function<void()> job) {
  // The lane's last job has ended; its thread is only still to be joined.
  if (threads_[lane].joinable()) threads_[lane].join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_[lane] = true;
  }
  threads_[lane] = std::thread([this, lane, key, job = std::move(job)] {
    std::exception_ptr raised;
    try {
      job();
    } catch (...) {
      raised = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    busy_[lane] = false;
    done_.emplace_back(key, raised);
    ++endings_;
    ended_.notify_all();
  });
}

bool JobLanes::Ended(size_t key) {
  std::exception_ptr raised;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = std::find_if(done_.begin(), done_.end(),
                              [key](const auto& done) { return done.first == key; });
    if (found == done_.end()) return false;
    raised = std::exchange(found->second, nullptr);
  }
  if (raised) std::rethrow_exception(raised);
  return true;
}

bool JobLanes::Busy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::find(busy_.begin(), busy_.end(), true) != busy_.end();
}

void JobLanes::WaitForEnd(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  const size_t seen = endings_;
  ended_.wait_for(lock, wait, [&] { return endings_ != seen; });
}

}  // namespace ferrolyte
