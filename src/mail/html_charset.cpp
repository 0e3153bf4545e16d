#include "mail/html_charset.h"

#include "common/text_compare.h"
#include "mail/mime_encoding.h"

namespace {

bool IsCharsetChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == ':';
}

// The first Content-Type field of a header block, unfolded; "" when there is none.
std::string ContentTypeValue(std::string_view header) {
  size_t at = 0;
  while (at < header.size()) {
    size_t end = header.find('\n', at);
    if (end == std::string_view::npos) end = header.size();
    const std::string_view line = header.substr(at, end - at);
    at = end + 1;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !SameText(Trim(line.substr(0, colon)), "Content-Type"))
      continue;
    std::string value(line.substr(colon + 1));
    // Continuation lines belong to the field.
    while (at < header.size() && (header[at] == ' ' || header[at] == '\t')) {
      end = header.find('\n', at);
      if (end == std::string_view::npos) end = header.size();
      value += header.substr(at, end - at);
      at = end + 1;
    }
    return Trim(value);
  }
  return std::string();
}

// Where the charset name after "charset=" starts in `upper` (upper case text) at or after
// `from`, and its length; npos when there is none.
size_t FindCharsetValue(const std::string& upper, size_t from, size_t& length) {
  for (size_t at = upper.find("CHARSET", from); at != std::string::npos;
       at = upper.find("CHARSET", at + 1)) {
    size_t value = at + 7;
    while (value < upper.size() && (upper[value] == ' ' || upper[value] == '\t')) ++value;
    if (value >= upper.size() || upper[value] != '=') continue;
    ++value;
    while (value < upper.size() && (upper[value] == ' ' || upper[value] == '"' ||
                                    upper[value] == '\'' || upper[value] == '\t'))
      ++value;
    length = 0;
    while (value + length < upper.size() && IsCharsetChar(upper[value + length])) ++length;
    if (length > 0) return value;
  }
  return std::string::npos;
}

}  // namespace

std::string DeclaredCharset(std::string_view header) {
  const std::string value = ContentTypeValue(header);
  size_t length = 0;
  const size_t at = FindCharsetValue(UpperCase(value), 0, length);
  return at == std::string::npos ? std::string() : value.substr(at, length);
}

bool DeclaresHtml(std::string_view header) {
  const std::string value = UpperCase(ContentTypeValue(header));
  return value.rfind("TEXT/HTML", 0) == 0;
}

std::string WithMetaCharset(std::string_view html, std::string_view charset) {
  std::string out(html);
  std::string upper = UpperCase(out);
  for (size_t tag = upper.find("<META"); tag != std::string::npos;
       tag = upper.find("<META", tag + 1)) {
    const size_t close = upper.find('>', tag);
    if (close == std::string::npos) break;
    size_t length = 0;
    const size_t value = FindCharsetValue(upper, tag, length);
    if (value == std::string::npos || value > close) continue;
    out.replace(value, length, charset);
    upper = UpperCase(out);
  }
  return out;
}

std::string CharsetOfText(std::string_view text) {
  return !HasHighBytes(text) || IsValidUtf8(text) ? "utf-8" : "iso-8859-1";
}
