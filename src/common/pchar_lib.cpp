#include "common/pchar_lib.h"

bool IsEmptyPChar(const TPChar& buffer) {
  return buffer.IsNull() || buffer.Length() == 0;
}

TPChar NewZeroPChar(size_t size) {
  TPChar buffer{std::string()};
  buffer.text_.reserve(size);
  return buffer;
}

void FreePChar(TPChar& buffer) {
  buffer.text_ = std::string();
  buffer.null_ = true;
}

void AppendPChar(TPChar& buffer, std::string_view text) {
  if (text.empty()) return;
  buffer.text_.append(text);
  buffer.null_ = false;
}

void AppendPCharN(TPChar& buffer, std::string_view text, size_t count) {
  if (text.empty() || count == 0) return;
  AppendPChar(buffer, text.substr(0, count));
}

void ReplaceAllPChar(TPChar& buffer, std::string_view pattern, std::string_view replacement) {
  if (IsEmptyPChar(buffer) || pattern.empty() || replacement.empty()) return;
  const std::string_view source = buffer.text_;
  size_t at = source.find(pattern);
  if (at == std::string_view::npos) return;  // no occurrence: the buffer stays as it is
  std::string result;
  size_t read = 0;
  for (; at != std::string_view::npos; at = source.find(pattern, read)) {
    result.append(source, read, at - read);
    result.append(replacement);
    read = at + pattern.size();
  }
  result.append(source, read, std::string_view::npos);
  buffer.text_ = std::move(result);
}
