#include "gateway/guards/pow_payload.h"

#include <cstring>

namespace {

int Base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// A reader of the JSON subset above over one text; every method returns false on malformed
// input and leaves the reader where it stopped.
class PayloadReader {
 public:
  PayloadReader(std::string_view text, TPowPayload& out) : text_(text), out_(out) {}

  bool ReadAll() {
    SkipBlanks();
    if (!ReadObject("", 1)) return false;
    SkipBlanks();
    return pos_ == text_.size();
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size() && std::strchr(" \t\r\n", text_[pos_]) != nullptr &&
           text_[pos_] != '\0') {
      ++pos_;
    }
  }

  bool Take(char c) {
    SkipBlanks();
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  bool ReadString(std::string& out) {
    if (!Take('"')) return false;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) return false;
      const char escaped = text_[pos_++];
      if (escaped == '"' || escaped == '\\' || escaped == '/') {
        out += escaped;
      } else {
        return false;  // nothing the solution carries needs another escape
      }
    }
    return false;
  }

  bool ReadNumber(std::string& out) {
    SkipBlanks();
    const size_t start = pos_;
    while (pos_ < text_.size() && std::strchr("0123456789+-.eE", text_[pos_]) != nullptr &&
           text_[pos_] != '\0') {
      ++pos_;
    }
    out.assign(text_.substr(start, pos_ - start));
    return !out.empty();
  }

  bool ReadObject(const std::string& path, int depth) {
    if (depth > kMaxPowDepth || !Take('{')) return false;
    if (Take('}')) return true;
    do {
      std::string name;
      if (!ReadString(name) || name.find('.') != std::string::npos || !Take(':')) return false;
      const std::string member = path.empty() ? name : path + "." + name;
      SkipBlanks();
      if (pos_ >= text_.size()) return false;
      if (text_[pos_] == '{') {
        if (!ReadObject(member, depth + 1)) return false;
        continue;
      }
      TPowValue value;
      value.is_string = text_[pos_] == '"';
      if (!(value.is_string ? ReadString(value.text) : ReadNumber(value.text))) return false;
      if (!out_.emplace(member, std::move(value)).second) return false;
    } while (Take(','));
    return Take('}');
  }

  std::string_view text_;
  size_t pos_ = 0;
  TPowPayload& out_;
};

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  out.reserve(text.size() * 3 / 4);
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    const int digit = Base64Digit(c);
    if (digit < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<unsigned>(digit);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xff);
    }
  }
  return out;
}

std::optional<TPowPayload> ReadPowPayload(std::string_view field) {
  if (field.size() > kMaxPowFieldBytes) return std::nullopt;
  const std::optional<std::string> json = DecodeBase64(field);
  if (!json) return std::nullopt;
  TPowPayload payload;
  PayloadReader reader(*json, payload);
  if (!reader.ReadAll()) return std::nullopt;
  return payload;
}
