#include "common/date_time_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/number_text.h"

namespace {

std::tm MakeTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

struct PatternCase {
  const char* pattern;
  std::tm time;
  int milliseconds;
  const char* expected;
};

void PrintTo(const PatternCase& c, std::ostream* os) {
  *os << '"' << c.pattern << '"';
}

class DateTimePatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(DateTimePatternTest, FormatsWithUsConventions) {
  const PatternCase& c = GetParam();
  EXPECT_EQ(FormatDateTime(c.pattern, c.time, c.milliseconds), c.expected)
      << "pattern: " << c.pattern;
}

// Thursday, March 5, 2026, 14:07:09.045.
const std::tm kAfternoon = MakeTime(2026, 3, 5, 14, 7, 9);
const std::tm kMidnight = MakeTime(2026, 12, 31, 0, 0, 0);
const std::tm kNoon = MakeTime(2026, 1, 1, 12, 30, 0);
const std::tm kMorning = MakeTime(2009, 11, 22, 9, 5, 3);

INSTANTIATE_TEST_SUITE_P(
    Patterns, DateTimePatternTest,
    ::testing::Values(
        // The defaults and the fixed pattern of the reference numbers.
        PatternCase{"mm-dd-yy", kAfternoon, 0, "03-05-26"},
        PatternCase{"t", kAfternoon, 0, "2:07 PM"}, PatternCase{"tt", kMorning, 0, "9:05:03 AM"},
        PatternCase{"mmddhhmmss", kAfternoon, 0, "0305140709"},
        PatternCase{"mmddhhmmss", kMorning, 0, "1122090503"},
        // m after h (even with other characters between) is minutes; otherwise the month.
        PatternCase{"hh:mm", kAfternoon, 0, "14:07"},
        PatternCase{"h 'x' m", kAfternoon, 0, "14 x 7"},
        PatternCase{"m/d/yy hh:mm:ss mm", kAfternoon, 0, "3/5/26 14:07:09 03"},
        PatternCase{"mmm mmmm", kAfternoon, 0, "Mar March"},
        PatternCase{"MM/DD/YYYY", kMorning, 0, "11/22/2009"},
        PatternCase{"ddd dddd", kAfternoon, 0, "Thu Thursday"},
        PatternCase{"ddddd", kAfternoon, 0, "3/5/2026"},
        PatternCase{"dddddd", kAfternoon, 0, "Thursday, March 5, 2026"},
        PatternCase{"y yy yyy yyyy", kMorning, 0, "09 09 2009 2009"},
        PatternCase{"n nn s ss", kMorning, 0, "5 05 3 03"},
        PatternCase{"z zzz", kAfternoon, 45, "45 045"},
        // AM/PM: the marker keeps the case written and switches the hour to 12-hour.
        PatternCase{"h:nn am/pm", kAfternoon, 0, "2:07 pm"},
        PatternCase{"hh:nn AM/PM", kMidnight, 0, "12:00 AM"},
        PatternCase{"h:nn A/P", kNoon, 0, "12:30 P"},
        PatternCase{"h:nn ampm", kMorning, 0, "9:05 AM"},
        PatternCase{"h \"am/pm\"", kAfternoon, 0, "14 am/pm"},
        PatternCase{"h \"am/pm\" am/pm", kAfternoon, 0, "2 am/pm pm"},
        PatternCase{"h aaa", kAfternoon, 0, "14 Thu"},
        // c: the short date, and the long time unless it is midnight; empty means c.
        PatternCase{"c", kAfternoon, 0, "3/5/2026 2:07:09 PM"},
        PatternCase{"c", kMidnight, 0, "12/31/2026"},
        PatternCase{"", kNoon, 0, "1/1/2026 12:30:00 PM"},
        // Literal text in quotes, other characters as they are.
        PatternCase{"'Date: 'dd\"!\" at", kAfternoon, 0, "Date: 05! a2:07 PM"},
        PatternCase{"\"ddd", kAfternoon, 0, "ddd"},
        PatternCase{"x_-#, b", kAfternoon, 0, "x_-#, b"},
        // Fields out of range are normalised: March 32 is April 1, a Wednesday.
        PatternCase{"dddd m/d", MakeTime(2026, 3, 32, 0, 0, 0), 0, "Wednesday 4/1"}));

TEST(DateTimeFormatTest, TimePointUsesTheLocalTimeZone) {
  const char* old = std::getenv("TZ");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  // 2001-09-09 01:46:40.250 UTC.
  const auto t = std::chrono::system_clock::time_point(std::chrono::milliseconds(1000000000250LL));
  const std::string utc = FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", t);
  ::setenv("TZ", "EST5", 1);
  ::tzset();
  const std::string est = FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", t);
  if (saved) {
    ::setenv("TZ", saved->c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
  EXPECT_EQ(utc, "2001-09-09 01:46:40.250");
  EXPECT_EQ(est, "2001-09-08 20:46:40.250");
}

// The number helpers stand in for printf in dates and message identifiers: the same text.
TEST(NumberTextTest, WritesWhatPrintfWrites) {
  const long long values[] = {0, 7, 45, 2026, -5, -123, LLONG_MAX, LLONG_MIN};
  for (const long long value : values) {
    for (const size_t width : {0, 1, 2, 3, 4, 16, 22}) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "%0*lld", static_cast<int>(width), value);
      std::string decimal = "x";
      AppendDecimal(decimal, value, width);
      EXPECT_EQ(decimal, std::string("x") + expected) << value << " in " << width;
      const auto bits = static_cast<unsigned long long>(value);
      std::snprintf(expected, sizeof expected, "%0*llx", static_cast<int>(width), bits);
      std::string hex;
      AppendHex(hex, bits, width);
      EXPECT_EQ(hex, expected) << value << " in " << width;
    }
  }
}

}  // namespace
