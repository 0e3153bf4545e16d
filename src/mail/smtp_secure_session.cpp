// The sender's extended dialogue: EHLO, TLS (implicit or STARTTLS) and the login. The plain
// dialogue stays in smtp_send_mail.cpp and is untouched by anything here when Security holds its
// defaults.
#include "common/text_compare.h"
#include "mail/mime_encoding.h"
#include "mail/smtp_login.h"
#include "mail/smtp_send_mail.h"
#include "mail/tls_session.h"
#include "mail/winsock_errors.h"
#include "platform/socket_io.h"

namespace {

// True when `text` holds `word`, without regard to ASCII case.
bool ContainsWord(const std::string& text, std::string_view word) {
  std::string upper = text;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper.find(word) != std::string::npos;
}

}  // namespace

bool TSmtpSendMail::OpenExtendedSession(const std::string& host) {
  TEhloOffer offer;
  if (!Hello(host, offer)) return false;
  if (Security.Mode == TSmtpSecurityMode::kStartTls) {
    if (!offer.StartTls) {
      failure_text_ = kNoStartTls;
      return false;
    }
    if (!Command("STARTTLS\r\n", 220)) return false;
    // Whatever arrived after the 220 came before the encryption and could be an attacker's:
    // it must never be taken as a reply inside the TLS session.
    received_.clear();
    if (!StartTlsSession()) return false;
    // What the server offered in plain text is forgotten (RFC 3207): ask again.
    if (!Hello(host, offer)) return false;
  }
  if (Security.User.empty()) return true;
  return Login(offer);
}

bool TSmtpSendMail::Hello(const std::string& host, TEhloOffer& offer) {
  offer = TEhloOffer{};
  std::string line = "EHLO ";
  line += host;
  line += "\r\n";
  if (Command(line, 250)) {
    offer = ParseEhloOffer(reply_text_);
    return true;
  }
  if (socket_ == INVALID_SOCKET) return false;  // timed out or hung up: nothing to retry on
  line.replace(0, 4, "HELO");
  return Command(line, 250);
}

bool TSmtpSendMail::StartTlsSession() {
  tls_ = std::make_unique<TTlsSession>();
  if (tls_->Handshake(socket_, RemoteHost, Security.Verify, deadline_)) return true;
  failure_text_ = tls_->ErrorText();
  // The session is unusable: the connection closes without it.
  tls_.reset();
  return false;
}

bool TSmtpSendMail::Login(const TEhloOffer& offer) {
  TNetworkAddress peer;
  const bool known = PeerAddress(socket_, peer);
  if (!PasswordMayTravel(tls_ != nullptr, known ? peer.Get() : nullptr)) {
    failure_text_ = kPlainPasswordRefused;
    return false;
  }
  // PLAIN takes one round trip; LOGIN is the older servers' choice.
  if (offer.AuthPlain) {
    std::string line = "AUTH PLAIN ";
    line += AuthPlainToken(Security.User, Security.Password);
    line += "\r\n";
    logged_in_ = Command(line, 235);
    return logged_in_;
  }
  if (offer.AuthLogin) {
    if (!Command("AUTH LOGIN\r\n", 334)) return false;
    if (!Command(Base64Encode(Security.User) + "\r\n", 334)) return false;
    logged_in_ = Command(Base64Encode(Security.Password) + "\r\n", 235);
    return logged_in_;
  }
  failure_text_ = kNoLoginMethod;
  return false;
}

void TSmtpSendMail::ExplainRefusedSender() {
  // 530 is also the answer of a server that wants STARTTLS first (RFC 3207); only a refusal that
  // is about the login gets the login's explanation.
  if (reply_code_ != 530 || logged_in_ || ContainsWord(reply_text_, "STARTTLS")) return;
  std::string text(kAuthenticationRequired);
  text += Trim(reply_text_);
  failure_text_ = text;
}
