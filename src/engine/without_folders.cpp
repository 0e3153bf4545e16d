#include "engine/without_folders.h"

std::string WithoutFolders(std::string_view message) {
  std::string out;
  out.reserve(message.size());
  size_t at = 0;
  while (at < message.size()) {
    const char c = message[at];
    const bool word_start = at == 0 || message[at - 1] == ' ' || message[at - 1] == '"';
    if (c != '/' || !word_start) {
      out += c;
      ++at;
      continue;
    }
    // A quoted path may hold blanks: it ends at its closing quote.
    const bool quoted = at > 0 && message[at - 1] == '"';
    size_t end = message.find_first_of(quoted ? "\"" : " \"", at);
    if (end == std::string_view::npos) end = message.size();
    const std::string_view word = message.substr(at, end - at);
    out.append(word.substr(word.rfind('/') + 1));
    at = end;
  }
  return out;
}
