#pragma once

#include <cstdint>
#include <string>

#include "platform/file_descriptor.h"
#include "platform/network_address.h"

// A listening stream socket (close-on-exec) on a unix socket path or a TCP host and port, and
// the connections it accepts.
//
// One address has one server: when a live process answers a connection on it, opening refuses
// ("another process already serves ...") and leaves that process's socket alone, never taking it
// over. A unix socket file that nobody answers on (a run that ended without removing it) is
// replaced; any other file of that name is refused and left alone. Two opens of one path at the
// same moment decide under a lock on the path's folder, so only one of them listens.
//
// A unix socket is created 0660 whatever the umask (group `group` when given, else the
// process's), before it listens, so no connection comes in while its mode is wider.
//
// Failures are one line naming the address, with the system's reason.
class TListeningSocket {
 public:
  TListeningSocket() = default;
  // Withdraws the path and closes the socket.
  ~TListeningSocket();
  TListeningSocket(const TListeningSocket&) = delete;
  TListeningSocket& operator=(const TListeningSocket&) = delete;

  // Listens on the unix socket `path` (which contains a "/"); its group becomes `group` unless
  // that is empty. False with `error` when the group does not exist or cannot be given, the path
  // is too long, another file or a live server holds it, or the socket cannot be made.
  bool OpenUnix(const std::string& path, const std::string& group, std::string& error);

  // Listens on `host` and `port` (an IPv6 host without brackets); `address` names them in the
  // messages. False with `error` when they cannot be resolved, another process serves them, or
  // no address of them can be listened on.
  bool OpenTcp(const std::string& host, const std::string& port, const std::string& address,
               std::string& error);

  // The listening descriptor; -1 before a successful open.
  int Fd() const { return fd_.Get(); }

  // True for a unix socket whose path Withdraw can still remove.
  bool Withdrawable() const { return !path_.empty(); }

  // Removes the unix socket's path, unless another file has taken its place since (a newer
  // instance's socket is never removed): no new connection reaches the socket any more, the
  // connections already queued can still be accepted, and a new instance can start on the path
  // at once. Does nothing after the first call, or for TCP.
  void Withdraw();

 private:
  bool OpenUnixLocked(const std::string& path, const std::string& group, std::string& error);

  TFileDescriptor fd_;
  std::string path_;          // the unix socket's path while it names this socket
  std::uint64_t device_ = 0;  // the path's file, to recognise it at Withdraw
  std::uint64_t inode_ = 0;
};

// How an accept on a listening socket went.
enum class TAcceptResult {
  kTaken,  // a connection, and its peer's address
  kLost,   // nothing to take (another thread took it, or the peer gave up first)
  kFailed  // any other failure (out of descriptors, say): it may repeat at once
};

// Accepts the next connection on the listening socket `listen_fd` (close-on-exec) into
// `connection`, with its peer's address (of the unix family for a unix socket).
TAcceptResult AcceptConnection(int listen_fd, TFileDescriptor& connection, TNetworkAddress& peer);
