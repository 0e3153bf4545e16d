#include "mail/tcp_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#include "common/exception.h"
#include "mail/winsock_errors.h"
#include "platform/message_pump.h"

namespace {

// The protocol name used for the services database; the well-known numbers do without
// /etc/protocols, so a minimal system still resolves "smtp".
std::string ProtocolName(int protocol, int& error) {
  error = 0;
  if (protocol == IPPROTO_TCP) return "tcp";
  if (protocol == IPPROTO_UDP) return "udp";
  if (protocol == 0) return "ip";
  protoent entry{};
  protoent* result = nullptr;
  std::vector<char> buffer(1024);
  if (getprotobynumber_r(protocol, &entry, buffer.data(), buffer.size(), &result) != 0 ||
      result == nullptr) {
    error = WSAEPROTONOSUPPORT;
    return "";
  }
  return result->p_name;
}

// Looks `port` up in the services database; returns the port in host order, or -1.
int ServicePort(const std::string& port, const std::string& protocol) {
  servent entry{};
  servent* result = nullptr;
  std::vector<char> buffer(1024);
  if (getservbyname_r(port.c_str(), protocol.c_str(), &entry, buffer.data(), buffer.size(),
                      &result) != 0 ||
      result == nullptr)
    return -1;
  return ntohs(static_cast<uint16_t>(result->s_port));
}

}  // namespace

// --- TCustomCGISocket -------------------------------------------------------------------------

TCustomCGISocket::TCustomCGISocket() {
  // BSD sockets need no start-up call: the layer is usable at once.
  version_ = "1.1";
  description_ = "BSD sockets";
  system_status_ = "Running";
  max_sockets_ = static_cast<int>(sysconf(_SC_OPEN_MAX));
  max_datagram_ = 65507;
  state_ = kSocketIdle;
}

TCustomCGISocket::~TCustomCGISocket() {
  if (socket_ != INVALID_SOCKET) {
    AsyncSelect(socket_, 0, nullptr);
    close(socket_);
    socket_ = INVALID_SOCKET;
  }
}

bool TCustomCGISocket::ResolvePort(const std::string& port, int& port_number) {
  int error = 0;
  const std::string protocol = ProtocolName(protocol_, error);
  if (error) {
    SocketError(error);
    return false;
  }

  // Service names begin with a letter, so a port of digits alone needs no look-up in the services
  // database; skipping it spares every CGI process loading the name-service modules.
  const bool decimal = !port.empty() && std::all_of(port.begin(), port.end(),
                                                    [](char c) { return c >= '0' && c <= '9'; });
  port_number = decimal ? -1 : ServicePort(port, protocol);
  if (port_number < 0) {
    long long value = 0;
    const char* first = port.data();
    const char* last = port.data() + port.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    if (port.empty() || ec == std::errc::invalid_argument || end != last)
      throw Exception("'" + port + "' is not a valid integer value");
    if (ec == std::errc::result_out_of_range || value < 0 || value > 65535) {
      SocketError(WSAEINVAL);
      return false;
    }
    port_number = static_cast<int>(value);
  }
  return true;
}

namespace {

// Looks `host` up for a stream socket of `family` (AF_UNSPEC: IPv6 and IPv4). Returns 0 with the
// list in `found` (for freeaddrinfo), or the WinSock code of the failure. No AI_ADDRCONFIG: it
// would hide ::1 on a machine whose only IPv6 address is the loopback's.
int LookUpHost(const std::string& host, int family, addrinfo** found) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  errno = 0;
  const int result = host.empty() ? EAI_NONAME : getaddrinfo(host.c_str(), nullptr, &hints, found);
  if (result == 0 && *found != nullptr) return 0;
  return WinSockErrorFromResolver(result != 0 ? result : EAI_NONAME, errno);
}

}  // namespace

bool TCustomCGISocket::ResolveAddress(const std::string& host, const std::string& port,
                                      sockaddr_in& address) {
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  int port_number = 0;
  if (!ResolvePort(port, port_number)) return false;
  address.sin_port = htons(static_cast<uint16_t>(port_number));

  const in_addr_t dotted = inet_addr(host.c_str());
  if (dotted != INADDR_NONE) {
    address.sin_addr.s_addr = dotted;
    return true;
  }
  addrinfo* found = nullptr;
  if (const int error = LookUpHost(host, AF_INET, &found); error != 0) {
    SocketError(error);
    return false;
  }
  address.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return true;
}

