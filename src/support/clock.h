// The time as the program reads it: the local time that stamps log entries, and a steady
// time for limits on work (how long a COPY chunk stays open). Handed in, so that a test can
// hand in its own.
#pragma once

#include <chrono>
#include <ctime>

namespace ferrolyte {

class Clock {
 public:
  virtual ~Clock() = default;
  // The broken-down local time of now.
  virtual std::tm LocalTime() const;
  // A time that never goes back, for measuring spans.
  virtual std::chrono::steady_clock::time_point Now() const;
};

// The system's clocks.
const Clock& SystemClock();

}  // namespace ferrolyte
