// The sender's wait for the server's greeting. A port that speaks TLS from the first byte (465)
// waits for the client's handshake and never greets; without this, a sender set up for plain
// SMTP there would wait out its whole time limit and then report a bare time-out.
#include "common/text_compare.h"
#include "mail/smtp_login.h"
#include "mail/smtp_send_mail.h"
#include "mail/tls_session.h"

namespace {

// How long a server may take to greet; then the port is taken for a TLS one or a dead one.
constexpr std::chrono::seconds kGreetingWait{10};
// How long the TLS probe of a silent server waits for its answer.
constexpr std::chrono::seconds kProbeWait{5};

}  // namespace

bool TSmtpSendMail::ReadGreeting() {
  // With SMTP_Security=tls the handshake is done: the greeting comes inside TLS.
  if (tls_) return ReadReply();
  const TMonotonicTime until = std::min(MonotonicNow() + kGreetingWait, deadline_);
  if (ReadReply(until, false)) return true;
  // A server that hung up, or a time limit shorter than the wait, keeps its own failure.
  if (socket_ == INVALID_SOCKET || until == deadline_) {
    CloseConnection();
    return false;
  }
  const std::string port = Trim(RemotePort);
  const bool tls_port = port == "465" || SameText(port, "smtps") || PortSpeaksTls();
  failure_text_ = tls_port ? kNoGreetingTls : kNoGreeting;
  CloseConnection();
  return false;
}

bool TSmtpSendMail::PortSpeaksTls() {
  // A handshake without certificate check: only whether the server answers in TLS matters. A
  // server that is merely slow gets bytes it will refuse, but the session is given up anyway.
  TTlsSession probe;
  const TMonotonicTime until = std::min(MonotonicNow() + kProbeWait, deadline_);
  const bool answered = probe.Handshake(socket_, RemoteHost, false, until);
  return answered || probe.PeerSpokeTls();
}
