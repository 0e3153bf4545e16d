#include "engine/server_header_text.h"

#include <algorithm>
#include <cstring>

#include "common/text_compare.h"

namespace {

constexpr size_t kMaxReasonLength = 1032;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

int StatusCodeOf(const std::string& line, std::string* reason) {
  size_t at = 0;
  while (at < line.size()) {
    if (!IsDigit(line[at])) {
      ++at;
      continue;
    }
    size_t end = at;
    bool dotted = false;
    while (end < line.size() && (IsDigit(line[end]) || line[end] == '.')) {
      dotted = dotted || line[end] == '.';
      ++end;
    }
    if (!dotted && line[at] != '0') {
      // Nine digits at most: a longer run is no status code and would overflow.
      const std::string digits = line.substr(at, std::min<size_t>(end - at, 9));
      if (reason != nullptr) *reason = Trim(line.substr(end)).substr(0, kMaxReasonLength);
      return std::stoi(digits);
    }
    at = end;
  }
  if (reason != nullptr) reason->clear();
  return 0;
}

bool IsStatusLine(std::string_view name) {
  return name.size() >= 5 && SameText(name.substr(0, 5), "HTTP/");
}

std::string StatusTextOf(std::string_view line) {
  const size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return {};
  return Trim(OneLine(std::string(line.substr(blank + 1, kMaxReasonLength))));
}

std::string HeaderLine(const std::string& name, const std::string& value) {
  std::string line = OneLine(name);
  line += value.empty() ? ":" : ": ";
  line += OneLine(value);
  line += "\r\n";
  return line;
}

void CopyToField(char* field, int size, const std::string& text) {
  if (size <= 0) return;
  const size_t length = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}
