#pragma once

#include <functional>
#include <string>
#include <string_view>

// The entry scan of a mail body: a name between two "%" signs, with no blank or control
// character from the first sign to the second and the second sign at most kMaxEntrySpan
// characters after the first, is an entry; "%%" is an entry with an empty name.

constexpr size_t kMaxEntrySpan = 32000;

// Passes `text` to `write` piece by piece, calling `on_entry` with the trimmed name of every
// entry in its place. A "%" that does not open an entry is written as it is. Nothing of `text`
// is dropped.
void ScanBodyEntries(std::string_view text,
                     const std::function<void(const std::string& entry_name)>& on_entry,
                     const std::function<void(std::string_view piece)>& write);
