#include "common/date_time_format.h"

#include <algorithm>
#include <array>

#include "common/number_text.h"
#include "common/text_compare.h"
#include "platform/clock.h"
#include "platform/local_time.h"

namespace {

// The fixed US English conventions of both programs.
constexpr const char* kShortDateFormat = "m/d/yyyy";
constexpr const char* kLongDateFormat = "dddd, mmmm d, yyyy";
constexpr const char* kShortTimeFormat = "h:nn AM/PM";
constexpr const char* kLongTimeFormat = "h:nn:ss AM/PM";
constexpr char kDateSeparator = '/';
constexpr char kTimeSeparator = ':';
constexpr std::array<const char*, 7> kShortDayNames = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 7> kLongDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                      "Thursday", "Friday", "Saturday"};
constexpr std::array<const char*, 12> kShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 12> kLongMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

// A pattern may name another (c, t, tt, ddddd, dddddd); one level of that is enough for every
// built-in pattern and keeps a pattern from expanding without end.
constexpr int kMaxNesting = 2;

struct DateTimeParts {
  int year, month, day;  // month 1..12
  int hour, minute, second, millisecond;
  int day_of_week;  // 0 = Sunday
};

bool StartsWithNoCase(std::string_view text, size_t at, std::string_view prefix) {
  return StartsWithText(text.substr(at), prefix);
}

class Formatter {
 public:
  explicit Formatter(const DateTimeParts& parts) : p_(parts) {}

  void Append(std::string_view format, int level);
  std::string Take() { return std::move(out_); }

 private:
  void Number(long value, int digits) {
    AppendDecimal(out_, value, digits > 0 ? static_cast<size_t>(digits) : 0);
  }
  // Whether an am/pm marker follows the hour at `from` before the next hour token.
  static bool TwelveHourMarkerFollows(std::string_view format, size_t from);
  void AppendMarker(std::string_view format, size_t& i, char starter, bool& use_12_hour);

  const DateTimeParts& p_;
  std::string out_;
};

bool Formatter::TwelveHourMarkerFollows(std::string_view format, size_t from) {
  bool between_quotes = false;
  for (size_t i = from; i < format.size(); ++i) {
    const char c = format[i];
    if ((c == 'a' || c == 'A') && !between_quotes) {
      return StartsWithNoCase(format, i, "am/pm") || StartsWithNoCase(format, i, "a/p") ||
             StartsWithNoCase(format, i, "ampm");
    }
    if (c == 'h' || c == 'H') return false;
    if (c == '\'' || c == '"') between_quotes = !between_quotes;
  }
  return false;
}

// Handles a token starting with "a" at format[i - 1]; advances i past what it used.
void Formatter::AppendMarker(std::string_view format, size_t& i, char starter, bool& use_12_hour) {
  const size_t at = i - 1;
  const bool pm = p_.hour >= 12;
  if (StartsWithNoCase(format, at, "am/pm")) {
    out_ += format.substr(at + (pm ? 3 : 0), 2);  // the marker in the case it is written
    i += 4;
    use_12_hour = true;
  } else if (StartsWithNoCase(format, at, "a/p")) {
    out_ += format.substr(at + (pm ? 2 : 0), 1);
    i += 2;
    use_12_hour = true;
  } else if (StartsWithNoCase(format, at, "ampm")) {
    out_ += pm ? "PM" : "AM";
    i += 3;
    use_12_hour = true;
  } else if (StartsWithNoCase(format, at, "aaaa")) {
    out_ += kLongDayNames[static_cast<size_t>(p_.day_of_week)];
    i += 3;
  } else if (StartsWithNoCase(format, at, "aaa")) {
    out_ += kShortDayNames[static_cast<size_t>(p_.day_of_week)];
    i += 2;
  } else {
    out_ += starter;
  }
}

