#include "mail/openssl_library.h"

#include <openssl/opensslv.h>

#include "platform/shared_library.h"

namespace {

#define BREVIX_STRINGIFY_VALUE(x) #x
#define BREVIX_STRINGIFY(x) BREVIX_STRINGIFY_VALUE(x)
// The shared library of the OpenSSL major version the program was built against: its functions
// are called with that version's structures and constants. Its dependency libcrypto holds the
// BIO_*, ERR_* and X509_* functions, which the binding finds through it.
constexpr const char kLibSsl[] = "libssl.so." BREVIX_STRINGIFY(OPENSSL_VERSION_MAJOR);

}  // namespace

const TOpenSsl* LoadOpenSsl(std::string& error) {
  static const TFunctionTable<TOpenSsl> table(kLibSsl, [](TSharedLibrary& library, TOpenSsl& ssl) {
#define BREVIX_OPENSSL_BIND(name) library.Bind(ssl.name, #name);
    BREVIX_OPENSSL_FUNCTIONS(BREVIX_OPENSSL_BIND)
#undef BREVIX_OPENSSL_BIND
  });
  return table.Get(error);
}
