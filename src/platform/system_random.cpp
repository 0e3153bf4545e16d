#include "platform/system_random.h"

#include <sys/random.h>

#include <cerrno>

size_t FillSystemRandom(void* out, size_t count, bool wait) {
  auto* bytes = static_cast<unsigned char*>(out);
  size_t have = 0;
  while (have < count) {
    const ssize_t n = getrandom(bytes + have, count - have, wait ? 0 : GRND_NONBLOCK);
    if (n > 0) {
      have += static_cast<size_t>(n);
    } else if (!(n < 0 && errno == EINTR)) {
      break;
    }
  }
  return have;
}
