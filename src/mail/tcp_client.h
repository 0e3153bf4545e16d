#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/network_address.h"

// A small non-blocking TCP client over BSD sockets, in the shape of the WinSock component the
// SMTP sender derives from.
//
// Notifications (FD_CONNECT, FD_READ, FD_CLOSE) arrive through the per-thread message pump of
// platform/message_pump.h on the thread that called Connect: that thread must wait with
// ProcessMessages (which polls the socket) for them to be dispatched. Nothing is ever blocking
// and nothing is locked: one object belongs to one thread.
//
// Failures never throw (except a port that is neither a service name nor a decimal number, see
// ResolveAddress): they are recorded as a WinSock code in LastError() (winsock_errors.h), passed
// to OnError, and described by ErrorText().

// Connection states.
constexpr unsigned char kSocketNotStarted = 0;
constexpr unsigned char kSocketIdle = 1;
constexpr unsigned char kSocketConnected = 2;
constexpr unsigned char kSocketConnecting = 4;

constexpr int INVALID_SOCKET = -1;

class TCustomCGISocket {
 public:
  // Called as (Sender, ErrorCode, ErrorText) whenever an error is recorded.
  using TSocketErrorEvent =
      std::function<void(TCustomCGISocket* sender, int error_code, const std::string& error_text)>;

  // State 1 (idle) once the socket layer is usable; the informational fields describe it.
  TCustomCGISocket();
  // Closes a socket that is still open (without the graceful shutdown).
  virtual ~TCustomCGISocket();
  TCustomCGISocket(const TCustomCGISocket&) = delete;
  TCustomCGISocket& operator=(const TCustomCGISocket&) = delete;

  // Resolves `host` (a dotted IPv4 address is used as it is, without a name lookup; anything else
  // is looked up) and `port` (a service name from the services database for this protocol, so
  // "smtp" gives 25, or a decimal number) into `address`. Returns false after recording the error
  // (11001 "Host not found" for an unknown host, 10022 for a port above 65535). A port that is
  // neither a service name nor a number throws Exception("'<port>' is not a valid integer value").
  bool ResolveAddress(const std::string& host, const std::string& port, sockaddr_in& address);

  // One address of a host, of either family.
  using TSocketAddress = TNetworkAddress;
  // Resolves `host` into every address getaddrinfo gives for it, IPv6 and IPv4 in the resolver's
  // order (a numeric address of either family without a look-up), and `port` as ResolveAddress
  // does. Returns false after recording the same errors as ResolveAddress; throws as it does.
  bool ResolveAddresses(const std::string& host, const std::string& port,
                        std::vector<TSocketAddress>& addresses);

  // Stops the notifications of `socket`, shuts down its sending side, drops what the peer had
  // already sent and closes it; `socket` becomes INVALID_SOCKET. Never leaves the descriptor
  // open; an unexpected failure along the way is recorded.
  void CloseGracefully(int& socket);

  // One non-blocking receive of at most 1024 bytes. Returns the bytes received; an empty string
  // when nothing is waiting (not an error) or when the peer has closed (`peer_closed` is then
  // set when given). Other failures are recorded and give an empty string.
  std::string ReceiveText(int socket, bool* peer_closed = nullptr);

  // Resolves `port` as ResolveAddress does (a service name or a decimal number).
  bool ResolvePort(const std::string& port, int& port_number);

  // Records `code` in LastError and calls OnError with its text.
  void SocketError(int code);
  // The text for LastError(); empty for 0 and for codes without a text.
  std::string ErrorText() const;

  int LastError() const { return last_error_; }
  void SetLastError(int code) { last_error_ = code; }
  unsigned char State() const { return state_; }
  int ProtocolNumber() const { return protocol_; }
  int SocketType() const { return socket_type_; }

  // Informational description of the socket layer (not used elsewhere).
  const std::string& WinSockVersion() const { return version_; }
  const std::string& Description() const { return description_; }
  const std::string& SystemStatus() const { return system_status_; }
  // The process's limit of open descriptors, asked when wanted: a CGI process never asks.
  int MaxSockets() const;
  int MaxDatagramSize() const { return max_datagram_; }

