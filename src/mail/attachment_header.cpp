#include "mail/attachment_header.h"

#include <vector>

#include "mail/mime_encoding.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
// The encoded characters of one continuation line.
constexpr size_t kSegmentLength = 60;

bool IsPlainAscii(std::string_view name) {
  if (name.empty() || name.size() > kPlainFileNameLength) return false;
  for (char c : name) {
    if (c < ' ' || c > '~') return false;
  }
  return true;
}

// RFC 2231's attribute-char: what stands in an extended value without a percent sign.
bool IsAttributeChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

// The characters of `name`, each as its bytes: a UTF-8 sequence stays whole so that no
// continuation splits one character.
std::vector<std::string_view> Characters(std::string_view name, bool utf8) {
  std::vector<std::string_view> out;
  for (size_t i = 0; i < name.size();) {
    size_t length = 1;
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (utf8 && c >= 0xC0) length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    length = std::min(length, name.size() - i);
    out.push_back(name.substr(i, length));
    i += length;
  }
  return out;
}

// The ASCII stand-in: printable ASCII kept (quote and backslash escaped), every other character
// "_", at most kPlainFileNameLength characters, the end of the name (its extension) kept.
std::string QuotedFallback(const std::vector<std::string_view>& characters) {
  const size_t first =
      characters.size() > kPlainFileNameLength ? characters.size() - kPlainFileNameLength : 0;
  std::string out = "\"";
  for (size_t i = first; i < characters.size(); ++i) {
    const std::string_view c = characters[i];
    if (c.size() == 1 && c[0] >= ' ' && c[0] <= '~') {
      if (c[0] == '"' || c[0] == '\\') out += '\\';
      out += c[0];
    } else {
      out += '_';
    }
  }
  return out + "\"";
}

std::string QuotedName(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// "; `attribute`*0*=charset''..." and its continuations, each on a line of its own.
std::string ExtendedParameter(std::string_view attribute,
                              const std::vector<std::string_view>& characters, bool utf8) {
  std::vector<std::string> segments(1);
  for (const std::string_view c : characters) {
    std::string encoded;
    for (char byte : c) {
      const unsigned char b = static_cast<unsigned char>(byte);
      if (IsAttributeChar(b)) {
        encoded += byte;
      } else {
        encoded += {'%', kHex[b >> 4], kHex[b & 15]};
      }
    }
    if (segments.back().size() + encoded.size() > kSegmentLength) segments.emplace_back();
    segments.back() += encoded;
  }
  std::string out;
  for (size_t n = 0; n < segments.size(); ++n) {
    out += ";\r\n ";
    out += attribute;
    if (segments.size() > 1) out += '*' + std::to_string(n);
    out += "*=";
    if (n == 0) out += utf8 ? "utf-8''" : "iso-8859-1''";
    out += segments[n];
  }
  return out;
}

}  // namespace

std::string AttachmentPartHeader(std::string_view file_name, std::string_view content_type) {
  std::string type = "Content-Type: ";
  type += content_type;
  std::string disposition = "Content-Disposition: attachment";
  if (IsPlainAscii(file_name)) {
    type += "; name=" + QuotedName(file_name);
    disposition += "; filename=" + QuotedName(file_name);
  } else if (!file_name.empty()) {
    const bool utf8 = IsValidUtf8(file_name);
    const std::vector<std::string_view> characters = Characters(file_name, utf8);
    const std::string fallback = QuotedFallback(characters);
    // The stand-in goes only into Content-Type: readers take a plain and an extended "filename"
    // side by side for one parameter given twice, and keep the plain one.
    type += "; name=" + fallback;
    disposition += ExtendedParameter("filename", characters, utf8);
  }
  return type + "\r\nContent-Transfer-Encoding: base64\r\n" + disposition + "\r\n";
}
