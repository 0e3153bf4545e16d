#include "engine/url_codec.h"

#include <cstdint>
#include <vector>

#include "common/text_compare.h"
#include "engine/field_table.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Six bits of a Base64 character, -1 for "=" (six zero bits), -2 for anything else.
int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return -1;
  return -2;
}

constexpr size_t kMaxAuthLength = 1032;

}  // namespace

std::string UrlDecode(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      result += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      result += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      result += c;
    }
  }
  return result;
}

std::string UrlEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == ' ') {
      result += '+';
    } else if (c == '.' || c == '/' || c == '\\' || (c >= '0' && c <= '9') ||
               (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      result += c;
    } else {
      result += '%';
      result += kHex[byte >> 4];
      result += kHex[byte & 0x0F];
    }
  }
  return result;
}

void DecodeUrlEncodedFields(TStringList& fields, std::string_view buffer) {
  std::vector<TDecodedField> decoded;
  size_t pair_start = 0;
  size_t first_equal = 0;  // first and last "=" of the current pair
  size_t last_equal = 0;
  bool pair_has_equal = false;
  for (size_t i = 0; i < buffer.size() && buffer[i] != '\0'; ++i) {
    if (buffer[i] == '=') {
      last_equal = i;
      if (!pair_has_equal) first_equal = i;
      pair_has_equal = true;
    } else if (buffer[i] == '&') {
      // A pair without "=" or with an empty name (its first "=" opens it) adds nothing.
      if (pair_has_equal && first_equal > pair_start) {
        std::string name = UrlDecode(buffer.substr(pair_start, first_equal - pair_start));
        std::string value = UrlDecode(buffer.substr(last_equal + 1, i - last_equal - 1));
        decoded.emplace_back(std::move(name), std::move(value));
      }
      pair_start = i + 1;
      pair_has_equal = false;
    }
  }
  MergeFields(fields, decoded);
}

void DecodeBasicAuth(std::string_view header, std::string& user, std::string& password) {
  user.clear();
  password.clear();
  size_t space = header.find(' ');
  std::string_view encoded = space == std::string_view::npos ? header : header.substr(space + 1);
  if (encoded.size() > kMaxAuthLength) encoded = encoded.substr(0, kMaxAuthLength);

  std::string decoded;
  uint32_t bits = 0;
  int in_group = 0;
  for (char c : encoded) {
    int value = Base64Value(c);
    if (value >= 0) {
      bits = (bits << 6) | static_cast<uint32_t>(value);
    } else if (value == -1) {
      bits <<= 6;
    }
    // Any other character takes its place in the group without adding bits.
    if (++in_group == 4) {
      decoded += static_cast<char>((bits >> 16) & 0xFF);
      decoded += static_cast<char>((bits >> 8) & 0xFF);
      decoded += static_cast<char>(bits & 0xFF);
      bits = 0;
      in_group = 0;
    }
  }
  size_t colon = decoded.find(':');
  if (colon == std::string::npos) return;
  user = Trim(decoded.substr(0, colon));
  password = Trim(decoded.substr(colon + 1));
}
