#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The MIME encodings the sender writes: base64 attachments, quoted-printable bodies, RFC 2047
// encoded words for header text, and the character-set checks that decide between them. Pure
// functions on bytes; none of them throws.

// Base64 (RFC 2045 alphabet) in lines of kBase64LineLength characters, each ended by CR LF, fed
// in pieces of any size so that a file can be encoded while it is read. The last line may be
// shorter; an empty input gives no line at all.
constexpr size_t kBase64LineLength = 60;

class TBase64LineEncoder {
 public:
  // Appends the complete lines that `bytes` finishes to `out`.
  void Add(std::string_view bytes, std::string& out);
  // Appends the rest (a padded last group and the last line) to `out`.
  void Finish(std::string& out);

 private:
  void EmitGroup(const unsigned char* group, size_t count, std::string& out);

  unsigned char pending_[3] = {};
  size_t pending_count_ = 0;
  std::string line_;
};

// Base64 of `bytes` without line breaks.
std::string Base64Encode(std::string_view bytes);

// Quoted-printable (RFC 2045) of a text whose lines end in CR LF (a lone LF or CR counts as a
// line end too; the output always uses CR LF). "=", control bytes and bytes above 126 become
// "=XX"; a blank or tab at the end of a line is encoded; lines longer than 76 characters are
// broken with soft line breaks ("=" CR LF).
std::string QuotedPrintableEncode(std::string_view text);

// True when some byte of `text` is above 127.
bool HasHighBytes(std::string_view text);
// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF).
bool IsValidUtf8(std::string_view text);

// `text` unchanged when it is plain ASCII; else one or more RFC 2047 encoded words ("=?utf-8?B?
// ...?=" when the text is valid UTF-8, "=?iso-8859-1?B?...?=" otherwise), each at most 75
// characters, several joined by CR LF and a blank (header folding). UTF-8 characters are never
// split between two words.
std::string EncodeHeaderWord(std::string_view text);

// For a message whose body is UTF-8: every "charset=iso-8859-1" (any case) of the header lines in
// `header` becomes "charset=utf-8", and a Content-Type line without a charset parameter gains
// "; charset=utf-8". `header` is lines ended by CR LF.
std::string DeclareUtf8Charset(std::string_view header);

// For a message whose body is not UTF-8: every "charset=utf-8" (any case) of the header lines in
// `header` becomes "charset=iso-8859-1". `header` is lines ended by CR LF.
std::string DeclareLatin1Charset(std::string_view header);

// True when the header lines in `header` declare "Content-Transfer-Encoding: quoted-printable"
// (names and values without regard to case, blanks around the value ignored).
bool DeclaresQuotedPrintable(std::string_view header);
