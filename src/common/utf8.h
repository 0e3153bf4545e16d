#pragma once

#include <cstddef>
#include <string_view>

// The length of the well-formed UTF-8 sequence that starts `text` at `at` (below text.size()):
// 2 to 4 for a multi-byte sequence; 0 when it is none (an ASCII byte, a stray continuation
// byte, an overlong form, a surrogate, beyond U+10FFFF or cut short).
size_t Utf8Length(std::string_view text, size_t at);
