// Hostile proof-of-work solution fields through the payload reader, both as posted (base64) and
// with the input itself as the JSON inside. An accepted payload has paths of at most
// kMaxPowDepth names and string values without control characters.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "gateway/guards/pow_payload.h"
#include "mail/mime_encoding.h"

namespace {

void Check(const std::optional<TPowPayload>& payload) {
  if (!payload) return;
  for (const auto& [path, value] : *payload) {
    if (std::count(path.begin(), path.end(), '.') >= kMaxPowDepth) std::abort();
    for (char c : value.text) {
      if (value.is_string && static_cast<unsigned char>(c) < 0x20) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Check(ReadPowPayload(input));
  Check(ReadPowPayload(Base64Encode(input)));
  return 0;
}
