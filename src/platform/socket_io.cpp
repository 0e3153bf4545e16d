#include "platform/socket_io.h"

#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace {

short PollEvents(TSocketWait what) {
  return what == TSocketWait::kReadable ? POLLIN : POLLOUT;
}

}  // namespace

TFileDescriptor OpenStreamSocket(int family, int& error) {
  error = 0;
  TFileDescriptor fd(socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) error = errno;
  return fd;
}

int SetInlineUrgentNoDelay(int fd, bool tcp) {
  const int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on) != 0 ||
      (tcp && setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0))
    return errno;
  return 0;
}

void SetNonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

int StartConnect(int fd, const TNetworkAddress& address) {
  int result;
  do {
    result = connect(fd, address.Get(), address.length);
  } while (result != 0 && errno == EINTR);
  if (result == 0 || errno == EINPROGRESS || errno == EAGAIN) return 0;
  return errno;
}

int PendingSocketError(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

long SendSome(int fd, const char* data, size_t size, int& error) {
  ssize_t n;
  do {
    n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  error = n < 0 ? errno : 0;
  return static_cast<long>(n);
}

long ReceiveSome(int fd, char* buffer, size_t size, int& error) {
  ssize_t n;
  do {
    n = recv(fd, buffer, size, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  // EWOULDBLOCK is EAGAIN on Linux; callers test EAGAIN alone.
  error = n < 0 ? (errno == EWOULDBLOCK ? EAGAIN : errno) : 0;
  return static_cast<long>(n);
}

bool NothingToReceive(int fd) {
  char byte;
  ssize_t n;
  do {
    n = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

int ShutdownSending(int fd) {
  return shutdown(fd, SHUT_WR) == 0 ? 0 : errno;
}

bool PeerAddress(int fd, TNetworkAddress& peer) {
  peer = TNetworkAddress{};
  socklen_t length = sizeof peer.storage;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer.storage), &length) != 0) return false;
  peer.length = length;
  return true;
}

bool IsListeningSocket(int fd) {
  int listening = 0;
  socklen_t size = sizeof listening;
  return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening != 0;
}

TWaitResult WaitForSocket(int fd, TSocketWait what, int timeout_ms, int* error) {
  for (;;) {
    pollfd entry{fd, PollEvents(what), 0};
    const int ready = poll(&entry, 1, timeout_ms);
    if (ready > 0) return TWaitResult::kReady;
    if (ready == 0) return TWaitResult::kTimedOut;
    if (errno == EINTR) continue;
    if (error) *error = errno;
    return TWaitResult::kFailed;
  }
}

TWaitResult WaitForSocketUntil(int fd, TSocketWait what, TMonotonicTime deadline, int* error) {
  for (;;) {
    pollfd entry{fd, PollEvents(what), 0};
    const int ready = poll(&entry, 1, MillisecondsUntil(deadline));
    if (ready > 0) return TWaitResult::kReady;
    if (ready == 0) return TWaitResult::kTimedOut;
    if (errno == EINTR) continue;
    if (error) *error = errno;
    return TWaitResult::kFailed;
  }
}

TWaitResult WaitForEitherReadable(int fd, int other, int timeout_ms, int& error) {
  std::array<pollfd, 2> entries{{{fd, POLLIN, 0}, {other, POLLIN, 0}}};
  const int ready = poll(entries.data(), other >= 0 ? 2 : 1, timeout_ms);
  if (ready < 0) {
    error = errno;
    return TWaitResult::kFailed;
  }
  return ready > 0 && entries[0].revents != 0 ? TWaitResult::kReady : TWaitResult::kTimedOut;
}

void IgnoreBrokenPipeSignal() {
  signal(SIGPIPE, SIG_IGN);
}

int OpenDescriptorLimit() {
  // Asked once per process: every mail sender asks, and the answer is informational.
  static const int limit = static_cast<int>(sysconf(_SC_OPEN_MAX));
  return limit;
}
