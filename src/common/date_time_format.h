#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "platform/clock.h"

// Formats a point in time by a date-time pattern, with fixed US English conventions whatever
// the process locale (short date "m/d/yyyy", long date "dddd, mmmm d, yyyy", short time
// "h:nn AM/PM", long time "h:nn:ss AM/PM", English day and month names, "/" and ":" as
// separators).
//
// Pattern letters (case-insensitive; a run of the same character counts as one token):
//   d dd          day of the month, without / with a leading zero
//   ddd dddd      short / long day name;   ddddd short date;  dddddd long date
//   m mm          month, without / with a leading zero; right after an h or hh token (other
//                 characters may stand between them) m and mm mean minutes
//   mmm mmmm      short / long month name
//   yy yyyy       two-digit / four-digit year (y gives two digits, yyy four)
//   h hh          hour (12-hour when an am/pm marker follows before the next h)
//   n nn          minutes;  s ss  seconds;  z zzz  milliseconds
//   t tt          short / long time;  c  short date, then the long time unless it is midnight
//   am/pm a/p     the marker in the case written ("am" or "PM", "a" or "P"); ampm gives AM/PM
//   / :           the date and time separators
//   "..." '...'   literal text; any other character is copied as it is
// An empty pattern means "c". Never fails; any pattern gives some text (an unterminated quote
// runs to the end of the pattern).

// `t` in the local time zone of the process.
std::string FormatDateTime(std::string_view pattern, const TWallTime& t);
// The same for the present moment (the wall clock).
std::string FormatDateTimeNow(std::string_view pattern);

// "Tue, 08 Dec 2026 22:02:05 " followed by `zone` ("GMT", "+0100"), from the fields of `t` as
// they stand (tm_wday included): the date of mail headers and of HTTP.
std::string Rfc1123Date(const std::tm& t, std::string_view zone);

// A broken-down time (tm_year, tm_mon, tm_mday, tm_hour, tm_min, tm_sec are used; fields out of
// range are normalised and the day of the week is computed) plus milliseconds.
std::string FormatDateTime(std::string_view pattern, const std::tm& t, int milliseconds = 0);
