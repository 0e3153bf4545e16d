#include "mail/crypto_library.h"

#include <openssl/opensslv.h>

#include "platform/shared_library.h"

namespace {

#define BREVIX_STRINGIFY_VALUE(x) #x
#define BREVIX_STRINGIFY(x) BREVIX_STRINGIFY_VALUE(x)
// The major version the program was built against, as for libssl.
constexpr const char kLibCrypto[] = "libcrypto.so." BREVIX_STRINGIFY(OPENSSL_VERSION_MAJOR);

const unsigned char* Bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

std::string TCrypto::Sha256(std::string_view data) const {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr) != 1) return {};
  return std::string(reinterpret_cast<const char*>(digest), size);
}

std::string TCrypto::HmacSha256(std::string_view key, std::string_view data) const {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), Bytes(data), data.size(),
           digest, &size) == nullptr) {
    return {};
  }
  return std::string(reinterpret_cast<const char*>(digest), size);
}

bool TCrypto::SameBytes(std::string_view a, std::string_view b) const {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string TCrypto::RandomBytes(size_t count) const {
  std::string out(count, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(count)) != 1) {
    return {};
  }
  return out;
}

const TCrypto* LoadCrypto(std::string& error) {
  static const TFunctionTable<TCrypto> table(kLibCrypto, [](TSharedLibrary& library,
                                                            TCrypto& crypto) {
#define BREVIX_CRYPTO_BIND(name) library.Bind(crypto.name, #name);
    BREVIX_CRYPTO_FUNCTIONS(BREVIX_CRYPTO_BIND)
#undef BREVIX_CRYPTO_BIND
  });
  return table.Get(error);
}