  TSocketErrorEvent OnError;

 protected:
  // Sends all of `text` on `socket`. "Would block" is retried, each retry waiting up
  // to 20 ms in poll() for room, at most SendRetryLimit() retries (about 30 seconds for a stalled
  // peer) and never past send_deadline_; then the send gives up and records 10060 "Connection
  // timed out". Any other failure is recorded at once. Returns true when every byte was handed to
  // the kernel; an empty text sends nothing and succeeds.
  bool SendBuffer(int socket, const std::string& text);
  // Retries allowed on "would block"; a test may lower it.
  int send_retry_limit_ = 1500;
  // The moment after which a stalled send gives up whatever retries are left: a caller with an
  // overall time limit (the SMTP sender) sets it; the default never comes.
  TMonotonicTime send_deadline_ = TMonotonicTime::max();

  int protocol_ = 0;
  int socket_type_ = 3;
  int socket_ = INVALID_SOCKET;
  unsigned char state_ = kSocketNotStarted;
  // Only ever read from after a receive has filled it: left unset, so that a sender (a request
  // makes four) does not write a kilobyte of zeros for it.
  char receive_buffer_[1024];

 private:
  std::string version_;
  std::string description_;
  std::string system_status_;
  int max_datagram_ = 0;
  int last_error_ = 0;
};

class TTCPClient : public TCustomCGISocket {
 public:
  // Called as (Sender, Socket).
  using TSocketNotifyEvent = std::function<void(TTCPClient* sender, int socket)>;

  TTCPClient();
  // Disconnect, then the base destructor.
  ~TTCPClient() override;

  // From state 1 only: resolves RemoteHost and RemotePort into all their addresses and starts a
  // connect to the first: a non-blocking stream socket of its family (TCP_NODELAY, SO_OOBINLINE)
  // registered with the calling thread's message pump; the state becomes 4 (connecting).
  // FD_CONNECT later moves it to 2 (connected), or records the error (10061 "Connection refused",
  // ...) and moves on to the next address: LastError is then 0 again while that one is tried.
  // When the last address fails, its error stays recorded and the state stays at 4. Addresses
  // whose connect fails at once are recorded and skipped the same way; when none is left to try
  // the socket is closed and the state stays at 1.
  void Connect();
  // Gives up the address being tried (recording 10060 "Connection timed out" for it) and starts
  // the next; false when no address is left (the attempt is then closed and the state 1). For a
  // caller whose connect time-out is shared among the addresses.
  bool ConnectNextAddress();
  // Addresses of the current Connect not tried yet.
  size_t AddressesLeft() const { return addresses_.size() - next_address_; }
  // Closes the connection gracefully when there is one (state 2 or 4); the state becomes 1.
  void Disconnect();
  // Sends the whole text on the connection (SendBuffer). Returns false when it could
  // not be sent completely (the error is recorded).
  virtual bool SendText(const std::string& text);

  int Socket() const { return socket_; }

  // Hands the connected socket (state 2) to the caller, who then owns the descriptor: its
  // notifications stop and the state becomes 1. INVALID_SOCKET when there is no connection.
  int ReleaseConnection();
  // From state 1: takes `socket`, a connected socket of the calling thread (ReleaseConnection
  // gave it), as this client's connection (state 2, notifications on).
  void AdoptConnection(int socket);

  std::string RemoteHost;
  std::string RemotePort;

  TSocketNotifyEvent OnRead;
  TSocketNotifyEvent OnConnect;
  TSocketNotifyEvent OnDisconnect;

 protected:
  // Connect after the resolver: tries `addresses` in order as Connect describes (state 1 only).
  void ConnectTo(std::vector<TSocketAddress> addresses);

 private:
  // The message pump's dispatch for this client's socket (the hidden window's procedure).
  void HandleSocketEvent(int fd, unsigned event, int error);
  // Starts connects to the remaining addresses in order until one is under way (true) or every
  // one has failed at once (false, state 1).
  bool StartNextConnect();
  // Closes the socket of an attempt that is abandoned.
  void AbandonAttempt();

  std::vector<TSocketAddress> addresses_;
  size_t next_address_ = 0;
};
