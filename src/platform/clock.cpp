#include "platform/clock.h"

#include <algorithm>
#include <climits>

std::int64_t WallClockSeconds() {
  return WallSecondsOf(WallClockNow());
}

TWallTime WallClockNow() {
  return std::chrono::system_clock::now();
}

std::int64_t WallSecondsOf(TWallTime moment) {
  return std::chrono::duration_cast<std::chrono::seconds>(moment.time_since_epoch()).count();
}

TWallTime WallTimeOfSeconds(std::int64_t seconds) {
  return TWallTime(std::chrono::seconds(seconds));
}

TMonotonicTime MonotonicNow() {
  return TMonotonicClock::now();
}

int MillisecondsUntil(TMonotonicTime deadline) {
  // Rounded up: a wait of the truncated count would end just before the deadline, and a caller
  // that then asks whether the deadline has passed would be told it has not.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - MonotonicNow()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}
