#include "gateway/guards/proof_of_work.h"

#include <optional>

#include "common/text_compare.h"
#include "gateway/guards/pow_payload.h"
#include "mail/crypto_library.h"

namespace {

constexpr size_t kRandomBytes = 16;
constexpr size_t kKeyLength = 32;
// The bytes of the derived key a protocol-2 challenge shows (the widget's default, half the key).
constexpr size_t kPrefixLength = kKeyLength / 2;
// The most hash rounds a signed challenge may ask for: the gateway signs 1, and a bound keeps a
// mistake in a key's hands from costing more.
constexpr long long kMaxCost = 64;
// The bytes of the signature that name a challenge in the store: 128 bits.
constexpr size_t kIdHexDigits = 32;

bool IsHex(std::string_view text) {
  if (text.empty() || text.size() % 2 != 0) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string HexBytes(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    out += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
  }
  return out;
}

// A whole number as JSON.stringify writes it back: digits without a leading zero, at most 15 of
// them, so it never loses a digit as a script's number. -1 when there is none.
long long WholeNumber(const TPowPayload& payload, const std::string& path) {
  const auto found = payload.find(path);
  if (found == payload.end() || found->second.is_string) return -1;
  const std::string& text = found->second.text;
  if (text.empty() || text.size() > 15 || (text.size() > 1 && text[0] == '0')) return -1;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

const std::string* Text(const TPowPayload& payload, const std::string& path) {
  const auto found = payload.find(path);
  return found == payload.end() || !found->second.is_string ? nullptr : &found->second.text;
}

const std::string* HexField(const TPowPayload& payload, const std::string& path) {
  const std::string* text = Text(payload, path);
  return text != nullptr && IsHex(*text) ? text : nullptr;
}

std::string Signature(const TCrypto& crypto, std::string_view key, std::string_view data) {
  return HexText(crypto.HmacSha256(key, data));
}

// The JSON text of the signed parameters: every "challenge.parameters." value, names sorted
// (the payload's map is), strings quoted as JSON.stringify quotes them.
std::string CanonicalParameters(const TPowPayload& payload) {
  static const std::string prefix = "challenge.parameters.";
  std::string out = "{";
  for (const auto& [path, value] : payload) {
    if (path.compare(0, prefix.size(), prefix) != 0) continue;
    if (out.size() > 1) out += ',';
    out += '"' + path.substr(prefix.size()) + "\":";
    if (!value.is_string) {
      out += value.text;
      continue;
    }
    out += '"';
    for (char c : value.text) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    out += '"';
  }
  return out + "}";
}

std::string ParametersJson(std::int64_t expires_at, std::string_view key_prefix,
                           std::string_view nonce, std::string_view salt) {
  return "{\"algorithm\":\"SHA-256\",\"cost\":1,\"expiresAt\":" + std::to_string(expires_at) +
         ",\"keyLength\":" + std::to_string(kKeyLength) + ",\"keyPrefix\":\"" +
         std::string(key_prefix) + "\",\"nonce\":\"" + std::string(nonce) + "\",\"salt\":\"" +
         std::string(salt) + "\"}";
}

// A random number in [0, max]: 64 random bits reduced, uneven by at most 2^-32.
std::optional<std::uint32_t> HiddenNumber(const TCrypto& crypto, std::uint32_t max) {
  const std::string bytes = crypto.RandomBytes(8);
  if (bytes.size() != 8) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : bytes) value = (value << 8) | static_cast<unsigned char>(c);
  return static_cast<std::uint32_t>(value % (static_cast<std::uint64_t>(max) + 1));
}

TPowCheck Failed(TPowFailure failure) {
  TPowCheck check;
  check.failure = failure;
  return check;
}

TPowCheck CheckProtocol2(const TCrypto& crypto, std::string_view key, const TPowPayload& payload,
                         std::int64_t now) {
  const std::string* algorithm = Text(payload, "challenge.parameters.algorithm");
  const long long cost = WholeNumber(payload, "challenge.parameters.cost");
  const long long expires = WholeNumber(payload, "challenge.parameters.expiresAt");
  const long long length = WholeNumber(payload, "challenge.parameters.keyLength");
  const std::string* prefix = HexField(payload, "challenge.parameters.keyPrefix");
  const std::string* nonce = HexField(payload, "challenge.parameters.nonce");
  const std::string* salt = HexField(payload, "challenge.parameters.salt");
  const std::string* signature = HexField(payload, "challenge.signature");
  const long long counter = WholeNumber(payload, "solution.counter");
  const std::string* derived = HexField(payload, "solution.derivedKey");
  if (algorithm == nullptr || cost < 0 || expires < 0 || length < 0 || prefix == nullptr ||
      nonce == nullptr || salt == nullptr || signature == nullptr || counter < 0 ||
      counter > 0xffffffffLL || derived == nullptr) {
    return Failed(TPowFailure::kMalformed);
  }
  if (!crypto.SameBytes(*signature, Signature(crypto, key, CanonicalParameters(payload)))) {
    return Failed(TPowFailure::kBadSignature);
  }
  if (now > expires) return Failed(TPowFailure::kExpired);
  // Signed by this key, so the gateway's own choices; anything else is no challenge it makes.
  if (*algorithm != "SHA-256" || cost < 1 || cost > kMaxCost || length < 1 ||
      length > static_cast<long long>(kKeyLength) || prefix->size() > derived->size()) {
    return Failed(TPowFailure::kWrongSolution);
  }
  std::string key_bytes = HexBytes(*salt) + HexBytes(*nonce);
  for (int shift = 24; shift >= 0; shift -= 8) {
    key_bytes += static_cast<char>((static_cast<std::uint64_t>(counter) >> shift) & 0xff);
  }
  for (long long round = 0; round < cost; ++round) key_bytes = crypto.Sha256(key_bytes);
  const std::string expected = HexText(std::string_view(key_bytes).substr(0, length));
  if (!crypto.SameBytes(expected, *derived) || expected.compare(0, prefix->size(), *prefix) != 0) {
    return Failed(TPowFailure::kWrongSolution);
  }
  TPowCheck check;
  check.failure = TPowFailure::kNone;
  check.id = signature->substr(0, kIdHexDigits);
  check.expires = expires;
  return check;
}

// The "expires" parameter of a protocol-1 salt ("<hex>?expires=<s>&"); -1 when there is none.
long long SaltExpiry(std::string_view salt) {
  const size_t query = salt.find('?');
  if (query == std::string_view::npos) return -1;
  std::string_view rest = salt.substr(query + 1);
  while (!rest.empty()) {
    const size_t amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    if (pair.substr(0, 8) == "expires=" && pair.size() > 8 && pair.size() <= 8 + 15) {
      long long value = 0;
      for (char c : pair.substr(8)) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
      }
      return value;
    }
    if (amp == std::string_view::npos) break;
    rest.remove_prefix(amp + 1);
  }
  return -1;
}