bool TCustomCGISocket::ResolveAddresses(const std::string& host, const std::string& port,
                                        std::vector<TSocketAddress>& addresses) {
  addresses.clear();
  int port_number = 0;
  if (!ResolvePort(port, port_number)) return false;
  addrinfo* found = nullptr;
  if (const int error = LookUpHost(host, AF_UNSPEC, &found); error != 0) {
    SocketError(error);
    return false;
  }
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) ||
        a->ai_addrlen > sizeof(sockaddr_storage))
      continue;
    TSocketAddress address;
    std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
    address.length = a->ai_addrlen;
    const uint16_t network_port = htons(static_cast<uint16_t>(port_number));
    if (a->ai_family == AF_INET)
      reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port = network_port;
    else
      reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port = network_port;
    addresses.push_back(address);
  }
  freeaddrinfo(found);
  if (addresses.empty()) {
    SocketError(WSANO_DATA);
    return false;
  }
  return true;
}

void TCustomCGISocket::CloseGracefully(int& socket) {
  if (socket == INVALID_SOCKET) return;
  AsyncSelect(socket, 0, nullptr);
  if (shutdown(socket, SHUT_WR) != 0 && errno != ENOTCONN)
    SocketError(WinSockErrorFromErrno(errno));
  // Drop what the peer had already sent; waiting for it to close would let a silent peer hold
  // the caller, so only what is there now is read.
  for (;;) {
    const ssize_t n = recv(socket, receive_buffer_, sizeof receive_buffer_, MSG_DONTWAIT);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != ENOTCONN && errno != ECONNRESET)
      SocketError(WinSockErrorFromErrno(errno));
    break;
  }
  close(socket);
  socket = INVALID_SOCKET;
}

