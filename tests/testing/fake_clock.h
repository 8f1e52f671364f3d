// A clock that stands still until the test moves it.
#pragma once

#include <chrono>

#include "support/clock.h"

namespace ferrolyte::testing {

class FakeClock : public Clock {
 public:
  std::tm LocalTime() const override { return {}; }
  std::chrono::steady_clock::time_point Now() const override { return now_; }
  void Advance(std::chrono::steady_clock::duration by) { now_ += by; }

 private:
  std::chrono::steady_clock::time_point now_{std::chrono::hours(1)};
};

}  // namespace ferrolyte::testing
