#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The head of a spooled request file (engine/adapters/request_server.h): one NAME=value line per
// request variable, each ended by CR LF, then an empty line; the body follows.
struct TSpooledRequestHead {
  std::vector<std::string> Variables;  // the lines before the empty line, in order
  size_t BodyOffset = 0;               // where the body starts: just after the empty line
};

// Reads the head from the start of a request file. nullopt when `text` holds no empty line, or
// the empty line stands at the very start (a request without variables is no request). Lines
// never hold CR LF; a lone CR or LF stays part of its line. Never throws but for memory.
std::optional<TSpooledRequestHead> ParseSpooledRequestHead(std::string_view text);
