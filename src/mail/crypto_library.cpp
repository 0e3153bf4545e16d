#include "mail/crypto_library.h"

#include <openssl/opensslv.h>

#include "platform/shared_library.h"
#include "platform/system_random.h"

namespace {

#define BREVIX_STRINGIFY_VALUE(x) #x
#define BREVIX_STRINGIFY(x) BREVIX_STRINGIFY_VALUE(x)
// The major version the program was built against, as for libssl.
constexpr const char kLibCrypto[] = "libcrypto.so." BREVIX_STRINGIFY(OPENSSL_VERSION_MAJOR);

constexpr size_t kBlock = 64;

}  // namespace

std::string TCrypto::Sha256(std::string_view data) const {
  SHA256_CTX context;
  unsigned char digest[SHA256_DIGEST_LENGTH];
  if (SHA256_Init(&context) != 1 || SHA256_Update(&context, data.data(), data.size()) != 1 ||
      SHA256_Final(digest, &context) != 1) {
    return {};
  }
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

std::string TCrypto::HmacSha256(std::string_view key, std::string_view data) const {
  // RFC 2104: H((K ^ opad) || H((K ^ ipad) || data)), K padded to the block (hashed if longer).
  std::string block = key.size() > kBlock ? Sha256(key) : std::string(key);
  block.resize(kBlock, '\0');
  std::string inner(block), outer(block);
  for (size_t i = 0; i < kBlock; ++i) {
    inner[i] = static_cast<char>(inner[i] ^ 0x36);
    outer[i] = static_cast<char>(outer[i] ^ 0x5c);
  }
  inner.append(data);
  return Sha256(outer + Sha256(inner));
}

bool TCrypto::SameBytes(std::string_view a, std::string_view b) const {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string TCrypto::RandomBytes(size_t count) {
  std::string out(count, '\0');
  return FillSystemRandom(out.data(), count, true) == count ? out : std::string();
}

const TCrypto* LoadCrypto(std::string& error) {
  static const TFunctionTable<TCrypto> table(kLibCrypto,
                                             [](TSharedLibrary& library, TCrypto& crypto) {
#define BREVIX_CRYPTO_BIND(name) library.Bind(crypto.name, #name);
                                               BREVIX_CRYPTO_FUNCTIONS(BREVIX_CRYPTO_BIND)
                                               BREVIX_CRYPTO_BIND(SHA256_Init)
                                               BREVIX_CRYPTO_BIND(SHA256_Update)
                                               BREVIX_CRYPTO_BIND(SHA256_Final)
#undef BREVIX_CRYPTO_BIND
                                             });
  return table.Get(error);
}
