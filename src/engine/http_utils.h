#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/string_list.h"
#include "platform/clock.h"

// Small text utilities of the engine.

// The moment as an HTTP date in GMT, e.g. "Sun, 06 Dec 2026 11:25:43 GMT".
std::string HttpDate(TWallTime moment);
// Every `from` in `text` replaced by `to`.
std::string ReplaceChar(char from, char to, const std::string& text);
// A new list (owned by the caller) of the lines of `text` (split at CR LF, LF or CR).
std::unique_ptr<TStringList> TextToList(const std::string& text);
// The colour 0x00BBGGRR as "\"#RRGGBB\"" (upper-case hex digits, with the double quotes).
std::string ColorToHtml(uint32_t color);
// A Windows-style path without a drive is returned unchanged on Linux: there is no system
// drive to put in front. Kept so that callers read like the other adapters.
std::string AddDriveIfMissing(const std::string& path);
