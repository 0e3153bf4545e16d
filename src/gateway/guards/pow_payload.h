#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

// The solution a proof-of-work widget posts: base64 of a small JSON object, read here into its
// scalar values by path, so the guard (proof_of_work.h) looks them up by name. Every byte comes
// from the visitor:
//  - the field is at most kMaxPowFieldBytes long, standard base64 (padding optional);
//  - the JSON is objects of strings and numbers, at most kMaxPowDepth objects deep; arrays,
//    true, false and null, a repeated name, "\u" escapes, control characters and bytes after the
//    object refuse the whole payload;
//  - a value's path is its names joined by "." ("challenge.parameters.salt"); a name holding "."
//    refuses the payload, so no path can be forged from a longer name.
// Reading is linear in the field and never recursive beyond kMaxPowDepth.

inline constexpr size_t kMaxPowFieldBytes = 4096;
inline constexpr int kMaxPowDepth = 3;

struct TPowValue {
  bool is_string = false;
  std::string text;  // a string's decoded text, or a number exactly as written
};

using TPowPayload = std::map<std::string, TPowValue>;

// The bytes `text` encodes in base64; nullopt when it is not base64.
std::optional<std::string> DecodeBase64(std::string_view text);

// The payload of a posted solution field; nullopt when it is malformed (above).
std::optional<TPowPayload> ReadPowPayload(std::string_view field);
