#pragma once

#include <string>

#include "common/string_list.h"

// Splits a results-file template into the names found between pairs of a delimiter.
//
// Parse() walks Text from the start. At a delimiter a token starts: the next character is taken
// whatever it is, then characters are taken until the one after the last taken is the
// delimiter, which closes the token. The walk resumes after the closing delimiter; an unfinished
// token at the end of the text is dropped. So "%a% and %b%" gives "a" and "b", a lone "%" pairs
// with the next one, a token may hold blanks and line breaks, and a name met twice is listed
// twice. With an empty Delimiter, or none in Text, Tokens stays empty.
class TParseMe {
 public:
  TParseMe() = default;
  TParseMe(const TParseMe&) = delete;
  TParseMe& operator=(const TParseMe&) = delete;

  std::string Text;
  std::string Delimiter;
  TStringList Tokens;  // the result; owned by the object

  void Parse();
};
