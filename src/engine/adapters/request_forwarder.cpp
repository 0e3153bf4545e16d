// The client side of server mode: a CGI process that hands its request to the resident
// request server and copies the answer back, or serves it itself when the server cannot.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "common/exception.h"
#include "platform/module_path.h"
#include "common/text_compare.h"
#include "engine/adapters/handover_journal.h"
#include "engine/adapters/http_cgi_engine.h"
#include "engine/adapters/request_server.h"
#include "engine/adapters/spool_files.h"
#include "engine/adapters/spool_owners.h"
#include "engine/http_log.h"
#include "engine/request_context.h"
#include "engine/watchdog.h"

namespace {

using spool::Clock;

constexpr int kCopyBlock = 1032;
constexpr std::chrono::seconds kWriteTimeout{30};
// How often the forwarder looks whether the server still runs when no pidfd is available.
constexpr std::chrono::seconds kServerCheck{1};

bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// A descriptor that becomes readable when the process ends (-1 when the kernel has none).
int OpenPidFd(pid_t pid) {
  if (pid <= 0) return -1;
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
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
// non-blocking standard input is read as well. Returns -1 once `deadline` has passed.
int ReadBlock(TStream& input, char* buffer, int count, Clock::time_point deadline) {
  if (auto* handle = dynamic_cast<THandleStream*>(&input)) {
    pollfd entry{handle->Handle(), POLLIN, 0};
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return -1;
      const int ready = poll(&entry, 1, static_cast<int>(left.count()));
      if (ready > 0) break;
      if (ready < 0 && errno != EINTR) return -1;
    }
  }
  return input.Read(buffer, count);
}

void CopyAnswer(const std::string& path, TStream& output) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
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

std::optional<std::string> ReadWholeSmallFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  std::string text;
  char block[512];
  for (ssize_t n; text.size() < 4096 && (n = read(fd, block, sizeof block)) > 0;) {
    text.append(block, static_cast<size_t>(n));
  }
  close(fd);
  return text;
}

// The live request server, as a forwarder finds it.
struct TServer {
  pid_t pid = 0;
  int pid_fd = -1;  // readable once the process ends; -1 when the kernel has none
};

// One request on its way through the spool. It owns the request file's descriptor, whose lock
// tells the server and the other forwarders that this forwarder is alive, and through which the
// request is read back should the server not serve it.
class TForwarder {
 public:
  TForwarder(THttpCGIEngine& adapter, std::unique_ptr<TStream> input,
             std::unique_ptr<TStream> output, std::unique_ptr<TStringList> variables)
      : adapter_(adapter),
        input_(std::move(input)),
        output_(std::move(output)),
        variables_(variables ? std::move(variables) : std::make_unique<TStringList>()) {}
  ~TForwarder() {
    if (request_fd_ >= 0) close(request_fd_);
    if (server_.pid_fd >= 0) close(server_.pid_fd);
  }
  TForwarder(const TForwarder&) = delete;
  TForwarder& operator=(const TForwarder&) = delete;

  void Run() {
    // Without a spool of its own (the reason is logged) the request is served here.
    if (!spool::EnsureSpoolDir()) return ServeHere("");
    spool::DeleteAbandonedRequests(false);
    // A body over the site's limit is refused here, before a byte of it is read or spooled.
    const int limit = adapter_.AutoReadLimit();
    if (limit > 0 && ContentLengthOf(*variables_) > limit) return ServeHere("");
    if (!FindServer()) return ServeHere("Server mode - Server not running");
    if (spool::WaitingRequestCount() >= spool::kMaxClients) {
      return ServeHere("Server mode - Too many clients");
    }
    if (!SpoolRequest()) return;
    WaitForAnswer();
  }

 private:
  // A server counts when it holds the lock, has written its marker with its process id, that
  // process exists and it refreshed its marker lately (a server whose marker grew old hangs).
  bool FindServer() {
    if (!spool::ServerLockHeld()) return false;
    // A server that is still starting gets one marker period to write its marker (a marker
    // left by an ended server names a process that is gone).
    spool::TSpoolWatch watch;
    const auto deadline = Clock::now() + spool::kMarkerRefresh;
    while (!spool::ProcessExists(server_.pid = spool::ServerPidFromMarker())) {
      if (Clock::now() >= deadline || !spool::ServerLockHeld()) return false;
      watch.Wait(std::min(deadline, Clock::now() + kServerCheck));
    }
    if (MarkerStale()) return false;
    server_.pid_fd = OpenPidFd(server_.pid);
    return true;
  }

