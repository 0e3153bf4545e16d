#pragma once

#include <string>
#include <string_view>

#include "common/string_list.h"

// "+" becomes a blank, "%" with two hex digits (either case) the byte of that value; any other
// "%" is kept; every other byte is copied.
std::string UrlDecode(std::string_view text);
// A blank becomes "+"; ".", "/", "\", digits and ASCII letters are copied; every other byte
// becomes "%" and two upper-case hex digits.
std::string UrlEncode(std::string_view text);

// Decodes name=value pairs, each ended by "&", into the field table (MergeFields: a repeated
// name joins its values with CR LF; the time grows with n log n of the pairs). The walk ends at the
// end of `buffer` or at its first zero byte; text after the last "&" is not a pair. A pair without
// "=" or with an empty name is skipped; with several "=" the name ends at the first and the value
// starts after the last. Never fails.
void DecodeUrlEncodedFields(TStringList& fields, std::string_view buffer);

// Splits a Basic Authorization header value ("Basic <base64 of user:password>") into the
// trimmed user and password; both are empty when the decoded text holds no ":".
void DecodeBasicAuth(std::string_view header, std::string& user, std::string& password);
