#pragma once

#include <chrono>
#include <cstdint>

// The clocks, read in one place. The wall clock gives the gateway's stored times: whole seconds
// since the epoch, for what is kept or compared with kept times (the hourly counts, a
// challenge's expiry); the rules built on it take the time as a value. The monotonic clock
// gives deadlines and time-outs, which must not jump when the wall clock is set.
std::int64_t WallClockSeconds();

// The wall clock as a time point, for times shown to people (a mail's Date field).
using TWallClockTime = std::chrono::system_clock::time_point;
TWallClockTime WallClockNow();

using TMonotonicTime = std::chrono::steady_clock::time_point;
TMonotonicTime MonotonicNow();

// Milliseconds left until `deadline` (0 once it has passed), for poll-style waits.
int MillisecondsUntil(TMonotonicTime deadline);
