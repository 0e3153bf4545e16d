#include "engine/template_entry.h"

#include <algorithm>

#include "common/text_compare.h"

namespace {

bool StartsWithUpper(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiUpper(text[i]) != prefix[i]) return false;
  }
  return true;
}

// A blank may follow the keyword of a conditional entry: "IF a=1", "ELSEIF b".
bool OpensConditional(std::string_view so_far) {
  return StartsWithUpper(so_far, "IF ") || StartsWithUpper(so_far, "IF(") ||
         StartsWithUpper(so_far, "ELSEIF ") || StartsWithUpper(so_far, "ELSEIF(");
}

}  // namespace

std::optional<size_t> FindEntryEnd(std::string_view text, size_t start, char delimiter) {
  int opens = 0;
  int closes = 0;
  int quotes = 0;
  // One more character than an entry may hold, so that the closing delimiter of a full-length
  // entry is still seen.
  const size_t limit = start + kMaxEntryLength + 1;
  for (size_t i = start; i < text.size() && i < limit; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool quoted = (quotes % 2) != 0;
    if (c < 32) return std::nullopt;
    switch (c) {
      case ' ':
        // The text so far includes this blank, so "IF " qualifies but "IF" + "x" does not.
        if (!quoted && opens == 0 && !OpensConditional(text.substr(start, i - start + 1))) {
          return std::nullopt;
        }
        break;
      case '!':
      case '#':
      case '%':
      case '&':
        if (quoted) break;
        if (c == static_cast<unsigned char>(delimiter)) {
          if (opens != closes) return std::nullopt;
          return i;
        }
        return std::nullopt;
      case '"':
        if (opens == 0) return std::nullopt;
        ++quotes;
        break;
      case '(':
        if (!quoted) ++opens;
        break;
      case ')':
        if (quoted) break;
        if (opens == 0) return std::nullopt;
        ++closes;
        break;
      case ',':
      case '.':
        if (!quoted && opens == 0) return std::nullopt;
        break;
      default:
        break;
    }
  }
  return std::nullopt;
}

TEntryKind ClassifyEntry(std::string_view entry) {
  if (StartsWithUpper(entry, "IF ") || StartsWithUpper(entry, "IF(")) return TEntryKind::kIf;
  if (StartsWithUpper(entry, "ELSEIF ") || StartsWithUpper(entry, "ELSEIF(")) {
    return TEntryKind::kElseIf;
  }
  if (StartsWithUpper(entry, "ELSE")) return TEntryKind::kElse;
  if (entry.size() == 5 && StartsWithUpper(entry, "ENDIF")) return TEntryKind::kEndIf;
  return TEntryKind::kOrdinary;
}

std::string EntryCondition(std::string_view entry, TEntryKind kind) {
  size_t keyword = 0;
  if (kind == TEntryKind::kIf) keyword = 2;
  if (kind == TEntryKind::kElseIf) keyword = 6;
  return Trim(entry.substr(std::min(keyword, entry.size())));
}

std::string EntryHandlerName(std::string_view entry) {
  const size_t paren = entry.find('(');
  if (paren == std::string_view::npos) return std::string(entry);
  return Trim(entry.substr(0, paren));
}
