#pragma once

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <string>
#include <string_view>

// OpenSSL's libcrypto, loaded the first time a request needs a hash or an HMAC (the
// proof-of-work guard). Like libssl for TLS (openssl_library.h) it is not linked: a site that
// does not use the guard never loads it, and its every start stays as cheap as before.
#define BREVIX_CRYPTO_FUNCTIONS(X) \
  X(CRYPTO_memcmp)                 \
  X(EVP_Digest)                    \
  X(EVP_sha256)                    \
  X(HMAC)                          \
  X(RAND_bytes)

struct TCrypto {
#define BREVIX_CRYPTO_MEMBER(name) decltype(&::name) name = nullptr;
  BREVIX_CRYPTO_FUNCTIONS(BREVIX_CRYPTO_MEMBER)
#undef BREVIX_CRYPTO_MEMBER

  // SHA-256 of `data`: 32 raw bytes.
  std::string Sha256(std::string_view data) const;
  // HMAC-SHA-256 of `data` under `key`: 32 raw bytes.
  std::string HmacSha256(std::string_view key, std::string_view data) const;
  // True when `a` and `b` are equal, in time that depends on their length only.
  bool SameBytes(std::string_view a, std::string_view b) const;
  // `count` bytes from OpenSSL's random generator (seeded by the system); empty on failure.
  std::string RandomBytes(size_t count) const;
};

// The library's functions, loaded on the first call (thread-safe; never unloaded). Null when
// libcrypto cannot be loaded or lacks a function; `error` then says which.
const TCrypto* LoadCrypto(std::string& error);
