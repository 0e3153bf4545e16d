#pragma once

// The web server's side of FastCGI for process-level tests: a resident brevix.cgi started with
// its options (or with a listening socket on standard input, as systemd hands it over), and a
// client that sends one responder request over a unix socket and collects the answer, written
// from the protocol specification's record layout so that it shares nothing with libfcgi.

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fastcgi_test {

enum RecordType : unsigned char {
  kBeginRequest = 1,
  kEndRequest = 3,
  kParams = 4,
  kStdin = 5,
  kStdout = 6,
  kStderr = 7,
};

struct Answer {
  bool complete = false;  // an END_REQUEST record arrived
  std::string output;     // the FCGI_STDOUT bytes: headers, blank line, body
  std::string error;      // the FCGI_STDERR bytes
};

inline void AppendRecord(std::string& out, unsigned char type, const std::string& content) {
  // Content is cut into records of at most 65535 bytes; an empty content is the stream's end.
  size_t at = 0;
  do {
    const size_t length = std::min<size_t>(content.size() - at, 65535);
    const char kind = static_cast<char>(type), high = static_cast<char>(length >> 8),
               low = static_cast<char>(length & 0xff);
    out += {'\1', kind, '\0', '\1', high, low, '\0', '\0'};  // version 1, request id 1
    out.append(content, at, length);
    at += length;
  } while (at < content.size());
}

inline void AppendLength(std::string& out, size_t length) {
  if (length < 128) {
    out += static_cast<char>(length);
    return;
  }
  out += static_cast<char>(0x80 | ((length >> 24) & 0x7f));
  out += static_cast<char>((length >> 16) & 0xff);
  out += static_cast<char>((length >> 8) & 0xff);
  out += static_cast<char>(length & 0xff);
}

// A stream socket on the unix socket `path`: connected, or (`listen`) bound and listening as
// systemd's socket unit holds it. -1 when that fails.
inline int UnixSocket(const std::string& path, bool listen = false) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const auto* at = reinterpret_cast<sockaddr*>(&address);
  if (fd >= 0 && (listen ? bind(fd, at, sizeof address) == 0 && ::listen(fd, 128) == 0
                         : connect(fd, at, sizeof address) == 0)) {
    return fd;
  }
  if (fd >= 0) close(fd);
  return -1;
}

inline void SendAll(int fd, const std::string& out) {
  for (size_t sent = 0; sent < out.size();) {
    const ssize_t n = send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
}

// Connects to the unix socket `path` and sends one responder request with `params` and `body`;
// returns the connection (-1 when nobody answers). Without `end_body` the body's closing empty
// record is not sent: the body goes on with SendBodyEnd, or never (a client that stopped).
inline int SendRequest(const std::string& path, const std::map<std::string, std::string>& params,
                       const std::string& body, bool end_body = true) {
  const int fd = UnixSocket(path);
  if (fd < 0) return fd;
  const timeval limit{60, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string out;
  AppendRecord(out, kBeginRequest, std::string("\0\1\0\0\0\0\0\0", 8));
  std::string pairs;
  for (const auto& [name, value] : params) {
    AppendLength(pairs, name.size());
    AppendLength(pairs, value.size());
    pairs += name + value;
  }
  if (!pairs.empty()) AppendRecord(out, kParams, pairs);
  AppendRecord(out, kParams, "");
  if (!body.empty()) AppendRecord(out, kStdin, body);
  if (end_body) AppendRecord(out, kStdin, "");
  SendAll(fd, out);
  return fd;
}

// Sends the rest of a body SendRequest began without its end, and the end.
inline void SendBodyEnd(int fd, const std::string& rest) {
  std::string out;
  if (!rest.empty()) AppendRecord(out, kStdin, rest);
  AppendRecord(out, kStdin, "");
  SendAll(fd, out);
}

// Reads the answer on the connection `fd` until END_REQUEST, the connection's end or 60 s of
// silence, and closes it.
inline Answer ReadAnswer(int fd) {
  Answer answer;
  if (fd < 0) return answer;
  std::string in;
  char block[8192];
  for (;;) {
    while (in.size() >= 8) {
      const auto* header = reinterpret_cast<const unsigned char*>(in.data());
      const size_t length = (header[4] << 8) | header[5];
      const size_t total = 8 + length + header[6];
      if (in.size() < total) break;
      if (header[1] == kStdout) answer.output.append(in, 8, length);
      if (header[1] == kStderr) answer.error.append(in, 8, length);
      if (header[1] == kEndRequest) answer.complete = true;
      in.erase(0, total);
    }
    if (answer.complete) break;
    const ssize_t n = recv(fd, block, sizeof block, 0);
    if (n <= 0) break;
    in.append(block, static_cast<size_t>(n));
  }
  close(fd);
  return answer;
}

// One request on a connection of its own: SendRequest, then ReadAnswer.
inline Answer Request(const std::string& path, const std::map<std::string, std::string>& params,
                      const std::string& body, bool end_body = true) {
  return ReadAnswer(SendRequest(path, params, body, end_body));
}

// A resident brevix.cgi: started with `args` (and, given `stdin_fd`, that descriptor as its
// standard input), standard output and error captured in `log_path`, and stopped again.
class FastCgiProcess {
 public:
  FastCgiProcess() = default;
  ~FastCgiProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  FastCgiProcess(const FastCgiProcess&) = delete;
  FastCgiProcess& operator=(const FastCgiProcess&) = delete;

  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::string& log_path, int stdin_fd = -1) {
    const char* tsan = std::getenv("TSAN_OPTIONS");
    std::string path = "PATH=/usr/bin:/bin",
                tsan_options = std::string("TSAN_OPTIONS=") + (tsan != nullptr ? tsan : "");
    char* envp[] = {path.data(), tsan_options.data(), nullptr};
    std::vector<std::string> arg_strings{program};
    arg_strings.insert(arg_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : arg_strings) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      const int null = open("/dev/null", O_RDWR);
      const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(stdin_fd >= 0 ? stdin_fd : null, STDIN_FILENO);
      dup2(log, STDOUT_FILENO);
      dup2(log, STDERR_FILENO);
      execve(program.c_str(), argv.data(), envp);
      _exit(127);
    }
    return true;
  }

  // Waits until the unix socket `path` accepts a connection (20 s at most).
  static bool WaitForSocket(const std::string& path) {
    for (int round = 0; round < 2000; ++round) {
      const int fd = UnixSocket(path);
      if (fd >= 0) {
        close(fd);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  void Signal(int signal_number) const {
    if (pid_ > 0) kill(pid_, signal_number);
  }

  // Sends `signal_number` to each of the process's threads: a process-wide signal may be handled
  // by any of them.
  void SignalEveryThread(int signal_number) const {
    for (const auto& task : std::filesystem::directory_iterator(
             "/proc/" + std::to_string(pid_) + "/task",
             std::filesystem::directory_options::skip_permission_denied)) {
      syscall(SYS_tgkill, pid_, std::stoi(task.path().filename()), signal_number);
    }
  }

  // The exit code once the process has ended, within `limit`; nothing when it has not ended
  // (it is then killed) or ended through a signal.
  std::optional<int> Wait(std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        return std::nullopt;
      }
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }

 private:
  pid_t pid_ = 0;
};

}  // namespace fastcgi_test
