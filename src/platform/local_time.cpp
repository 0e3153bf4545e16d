#include "platform/local_time.h"

#include "platform/clock.h"

std::tm LocalTimeOf(std::int64_t seconds) {
  const std::time_t moment = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (::localtime_r(&moment, &local) == nullptr) local = std::tm{};
  return local;
}

std::tm LocalTimeNow() {
  return LocalTimeOf(WallClockSeconds());
}
