#include "platform/listening_socket.h"

#include <fcntl.h>
#include <grp.h>
#include <netdb.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/file_lock.h"

namespace {

constexpr int kBacklog = 128;

// How long a TCP connect to the address may take before the probe gives up on it.
constexpr int kProbeWaitMs = 1000;

enum class Listener { kLive, kNobody, kUnknown };

// Whether a process listens on `address`: a connection is accepted, or (a unix socket whose
// queue is full) the connect would wait; nobody when it is refused. `reason` says why it is
// unknown otherwise (no permission to connect, say).
Listener Probe(const sockaddr* address, socklen_t size, std::string& reason) {
  const TFileDescriptor fd(
      socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) {
    reason = std::strerror(errno);
    return Listener::kUnknown;
  }
  int error = connect(fd.Get(), address, size) == 0 ? 0 : errno;
  if (error == EINPROGRESS) {
    pollfd entry{fd.Get(), POLLOUT, 0};
    socklen_t length = sizeof error;
    if (poll(&entry, 1, kProbeWaitMs) != 1 ||
        getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
      error = ETIMEDOUT;
    }
  }
  if (error == 0 || error == EAGAIN) return Listener::kLive;
  if (error == ECONNREFUSED || error == ENOENT) return Listener::kNobody;
  reason = std::strerror(error);
  return Listener::kUnknown;
}

std::string LiveMessage(const std::string& address) {
  return "another process already serves " + address +
         "; it is left running (stop it first, or restart it through its socket unit)";
}

// The folder of a path that contains a "/".
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

TListeningSocket::~TListeningSocket() {
  Withdraw();
}

bool TListeningSocket::OpenUnix(const std::string& path, const std::string& group,
                                std::string& error) {
  // The check for a live server and the replacement of a stale file are one step: two instances
  // started together would otherwise both find the file stale and each unlink the other's new
  // socket. Without the folder's lock (a folder that cannot be read) the check still holds, only
  // not against a start at the same moment.
  const TFileDescriptor folder(open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ScopedFileLock lock(folder.Get());
  return OpenUnixLocked(path, group, error);
}

bool TListeningSocket::OpenUnixLocked(const std::string& path, const std::string& group,
                                      std::string& error) {
  gid_t gid = static_cast<gid_t>(-1);
  if (!group.empty()) {
    struct group buffer_entry {};
    struct group* found = nullptr;
    std::vector<char> text(16384);
    if (getgrnam_r(group.c_str(), &buffer_entry, text.data(), text.size(), &found) != 0 ||
        found == nullptr) {
      error = "no such group: " + group;
      return false;
    }
    gid = found->gr_gid;
  }
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) {
    error = "socket path too long: " + path;
    return false;
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const auto* any = reinterpret_cast<const sockaddr*>(&address);
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    // Only a socket nobody answers on any more is replaced, never a file that happens to carry
    // the name, nor the socket of a process still serving it.
    if (!S_ISSOCK(info.st_mode)) {
      error = "not a socket, left alone: " + path;
      return false;
    }
    std::string reason;
    switch (Probe(any, sizeof address, reason)) {
      case Listener::kLive:
        error = LiveMessage(path);
        return false;
      case Listener::kUnknown:
        error =
            "cannot tell whether another process serves " + path + " (" + reason + "); left alone";
        return false;
      case Listener::kNobody:
        unlink(path.c_str());
        break;
    }
  }
  // The mode and group are set between bind and listen: until listen, every connect is
  // refused, so nobody the mode would keep out gets a connection in while the umask's mode holds.
  TFileDescriptor fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd || bind(fd.Get(), any, sizeof address) != 0) {
    error = "cannot listen on " + path + ": " + std::strerror(errno);
    return false;
  }
  if (chmod(path.c_str(), 0660) != 0 ||
      (gid != static_cast<gid_t>(-1) && chown(path.c_str(), static_cast<uid_t>(-1), gid) != 0) ||
      listen(fd.Get(), kBacklog) != 0 || lstat(path.c_str(), &info) != 0) {
    error = "cannot listen on " + path + (group.empty() ? "" : " with group " + group) + ": " +
            std::strerror(errno);
    unlink(path.c_str());
    return false;
  }
  fd_ = std::move(fd);
  path_ = path;
  device_ = info.st_dev;
  inode_ = info.st_ino;
  return true;
}

bool TListeningSocket::OpenTcp(const std::string& host, const std::string& port,
                               const std::string& address, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = "cannot resolve " + address + ": " + gai_strerror(rc);
    return false;
  }
  TFileDescriptor fd;
  error = "cannot listen on " + address + ": no address";
  for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    std::string reason;
    if (Probe(entry->ai_addr, entry->ai_addrlen, reason) == Listener::kLive) {
      error = LiveMessage(address);
      break;
    }
    fd.Reset(socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol));
    if (!fd) continue;
    const int on = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd.Get(), entry->ai_addr, entry->ai_addrlen) == 0 && listen(fd.Get(), kBacklog) == 0)
      break;
    error = "cannot listen on " + address + ": " + std::strerror(errno);
    fd.Reset();
  }
  freeaddrinfo(found);
  fd_ = std::move(fd);
  return fd_.IsOpen();
}

void TListeningSocket::Withdraw() {
  if (path_.empty()) return;
  struct stat info {};
  if (lstat(path_.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_dev == device_ &&
      info.st_ino == inode_) {
    unlink(path_.c_str());
  }
  path_.clear();
}

TAcceptResult AcceptConnection(int listen_fd, TFileDescriptor& connection, TNetworkAddress& peer) {
  peer = TNetworkAddress{};
  socklen_t size = sizeof peer.storage;
  connection.Reset(
      accept4(listen_fd, reinterpret_cast<sockaddr*>(&peer.storage), &size, SOCK_CLOEXEC));
  if (!connection) {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED
               ? TAcceptResult::kLost
               : TAcceptResult::kFailed;
  }
  peer.length = size;
  return TAcceptResult::kTaken;
}
