#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <string>

// OpenSSL, loaded the first time a connection asks for TLS.
//
// The gateway starts once for every form submission, and most sites send plain SMTP to a
// local relay: linking libssl and libcrypto would make every start pay for loading and relocating
// them, which costs more than the rest of a submission. So the program does not link them; the
// first TLS handshake opens libssl (and with it libcrypto) and binds the functions below.
//
// The member names are OpenSSL's own function names, so a call reads like the direct one:
// `ssl.SSL_new(context)`. OpenSSL's function-like macros (SSL_CTX_set_mode, BIO_set_retry_read,
// ...) expand to direct calls, so code calls the function under the macro instead
// (SSL_CTX_ctrl, BIO_set_flags, ...).
#define BREVIX_OPENSSL_FUNCTIONS(X)   \
  X(BIO_clear_flags)                  \
  X(BIO_get_data)                     \
  X(BIO_get_new_index)                \
  X(BIO_meth_new)                     \
  X(BIO_meth_set_ctrl)                \
  X(BIO_meth_set_read)                \
  X(BIO_meth_set_write)               \
  X(BIO_new)                          \
  X(BIO_set_data)                     \
  X(BIO_set_flags)                    \
  X(BIO_set_init)                     \
  X(ERR_clear_error)                  \
  X(ERR_peek_last_error)              \
  X(ERR_reason_error_string)          \
  X(SSL_CTX_ctrl)                     \
  X(SSL_CTX_free)                     \
  X(SSL_CTX_new)                      \
  X(SSL_CTX_set_default_verify_paths) \
  X(SSL_CTX_set_verify)               \
  X(SSL_connect)                      \
  X(SSL_ctrl)                         \
  X(SSL_free)                         \
  X(SSL_get0_param)                   \
  X(SSL_get_error)                    \
  X(SSL_get_verify_result)            \
  X(SSL_new)                          \
  X(SSL_read)                         \
  X(SSL_set1_host)                    \
  X(SSL_set_bio)                      \
  X(SSL_shutdown)                     \
  X(SSL_write)                        \
  X(TLS_client_method)                \
  X(X509_VERIFY_PARAM_set1_ip_asc)    \
  X(X509_verify_cert_error_string)

// The bound functions. `decltype(&::name)` only names the type, so nothing here makes the
// program refer to OpenSSL's symbols.
struct TOpenSsl {
#define BREVIX_OPENSSL_MEMBER(name) decltype(&::name) name = nullptr;
  BREVIX_OPENSSL_FUNCTIONS(BREVIX_OPENSSL_MEMBER)
#undef BREVIX_OPENSSL_MEMBER
};

// The library's functions, loaded on the first call (thread-safe; never unloaded). Null when
// libssl cannot be loaded or lacks one of the functions; `error` then says which
// ("libssl.so.3: cannot open shared object file: ...").
const TOpenSsl* LoadOpenSsl(std::string& error);
