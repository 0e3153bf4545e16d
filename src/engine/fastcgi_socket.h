#pragma once

#include <sys/types.h>

#include <string>

// The listening socket of a gateway started with `--fastcgi ADDRESS`.
//
// ADDRESS is a unix socket path (it contains a "/") or HOST:PORT (an IPv6 host in brackets).
// One address has one server: when a live process answers a connection on it, Open refuses
// ("another process already serves ...") and leaves that process's socket alone, never taking it
// over. A unix socket file that nobody answers on (a run that ended without removing it) is
// replaced; any other file of that name is refused and left alone. Two starts at the same moment
// decide under a lock on the socket's folder, so only one of them serves.
//
// Withdraw removes a unix socket's path: no new connection reaches the process any more, the
// connections already queued on the socket can still be accepted, and a new instance can start
// on the path at once. A TCP socket cannot be withdrawn; its queue ends with the process.
class TFastCGISocket {
 public:
  TFastCGISocket() = default;
  // Withdraws the path and closes the socket.
  ~TFastCGISocket();
  TFastCGISocket(const TFastCGISocket&) = delete;
  TFastCGISocket& operator=(const TFastCGISocket&) = delete;

  // Listens on `address` (close-on-exec). False with `error` set (one line naming the address)
  // when it is malformed, another process serves it, or the socket cannot be made.
  bool Open(const std::string& address, std::string& error);

  // The listening descriptor; -1 before a successful Open.
  int Fd() const { return fd_; }

  // True for a unix socket whose path Withdraw can still remove.
  bool Withdrawable() const { return !path_.empty(); }

  // Removes the unix socket's path, unless another file has taken its place since (a newer
  // instance's socket is never removed). Does nothing after the first call, or for TCP.
  void Withdraw();

 private:
  bool OpenUnix(const std::string& path, std::string& error);
  bool OpenTcp(const std::string& address, std::string& error);

  int fd_ = -1;
  std::string path_;  // the unix socket's path while it names this socket
  dev_t device_ = 0;  // the path's file, to recognise it at Withdraw
  ino_t inode_ = 0;
};
