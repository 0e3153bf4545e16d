#include "platform/message_pump.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <map>
#include <vector>

namespace {

struct Registration {
  unsigned events = 0;
  bool connect_reported = false;
  bool close_reported = false;
  SocketEventHandler handler;
};

thread_local std::map<int, Registration> registrations;

int SocketError(int fd) {
  int error = 0;
  socklen_t len = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
  return error;
}

// Dispatches one event to the socket's handler unless a handler removed the socket meanwhile.
bool Dispatch(int fd, unsigned event, int error) {
  auto it = registrations.find(fd);
  if (it == registrations.end() || !(it->second.events & event)) return false;
  SocketEventHandler handler = it->second.handler;  // the handler may replace its registration
  if (event == FD_CONNECT) it->second.connect_reported = true;
  if (event == FD_CLOSE) it->second.close_reported = true;
  if (handler) handler(fd, event, error);
  return true;
}

short PollMask(const Registration& r) {
  short mask = 0;
  if ((r.events & FD_CONNECT) && !r.connect_reported) mask |= POLLOUT;
  if ((r.events & FD_WRITE) && r.connect_reported) mask |= POLLOUT;
  if ((r.events & (FD_READ | FD_CLOSE)) && !r.close_reported) mask |= POLLIN;
  return mask;
}

}  // namespace

void AsyncSelect(int fd, unsigned events, SocketEventHandler handler) {
  if (events == 0) {
    registrations.erase(fd);
    return;
  }
  Registration& r = registrations[fd];
  // A socket that is not connecting has nothing left to report for FD_CONNECT.
  if (!(events & FD_CONNECT)) r.connect_reported = true;
  if ((events & FD_CONNECT) && !(r.events & FD_CONNECT)) r.connect_reported = false;
  r.events = events;
  r.handler = std::move(handler);
}

int RegisteredSocketCount() {
  return static_cast<int>(registrations.size());
}

int ProcessMessages(int timeout_ms) {
  std::vector<pollfd> fds;
  for (const auto& [fd, r] : registrations) {
    const short mask = PollMask(r);
    if (mask) fds.push_back(pollfd{fd, mask, 0});
  }
  if (fds.empty()) return 0;

  int ready;
  do {
    ready = poll(fds.data(), fds.size(), timeout_ms < 0 ? 0 : timeout_ms);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return 0;

  int dispatched = 0;
  for (const pollfd& p : fds) {
    if (!p.revents) continue;
    auto it = registrations.find(p.fd);
    if (it == registrations.end()) continue;
    const Registration& r = it->second;
    const bool failed = p.revents & (POLLERR | POLLNVAL);
    const bool hung_up = p.revents & POLLHUP;

    if ((p.events & POLLOUT) && !r.connect_reported &&
        (p.revents & (POLLOUT | POLLERR | POLLHUP))) {
      dispatched += Dispatch(p.fd, FD_CONNECT, SocketError(p.fd));
      continue;
    }
    if ((p.revents & POLLOUT) && (r.events & FD_WRITE)) dispatched += Dispatch(p.fd, FD_WRITE, 0);

    if (p.revents & POLLIN) {
      char probe;
      const ssize_t n = recv(p.fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
      if (n > 0) {
        dispatched += Dispatch(p.fd, FD_READ, 0);
      } else if (n == 0) {
        dispatched += Dispatch(p.fd, FD_CLOSE, 0);
      } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        dispatched += Dispatch(p.fd, FD_CLOSE, errno);
      }
    } else if (failed || hung_up) {
      dispatched += Dispatch(p.fd, FD_CLOSE, failed ? SocketError(p.fd) : 0);
    }
  }
  return dispatched;
}
