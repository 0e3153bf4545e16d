#include "engine/json_form_decoder.h"

#include <cstdint>

#include "common/text_compare.h"
#include "common/utf8.h"

namespace {

// A refusal while decoding: the reason, with the byte offset it was found at.
struct TJsonRefusal {
  std::string reason;
};

// One pass over the body. Each Read* starts at `at_` and leaves it after what it read.
class TJsonFormReader {
 public:
  explicit TJsonFormReader(std::string_view body) : body_(body) {}

  void ReadObject(std::vector<TDecodedField>& fields) {
    // A byte order mark may open a UTF-8 text (RFC 8259 lets a reader ignore it).
    if (body_.substr(0, 3) == "\xEF\xBB\xBF") at_ = 3;
    SkipBlanks();
    if (Peek() != '{') Refuse("the body is not a JSON object");
    ++at_;
    SkipBlanks();
    if (Peek() == '}') {
      ++at_;
    } else {
      for (;;) {
        SkipBlanks();
        if (Peek() != '"') Refuse("a member name (a string) was expected");
        std::string name = ReadString();
        SkipBlanks();
        Expect(':');
        SkipBlanks();
        ReadMember(name, fields);
        SkipBlanks();
        if (Peek() == ',') {
          ++at_;
          continue;
        }
        Expect('}');
        break;
      }
    }
    SkipBlanks();
    if (at_ != body_.size()) Refuse("text follows the object");
  }

 private:
  // A member's value: one scalar, or an array of scalars (one field each).
  void ReadMember(const std::string& name, std::vector<TDecodedField>& fields) {
    // Like a url-encoded pair with an empty name, the member adds nothing; its value is still
    // checked, so a body is accepted or refused as a whole.
    const bool keep = !name.empty();
    if (Peek() != '[') {
      std::string value = ReadScalar();
      if (keep) fields.emplace_back(name, std::move(value));
      return;
    }
    ++at_;
    SkipBlanks();
    if (Peek() == ']') {
      ++at_;
      return;  // no element, no field: as a form's group of unticked boxes
    }
    for (;;) {
      SkipBlanks();
      if (Peek() == '[') Refuse("an array within an array");
      std::string value = ReadScalar();
      if (keep) fields.emplace_back(name, std::move(value));
      SkipBlanks();
      if (Peek() == ',') {
        ++at_;
        continue;
      }
      Expect(']');
      return;
    }
  }

  std::string ReadScalar() {
    const char c = Peek();
    if (c == '"') return ReadString();
    if (c == '{') Refuse("a nested object (only strings, numbers, booleans and arrays of them)");
    if (c == '-' || (c >= '0' && c <= '9')) return ReadNumber();
    if (ReadWord("true")) return "true";
    if (ReadWord("false")) return "false";
    if (ReadWord("null")) {
      at_ -= 4;
      Refuse("null (only strings, numbers, booleans and arrays of them)");
    }
    Refuse("a value was expected");
  }

  bool ReadWord(std::string_view word) {
    if (body_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?, kept as sent.
  std::string ReadNumber() {
    const size_t start = at_;
    if (Peek() == '-') ++at_;
    if (Peek() == '0') {
      ++at_;
    } else if (!ReadDigits()) {
      Refuse("a malformed number");
    }
    if (Peek() == '.') {
      ++at_;
      if (!ReadDigits()) Refuse("a malformed number");
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++at_;
      if (Peek() == '+' || Peek() == '-') ++at_;
      if (!ReadDigits()) Refuse("a malformed number");
    }
    return std::string(body_.substr(start, at_ - start));
  }

  bool ReadDigits() {
    const size_t start = at_;
    while (Peek() >= '0' && Peek() <= '9') ++at_;
    return at_ > start;
  }

  // A string from its opening quote to its closing one, escapes decoded.
  std::string ReadString() {
    ++at_;  // the opening quote
    std::string out;
    for (;;) {
      if (at_ >= body_.size()) Refuse("a string is not closed");
      const unsigned char c = static_cast<unsigned char>(body_[at_]);
      if (c == '"') {
        ++at_;
        return out;
      }
      if (c < 0x20) Refuse("a control character within a string (it must be escaped)");
      if (c == '\\') {
        ReadEscape(out);
      } else if (c < 0x80) {
        out += static_cast<char>(c);
        ++at_;
      } else {
        const size_t length = Utf8Length(body_, at_);
        if (length == 0) Refuse("bytes that are not UTF-8");
        out.append(body_.substr(at_, length));
        at_ += length;
      }
    }
  }

  void ReadEscape(std::string& out) {
    ++at_;  // the backslash
    const char c = Peek();
    ++at_;
    switch (c) {
      case '"':
        out += '"';
        return;
      case '\\':
        out += '\\';
        return;
      case '/':
        out += '/';
        return;
      case 'b':
        out += '\b';
        return;
      case 'f':
        out += '\f';
        return;
      case 'n':
        out += '\n';
        return;
      case 'r':
        out += '\r';
        return;
      case 't':
        out += '\t';
        return;
      case 'u':
        break;
      default:
        --at_;
        Refuse("an unknown escape in a string");
    }
    uint32_t code = ReadHex4();
    if (code >= 0xDC00 && code <= 0xDFFF) Refuse("a lone surrogate escape");
    if (code >= 0xD800 && code <= 0xDBFF) {
      // A high surrogate stands only before a low one: together they are one character.
      if (!ReadWord("\\u")) Refuse("a lone surrogate escape");
      const uint32_t low = ReadHex4();
      if (low < 0xDC00 || low > 0xDFFF) Refuse("a lone surrogate escape");
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(out, code);
  }

  uint32_t ReadHex4() {
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = Peek();
      int digit = -1;
      if (h >= '0' && h <= '9') digit = h - '0';
      if (h >= 'a' && h <= 'f') digit = h - 'a' + 10;
      if (h >= 'A' && h <= 'F') digit = h - 'A' + 10;
      if (digit < 0) Refuse("a \\u escape without four hex digits");
      code = code * 16 + static_cast<uint32_t>(digit);
      ++at_;
    }
    return code;
  }

  static void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  // The byte at `at_`, or 0 past the end (0 is never valid where Peek is asked).
  char Peek() const { return at_ < body_.size() ? body_[at_] : '\0'; }

  void SkipBlanks() {
    while (at_ < body_.size() &&
           (body_[at_] == ' ' || body_[at_] == '\t' || body_[at_] == '\n' || body_[at_] == '\r'))
      ++at_;
  }

  void Expect(char c) {
    if (Peek() != c) Refuse(std::string("'") + c + "' was expected");
    ++at_;
  }

  [[noreturn]] void Refuse(const std::string& what) const {
    throw TJsonRefusal{what + " at byte " + std::to_string(at_)};
  }

  std::string_view body_;
  size_t at_ = 0;
};

}  // namespace

std::string DecodeJsonFormBody(std::string_view body, std::vector<TDecodedField>& fields) {
  fields.clear();
  try {
    TJsonFormReader(body).ReadObject(fields);
  } catch (const TJsonRefusal& refusal) {
    fields.clear();
    return refusal.reason;
  }
  return {};
}

bool IsJsonContentType(std::string_view content_type) {
  const size_t semicolon = content_type.find(';');
  return LowerCase(TrimmedView(content_type.substr(0, semicolon))) == "application/json";
}