  static bool MarkerStale() {
    struct stat info {};
    if (stat(ServerMarkerFile().c_str(), &info) != 0) return true;
    const auto stamp = std::chrono::system_clock::from_time_t(info.st_mtime);
    return stamp < std::chrono::system_clock::now() - 2 * spool::kMarkerRefresh;
  }

  // Writes the request file under its writing name, then renames it to its stage name. False
  // when the request was served here instead (the body ended early, or the spool failed). The
  // watchdog ends the process (and deletes the half-written file) when the body stalls.
  bool SpoolRequest() {
    std::string address = variables_->Values("REMOTE_ADDR");
    if (address.empty()) address = variables_->Values("REMOTE_ADDRESS");
    base_ = spool::NewRequestBase(address);
    const std::string writing = base_ + spool::kWritingStage;
    request_fd_ = spool::CreateLockedRequestFile(writing);
    if (request_fd_ < 0) {
      ServeHere("Cannot create file \"" + writing + "\"");
      return false;
    }
    watchdog::Start();
    watchdog::RegisterTempFile(writing);
    THandleStream file(request_fd_);
    std::string header;
    for (const std::string& variable : *variables_) {
      if (!variable.empty()) header += OneLine(variable) + "\r\n";
    }
    header += "\r\n";
    body_offset_ = static_cast<int64_t>(header.size());
    bool whole = file.Write(header.data(), static_cast<int>(header.size())) ==
                 static_cast<int>(header.size());
    const int length = ContentLengthOf(*variables_);
    int copied = 0;
    char block[kCopyBlock];
    // However steadily it trickles in, the whole body must arrive within the engine's limit.
    const auto deadline = Clock::now() + kBodyTimeLimit;
    bool late = false;
    while (whole && copied < length) {
      watchdog::Arm(std::min<Clock::duration>(kWriteTimeout, deadline - Clock::now()) +
                    std::chrono::seconds(5));
      const int n = ReadBlock(*input_, block, std::min(length - copied, kCopyBlock), deadline);
      // A body that ends early or late is the engine's to refuse: it is served here, never
      // spooled.
      late = n < 0 && Clock::now() >= deadline;
      if (n <= 0) break;
      whole = file.Write(block, n) == n;
      copied += n;
    }
    watchdog::Disarm();
    watchdog::UnregisterTempFile(writing);
    std::string failure = late ? kBodyTimeoutMessage : "";
    if (!whole) {
      failure = "Cannot write file \"" + writing + "\"";
    } else if (copied == length &&
               rename(writing.c_str(), (base_ + spool::kRequestStage).c_str()) != 0) {
      failure = "Cannot create file \"" + base_ + spool::kRequestStage + "\"";
    }
    if (failure.empty() && copied == length) return true;
    unlink(writing.c_str());
    ServeFromFile(failure);
    return false;
  }

  void WaitForAnswer() {
    spool::TSpoolWatch watch;
    watch.AddDescriptor(server_.pid_fd);
    const std::string response = base_ + spool::kResponseStage;
    const auto deadline = Clock::now() + spool::kAnswerWait;
    for (;;) {
      if (FileExists(response)) return CollectAnswer();
      if (!FileExists(ServerMarkerFile()) || ServerGone()) {
        return TakeBack("Server mode - Server ended before answering",
                        Clock::now() + spool::kAnswerWait);
      }
      if (Clock::now() >= deadline || MarkerStale()) {
        return TakeBack("Server mode - Server did not answer in time", Clock::now());
      }
      watch.Wait(std::min(deadline, Clock::now() + kServerCheck));
    }
  }

  bool ServerGone() const {
    if (server_.pid_fd >= 0) {
      pollfd entry{server_.pid_fd, POLLIN, 0};
      return poll(&entry, 1, 0) > 0;
    }
    return !spool::ProcessExists(server_.pid);
  }

