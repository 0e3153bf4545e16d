#include "mail/smtp_kept_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "mail/tls_session.h"

namespace {

std::atomic<bool> keeping_allowed{false};
thread_local std::unique_ptr<TKeptSmtpConnection> kept;

// True when the server has neither closed the connection nor sent anything since the last
// reply: an idle SMTP server speaks only when asked, so bytes waiting here are a farewell
// ("421 ... timeout") or garbage, and either ends the connection's use.
bool LooksOpen(int socket) {
  char byte;
  ssize_t n;
  do {
    n = recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

}  // namespace

TKeptSmtpConnection::TKeptSmtpConnection() = default;

TKeptSmtpConnection::~TKeptSmtpConnection() {
  if (socket < 0) return;
  if (tls) tls->Shutdown();
  tls.reset();
  close(socket);
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
  if (std::chrono::steady_clock::now() - connection->idle_since > kKeptConnectionIdleLimit)
    return nullptr;
  if (!LooksOpen(connection->socket)) return nullptr;
  return connection;
}

void KeepSmtpConnection(std::unique_ptr<TKeptSmtpConnection> connection) {
  kept = std::move(connection);
}
