#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/listening_socket.h"
#include "platform/network_address.h"

// The listening socket of a gateway started with `--fastcgi ADDRESS`.
//
// ADDRESS is a unix socket path (it contains a "/") or HOST:PORT (an IPv6 host in brackets).
// One address has one server (TListeningSocket): a live process's socket is never taken over, a
// stale unix socket file is replaced, and two starts at the same moment leave one serving.
//
// The socket is a trust boundary: whoever can connect chooses every request variable (the
// client's address among them). A unix socket is created 0660 whatever the umask (its group
// `group` when given, else the process's), before it listens, so no connection comes in while its
// mode is wider; TCP peers are sorted by TClientFilter.
//
// Withdraw removes a unix socket's path: no new connection reaches the process any more, the
// connections already queued on the socket can still be accepted, and a new instance can start
// on the path at once. A TCP socket cannot be withdrawn; its queue ends with the process.
class TFastCGISocket {
 public:
  TFastCGISocket() = default;
  // Withdraws the path and closes the socket (TListeningSocket's destructor).
  ~TFastCGISocket() = default;
  TFastCGISocket(const TFastCGISocket&) = delete;
  TFastCGISocket& operator=(const TFastCGISocket&) = delete;

  // Listens on `address` (close-on-exec); a unix socket gets group `group` unless it is empty.
  // False with `error` set (one line naming the address) when it is malformed, another process
  // serves it, the group does not exist or cannot be given, or the socket cannot be made.
  bool Open(const std::string& address, const std::string& group, std::string& error);

  // The listening descriptor; -1 before a successful Open.
  int Fd() const { return socket_.Fd(); }

  // True for a unix socket whose path Withdraw can still remove.
  bool Withdrawable() const { return socket_.Withdrawable(); }

  // Removes the unix socket's path, unless another file has taken its place since (a newer
  // instance's socket is never removed). Does nothing after the first call, or for TCP.
  void Withdraw() { socket_.Withdraw(); }

 private:
  TListeningSocket socket_;
};

// Which TCP peers a FastCGI socket serves: loopback addresses (127.0.0.0/8, ::1) unless a list
// was given, then exactly the listed addresses (an IPv4 address also matches its IPv4-mapped
// IPv6 form). Unix-socket peers are always allowed: the socket file's mode and group decide.
class TClientFilter {
 public:
  // Reads a comma-separated list of IPv4 and IPv6 addresses ("127.0.0.1,::1"). False with
  // `error` naming the first entry that is not an address.
  bool Parse(const std::string& list, std::string& error);

  bool Allows(const TNetworkAddress& peer) const;

  // The peer's address as text, for a log line ("?" for a unix socket's peer).
  static std::string Describe(const TNetworkAddress& peer);

 private:
  std::vector<std::array<unsigned char, 16>> listed_;  // IPv6, IPv4 as IPv4-mapped
};