  // The server will not answer: the request is served here, knowing what the server did.
  // `wait_until`: how long a live server that holds the request may still take to answer.
  void TakeBack(const std::string& why, Clock::time_point wait_until) {
    const std::string back = base_ + spool::kTakenBackStage;
    if (rename((base_ + spool::kRequestStage).c_str(), back.c_str()) == 0) {
      // The server never took it: nothing of it happened yet.
      unlink(back.c_str());
      return ServeFromFile(why);
    }
    // The server took it. While a live server holds it (this one finishing as it stops, or a
    // newer one that took it after this one ended), that server answers; one that holds it past
    // the wait hangs, and is stopped first, so that it cannot go on to send what this process
    // is about to.
    const std::string response = base_ + spool::kResponseStage;
    spool::TSpoolWatch watch;
    while (!FileExists(response) && spool::TakenByLiveServer(request_fd_) &&
           Clock::now() < wait_until) {
      watch.Wait(std::min(wait_until, Clock::now() + kServerCheck));
    }
    if (!FileExists(response) && spool::TakenByLiveServer(request_fd_)) StopHungServer();
    if (FileExists(response)) return CollectAnswer();
    std::optional<std::string> accepted = ReadWholeSmallFile(base_ + spool::kMailAcceptedStage);
    DeleteServerFiles();
    ServeFromFile(why, std::move(accepted));
  }

  // Deleting the marker makes a hung server's tick thread end it; one that still holds the
  // request two marker periods later is killed.
  void StopHungServer() {
    unlink(ServerMarkerFile().c_str());
    const auto deadline = Clock::now() + 2 * spool::kMarkerRefresh + std::chrono::seconds(2);
    spool::TSpoolWatch watch;
    watch.AddDescriptor(server_.pid_fd);
    while (spool::TakenByLiveServer(request_fd_) && Clock::now() < deadline) {
      watch.Wait(Clock::now() + kServerCheck);
    }
    if (spool::TakenByLiveServer(request_fd_) && !ServerGone()) {
      kill(server_.pid, SIGKILL);
      while (!ServerGone() && Clock::now() < deadline + std::chrono::seconds(5)) {
        watch.Wait(Clock::now() + kServerCheck);
      }
    }
  }

  void DeleteServerFiles() const {
    for (const char* stage : {spool::kTakenStage, spool::kAnswerStage, spool::kMailAcceptedStage,
                              spool::kTakenBackStage}) {
      unlink((base_ + stage).c_str());
    }
  }

  void CollectAnswer() {
    // The answer is complete: what is left of the request in the spool goes first, since the
    // web server may end this process as soon as it has the whole answer.
    DeleteServerFiles();
    CopyAnswer(base_ + spool::kResponseStage, *output_);
    output_.reset();
    spool::DeleteFilesOlderThan(spool::SpoolDir(), spool::kStalePattern,
                                std::chrono::system_clock::now() - spool::kStaleAge);
  }

  // Serves the request here from the spooled copy of its body (the input is used up).
  void ServeFromFile(const std::string& why, std::optional<std::string> mail_accepted = {}) {
    auto body = std::make_unique<THandleStream>(request_fd_, true);
    request_fd_ = -1;
    body->Seek(body_offset_, TStream::kFromBeginning);
    input_ = std::move(body);
    ServeHere(why, std::move(mail_accepted));
  }

  void ServeHere(const std::string& why, std::optional<std::string> mail_accepted = {}) {
    if (!why.empty()) WriteHttpLog(why);
    const TMailAcceptedEarlierScope earlier(std::move(mail_accepted));
    adapter_.ProcessRequest(std::move(input_), std::move(output_), std::move(variables_));
  }

  THttpCGIEngine& adapter_;
  std::unique_ptr<TStream> input_;
  std::unique_ptr<TStream> output_;
  std::unique_ptr<TStringList> variables_;
  TServer server_;
  std::string base_;
  int request_fd_ = -1;
  int64_t body_offset_ = 0;
};

}  // namespace

void ForwardToServer(THttpCGIEngine& adapter, std::unique_ptr<TStream> input,
                     std::unique_ptr<TStream> output, std::unique_ptr<TStringList> variables) {
  try {
    TForwarder(adapter, std::move(input), std::move(output), std::move(variables)).Run();
  } catch (const std::exception& error) {
    WriteHttpLog(error.what());
  }
}
