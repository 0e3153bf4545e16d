#include "mail/tls_session.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "mail/openssl_library.h"
#include "mail/smtp_login.h"
#include "platform/socket_io.h"

namespace {

bool IsIpAddress(const std::string& host) {
  return TIpAddress::Parse(host).has_value();
}

// OpenSSL's functions inside its callbacks below: they only run once a handshake has loaded it.
const TOpenSsl& LoadedOpenSsl() {
  std::string unused;
  return *LoadOpenSsl(unused);
}

// OpenSSL's BIO_clear_retry_flags, BIO_set_retry_write and BIO_set_retry_read.
void ClearRetryFlags(BIO* bio) {
  LoadedOpenSsl().BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
}
void SetRetry(BIO* bio, int direction) {
  LoadedOpenSsl().BIO_set_flags(bio, direction | BIO_FLAGS_SHOULD_RETRY);
}

// The socket under the session. OpenSSL's own socket BIO writes with write(), which raises
// SIGPIPE when the server has gone and would end the whole program; this one sends with
// MSG_NOSIGNAL, so a vanished server is only a failed write.
TTlsSession::Peer& PeerOf(BIO* bio) {
  return *static_cast<TTlsSession::Peer*>(LoadedOpenSsl().BIO_get_data(bio));
}

int SocketOf(BIO* bio) {
  return PeerOf(bio).fd;
}

int SocketWrite(BIO* bio, const char* data, int length) {
  ClearRetryFlags(bio);
  int error = 0;
  const long n = SendSome(SocketOf(bio), data, static_cast<size_t>(length), error);
  // OpenSSL reads errno for the reason of a failure (TTlsSession::Fail).
  if (n < 0) errno = error;
  if (n < 0 && error == EAGAIN) SetRetry(bio, BIO_FLAGS_WRITE);
  return static_cast<int>(n);
}

int SocketRead(BIO* bio, char* data, int length) {
  ClearRetryFlags(bio);
  int error = 0;
  const long n = ReceiveSome(SocketOf(bio), data, static_cast<size_t>(length), error);
  if (n < 0) errno = error;
  // What the server sent first tells a TLS port from a plain one when the handshake fails.
  std::string& head = PeerOf(bio).head;
  if (n > 0 && head.size() < TTlsSession::kHeadLength)
    head.append(data, std::min(static_cast<size_t>(n), TTlsSession::kHeadLength - head.size()));
  if (n < 0 && error == EAGAIN) SetRetry(bio, BIO_FLAGS_READ);
  return static_cast<int>(n);
}

long SocketControl(BIO*, int command, long, void*) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* SocketMethod() {
  // Created once and never freed: it describes functions, not a connection.
  static BIO_METHOD* const method = [] {
    const TOpenSsl& ssl = LoadedOpenSsl();
    BIO_METHOD* m =
        ssl.BIO_meth_new(ssl.BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "brevix socket");
    if (m != nullptr) {
      ssl.BIO_meth_set_write(m, SocketWrite);
      ssl.BIO_meth_set_read(m, SocketRead);
      ssl.BIO_meth_set_ctrl(m, SocketControl);
    }
    return m;
  }();
  return method;
}

// "220 ", "554-" ...: the start of a plain SMTP reply.
bool IsSmtpReply(const std::string& text) {
  return text.size() >= 4 && std::isdigit(static_cast<unsigned char>(text[0])) &&
         std::isdigit(static_cast<unsigned char>(text[1])) &&
         std::isdigit(static_cast<unsigned char>(text[2])) && (text[3] == ' ' || text[3] == '-');
}

// The first line of `text`, with anything but printable ASCII as "?".
std::string PrintableLine(const std::string& text) {
  std::string line = text.substr(0, text.find_first_of("\r\n"));
  for (char& c : line) {
    if (c < ' ' || c > '~') c = '?';
  }
  return line;
}

}  // namespace

TTlsSession::~TTlsSession() {
  if (ssl_) api_->SSL_free(ssl_);
  if (context_) api_->SSL_CTX_free(context_);
}

