#include "engine/fastcgi_startup.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/cgi_startup.h"
#include "platform/environment.h"

namespace {

constexpr int kBacklog = 128;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

int OpenUnixSocket(const std::string& path, std::string& error) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) {
    error = "socket path too long: " + path;
    return -1;
  }
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    // Only a socket a previous run left behind is replaced, never a file that happens to
    // carry the name.
    if (!S_ISSOCK(info.st_mode)) {
      error = "not a socket, left alone: " + path;
      return -1;
    }
    unlink(path.c_str());
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, kBacklog) != 0) {
    error = "cannot listen on " + path + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

int OpenTcpSocket(const std::string& address, std::string& error) {
  const size_t colon = address.rfind(':');
  std::string host = address.substr(0, colon);
  const std::string port = address.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty() || port.empty()) {
    error = "expected a unix socket path or host:port: " + address;
    return -1;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = "cannot resolve " + address + ": " + gai_strerror(rc);
    return -1;
  }
  int fd = -1;
  std::string reason = "no address";
  for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    fd = socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, entry->ai_addr, entry->ai_addrlen) == 0 && listen(fd, kBacklog) == 0) break;
    reason = std::strerror(errno);
    close(fd);
    fd = -1;
  }
  freeaddrinfo(found);
  if (fd < 0) error = "cannot listen on " + address + ": " + reason;
  return fd;
}

}  // namespace

bool IsListeningSocket(int fd) {
  int listening = 0;
  socklen_t size = sizeof listening;
  return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening != 0;
}

bool IsFastCGI() {
  // A visitor can never make standard input a listening socket; parameters, though, may come
  // from a query string when a web server started the process.
  if (IsListeningSocket(0)) return true;
  if (StartedByWebServer()) return false;
  const std::vector<std::string> params = CommandLineParams();
  return !params.empty() && StartsWith(params[0], "--");
}

bool ParseFastCGIOptions(const std::vector<std::string>& params, TFastCGIOptions& options,
                         std::string& error) {
  for (size_t i = 0; i < params.size(); ++i) {
    const std::string& name = params[i];
    if (name != "--fastcgi" && name != "--threads") {
      error = "unknown option: " + name;
      return false;
    }
    if (i + 1 >= params.size() || params[i + 1].empty()) {
      error = "missing value for " + name;
      return false;
    }
    const std::string& value = params[++i];
    if (name == "--fastcgi") {
      options.Address = value;
      continue;
    }
    if (value.size() > 3 || value.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(value) < 1 || std::stoi(value) > kMaxFastCGIThreads) {
      error =
          "--threads takes a number from 1 to " + std::to_string(kMaxFastCGIThreads) + ": " + value;
      return false;
    }
    options.Threads = std::stoi(value);
  }
  return true;
}

int OpenFastCGISocket(const std::string& address, std::string& error) {
  if (address.find('/') != std::string::npos) return OpenUnixSocket(address, error);
  if (address.find(':') == std::string::npos) {
    error = "expected a unix socket path or host:port: " + address;
    return -1;
  }
  return OpenTcpSocket(address, error);
}
