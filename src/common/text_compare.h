#pragma once

#include <string>
#include <string_view>

// Case-insensitive comparisons fold ASCII letters only, so that the behaviour does not depend
// on the process locale.

// Inline: every case-insensitive lookup of a name runs them per character.
inline char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

// The first place at or after `pos` of any byte of the short `set`, or npos. A scanner looking
// for two or three bytes wants this, not std::string_view::find_first_of, which calls memchr
// on the set for every byte of the text.
inline size_t FindAnyOf(std::string_view text, std::string_view set, size_t pos = 0) {
  for (size_t i = pos; i < text.size(); ++i) {
    for (const char c : set) {
      if (text[i] == c) return i;
    }
  }
  return std::string_view::npos;
}

// The first place at or after `from` where `word` stands in `text`, ignoring the case of ASCII
// letters (as UpperCase(text).find(UpperCase(word)) finds it, without the copies); npos if none.
size_t FindText(std::string_view text, std::string_view word, size_t from = 0);

// <0, 0 or >0 like strcmp, ignoring the case of ASCII letters.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);

// True when `text` begins with `head`, ignoring the case of ASCII letters.
inline bool StartsWithText(std::string_view text, std::string_view head) {
  return text.size() >= head.size() && SameText(text.substr(0, head.size()), head);
}

// Removes blanks and control characters (bytes <= ' ') from both ends, as the original
// toolkit's Trim does.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);
// The same cut as Trim, as a view into `text` (no copy).
std::string_view TrimmedView(std::string_view text);

// `text` with CR and LF made blanks, so that it stays one line: of a header (a value never ends
// it early or smuggles in headers of its own), of a log, or of a request file's variable block.
std::string OneLine(std::string text);

// `bytes` as lower-case hex, two digits a byte.
std::string HexText(std::string_view bytes);
