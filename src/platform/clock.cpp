#include "platform/clock.h"

#include <algorithm>
#include <climits>

std::int64_t WallClockSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TWallClockTime WallClockNow() {
  return std::chrono::system_clock::now();
}

TMonotonicTime MonotonicNow() {
  return std::chrono::steady_clock::now();
}

int MillisecondsUntil(TMonotonicTime deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - MonotonicNow()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}
