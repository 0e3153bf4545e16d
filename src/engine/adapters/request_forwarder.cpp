// The client side of server mode: a CGI process that hands its request to the resident
// request server and copies the answer back, or serves it itself when the server cannot.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "common/exception.h"
#include "common/text_compare.h"
#include "engine/adapters/handover_journal.h"
#include "engine/adapters/http_cgi_engine.h"
#include "engine/adapters/request_server.h"
#include "engine/adapters/spool_files.h"
#include "engine/adapters/spool_owners.h"
#include "engine/http_log.h"
#include "engine/request_context.h"
#include "engine/watchdog.h"
#include "platform/clock.h"
#include "platform/file_descriptor.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/process.h"

namespace {

constexpr int kCopyBlock = 1032;
constexpr std::chrono::seconds kWriteTimeout{30};
// How often the forwarder looks whether the server still runs when no pidfd is available.
constexpr std::chrono::seconds kServerCheck{1};

bool FileExists(const std::string& path) {
  return FileInfoOf(path).Exists();
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
int ReadBlock(TStream& input, char* buffer, int count, TMonotonicTime deadline) {
  if (auto* handle = dynamic_cast<THandleStream*>(&input)) {
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - MonotonicNow());
      if (left.count() <= 0) return -1;
      const int ready = WaitReadable(handle->Handle(), static_cast<int>(left.count()));
      if (ready > 0) break;
      if (ready < 0 && errno != EINTR) return -1;
    }
  }
  return input.Read(buffer, count);
}

void CopyAnswer(const std::string& path, TStream& output) {
  constexpr unsigned kFlags = open_flags::kReadOnly | open_flags::kNoFollow;
  TFileDescriptor file = OpenFile(path, kFlags);
  if (!file) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    file = OpenFile(path, kFlags);
    if (!file) throw Exception("Cannot open file \"" + path + "\"");
  }
  // The answer leaves the spool before a byte of it reaches the web server: a server that has
  // its whole answer may end this process at once (lighttpd does), and nothing may stay behind.
  RemoveFile(path);
  THandleStream answer(file.Release(), true);
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
  const TFileDescriptor file = OpenFile(path, open_flags::kReadOnly | open_flags::kNoFollow);
  if (!file) return std::nullopt;
  std::string text;
  char block[512];
  for (long n; text.size() < 4096 && (n = ReadSome(file.Get(), block, sizeof block)) > 0;) {
    text.append(block, static_cast<size_t>(n));
  }
  return text;
}

