// The millisecond clock that every time-out and log time stamp uses.
#pragma once

#include <chrono>

// Milliseconds on a monotonic clock, as a double with sub-microsecond resolution. Only
// differences between two readings mean anything.
inline double NowMilliseconds() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}
