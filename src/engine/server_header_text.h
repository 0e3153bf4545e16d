#pragma once

#include <string>

// Small text helpers the in-process adapters share when they hand the answer's headers to a
// web server through its own functions.

// The status code of a status line ("HTTP/1.0 302 Found"): the first run of digits and dots
// that holds no dot and starts with 1 to 9 (so the protocol's "1.0" or "1.1" is skipped), as a
// number; 0 when there is none. `reason`, when given, receives the trimmed text after the code,
// at most 1032 characters.
int StatusCodeOf(const std::string& line, std::string* reason = nullptr);

// Copies `text` into the fixed field `field` of `size` bytes: at most size - 1 characters and
// the terminating zero.
void CopyToField(char* field, int size, const std::string& text);
