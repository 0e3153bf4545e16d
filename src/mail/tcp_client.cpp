#include "mail/tcp_client.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>
#include <vector>

#include "common/exception.h"
#include "mail/winsock_errors.h"
#include "platform/message_pump.h"
#include "platform/socket_io.h"

namespace {

// Closes the socket in `fd` (a TFileDescriptor takes it and closes it) and leaves INVALID_SOCKET
// there.
void CloseSocket(int& fd) {
  TFileDescriptor owner(std::exchange(fd, INVALID_SOCKET));
}

}  // namespace

// --- TCustomCGISocket -------------------------------------------------------------------------

int TCustomCGISocket::MaxSockets() const {
  return OpenDescriptorLimit();
}

TCustomCGISocket::TCustomCGISocket() {
  // BSD sockets need no start-up call: the layer is usable at once.
  version_ = "1.1";
  description_ = "BSD sockets";
  system_status_ = "Running";
  max_datagram_ = 65507;
  state_ = kSocketIdle;
}

TCustomCGISocket::~TCustomCGISocket() {
  if (socket_ != INVALID_SOCKET) {
    AsyncSelect(socket_, 0, nullptr);
    CloseSocket(socket_);
  }
}

bool TCustomCGISocket::ResolvePort(const std::string& port, int& port_number) {
  const std::string protocol = ProtocolName(protocol_);
  if (protocol.empty()) {
    SocketError(WSAEPROTONOSUPPORT);
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

bool TCustomCGISocket::ResolveAddress(const std::string& host, const std::string& port,
                                      sockaddr_in& address) {
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  int port_number = 0;
  if (!ResolvePort(port, port_number)) return false;
  address.sin_port = htons(static_cast<uint16_t>(port_number));
  if (const std::optional<in_addr> dotted = DottedIpv4(host)) {
    address.sin_addr = *dotted;
  } else {
    std::vector<TNetworkAddress> found;
    TResolveError error;
    if (!ResolveHost(host, true, found, error)) {
      SocketError(WinSockErrorFromResolver(error));
      return false;
    }
    if (found.empty()) {
      SocketError(WSAHOST_NOT_FOUND);
      return false;
    }
    address.sin_addr = reinterpret_cast<const sockaddr_in*>(found.front().Get())->sin_addr;
  }
  return true;
}

bool TCustomCGISocket::ResolveAddresses(const std::string& host, const std::string& port,
                                        std::vector<TSocketAddress>& addresses) {
  addresses.clear();
  int port_number = 0;
  if (!ResolvePort(port, port_number)) return false;
  TResolveError error;
  if (!ResolveHost(host, false, addresses, error)) {
    SocketError(WinSockErrorFromResolver(error));
    return false;
  }
  for (TSocketAddress& address : addresses) address.SetPort(static_cast<uint16_t>(port_number));
  if (addresses.empty()) {
    SocketError(WSANO_DATA);
    return false;
  }
  return true;
}

void TCustomCGISocket::CloseGracefully(int& socket) {
  if (socket == INVALID_SOCKET) return;
  AsyncSelect(socket, 0, nullptr);
  if (const int error = ShutdownSending(socket); error != 0 && error != ENOTCONN)
    SocketError(WinSockErrorFromErrno(error));
  // Drop what the peer had already sent; waiting for it to close would let a silent peer hold
  // the caller, so only what is there now is read.
  for (;;) {
    int error = 0;
    const long n = ReceiveSome(socket, receive_buffer_, sizeof receive_buffer_, error);
    if (n > 0) continue;
    if (n < 0 && error != EAGAIN && error != ENOTCONN && error != ECONNRESET)
      SocketError(WinSockErrorFromErrno(error));
    break;
  }
  CloseSocket(socket);
}

std::string TCustomCGISocket::ReceiveText(int socket, bool* peer_closed) {
  if (peer_closed) *peer_closed = false;
  int error = 0;
  const long n = ReceiveSome(socket, receive_buffer_, sizeof receive_buffer_, error);
  if (n > 0) return std::string(receive_buffer_, static_cast<size_t>(n));
  if (n == 0) {
    if (peer_closed) *peer_closed = true;
    return "";
  }
  if (error != EAGAIN) {
    SocketError(WinSockErrorFromErrno(error));
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

bool TCustomCGISocket::SendBuffer(int socket, const std::string& text) {
  size_t sent = 0;
  int retries = 0;
  while (sent < text.size()) {
    int error = 0;
    const long n = SendSome(socket, text.data() + sent, text.size() - sent, error);
    if (n >= 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (error != EAGAIN) {
      SocketError(WinSockErrorFromErrno(error));
      return false;
    }
    const TMonotonicTime now = MonotonicNow();
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
    WaitForSocket(socket, TSocketWait::kWritable, wait);
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
    int error = 0;
    TFileDescriptor fd = OpenStreamSocket(address.Family(), error);
    if (!fd) {
      SocketError(WinSockErrorFromErrno(error));
      continue;
    }
    AsyncSelect(fd.Get(), FD_READ | FD_CONNECT | FD_CLOSE,
                [this](int s, unsigned event, int e) { HandleSocketEvent(s, event, e); });
    // Nagle's algorithm would hold a short last write (the end of a command or of the data) until
    // the server's delayed acknowledgement; every write here is a complete unit.
    error = SetInlineUrgentNoDelay(fd.Get(), socket_type_ == SOCK_STREAM);
    // An address of a family this machine cannot reach fails at its connect at once: the next
    // may work.
    if (error == 0) error = StartConnect(fd.Get(), address);
    if (error != 0) {
      SocketError(WinSockErrorFromErrno(error));
      AsyncSelect(fd.Get(), 0, nullptr);
      continue;
    }
    socket_ = fd.Release();
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
  CloseSocket(socket_);
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
  return SendBuffer(socket_, text);
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
