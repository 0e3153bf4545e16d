#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Entry recognition of the page template language.
//
// An entry is the text between an opening delimiter ("%" or "#") and the next matching one,
// e.g. %name% or #IF (FORMVAR("x")="1")#. What may stand inside is restricted so that ordinary
// text such as "50% off" or "#1 choice" stays text:
//   - no control character (code below 32), line breaks included;
//   - a blank only inside double quotes, inside parentheses, or after a leading "IF" / "ELSEIF";
//   - "!", "#", "%", "&" only inside double quotes (the delimiter itself, unquoted, ends the
//     entry);
//   - a double quote only after an opening parenthesis;
//   - ")" only after an opening parenthesis, "," and "." only inside quotes or parentheses;
//   - the parentheses must balance when the entry ends.
// An entry holds at most kMaxEntryLength characters.

inline constexpr size_t kMaxEntryLength = 255;

// Looks for the closing delimiter of an entry whose opening delimiter `delimiter` stands right
// before `start` in `text`. Returns the position of the closing delimiter, or nullopt when the
// text from `start` is no entry. Never reads outside `text`.
std::optional<size_t> FindEntryEnd(std::string_view text, size_t start, char delimiter);

enum class TEntryKind { kIf, kElseIf, kElse, kEndIf, kOrdinary };

// Classifies a trimmed entry text by its upper-case form: "IF " / "IF(" start an IF, "ELSEIF " /
// "ELSEIF(" an ELSEIF, any other text starting with "ELSE" is an ELSE, "ENDIF" alone an ENDIF;
// everything else is an ordinary entry.
TEntryKind ClassifyEntry(std::string_view entry);

// The condition of an IF or ELSEIF entry: the text after the keyword, trimmed.
std::string EntryCondition(std::string_view entry, TEntryKind kind);

// The name an entry handler is called with: the text before the first "(", trimmed (the whole
// entry when it has no parenthesis).
std::string EntryHandlerName(std::string_view entry);
