#include "mail/smtp_kept_connection.h"

#include <atomic>

#include "mail/tls_session.h"
#include "platform/socket_io.h"

namespace {

std::atomic<bool> keeping_allowed{false};
thread_local std::unique_ptr<TKeptSmtpConnection> kept;

// True when the server has neither closed the connection nor sent anything since the last
// reply: an idle SMTP server speaks only when asked, so bytes waiting here are a farewell
// ("421 ... timeout") or garbage, and either ends the connection's use.
bool LooksOpen(const TFileDescriptor& socket) {
  return NothingToReceive(socket.Get());
}

}  // namespace

TKeptSmtpConnection::TKeptSmtpConnection() = default;

TKeptSmtpConnection::~TKeptSmtpConnection() {
  // The close notice goes before the socket closes (the member goes after this body).
  if (!socket) return;
  if (tls) tls->Shutdown();
  tls.reset();
}

void AllowKeptSmtpConnections(bool allowed) {
  keeping_allowed = allowed;
}

bool KeptSmtpConnectionsAllowed() {
  return keeping_allowed;
}

std::unique_ptr<TKeptSmtpConnection> TakeKeptSmtpConnection(const std::string& key) {
  std::unique_ptr<TKeptSmtpConnection> connection = std::move(kept);
  if (!connection || connection->key != key) return nullptr;
  if (MonotonicNow() - connection->idle_since > kKeptConnectionIdleLimit) return nullptr;
  if (!LooksOpen(connection->socket)) return nullptr;
  return connection;
}

void KeepSmtpConnection(std::unique_ptr<TKeptSmtpConnection> connection) {
  kept = std::move(connection);
}
