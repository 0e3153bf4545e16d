#include "common/text_compare.h"

#include <cstdint>
#include <cstring>

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

int CompareText(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  size_t i = 0;
  // Equal bytes, the common case in name lookups, need no folding: they are passed over eight
  // at a time.
  for (; i + 8 <= n; i += 8) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) break;
  }
  for (; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const auto ca = static_cast<unsigned char>(AsciiUpper(a[i]));
    const auto cb = static_cast<unsigned char>(AsciiUpper(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

size_t FindText(std::string_view text, std::string_view word, size_t from) {
  if (word.empty()) return from <= text.size() ? from : std::string_view::npos;
  const char first = AsciiUpper(word.front());
  for (size_t at = from; at < text.size() && text.size() - at >= word.size(); ++at) {
    if (AsciiUpper(text[at]) == first && SameText(text.substr(at, word.size()), word)) return at;
  }
  return std::string_view::npos;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

static bool IsTrimmed(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string_view TrimmedView(std::string_view text) {
  size_t start = 0;
  size_t end = text.size();
  while (end > 0 && IsTrimmed(text[end - 1])) --end;
  while (start < end && IsTrimmed(text[start])) ++start;
  return text.substr(start, end - start);
}

std::string Trim(std::string_view text) {
  return std::string(TrimmedView(text));
}

std::string TrimLeft(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && IsTrimmed(text[start])) ++start;
  return std::string(text.substr(start));
}

std::string TrimRight(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && IsTrimmed(text[end - 1])) --end;
  return std::string(text.substr(0, end));
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

std::string HexText(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    out += kHex[static_cast<unsigned char>(c) >> 4];
    out += kHex[static_cast<unsigned char>(c) & 15];
  }
  return out;
}
