#include "engine/adapters/fastcgi_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
  const int fd = socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    reason = std::strerror(errno);
    return Listener::kUnknown;
  }
  int error = connect(fd, address, size) == 0 ? 0 : errno;
  if (error == EINPROGRESS) {
    pollfd entry{fd, POLLOUT, 0};
    socklen_t length = sizeof error;
    if (poll(&entry, 1, kProbeWaitMs) != 1 ||
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
      error = ETIMEDOUT;
    }
  }
  close(fd);
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

TFastCGISocket::~TFastCGISocket() {
  Withdraw();
  if (fd_ >= 0) close(fd_);
}

bool TFastCGISocket::Open(const std::string& address, const std::string& group,
                          std::string& error) {
  if (address.find('/') != std::string::npos) {
    // The check for a live server and the replacement of a stale file are one step: two
    // instances started together would otherwise both find the file stale and each unlink the
    // other's new socket. Without the folder's lock (a folder that cannot be read) the check
    // still holds, only not against a start at the same moment.
    const int folder = open(FolderOf(address).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool opened = false;
    {
      ScopedFileLock lock(folder);
      opened = OpenUnix(address, group, error);
    }
    if (folder >= 0) close(folder);
    return opened;
  }
  if (!group.empty()) {
    error = "--socket-group applies to a unix socket only: " + address;
    return false;
  }
  if (address.find(':') == std::string::npos) {
    error = "expected a unix socket path or host:port: " + address;
    return false;
  }
  return OpenTcp(address, error);
}

bool TFastCGISocket::OpenUnix(const std::string& path, const std::string& group,
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
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || bind(fd, any, sizeof address) != 0) {
    error = "cannot listen on " + path + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  if (chmod(path.c_str(), 0660) != 0 ||
      (gid != static_cast<gid_t>(-1) && chown(path.c_str(), static_cast<uid_t>(-1), gid) != 0) ||
      listen(fd, kBacklog) != 0 || lstat(path.c_str(), &info) != 0) {
    error = "cannot listen on " + path + (group.empty() ? "" : " with group " + group) + ": " +
            std::strerror(errno);
    unlink(path.c_str());
    close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  device_ = info.st_dev;
  inode_ = info.st_ino;
  return true;
}

bool TFastCGISocket::OpenTcp(const std::string& address, std::string& error) {
  const size_t colon = address.rfind(':');
  std::string host = address.substr(0, colon);
  const std::string port = address.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty() || port.empty()) {
    error = "expected a unix socket path or host:port: " + address;
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = "cannot resolve " + address + ": " + gai_strerror(rc);
    return false;
  }
  int fd = -1;
  error = "cannot listen on " + address + ": no address";
  for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    std::string reason;
    if (Probe(entry->ai_addr, entry->ai_addrlen, reason) == Listener::kLive) {
      error = LiveMessage(address);
      break;
    }
    fd = socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, entry->ai_addr, entry->ai_addrlen) == 0 && listen(fd, kBacklog) == 0) break;
    error = "cannot listen on " + address + ": " + std::strerror(errno);
    close(fd);
    fd = -1;
  }
  freeaddrinfo(found);
  fd_ = fd;
  return fd >= 0;
}

void TFastCGISocket::Withdraw() {
  if (path_.empty()) return;
  struct stat info {};
  if (lstat(path_.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_dev == device_ &&
      info.st_ino == inode_) {
    unlink(path_.c_str());
  }
  path_.clear();
}

namespace {

// The peer's address in IPv6 form (IPv4 as IPv4-mapped); false for other families.
bool Normalised(const sockaddr* peer, std::array<unsigned char, 16>& out) {
  if (peer->sa_family == AF_INET6) {
    std::memcpy(out.data(), &reinterpret_cast<const sockaddr_in6*>(peer)->sin6_addr, 16);
    return true;
  }
  if (peer->sa_family == AF_INET) {
    out.fill(0);
    out[10] = out[11] = 0xff;
    std::memcpy(out.data() + 12, &reinterpret_cast<const sockaddr_in*>(peer)->sin_addr, 4);
    return true;
  }
  return false;
}

bool IsLoopback(const std::array<unsigned char, 16>& address) {
  static constexpr std::array<unsigned char, 16> kIpv6Loopback{0, 0, 0, 0, 0, 0, 0, 0,
                                                               0, 0, 0, 0, 0, 0, 0, 1};
  static constexpr unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  return address == kIpv6Loopback ||
         (std::memcmp(address.data(), kMappedPrefix, 12) == 0 && address[12] == 127);
}

}  // namespace

bool TClientFilter::Parse(const std::string& list, std::string& error) {
  listed_.clear();
  // Split at the commas by hand: a string stream here would link the C++ library's locale and
  // stream machinery into the program, whose start-up every CGI submission pays for. An empty
  // piece is an error, except after a final comma.
  for (size_t start = 0; start < list.size();) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string entry = list.substr(start, comma - start);
    start = comma + 1;
    const size_t first = entry.find_first_not_of(" \t");
    const size_t last = entry.find_last_not_of(" \t");
    entry = first == std::string::npos ? std::string() : entry.substr(first, last - first + 1);
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    std::array<unsigned char, 16> address{};
    if (inet_pton(AF_INET, entry.c_str(), &v4.sin_addr) == 1) {
      v4.sin_family = AF_INET;
      Normalised(reinterpret_cast<const sockaddr*>(&v4), address);
    } else if (inet_pton(AF_INET6, entry.c_str(), &v6.sin6_addr) == 1) {
      v6.sin6_family = AF_INET6;
      Normalised(reinterpret_cast<const sockaddr*>(&v6), address);
    } else {
      error = "--allow-clients takes IP addresses separated by commas: \"" + entry + "\"";
      return false;
    }
    listed_.push_back(address);
  }
  if (listed_.empty()) {
    error = "--allow-clients names no address";
    return false;
  }
  return true;
}

bool TClientFilter::Allows(const sockaddr* peer) const {
  std::array<unsigned char, 16> address{};
  if (!Normalised(peer, address)) return true;
  if (listed_.empty()) return IsLoopback(address);
  for (const auto& allowed : listed_) {
    if (allowed == address) return true;
  }
  return false;
}

std::string TClientFilter::Describe(const sockaddr_storage& peer) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (peer.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr, text, sizeof text);
  } else if (peer.ss_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr, text,
              sizeof text);
  }
  return text;
}
