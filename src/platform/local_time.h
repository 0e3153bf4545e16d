#pragma once

#include <cstdint>
#include <ctime>

// The local time of the machine: the process's time zone (TZ, else /etc/localtime) turns a wall
// clock second into the calendar fields that dates in logs, answers and mails are made of.

// The broken-down local time of `seconds` since the epoch; every field 0 when the time cannot be
// broken down (a second out of the calendar's range). Never fails.
std::tm LocalTimeOf(std::int64_t seconds);

// The local time now, to the whole second.
std::tm LocalTimeNow();
