#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/field_table.h"

// Form fields sent as a JSON body (Content-Type application/json), the way a script's fetch()
// posts a form. The body must be one flat JSON object (RFC 8259, strictly): each member's value a
// string, a number, true or false, or an array of those. It gives the fields a form post gives:
//
//   string         its text, \u escapes (surrogate pairs included) written as UTF-8
//   number         its text as sent ("12", "-0.5e3")
//   true / false   "true" / "false"
//   array          one field per element, in order (a name received that many times)
//
// A member with an empty name adds nothing (as in a url-encoded body). Anything else is refused
// and adds nothing: text that is not JSON, bytes that are not UTF-8, a lone surrogate escape, a
// top level that is not an object, a nested object, an array within an array, null. Arrays are
// the only nesting, one level deep, so decoding never recurses. The time grows with the body's
// length; the body's size is bounded by the caller (the engine's read limit).

// The decoded fields in order of arrival in `fields`, and "" when the body is accepted; else the
// reason it is refused (naming the byte offset, never the body's text) and `fields` is empty.
std::string DecodeJsonFormBody(std::string_view body, std::vector<TDecodedField>& fields);

// True when a request's Content-Type is application/json, with any parameters (a charset):
// media type names compare without regard to case or surrounding blanks.
bool IsJsonContentType(std::string_view content_type);
