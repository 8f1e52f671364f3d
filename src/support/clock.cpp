#include "support/clock.h"

namespace ferrolyte {

std::tm Clock::LocalTime() const {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&t, &local);
  return local;
}

std::chrono::steady_clock::time_point Clock::Now() const {
  return std::chrono::steady_clock::now();
}

const Clock& SystemClock() {
  static const Clock clock;
  return clock;
}

}  // namespace ferrolyte
