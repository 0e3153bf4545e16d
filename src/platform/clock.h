#pragma once

#include <chrono>
#include <cstdint>

// The clocks, read in one place. The wall clock gives the gateway's stored times: whole seconds
// since the epoch, for what is kept or compared with kept times (the hourly counts, a
// challenge's expiry); the rules built on it take the time as a value. The monotonic clock
// gives deadlines and time-outs, which must not jump when the wall clock is set.
std::int64_t WallClockSeconds();

using TMonotonicClock = std::chrono::steady_clock;
using TMonotonicTime = TMonotonicClock::time_point;
TMonotonicTime MonotonicNow();

// Milliseconds left until `deadline`, rounded up (0 once it has passed), for poll-style waits:
// a wait of that long ends with the deadline passed.
int MillisecondsUntil(TMonotonicTime deadline);

// The wall clock as a point in time, for what is shown (dates in answers, logs and mails) or
// compared with file times; the epoch is 1 January 1970, 00:00 UTC.
using TWallTime = std::chrono::system_clock::time_point;
TWallTime WallClockNow();
// Whole seconds since the epoch and back (a time before the epoch rounds towards it).
std::int64_t WallSecondsOf(TWallTime moment);
TWallTime WallTimeOfSeconds(std::int64_t seconds);