// The live request server, as a forwarder finds it.
struct TServer {
  TProcessId pid = 0;
  TFileDescriptor handle;  // readable once the process ends; unopened when the kernel has none
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
    if (request_fd_ >= 0) CloseFile(request_fd_);
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
    const auto deadline = MonotonicNow() + spool::kMarkerRefresh;
    while (!spool::ProcessExists(server_.pid = spool::ServerPidFromMarker())) {
      if (MonotonicNow() >= deadline || !spool::ServerLockHeld()) return false;
      watch.Wait(std::min(deadline, MonotonicNow() + kServerCheck));
    }
    if (MarkerStale()) return false;
    server_.handle = OpenProcessHandle(server_.pid);
    return true;
  }

  static bool MarkerStale() {
    const TFileInfo info = FileInfoOf(ServerMarkerFile());
    if (!info.Exists()) return true;
    const TWallTime stamp = WallTimeOfSeconds(info.modified.seconds);
    return stamp < WallClockNow() - 2 * spool::kMarkerRefresh;
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
    const auto deadline = MonotonicNow() + kBodyTimeLimit;
    bool late = false;
    while (whole && copied < length) {
      watchdog::Arm(std::min<TMonotonicClock::duration>(kWriteTimeout, deadline - MonotonicNow()) +
                    std::chrono::seconds(5));
      const int n = ReadBlock(*input_, block, std::min(length - copied, kCopyBlock), deadline);
      // A body that ends early or late is the engine's to refuse: it is served here, never
      // spooled.
      late = n < 0 && MonotonicNow() >= deadline;
      if (n <= 0) break;
      whole = file.Write(block, n) == n;
      copied += n;
    }
    watchdog::Disarm();
    watchdog::UnregisterTempFile(writing);
    std::string failure = late ? kBodyTimeoutMessage : "";
    if (!whole) {
      failure = "Cannot write file \"" + writing + "\"";
    } else if (copied == length && !RenameFile(writing, base_ + spool::kRequestStage)) {
      failure = "Cannot create file \"" + base_ + spool::kRequestStage + "\"";
    }
    if (failure.empty() && copied == length) return true;
    RemoveFile(writing);
    ServeFromFile(failure);
    return false;
  }

  void WaitForAnswer() {
    spool::TSpoolWatch watch;
    watch.AddDescriptor(server_.handle.Get());
    const std::string response = base_ + spool::kResponseStage;
    const auto deadline = MonotonicNow() + spool::kAnswerWait;
    for (;;) {
      if (FileExists(response)) return CollectAnswer();
      if (!FileExists(ServerMarkerFile()) || ServerGone()) {
        return TakeBack("Server mode - Server ended before answering",
                        MonotonicNow() + spool::kAnswerWait);
      }
      if (MonotonicNow() >= deadline || MarkerStale()) {
        return TakeBack("Server mode - Server did not answer in time", MonotonicNow());
      }
      watch.Wait(std::min(deadline, MonotonicNow() + kServerCheck));
    }
  }

  bool ServerGone() const {
    if (server_.handle) return WaitReadable(server_.handle.Get(), 0) > 0;
    return !spool::ProcessExists(server_.pid);
  }

  // The server will not answer: the request is served here, knowing what the server did.
  // `wait_until`: how long a live server that holds the request may still take to answer.
  void TakeBack(const std::string& why, TMonotonicTime wait_until) {
    const std::string back = base_ + spool::kTakenBackStage;
    if (RenameFile(base_ + spool::kRequestStage, back)) {
      // The server never took it: nothing of it happened yet.
      RemoveFile(back);
      return ServeFromFile(why);
    }
    // The server took it. While a live server holds it (this one finishing as it stops, or a
    // newer one that took it after this one ended), that server answers; one that holds it past
    // the wait hangs, and is stopped first, so that it cannot go on to send what this process
    // is about to.
    const std::string response = base_ + spool::kResponseStage;
    spool::TSpoolWatch watch;
    while (!FileExists(response) && spool::TakenByLiveServer(request_fd_) &&
           MonotonicNow() < wait_until) {
      watch.Wait(std::min(wait_until, MonotonicNow() + kServerCheck));
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
    RemoveFile(ServerMarkerFile());
    const auto deadline = MonotonicNow() + 2 * spool::kMarkerRefresh + std::chrono::seconds(2);
    spool::TSpoolWatch watch;
    watch.AddDescriptor(server_.handle.Get());
    while (spool::TakenByLiveServer(request_fd_) && MonotonicNow() < deadline) {
      watch.Wait(MonotonicNow() + kServerCheck);
    }
    if (spool::TakenByLiveServer(request_fd_) && !ServerGone()) {
      KillOtherProcess(server_.pid);
      while (!ServerGone() && MonotonicNow() < deadline + std::chrono::seconds(5)) {
        watch.Wait(MonotonicNow() + kServerCheck);
      }
    }
  }

  void DeleteServerFiles() const {
    for (const char* stage : {spool::kTakenStage, spool::kAnswerStage, spool::kMailAcceptedStage,
                              spool::kTakenBackStage}) {
      RemoveFile(base_ + stage);
    }
  }

  void CollectAnswer() {
    // The answer is complete: what is left of the request in the spool goes first, since the
    // web server may end this process as soon as it has the whole answer.
    DeleteServerFiles();
    CopyAnswer(base_ + spool::kResponseStage, *output_);
    output_.reset();
    spool::DeleteFilesOlderThan(spool::SpoolDir(), spool::kStalePattern,
                                WallClockNow() - spool::kStaleAge);
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
