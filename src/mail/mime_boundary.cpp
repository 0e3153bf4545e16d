#include "mail/mime_boundary.h"

#include <cstdint>

#include "common/random_draw.h"
#include "common/text_compare.h"
#include "platform/system_random.h"

namespace {

constexpr int kRandomBytes = 16;

// 16 bytes from getrandom(). A random source that is not ready yet (early boot) or fails falls
// back to the process's generator, which is seeded from the clock then: still unknown to a
// visitor, who sees no earlier boundary of this process.
void DrawBytes(unsigned char (&bytes)[kRandomBytes]) {
  for (size_t have = FillSystemRandom(bytes, sizeof bytes, false); have < sizeof bytes; ++have)
    bytes[have] = static_cast<unsigned char>(RandomBetween(0, 255));
}

}  // namespace

std::string NewMimeBoundary(std::string_view parts) {
  for (;;) {
    unsigned char bytes[kRandomBytes];
    DrawBytes(bytes);
    const std::string boundary =
        "=_bx" + HexText(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
    if (parts.find("--" + boundary) == std::string_view::npos) return boundary;
  }
}
