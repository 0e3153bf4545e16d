#include "gateway/parse_me.h"

void TParseMe::Parse() {
  Tokens.Clear();
  if (Delimiter.empty()) return;
  const char delimiter = Delimiter[0];
  if (Text.find(delimiter) == std::string::npos) return;

  size_t pos = 0;
  while (pos < Text.size()) {
    if (Text[pos] != delimiter) {
      ++pos;
      continue;
    }
    // The character right after the opening delimiter always belongs to the token, even when it
    // is a delimiter itself: "%%x%" gives the token "%x".
    const size_t start = pos + 1;
    if (start >= Text.size()) return;
    const size_t close = Text.find(delimiter, start + 1);
    if (close == std::string::npos) return;
    Tokens.Add(Text.substr(start, close - start));
    pos = close + 1;
  }
}
