#pragma once

#include <string>
#include <string_view>

// Small text helpers the in-process adapters share when they hand the answer's headers to a
// web server through its own functions.

// Whether a header name given to WriteHeaderLine is the answer's status line ("HTTP/1.0 302
// Found"): it starts with "HTTP/", in any case.
bool IsStatusLine(std::string_view name);

// The status text of a status line: what follows its protocol ("302 Found"), trimmed, on one
// line, at most 1032 characters.
std::string StatusTextOf(std::string_view line);

// One header line, "Name: value" with CR LF, the value on one line. An empty value still gets
// its colon: a line without one is a malformed header to web servers.
std::string HeaderLine(const std::string& name, const std::string& value);

// The status code of a status line ("HTTP/1.0 302 Found"): the first run of digits and dots
// that holds no dot and starts with 1 to 9 (so the protocol's "1.0" or "1.1" is skipped), as a
// number; 0 when there is none. `reason`, when given, receives the trimmed text after the code,
// at most 1032 characters.
int StatusCodeOf(const std::string& line, std::string* reason = nullptr);

// Copies `text` into the fixed field `field` of `size` bytes: at most size - 1 characters and
// the terminating zero.
void CopyToField(char* field, int size, const std::string& text);
