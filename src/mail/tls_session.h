#pragma once

#include <string>

#include "platform/clock.h"

// One TLS client session (OpenSSL, loaded on the first handshake: openssl_library.h) over a
// connected non-blocking socket that the caller owns.
//
// Handshake verifies, unless told not to, that the server's certificate chains to the system's
// trust store (OpenSSL's default paths, which honour SSL_CERT_FILE and SSL_CERT_DIR) and names
// `host` (a DNS name, or an IP address written as one). Every call waits in poll() and never past
// its deadline. Failures never throw: they return false (or a negative count) and leave a text in
// ErrorText(); after a failure the session is finished and only the destructor remains.
//
// The object must not outlive the socket; it deletes its copy operations. Closing the socket
// stays the caller's job (Shutdown only sends TLS's close notice).
typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
struct TOpenSsl;

class TTlsSession {
 public:
  TTlsSession() = default;
  ~TTlsSession();
  TTlsSession(const TTlsSession&) = delete;
  TTlsSession& operator=(const TTlsSession&) = delete;

  // Runs the client handshake on `fd`. On failure ErrorText() is "TLS handshake failed: " and
  // OpenSSL's reason (with the certificate check's reason when that failed), or why OpenSSL
  // could not be loaded; a server that answered with a plain SMTP reply ("220 ...") gets
  // kPlainTextAnswer instead, which names the SMTP_Security setting.
  bool Handshake(int fd, const std::string& host, bool verify, TMonotonicTime deadline);

  // Sends all of `text`. False on a TLS or socket failure (ErrorText) or when the deadline
  // passes first (TimedOut()).
  bool Write(const std::string& text, TMonotonicTime deadline);

  // One read without waiting: the bytes that were ready (possibly none). `closed` is set when the
  // peer ended the session or the connection failed (ErrorText then tells why).
  std::string Read(bool& closed);

  // Sends the close notice without waiting for the peer's.
  void Shutdown();

  const std::string& ErrorText() const { return error_text_; }
  bool TimedOut() const { return timed_out_; }
  // True when the first bytes the server sent were a TLS record (a handshake or an alert): the
  // port speaks TLS, whether or not the handshake went through.
  bool PeerSpokeTls() const;

  // The start of what the server sent during the session (at most kHeadLength bytes, as they
  // arrived on the socket).
  static constexpr size_t kHeadLength = 80;
  struct Peer {
    int fd = -1;
    std::string head;
  };

 private:
  // Waits for the socket to be readable or writable as OpenSSL asked after result `code`;
  // false when it failed or the deadline passed.
  bool WaitFor(int ssl_error, TMonotonicTime deadline);
  // Records OpenSSL's reason for a failure, after `prefix`.
  void Fail(const std::string& prefix);

  const TOpenSsl* api_ = nullptr;  // set by Handshake once OpenSSL is loaded
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
  int fd_ = -1;
  Peer peer_;  // the socket under the session's BIO, and the start of what it received
  bool timed_out_ = false;
  std::string error_text_;
};
