#include "engine/http_utils.h"

#include <cstdio>
#include <ctime>

#include "common/date_time_format.h"

std::string HttpDate(TWallTime moment) {
  const std::time_t seconds = static_cast<std::time_t>(WallSecondsOf(moment));
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  return Rfc1123Date(utc, "GMT");
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