std::string TCustomCGISocket::ReceiveText(int socket, bool* peer_closed) {
  if (peer_closed) *peer_closed = false;
  ssize_t n;
  do {
    n = recv(socket, receive_buffer_, sizeof receive_buffer_, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n > 0) return std::string(receive_buffer_, static_cast<size_t>(n));
  if (n == 0) {
    if (peer_closed) *peer_closed = true;
    return "";
  }
  if (errno != EAGAIN) {
    SocketError(WinSockErrorFromErrno(errno));
    if (peer_closed) *peer_closed = true;
  }
  return "";
}

void TCustomCGISocket::SocketError(int code) {
  last_error_ = code;
  if (OnError) OnError(this, code, ErrorText());
}

std::string TCustomCGISocket::ErrorText() const {
  return WinSockErrorText(last_error_);
}

bool TCustomCGISocket::SendBuffer(int socket, const std::string& text, int flags) {
  size_t sent = 0;
  int retries = 0;
  while (sent < text.size()) {
    const ssize_t n =
        send(socket, text.data() + sent, text.size() - sent, flags | MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) {
      SocketError(WinSockErrorFromErrno(errno));
      return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (++retries > send_retry_limit_ || now >= send_deadline_) {
      // The peer has taken nothing for the whole retry budget, or the caller's time is up: give
      // up instead of stalling.
      SocketError(WSAETIMEDOUT);
      return false;
    }
    // Wait for room in the send buffer rather than sleeping blindly, never past the deadline.
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(send_deadline_ - now).count();
    const int wait = static_cast<int>(std::clamp<long long>(left, 1, 20));
    pollfd p{socket, POLLOUT, 0};
    while (poll(&p, 1, wait) < 0 && errno == EINTR) {
    }
  }
  return true;
}

// --- TTCPClient -------------------------------------------------------------------------------

TTCPClient::TTCPClient() {
  protocol_ = IPPROTO_TCP;
  socket_type_ = SOCK_STREAM;
}

TTCPClient::~TTCPClient() {
  Disconnect();
}

void TTCPClient::Connect() {
  if (state_ != kSocketIdle) return;
  std::vector<TSocketAddress> addresses;
  if (!ResolveAddresses(RemoteHost, RemotePort, addresses)) return;
  ConnectTo(std::move(addresses));
}

void TTCPClient::ConnectTo(std::vector<TSocketAddress> addresses) {
  if (state_ != kSocketIdle) return;
  addresses_ = std::move(addresses);
  next_address_ = 0;
  StartNextConnect();
}

bool TTCPClient::StartNextConnect() {
  while (next_address_ < addresses_.size()) {
    const TSocketAddress& address = addresses_[next_address_++];
    const int fd =
        socket(address.storage.ss_family, socket_type_ | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      SocketError(WinSockErrorFromErrno(errno));
      continue;
    }
    AsyncSelect(fd, FD_READ | FD_CONNECT | FD_CLOSE,
                [this](int s, unsigned event, int error) { HandleSocketEvent(s, event, error); });
    const int on = 1;
    // Nagle's algorithm would hold a short last write (the end of a command or of the data) until
    // the server's delayed acknowledgement; every write here is a complete unit.
    if (setsockopt(fd, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on) != 0 ||
        (socket_type_ == SOCK_STREAM &&
         setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)) {
      SocketError(WinSockErrorFromErrno(errno));
      AsyncSelect(fd, 0, nullptr);
      close(fd);
      continue;
    }
    int result;
    do {
      result = connect(fd, address.Get(), address.length);
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno != EINPROGRESS && errno != EAGAIN) {
      // An address of a family this machine cannot reach fails here at once: the next may work.
      SocketError(WinSockErrorFromErrno(errno));
      AsyncSelect(fd, 0, nullptr);
      close(fd);
      continue;
    }
    socket_ = fd;
    state_ = kSocketConnecting;
    // The failures of earlier addresses are over; this attempt starts clean.
    SetLastError(0);
    return true;
  }
  state_ = kSocketIdle;
  return false;
}

void TTCPClient::AbandonAttempt() {
  if (socket_ == INVALID_SOCKET) return;
  AsyncSelect(socket_, 0, nullptr);
  close(socket_);
  socket_ = INVALID_SOCKET;
}

bool TTCPClient::ConnectNextAddress() {
  if (state_ != kSocketConnecting) return false;
  AbandonAttempt();
  SocketError(WSAETIMEDOUT);
  return StartNextConnect();
}

void TTCPClient::Disconnect() {
  if (state_ == kSocketNotStarted || state_ == kSocketIdle) return;
  CloseGracefully(socket_);
  state_ = kSocketIdle;
}

int TTCPClient::ReleaseConnection() {
  if (state_ != kSocketConnected || socket_ == INVALID_SOCKET) return INVALID_SOCKET;
  AsyncSelect(socket_, 0, nullptr);
  const int released = socket_;
  socket_ = INVALID_SOCKET;
  state_ = kSocketIdle;
  return released;
}

void TTCPClient::AdoptConnection(int socket) {
  if (state_ != kSocketIdle || socket == INVALID_SOCKET) return;
  addresses_.clear();
  next_address_ = 0;
  socket_ = socket;
  AsyncSelect(socket_, FD_READ | FD_CLOSE,
              [this](int s, unsigned e, int err) { HandleSocketEvent(s, e, err); });
  state_ = kSocketConnected;
}

bool TTCPClient::SendText(const std::string& text) {
  if (socket_ == INVALID_SOCKET) {
    if (text.empty()) return true;
    SocketError(WSAENOTCONN);
    return false;
  }
  return SendBuffer(socket_, text, 0);
}

void TTCPClient::HandleSocketEvent(int fd, unsigned event, int error) {
  if (state_ == kSocketIdle || fd != socket_) return;
  const int code = WinSockErrorFromErrno(error);
  switch (event) {
    case FD_CONNECT:
      if (code) {
        SocketError(code);
        if (next_address_ < addresses_.size()) {
          // When every later address fails at once, the last failure stays recorded.
          AbandonAttempt();
          StartNextConnect();
          return;
        }
        // The state stays "connecting" until the caller gives up; a socket whose connect failed
        // has nothing more to report.
        AsyncSelect(fd, 0, nullptr);
        return;
      }
      AsyncSelect(fd, FD_READ | FD_CLOSE,
                  [this](int s, unsigned e, int err) { HandleSocketEvent(s, e, err); });
      if (OnConnect) OnConnect(this, fd);
      state_ = kSocketConnected;
      return;
    case FD_READ:
      if (code) {
        SocketError(code);
      } else if (OnRead) {
        OnRead(this, fd);
      }
      return;
    case FD_CLOSE:
      if (code == WSAENETDOWN) {
        SocketError(code);
        return;
      }
      if (OnDisconnect) OnDisconnect(this, fd);
      Disconnect();
      return;
    default:
      if (code) SocketError(code);
  }
}
