// Formats a fixed time by arbitrary date-time patterns: no pattern may crash, read out of
// bounds or expand without limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "common/date_time_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view pattern(reinterpret_cast<const char*>(data), size);
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 8;
  t.tm_mday = 30;
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_sec = 58;
  for (int hour : {0, 12, 23}) {
    t.tm_hour = hour;
    const std::string out = FormatDateTime(pattern, t, 999);
    // The longest expansion of one pattern character is a long date ("dddddd").
    if (out.size() > 64 * (size + 1)) std::abort();
  }
  return 0;
}