void Formatter::Append(std::string_view format, int level) {
  if (level > kMaxNesting) return;
  char last_token = ' ';
  bool use_12_hour = false;
  size_t i = 0;
  while (i < format.size()) {
    const char starter = format[i++];
    char token = AsciiUpper(starter);
    if (token >= 'A' && token <= 'Z') {
      if (token == 'M' && last_token == 'H') token = 'N';
      last_token = token;
    }
    // The length of the run of `starter` (exactly that character) that begins this token.
    auto run = [&] {
      int count = 1;
      while (i < format.size() && format[i] == starter) ++i, ++count;
      return count;
    };
    switch (token) {
      case 'Y': {
        const int count = run();
        if (count <= 2) {
          Number(p_.year % 100, 2);
        } else {
          Number(p_.year, 4);
        }
        break;
      }
      case 'M': {
        const int count = run();
        if (count <= 2) {
          Number(p_.month, count);
        } else {
          out_ +=
              (count == 3 ? kShortMonthNames : kLongMonthNames)[static_cast<size_t>(p_.month - 1)];
        }
        break;
      }
      case 'D': {
        const int count = run();
        if (count <= 2) {
          Number(p_.day, count);
        } else if (count == 3) {
          out_ += kShortDayNames[static_cast<size_t>(p_.day_of_week)];
        } else if (count == 4) {
          out_ += kLongDayNames[static_cast<size_t>(p_.day_of_week)];
        } else {
          Append(count == 5 ? kShortDateFormat : kLongDateFormat, level + 1);
        }
        break;
      }
      case 'H': {
        const int count = run();
        if (TwelveHourMarkerFollows(format, i)) use_12_hour = true;
        int hour = p_.hour;
        if (use_12_hour) {
          if (hour == 0) {
            hour = 12;
          } else if (hour > 12) {
            hour -= 12;
          }
        }
        Number(hour, std::min(count, 2));
        break;
      }
      case 'N':
        Number(p_.minute, std::min(run(), 2));
        break;
      case 'S':
        Number(p_.second, std::min(run(), 2));
        break;
      case 'Z':
        Number(p_.millisecond, std::min(run(), 3));
        break;
      case 'T':
        Append(run() == 1 ? kShortTimeFormat : kLongTimeFormat, level + 1);
        break;
      case 'A':
        AppendMarker(format, i, starter, use_12_hour);
        break;
      case 'C':
        run();
        Append(kShortDateFormat, level + 1);
        if (p_.hour != 0 || p_.minute != 0 || p_.second != 0) {
          out_ += ' ';
          Append(kLongTimeFormat, level + 1);
        }
        break;
      case '/':
        out_ += kDateSeparator;
        break;
      case ':':
        out_ += kTimeSeparator;
        break;
      case '\'':
      case '"': {
        const size_t close = format.find(starter, i);
        const size_t end = close == std::string_view::npos ? format.size() : close;
        out_ += format.substr(i, end - i);
        i = end == format.size() ? end : end + 1;
        break;
      }
      default:
        out_ += starter;
        break;
    }
  }
}

std::string Format(std::string_view pattern, const DateTimeParts& parts) {
  Formatter formatter(parts);
  // An empty pattern means "c", the short date and the time.
  formatter.Append(pattern.empty() ? std::string_view("c") : pattern, 1);
  return formatter.Take();
}

DateTimeParts PartsOf(const std::tm& tm, int milliseconds) {
  DateTimeParts parts{};
  parts.year = tm.tm_year + 1900;
  parts.month = std::clamp(tm.tm_mon, 0, 11) + 1;
  parts.day = tm.tm_mday;
  parts.hour = tm.tm_hour;
  parts.minute = tm.tm_min;
  parts.second = tm.tm_sec;
  parts.millisecond = std::clamp(milliseconds, 0, 999);
  parts.day_of_week = std::clamp(tm.tm_wday, 0, 6);
  return parts;
}

}  // namespace

std::string FormatDateTime(std::string_view pattern, const TWallTime& t) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  const auto since_epoch = duration_cast<milliseconds>(t.time_since_epoch()).count();
  long long ms = since_epoch % 1000;
  if (ms < 0) ms += 1000;
  const std::tm local = LocalTimeOf((since_epoch - ms) / 1000);
  return Format(pattern, PartsOf(local, static_cast<int>(ms)));
}

std::string FormatDateTime(std::string_view pattern, const std::tm& t, int milliseconds) {
  // timegm normalises the fields (day 32 of a month, minute 60, ...) and sets the weekday;
  // it works in UTC, so no time zone shifts the fields.
  std::tm normal = t;
  normal.tm_isdst = 0;
  ::timegm(&normal);
  return Format(pattern, PartsOf(normal, milliseconds));
}

std::string FormatDateTimeNow(std::string_view pattern) {
  return FormatDateTime(pattern, WallClockNow());
}

std::string Rfc1123Date(const std::tm& t, std::string_view zone) {
  static constexpr std::string_view kDays = "SunMonTueWedThuFriSat";
  static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  std::string text;
  text.reserve(32);
  text += kDays.substr(static_cast<size_t>(((t.tm_wday % 7) + 7) % 7) * 3, 3);
  text += ", ";
  AppendDecimal(text, t.tm_mday, 2);
  text += ' ';
  text += kMonths.substr(static_cast<size_t>(((t.tm_mon % 12) + 12) % 12) * 3, 3);
  text += ' ';
  AppendDecimal(text, t.tm_year + 1900LL, 4);
  text += ' ';
  AppendDecimal(text, t.tm_hour, 2);
  text += ':';
  AppendDecimal(text, t.tm_min, 2);
  text += ':';
  AppendDecimal(text, t.tm_sec, 2);
  text += ' ';
  text += zone;
  return text;
}
