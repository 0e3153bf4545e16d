// The client side of server mode: a CGI process that hands its request to the resident
// request server and copies the answer back, and the start of a server when none runs.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/exception.h"
#include "common/module_path.h"
#include "engine/http_log.h"
#include "engine/request_server.h"
#include "engine/spool_files.h"
#include "engine/watchdog.h"

namespace {

using spool::Clock;

constexpr int kCopyBlock = 1032;
constexpr std::chrono::seconds kWriteTimeout{30};
// How long a new server may take until its marker appears.
constexpr std::chrono::milliseconds kServerStartWait{600};
// How often the forwarder looks whether the server still runs when no pidfd is available.
constexpr std::chrono::seconds kServerCheck{1};

bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// Waits (on folder events) until the marker exists, at most `limit`.
bool WaitForMarker(spool::TSpoolWatch& watch, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!FileExists(ServerMarkerFile())) {
    if (Clock::now() >= deadline) return false;
    watch.Wait(deadline);
  }
  return true;
}

// A descriptor that becomes readable when the process ends (-1 when the kernel has none).
int OpenPidFd(pid_t pid) {
  if (pid <= 0) return -1;
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

bool ServerGone(pid_t pid, int pid_fd) {
  if (pid_fd >= 0) {
    pollfd entry{pid_fd, POLLIN, 0};
    return poll(&entry, 1, 0) > 0;
  }
  return pid > 0 && !spool::ProcessExists(pid);
}

// CR or LF inside a value would end the variable block early in the request file.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

int ContentLengthOf(const TStringList& variables) {
  const std::string text = variables.Values("CONTENT_LENGTH");
  if (text.empty() || text.size() > 10 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return 0;
  }
  return static_cast<int>(std::min<long long>(std::stoll(text), 0x7FFFFFFF));
}

// Reads one block of the request body; a descriptor stream is waited on first, so that a
// non-blocking standard input is read as well. The watchdog bounds the wait.
int ReadBlock(TStream& input, char* buffer, int count) {
  if (auto* handle = dynamic_cast<THandleStream*>(&input)) {
    pollfd entry{handle->Handle(), POLLIN, 0};
    while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
  }
  return input.Read(buffer, count);
}

// Writes the request file under its writing name, then renames it to its stage name. The
// watchdog ends the process (and deletes the half-written file) when writing stalls.
void WriteRequestFile(const std::string& base, TStream& input, const TStringList& variables) {
  const std::string writing = base + spool::kWritingStage;
  const int fd = spool::CreateSpoolFile(writing);
  if (fd < 0) throw Exception("Cannot create file \"" + writing + "\"");
  watchdog::Start();
  watchdog::RegisterTempFile(writing);
  {
    THandleStream file(fd, true);
    for (const std::string& variable : variables) {
      if (variable.empty()) continue;
      watchdog::Arm(kWriteTimeout);
      file.WriteString(OneLine(variable) + "\r\n");
    }
    file.WriteString("\r\n");
    char block[kCopyBlock];
    for (int left = ContentLengthOf(variables); left > 0;) {
      watchdog::Arm(kWriteTimeout);
      const int n = ReadBlock(input, block, std::min(left, kCopyBlock));
      if (n <= 0) break;
      if (file.Write(block, n) != n) throw Exception("Cannot write file \"" + writing + "\"");
      left -= n;
    }
    watchdog::Disarm();
  }
  watchdog::UnregisterTempFile(writing);
  if (rename(writing.c_str(), (base + spool::kRequestStage).c_str()) != 0) {
    unlink(writing.c_str());
    throw Exception("Cannot create file \"" + base + spool::kRequestStage + "\"");
  }
}

void CopyAnswer(const std::string& path, TStream& output) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Exception("Cannot open file \"" + path + "\"");
  }
  // The answer leaves the spool before a byte of it reaches the web server: a server that has
  // its whole answer may end this process at once (lighttpd does), and nothing may stay behind.
  unlink(path.c_str());
  THandleStream answer(fd, true);
  char block[kCopyBlock];
  for (;;) {
    const int n = answer.Read(block, kCopyBlock);
    if (n <= 0) break;
    // A web server that stops taking the answer ends the forwarder after the same time.
    watchdog::Arm(kWriteTimeout);
    output.Write(block, n);
  }
  watchdog::Disarm();
}

