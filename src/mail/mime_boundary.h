#pragma once

#include <string>
#include <string_view>

// The boundary between the parts of a multipart mail. A visitor's text goes into the first
// part, so a boundary anybody can know beforehand would let a visitor end that part and add
// parts of their own (a forged text, an attachment) to the owner's mail. Each message therefore
// gets its own boundary: "=_bx" and 128 bits from the system's random source in hexadecimal (36
// characters). "=_" never occurs in quoted-printable text, and the boundary is drawn again in the
// unlikely case that "--" and it occur anywhere in `parts` (the text of the parts that are not
// base64).
std::string NewMimeBoundary(std::string_view parts);
