#include "mail/mime_boundary.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>

#include "common/random_draw.h"

namespace {

constexpr int kRandomBytes = 16;

// 16 bytes from getrandom(). A random source that is not ready yet (early boot) or fails falls
// back to the process's generator, which is seeded from the clock then: still unknown to a
// visitor, who sees no earlier boundary of this process.
void DrawBytes(unsigned char (&bytes)[kRandomBytes]) {
  size_t have = 0;
  while (have < sizeof bytes) {
    const ssize_t n = getrandom(bytes + have, sizeof bytes - have, GRND_NONBLOCK);
    if (n > 0) {
      have += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  for (; have < sizeof bytes; ++have)
    bytes[have] = static_cast<unsigned char>(RandomBetween(0, 255));
}

}  // namespace

std::string NewMimeBoundary(std::string_view parts) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (;;) {
    unsigned char bytes[kRandomBytes];
    DrawBytes(bytes);
    std::string boundary = "=_bx";
    for (unsigned char b : bytes) {
      boundary += kHex[b >> 4];
      boundary += kHex[b & 15];
    }
    if (parts.find("--" + boundary) == std::string_view::npos) return boundary;
  }
}
