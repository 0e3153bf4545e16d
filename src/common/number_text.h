#pragma once

#include <cstddef>
#include <string>

// Numbers as text without printf: a CGI process that formats a few dates and identifiers would
// otherwise run printf's machinery, and fault in its code, for each of them.

// Appends `value` in decimal, at least `width` characters, zeros after the sign ("%0*lld").
void AppendDecimal(std::string& out, long long value, size_t width = 0);
// Appends `value` in lower-case hexadecimal, at least `width` digits ("%0*llx").
void AppendHex(std::string& out, unsigned long long value, size_t width = 0);
