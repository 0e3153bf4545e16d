#include "engine/adapters/spool_request_head.h"

std::optional<TSpooledRequestHead> ParseSpooledRequestHead(std::string_view text) {
  const size_t blank = text.find("\r\n\r\n");
  if (blank == std::string_view::npos || blank == 0) return std::nullopt;
  TSpooledRequestHead head;
  head.BodyOffset = blank + 4;
  for (size_t start = 0; start < blank;) {
    size_t end = text.find("\r\n", start);
    if (end == std::string_view::npos || end > blank) end = blank;
    head.Variables.emplace_back(text.substr(start, end - start));
    start = end + 2;
  }
  return head;
}
