#include "common/number_text.h"

#include <charconv>
#include <string_view>

namespace {

void AppendDigits(std::string& out, std::string_view digits, size_t width) {
  if (width > digits.size()) out.append(width - digits.size(), '0');
  out += digits;
}

}  // namespace

void AppendDecimal(std::string& out, long long value, size_t width) {
  char buffer[24];
  const char* end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  std::string_view digits(buffer, static_cast<size_t>(end - buffer));
  if (value < 0) {
    // The sign counts toward the width, as with printf.
    out += '-';
    digits.remove_prefix(1);
    if (width > 0) --width;
  }
  AppendDigits(out, digits, width);
}

void AppendHex(std::string& out, unsigned long long value, size_t width) {
  char buffer[20];
  const char* end = std::to_chars(buffer, buffer + sizeof buffer, value, 16).ptr;
  AppendDigits(out, std::string_view(buffer, static_cast<size_t>(end - buffer)), width);
}