TPowCheck CheckProtocol1(const TCrypto& crypto, std::string_view key, const TPowPayload& payload,
                         std::int64_t now) {
  const std::string* algorithm = Text(payload, "algorithm");
  const std::string* challenge = HexField(payload, "challenge");
  const long long number = WholeNumber(payload, "number");
  const std::string* salt = Text(payload, "salt");
  const std::string* signature = HexField(payload, "signature");
  const long long expires = salt ? SaltExpiry(*salt) : -1;
  if (algorithm == nullptr || challenge == nullptr || number < 0 || salt == nullptr ||
      signature == nullptr || expires < 0) {
    return Failed(TPowFailure::kMalformed);
  }
  if (!crypto.SameBytes(*signature, Signature(crypto, key, *challenge))) {
    return Failed(TPowFailure::kBadSignature);
  }
  if (now > expires) return Failed(TPowFailure::kExpired);
  if (*algorithm != "SHA-256" ||
      !crypto.SameBytes(HexText(crypto.Sha256(*salt + std::to_string(number))), *challenge)) {
    return Failed(TPowFailure::kWrongSolution);
  }
  TPowCheck check;
  check.failure = TPowFailure::kNone;
  check.id = signature->substr(0, kIdHexDigits);
  check.expires = expires;
  return check;
}

}  // namespace

const char* PowFailureName(TPowFailure failure) {
  switch (failure) {
    case TPowFailure::kNone:
      return "solved";
    case TPowFailure::kMissing:
      return "missing";
    case TPowFailure::kMalformed:
      return "malformed";
    case TPowFailure::kBadSignature:
      return "bad signature";
    case TPowFailure::kWrongSolution:
      return "wrong solution";
    case TPowFailure::kExpired:
      return "expired";
    case TPowFailure::kReused:
      return "reused";
  }
  return "malformed";
}

std::string PowDerivedKey(const TCrypto& crypto, std::string_view salt, std::string_view nonce,
                          std::uint32_t counter) {
  std::string data = std::string(salt) + std::string(nonce);
  for (int shift = 24; shift >= 0; shift -= 8) data += static_cast<char>((counter >> shift) & 0xff);
  return crypto.Sha256(data);
}

std::string PowChallengeJson(const TCrypto& crypto, const TPowParams& params, int protocol,
                             std::int64_t now) {
  const std::optional<std::uint32_t> number = HiddenNumber(crypto, params.max_number);
  const std::string salt = crypto.RandomBytes(kRandomBytes);
  const std::string nonce = crypto.RandomBytes(kRandomBytes);
  if (!number || salt.empty() || nonce.empty()) return std::string();
  const std::int64_t expires_at = now + params.expires;
  if (protocol == 1) {
    // The trailing "&" ends the parameters, so no text can be spliced onto the expiry.
    const std::string salt_text = HexText(salt) + "?expires=" + std::to_string(expires_at) + "&";
    const std::string challenge = HexText(crypto.Sha256(salt_text + std::to_string(*number)));
    return "{\"algorithm\":\"SHA-256\",\"challenge\":\"" + challenge +
           "\",\"maxnumber\":" + std::to_string(params.max_number) + ",\"salt\":\"" + salt_text +
           "\",\"signature\":\"" + Signature(crypto, params.key, challenge) + "\"}";
  }
  const std::string derived = PowDerivedKey(crypto, salt, nonce, *number);
  const std::string parameters = ParametersJson(
      expires_at, HexText(derived.substr(0, kPrefixLength)), HexText(nonce), HexText(salt));
  return "{\"parameters\":" + parameters + ",\"signature\":\"" +
         Signature(crypto, params.key, parameters) + "\"}";
}

TPowCheck CheckPowSolution(const TCrypto& crypto, std::string_view key, std::string_view field,
                           std::int64_t now) {
  if (field.empty()) return Failed(TPowFailure::kMissing);
  const std::optional<TPowPayload> payload = ReadPowPayload(field);
  if (!payload) return Failed(TPowFailure::kMalformed);
  if (payload->count("challenge.parameters.nonce") != 0) {
    return CheckProtocol2(crypto, key, *payload, now);
  }
  return CheckProtocol1(crypto, key, *payload, now);
}
