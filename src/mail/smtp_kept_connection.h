#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/file_descriptor.h"

class TTlsSession;

// The SMTP connection a resident process keeps between submissions: at most one per thread,
// after a transaction the server accepted, ready for the next MAIL FROM (the sender sends RSET
// first). A CGI process never keeps one: it ends after its one submission, and keeping stays off
// until the resident adapter allows it (AllowKeptSmtpConnections).
//
// A kept connection is only taken back for the same key (server, port, security, login and
// greeting name: TSmtpSendMail::KeptConnectionKey); a different key, an idle time beyond
// kKeptConnectionIdleLimit, or a server that has closed it or sent anything unasked closes it
// and gives nothing. Everything here belongs to the calling thread: a kept socket is never used
// on another thread, and the thread's end closes what it still holds.
struct TKeptSmtpConnection {
  TFileDescriptor socket;
  std::unique_ptr<TTlsSession> tls;  // the session over `socket` when TLS is on
  std::string key;
  TMonotonicTime idle_since;

  TKeptSmtpConnection();
  // Closes the socket (after TLS's close notice when TLS is on); never throws.
  ~TKeptSmtpConnection();
  TKeptSmtpConnection(const TKeptSmtpConnection&) = delete;
  TKeptSmtpConnection& operator=(const TKeptSmtpConnection&) = delete;
};

inline constexpr std::chrono::seconds kKeptConnectionIdleLimit{60};

// Process-wide: whether senders may keep connections at all (off by default, as in CGI).
void AllowKeptSmtpConnections(bool allowed);
bool KeptSmtpConnectionsAllowed();

// The calling thread's kept connection for `key`, still open as far as can be seen without
// waiting; nullptr when there is none (any other is closed on the way).
std::unique_ptr<TKeptSmtpConnection> TakeKeptSmtpConnection(const std::string& key);
// Keeps `connection` for this thread, closing the one kept before.
void KeepSmtpConnection(std::unique_ptr<TKeptSmtpConnection> connection);