void Forward(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
             std::unique_ptr<TStringList> variables) {
  if (!spool::EnsureSpoolDir()) {
    throw Exception("Cannot create folder \"" + spool::SpoolDir() + "\"");
  }
  spool::TSpoolWatch watch;
  // A server that is still starting gets one marker period to write its marker; a request
  // spooled before that would be cleared by its start.
  if (!WaitForMarker(watch, spool::kMarkerRefresh)) {
    throw Exception("Server mode - Server not running");
  }
  const pid_t pid = spool::ServerPidFromMarker();
  const int pid_fd = OpenPidFd(pid);
  watch.AddDescriptor(pid_fd);
  struct PidFdCloser {
    int fd;
    ~PidFdCloser() {
      if (fd >= 0) close(fd);
    }
  } closer{pid_fd};

  // Answers that wait to be collected are no clients: a visitor who goes away must not hold a
  // place (the server removes such answers once nobody can be waiting for them).
  if (spool::WaitingRequestCount() >= spool::kMaxClients) {
    throw Exception("Server mode - Too many clients");
  }
  std::string address = variables->Values("REMOTE_ADDR");
  if (address.empty()) address = variables->Values("REMOTE_ADDRESS");
  const std::string base = spool::NewRequestBase(address);
  WriteRequestFile(base, *input, *variables);
  input.reset();

  const std::string response = base + spool::kResponseStage;
  const auto deadline = Clock::now() + spool::kAnswerWait;
  bool given_up = false;
  while (!FileExists(response)) {
    if (!FileExists(ServerMarkerFile())) break;
    if (ServerGone(pid, pid_fd) || Clock::now() >= deadline) {
      given_up = true;
      break;
    }
    watch.Wait(std::min(deadline, Clock::now() + kServerCheck));
  }
  if (FileExists(response)) {
    CopyAnswer(response, *output);
    output.reset();
  } else if (given_up) {
    // A dead or hung server: clearing the spool removes its marker, which stops a hung one.
    spool::DeleteFilesStartingWith(SpoolBase());
  }
  unlink(response.c_str());
  spool::DeleteFilesOlderThan(spool::SpoolDir(), spool::kStalePattern,
                              std::chrono::system_clock::now() - spool::kStaleAge);
}

}  // namespace

void ForwardToServer(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
                     std::unique_ptr<TStringList> variables) {
  try {
    if (!variables) variables = std::make_unique<TStringList>();
    Forward(std::move(input), std::move(output), std::move(variables));
  } catch (const std::exception& error) {
    WriteHttpLog(error.what());
  }
}

void StartRequestServer() {
  const std::string program = ModuleFileName();
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal_number : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD}) {
    sigaddset(&defaults, signal_number);
  }
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  // Nothing of the CGI process may reach the server: above all not the pipe to the web
  // server, which would wait for the server's end before it finishes this answer.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  std::string arg_program = program;
  std::string arg_start = "$$START_SERVER";
  std::string arg_x = "X";
  char* argv[] = {arg_program.data(), arg_start.data(), arg_x.data(), nullptr};
  // A clean environment: the server must not take this request's variables for its own.
  const char* path = std::getenv("PATH");
  std::string path_entry = std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin");
  const char* log_dir = std::getenv("CGI_LOG_DIR");
  std::string log_entry = std::string("CGI_LOG_DIR=") + (log_dir != nullptr ? log_dir : "");
  std::vector<char*> envp{path_entry.data()};
  if (log_dir != nullptr && *log_dir != '\0') envp.push_back(log_entry.data());
#if defined(__SANITIZE_THREAD__)
  // A ThreadSanitizer build's server reports where the build's tests look for reports.
  const char* tsan = std::getenv("TSAN_OPTIONS");
  std::string tsan_entry = std::string("TSAN_OPTIONS=") + (tsan != nullptr ? tsan : "");
  if (tsan != nullptr) envp.push_back(tsan_entry.data());
#endif
  envp.push_back(nullptr);

  pid_t pid = 0;
  const int failed = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) {
    WriteHttpLog(std::string("Server mode - cannot start the server: ") + std::strerror(failed));
    return;
  }
  if (spool::EnsureSpoolDir()) {
    spool::TSpoolWatch watch;
    WaitForMarker(watch, kServerStartWait);
  }
}
