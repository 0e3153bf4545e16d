#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct TCrypto;

// The proof-of-work guard's protocol: the challenges the gateway signs and the solutions it
// accepts, compatible with the ALTCHA widget and library (MIT, on npm as "altcha" and
// "altcha-lib"). A challenge hides a number up to a maximum; the visitor's browser finds it by
// hashing one candidate after the other, which costs a person a fraction of a second and a bot
// that posts thousands of forms as many times that. The gateway checks a solution with one hash
// and one HMAC.
//
// Protocol 2 (the libraries' current one, the default):
//   {"parameters":{"algorithm":"SHA-256","cost":1,"expiresAt":<seconds>,"keyLength":32,
//                  "keyPrefix":<hex>,"nonce":<hex>,"salt":<hex>},"signature":<hex>}
//   The derived key of counter n is SHA-256(salt bytes, nonce bytes, n as 4 big-endian bytes);
//   keyPrefix is the first 16 bytes of the key of the hidden counter. The signature is the
//   HMAC-SHA-256 under PoW_Key of the parameters as JSON with sorted names and no blanks, so the
//   expiry is signed. The widget posts base64 of
//   {"challenge":{"parameters":{...},"signature":...},"solution":{"counter":n,"derivedKey":<hex>}}.
// Protocol 1 (the older SHA-256 one, which widgets before version 3 speak):
//   {"algorithm":"SHA-256","challenge":<hex>,"maxnumber":<max>,"salt":"<hex>?expires=<s>&",
//    "signature":<hex>}
//   challenge is SHA-256 of the salt text followed by the number in decimal, signature its
//   HMAC-SHA-256 under PoW_Key; the expiry is inside the salt and so inside the hash. The widget
//   posts base64 of {"algorithm","challenge","number","salt","signature",...}.
//
// A solution is checked in this order, the first failure naming the reason: it must decode
// (kMalformed), its signature must verify in constant time (kBadSignature), it must not have
// expired (kExpired, a second after its expiry), and its number must give the challenge
// (kWrongSolution). Single use (kReused) is the store's to say (used_challenges.h).

enum class TPowFailure {
  kNone,
  kMissing,
  kMalformed,
  kBadSignature,
  kWrongSolution,
  kExpired,
  kReused
};

// The reason as the error log names it: "missing", "malformed", "bad signature", ...
const char* PowFailureName(TPowFailure failure);

struct TPowParams {
  std::string key;                   // PoW_Key, not empty
  std::uint32_t max_number = 50000;  // PoW_Max_Number
  std::int64_t expires = 600;        // PoW_Expires, seconds
};

// A new challenge of `protocol` (1 or 2) as of `now` (seconds since 1970), as JSON. Empty when
// the random generator failed.
std::string PowChallengeJson(const TCrypto& crypto, const TPowParams& params, int protocol,
                             std::int64_t now);

// Protocol 2's derived key of `counter` for the raw `salt` and `nonce`: 32 raw bytes.
std::string PowDerivedKey(const TCrypto& crypto, std::string_view salt, std::string_view nonce,
                          std::uint32_t counter);

// What a solution field proved.
struct TPowCheck {
  TPowFailure failure = TPowFailure::kMalformed;
  // For a solution that passed: what makes its challenge unique (from the signature), and the
  // moment its challenge expires; the store keeps the one until the other.
  std::string id;
  std::int64_t expires = 0;
};

// Checks the posted `field` (empty: kMissing) against `key` as of `now`, all but single use.
TPowCheck CheckPowSolution(const TCrypto& crypto, std::string_view key, std::string_view field,
                           std::int64_t now);
