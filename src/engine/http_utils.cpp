#include "engine/http_utils.h"

#include <cstdio>
#include <ctime>

std::string HttpDate(TWallTime moment) {
  static const char kDays[] = "SunMonTueWedThuFriSat";
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  const std::time_t seconds = static_cast<std::time_t>(WallSecondsOf(moment));
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  std::snprintf(text, sizeof text, "%.3s, %02d %.3s %04d %02d:%02d:%02d GMT",
                kDays + 3 * utc.tm_wday, utc.tm_mday, kMonths + 3 * utc.tm_mon, utc.tm_year + 1900,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

std::string ReplaceChar(char from, char to, const std::string& text) {
  std::string result = text;
  for (char& c : result) {
    if (c == from) c = to;
  }
  return result;
}

std::unique_ptr<TStringList> TextToList(const std::string& text) {
  auto list = std::make_unique<TStringList>();
  list->SetText(text);
  return list;
}

std::string ColorToHtml(uint32_t color) {
  char text[16];
  std::snprintf(text, sizeof text, "\"#%02X%02X%02X\"", color & 0xFF, (color >> 8) & 0xFF,
                (color >> 16) & 0xFF);
  return text;
}

std::string AddDriveIfMissing(const std::string& path) {
  return path;
}
