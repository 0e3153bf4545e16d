#pragma once

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <string>
#include <string_view>

// OpenSSL's libcrypto, loaded the first time a request needs a hash or an HMAC (the
// proof-of-work guard). Like libssl for TLS (openssl_library.h) it is not linked: a site that
// does not use the guard never loads it, and its every start stays as cheap as before.
//
// The hash is OpenSSL's SHA-256 block function itself (SHA256_Init, _Update, _Final) and the
// HMAC is built on it (RFC 2104): the EVP interface would first set up OpenSSL's providers, which
// costs a process that checks one solution more than half a millisecond; these functions need no
// set-up. They are declared deprecated in OpenSSL 3 but stay exported; their types are spelled
// out here, so nothing refers to the deprecated declarations.
#define BREVIX_CRYPTO_FUNCTIONS(X) X(CRYPTO_memcmp)

struct TCrypto {
#define BREVIX_CRYPTO_MEMBER(name) decltype(&::name) name = nullptr;
  BREVIX_CRYPTO_FUNCTIONS(BREVIX_CRYPTO_MEMBER)
#undef BREVIX_CRYPTO_MEMBER
  int (*SHA256_Init)(SHA256_CTX*) = nullptr;
  int (*SHA256_Update)(SHA256_CTX*, const void*, size_t) = nullptr;
  int (*SHA256_Final)(unsigned char*, SHA256_CTX*) = nullptr;

  // SHA-256 of `data`: 32 raw bytes.
  std::string Sha256(std::string_view data) const;
  // HMAC-SHA-256 of `data` under `key`: 32 raw bytes.
  std::string HmacSha256(std::string_view key, std::string_view data) const;
  // True when `a` and `b` are equal, in time that depends on their length only.
  bool SameBytes(std::string_view a, std::string_view b) const;
  // `count` bytes from the system's random source (getrandom; OpenSSL's own generator would
  // first set up its providers, a millisecond per challenge); empty on failure.
  static std::string RandomBytes(size_t count);
};

// The library's functions, loaded on the first call (thread-safe; never unloaded). Null when
// libcrypto cannot be loaded or lacks a function; `error` then says which.
const TCrypto* LoadCrypto(std::string& error);
