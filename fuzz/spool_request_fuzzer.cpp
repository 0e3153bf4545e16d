// The head of a spooled request file, as the request server reads it from the spool.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/adapters/spool_request_head.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto head = ParseSpooledRequestHead(text);
  if (!head) return 0;
  // The body starts inside the input, right after the empty line, and no variable spans a line.
  if (head->BodyOffset > size || text.substr(head->BodyOffset - 4, 4) != "\r\n\r\n") std::abort();
  for (const auto& line : head->Variables) {
    if (line.find("\r\n") != std::string_view::npos) std::abort();
  }
  return 0;
}
