#include "mail/mime_encoding.h"

#include <vector>

#include "common/text_compare.h"

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHex[] = "0123456789ABCDEF";

void AppendBase64Group(const unsigned char* group, size_t count, std::string& out) {
  const unsigned value =
      (group[0] << 16) | ((count > 1 ? group[1] : 0) << 8) | (count > 2 ? group[2] : 0);
  out += kBase64Alphabet[(value >> 18) & 63];
  out += kBase64Alphabet[(value >> 12) & 63];
  out += count > 1 ? kBase64Alphabet[(value >> 6) & 63] : '=';
  out += count > 2 ? kBase64Alphabet[value & 63] : '=';
}

// The length of the UTF-8 sequence starting at text[i], or 0 when it is not well formed.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  if (c < 0x80) return 1;
  size_t length;
  unsigned min_second = 0x80, max_second = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) min_second = 0xA0;  // overlong
    if (c == 0xED) max_second = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) min_second = 0x90;  // overlong
    if (c == 0xF4) max_second = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < min_second || byte(i + 1) > max_second) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

// Splits `text` into its lines (without their ends, CR LF, LF or a lone CR); `ended` tells
// whether the last line had an end.
std::vector<std::string_view> SplitLines(std::string_view text, bool& ended) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  ended = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) {
    lines.push_back(text.substr(start));
  } else {
    ended = !text.empty();
  }
  return lines;
}

}  // namespace

void TBase64LineEncoder::EmitGroup(const unsigned char* group, size_t count, std::string& out) {
  AppendBase64Group(group, count, line_);
  if (line_.size() >= kBase64LineLength) {
    out += line_;
    out += "\r\n";
    line_.clear();
  }
}

void TBase64LineEncoder::Add(std::string_view bytes, std::string& out) {
  size_t i = 0;
  while (pending_count_ > 0 && pending_count_ < 3 && i < bytes.size())
    pending_[pending_count_++] = static_cast<unsigned char>(bytes[i++]);
  if (pending_count_ == 3) {
    EmitGroup(pending_, 3, out);
    pending_count_ = 0;
  }
  for (; i + 3 <= bytes.size(); i += 3)
    EmitGroup(reinterpret_cast<const unsigned char*>(bytes.data() + i), 3, out);
  while (i < bytes.size()) pending_[pending_count_++] = static_cast<unsigned char>(bytes[i++]);
}

void TBase64LineEncoder::Finish(std::string& out) {
  if (pending_count_ > 0) EmitGroup(pending_, pending_count_, out);
  pending_count_ = 0;
  if (!line_.empty()) {
    out += line_;
    out += "\r\n";
    line_.clear();
  }
}

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3)
    AppendBase64Group(reinterpret_cast<const unsigned char*>(bytes.data() + i), 3, out);
  if (i < bytes.size()) {
    unsigned char rest[3] = {};
    for (size_t k = 0; i + k < bytes.size(); ++k)
      rest[k] = static_cast<unsigned char>(bytes[i + k]);
    AppendBase64Group(rest, bytes.size() - i, out);
  }
  return out;
}

std::string QuotedPrintableEncode(std::string_view text) {
  bool ended = false;
  const std::vector<std::string_view> lines = SplitLines(text, ended);
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (size_t n = 0; n < lines.size(); ++n) {
    const std::string_view line = lines[n];
    size_t column = 0;
    size_t run = 0;  // where the plain bytes not yet appended begin
    for (size_t i = 0; i < line.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(line[i]);
      const bool last = i + 1 == line.size();
      const bool plain = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
      const size_t width = plain ? 1 : 3;
      // Keep every encoded line within 76 characters, the soft break "=" included.
      const size_t limit = last ? 76 : 75;
      if (column + width > limit) {
        out.append(line.substr(run, i - run));
        out += "=\r\n";
        run = i;
        column = 0;
      }
      // Plain bytes go out as runs, one append each, not one append per byte.
      if (!plain) {
        out.append(line.substr(run, i - run));
        const char encoded[3] = {'=', kHex[c >> 4], kHex[c & 15]};
        out.append(encoded, 3);
        run = i + 1;
      }
      column += width;
    }
    out.append(line.substr(run));
    if (n + 1 < lines.size() || ended) out += "\r\n";
  }
  return out;
}

bool HasHighBytes(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) > 127) return true;
  }
  return false;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string EncodeHeaderWord(std::string_view text) {
  if (!HasHighBytes(text)) return std::string(text);
  const bool utf8 = IsValidUtf8(text);
  const std::string prefix = utf8 ? "=?utf-8?B?" : "=?iso-8859-1?B?";
  // 75 characters per word: the prefix, "?=" and at most 45 bytes (60 base64 characters).
  const size_t max_bytes = (75 - prefix.size() - 2) / 4 * 3;
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = i;
    while (end < text.size()) {
      const size_t length = utf8 ? Utf8SequenceLength(text, end) : 1;
      if (end + length - i > max_bytes) break;
      end += length;
    }
    if (!out.empty()) out += "\r\n ";
    out += prefix + Base64Encode(text.substr(i, end - i)) + "?=";
    i = end;
  }
  return out;
}

std::string DeclareLatin1Charset(std::string_view header) {
  static constexpr std::string_view kUtf8 = "charset=utf-8";
  bool ended = false;
  std::string out;
  for (std::string_view line : SplitLines(header, ended)) {
    std::string text(line);
    for (size_t at = FindText(text, kUtf8); at != std::string::npos;
         at = FindText(text, kUtf8, at + 1)) {
      text.replace(at, kUtf8.size(), "charset=iso-8859-1");
    }
    out += text;
    out += "\r\n";
  }
  return out;
}

std::string DeclareUtf8Charset(std::string_view header) {
  static constexpr std::string_view kLatin1 = "charset=iso-8859-1";
  bool ended = false;
  std::string out;
  for (std::string_view line : SplitLines(header, ended)) {
    std::string text(line);
    for (size_t at = FindText(text, kLatin1); at != std::string::npos;
         at = FindText(text, kLatin1, at + 1)) {
      text.replace(at, kLatin1.size(), "charset=utf-8");
    }
    if (StartsWithText(text, "Content-Type:") && FindText(text, "CHARSET") == std::string::npos &&
        FindText(text, "MULTIPART/") == std::string::npos)
      text = TrimRight(text) + "; charset=utf-8";
    out += text;
    out += "\r\n";
  }
  return out;
}

bool DeclaresQuotedPrintable(std::string_view header) {
  bool ended = false;
  for (std::string_view line : SplitLines(header, ended)) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (SameText(Trim(line.substr(0, colon)), "Content-Transfer-Encoding") &&
        SameText(Trim(line.substr(colon + 1)), "quoted-printable"))
      return true;
  }
  return false;
}