bool TTlsSession::Handshake(int fd, const std::string& host, bool verify, TMonotonicTime deadline) {
  fd_ = fd;
  std::string load_error;
  api_ = LoadOpenSsl(load_error);
  if (api_ == nullptr) {
    error_text_ = kTlsHandshakeFailed;
    error_text_ += load_error;
    return false;
  }
  const TOpenSsl& ssl = *api_;
  ssl.ERR_clear_error();
  context_ = ssl.SSL_CTX_new(ssl.TLS_client_method());
  if (context_ == nullptr) {
    Fail(kTlsHandshakeFailed);
    return false;
  }
  // SSL_CTX_set_min_proto_version and SSL_CTX_set_mode. Write hands over pieces of one buffer
  // and may resume with the same bytes after a wait.
  ssl.SSL_CTX_ctrl(context_, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
  ssl.SSL_CTX_ctrl(context_, SSL_CTRL_MODE,
                   SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER, nullptr);
  if (verify) {
    ssl.SSL_CTX_set_default_verify_paths(context_);
    ssl.SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
  }
  ssl_ = ssl.SSL_new(context_);
  BIO* bio = SocketMethod() != nullptr && ssl_ != nullptr ? ssl.BIO_new(SocketMethod()) : nullptr;
  if (bio == nullptr) {
    Fail(kTlsHandshakeFailed);
    return false;
  }
  peer_.fd = fd;
  ssl.BIO_set_data(bio, &peer_);
  ssl.BIO_set_init(bio, 1);
  ssl.SSL_set_bio(ssl_, bio, bio);  // the session owns the BIO from here on
  if (IsIpAddress(host)) {
    if (verify) ssl.X509_VERIFY_PARAM_set1_ip_asc(ssl.SSL_get0_param(ssl_), host.c_str());
  } else {
    // The name goes out for the server to choose its certificate, and is what that must show
    // (SSL_set_tlsext_host_name).
    ssl.SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                 const_cast<char*>(host.c_str()));
    if (verify) ssl.SSL_set1_host(ssl_, host.c_str());
  }
  for (;;) {
    errno = 0;
    const int result = ssl.SSL_connect(ssl_);
    if (result == 1) return true;
    const int error = ssl.SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      if (WaitFor(error, deadline)) continue;
      if (timed_out_) {
        std::string text(kTlsHandshakeFailed);
        text += "timed out";
        error_text_ = text;
      }
      return false;
    }
    Fail(kTlsHandshakeFailed);
    if (IsSmtpReply(peer_.head)) {
      error_text_ = kTlsHandshakeFailed;
      error_text_ += "the server answered in plain text (\"";
      error_text_ += PrintableLine(peer_.head);
      error_text_ += "\"): ";
      error_text_ += kPlainTextAnswer;
    }
    return false;
  }
}

bool TTlsSession::PeerSpokeTls() const {
  // A TLS record starts with its type (22 handshake, 21 alert) and the major version 3.
  return peer_.head.size() >= 2 && (peer_.head[0] == 22 || peer_.head[0] == 21) &&
         peer_.head[1] == 3;
}

bool TTlsSession::Write(const std::string& text, TMonotonicTime deadline) {
  if (ssl_ == nullptr) return false;
  size_t sent = 0;
  while (sent < text.size()) {
    api_->ERR_clear_error();
    errno = 0;
    const int chunk = static_cast<int>(std::min<size_t>(text.size() - sent, 1 << 20));
    const int result = api_->SSL_write(ssl_, text.data() + sent, chunk);
    if (result > 0) {
      sent += static_cast<size_t>(result);
      continue;
    }
    const int error = api_->SSL_get_error(ssl_, result);
    if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) && WaitFor(error, deadline))
      continue;
    if (!timed_out_ && error_text_.empty()) Fail("TLS error: ");
    return false;
  }
  return true;
}

std::string TTlsSession::Read(bool& closed) {
  closed = false;
  if (ssl_ == nullptr) {
    closed = true;
    return "";
  }
  api_->ERR_clear_error();
  char buffer[4096];
  const int result = api_->SSL_read(ssl_, buffer, sizeof buffer);
  if (result > 0) return std::string(buffer, static_cast<size_t>(result));
  const int error = api_->SSL_get_error(ssl_, result);
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return "";
  closed = true;
  // A server that simply hangs up (without the close notice) is a closed connection, as in plain
  // text; anything else is a TLS failure worth its own text.
  if (error == SSL_ERROR_SSL) Fail("TLS error: ");
  return "";
}

void TTlsSession::Shutdown() {
  if (ssl_ == nullptr) return;
  api_->ERR_clear_error();
  api_->SSL_shutdown(ssl_);
  api_->ERR_clear_error();
}

bool TTlsSession::WaitFor(int ssl_error, TMonotonicTime deadline) {
  const TSocketWait what =
      ssl_error == SSL_ERROR_WANT_READ ? TSocketWait::kReadable : TSocketWait::kWritable;
  int error = 0;
  switch (MillisecondsUntil(deadline) <= 0 ? TWaitResult::kTimedOut
                                           : WaitForSocketUntil(fd_, what, deadline, &error)) {
    case TWaitResult::kReady:
      return true;
    case TWaitResult::kTimedOut:
      timed_out_ = true;
      return false;
    case TWaitResult::kFailed:
      break;
  }
  error_text_ = "TLS error: ";
  error_text_ += std::strerror(error);
  return false;
}

void TTlsSession::Fail(const std::string& prefix) {
  const int saved_errno = errno;
  std::string reason;
  if (const unsigned long code = api_->ERR_peek_last_error(); code != 0) {
    const char* text = api_->ERR_reason_error_string(code);
    if (text != nullptr) {
      reason = text;
    } else {
      reason = "error ";
      reason += std::to_string(code);
    }
  } else if (saved_errno != 0) {
    reason = std::strerror(saved_errno);
  } else {
    reason = "the server closed the connection";
  }
  if (ssl_ != nullptr) {
    const long verify = api_->SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) {
      reason += " (";
      reason += api_->X509_verify_cert_error_string(verify);
      reason += ")";
    }
  }
  error_text_ = prefix + reason;
  api_->ERR_clear_error();
}
