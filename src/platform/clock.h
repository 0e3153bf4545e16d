#pragma once

#include <cstdint>

// The wall clock as the gateway stores it: whole seconds since the epoch, for what is kept or
// compared with kept times (the hourly counts, a challenge's expiry). One place reads it, so the
// rules built on it take the time as a value.
std::int64_t WallClockSeconds();
