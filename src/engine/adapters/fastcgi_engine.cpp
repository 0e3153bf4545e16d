#include "engine/adapters/fastcgi_engine.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "common/exception.h"
#include "engine/adapters/cgi_startup.h"
#include "engine/adapters/fastcgi_connection.h"
#include "engine/adapters/fastcgi_socket.h"
#include "engine/http_log.h"
#include "engine/request_context.h"
#include "platform/environment.h"
#include "platform/listening_socket.h"
#include "platform/process_end.h"
#include "platform/socket_io.h"
#include "platform/stop_signals.h"

namespace {

// The request body, as the connection's FCGI_STDIN records bring it. Not a descriptor stream, so
// ReadInput never arms the process-wide watchdog for it.
//
// The whole body must arrive within the limits' Body deadline from the first read (or the
// engine's own, when that is earlier), however its bytes are spaced. The body ends with an empty
// record; a connection that fails or ends before it fails the request: decoding what arrived
// would mail and record a cut-off submission as if it were whole.
class TFastCGIInputStream : public TStream {
 public:
  TFastCGIInputStream(TFastCGIConnection& connection, const TFastCGILimits& limits)
      : connection_(connection), limits_(limits) {}
  int Read(void* buffer, int count) override {
    if (deadline_ == TMonotonicTime{}) deadline_ = MonotonicNow() + limits_.Body;
    TMonotonicTime deadline = deadline_;
    const TMonotonicTime engine_deadline = RequestContext().BodyDeadline;
    if (engine_deadline != TMonotonicTime{}) deadline = std::min(deadline, engine_deadline);
    const int n = connection_.ReadBody(static_cast<char*>(buffer), count, deadline);
    if (n >= 0) return n;
    if (connection_.Late()) throw Exception(kBodyTimeoutMessage);
    throw Exception("Request body incomplete: the connection failed");
  }
  int Write(const void*, int) override { return -1; }
  int64_t Seek(int64_t, SeekOrigin) override { return -1; }

 private:
  TFastCGIConnection& connection_;
  const TFastCGILimits& limits_;
  TMonotonicTime deadline_{};
};

// The answer, as FCGI_STDOUT records.
class TFastCGIOutputStream : public TStream {
 public:
  explicit TFastCGIOutputStream(TFastCGIConnection& connection) : connection_(connection) {}
  int Read(void*, int) override { return -1; }
  int Write(const void* buffer, int count) override {
    return connection_.WriteOutput(std::string_view(static_cast<const char*>(buffer),
                                                    static_cast<size_t>(std::max(count, 0))))
               ? count
               : -1;
  }
  int64_t Seek(int64_t, SeekOrigin) override { return -1; }

 private:
  TFastCGIConnection& connection_;
};

// SIGTERM, SIGINT and SIGHUP stop the accepting (TStopSignals): every request thread waits on
// the stop pipe beside the listening socket. The request threads block the signals: Serve's own
// thread, which only waits for the stop, takes them.

// The pause after an accept that failed for another reason than a lost race.
constexpr int kAcceptRetryPauseMs = 100;

std::unique_ptr<TStringList> RequestVariables(const fastcgi::TPairs& params) {
  auto variables = std::make_unique<TStringList>(true);
  for (const auto& [name, value] : params) variables->Add(name + "=" + value);
  return variables;
}

enum class Work { kReady, kStopped, kIdle, kFailed };

// Waits until `fd` has something to accept or read (kReady), a stop was asked for, `idle_until`
// passed (never when it is time_point{}), or poll failed.
Work WaitForWork(int fd, int stop_fd, TMonotonicTime idle_until = {}) {
  for (;;) {
    if (TStopSignals::StopRequested()) return Work::kStopped;
    int timeout = -1;
    if (idle_until != TMonotonicTime{}) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(idle_until - MonotonicNow());
      if (left.count() <= 0) return Work::kIdle;
      timeout = static_cast<int>(std::min<int64_t>(left.count(), 3600 * 1000));
    }
    int error = 0;
    const TWaitResult ready = WaitForEitherReadable(fd, stop_fd, timeout, error);
    if (ready == TWaitResult::kFailed && error != EINTR) return Work::kFailed;
    if (TStopSignals::StopRequested()) return Work::kStopped;
    if (ready == TWaitResult::kReady) return Work::kReady;
  }
}

// True when `fd` has something to accept or read right now.
bool Readable(int fd) {
  return WaitForSocket(fd, TSocketWait::kReadable, 0) == TWaitResult::kReady;
}

// Waits until a stop was asked for (the stop pipe's byte is never read), or the wait fails.
void WaitForStop(int stop_fd) {
  int error = 0;
  while (stop_fd >= 0 && !TStopSignals::StopRequested() &&
         WaitForEitherReadable(stop_fd, -1, -1, error) == TWaitResult::kFailed && error == EINTR) {
  }
}

// Waits kAcceptRetryPauseMs, or less when a stop is asked for (a negative `stop_fd` is not
// waited on: the pause is then the whole time).
void PauseUnlessStopped(int stop_fd) {
  WaitForSocket(stop_fd, TSocketWait::kReadable, kAcceptRetryPauseMs);
}

// How the request threads take connections, and which they still take once a stop is asked
// for: a request already waiting on a thread's kept connection and, when the socket can be
// withdrawn, every connection already queued on it. Shared by the threads.
class TAcceptor {
 public:
  TAcceptor(int listen_fd, int stop_fd, const std::function<void()>& withdraw,
            const TClientFilter& clients, const TFastCGILimits& limits)
      : listen_fd_(listen_fd),
        stop_fd_(stop_fd),
        withdraw_(withdraw),
        clients_(clients),
        limits_(limits) {}
  TAcceptor(const TAcceptor&) = delete;
  TAcceptor& operator=(const TAcceptor&) = delete;

  // Withdraws the socket, once, whichever thread sees the stop first.
  void Withdraw() {
    std::call_once(withdrawn_, [this] {
      if (withdraw_) withdraw_();
    });
  }

  // Makes `connection` one with a request to read: a new connection or the kept one. False
  // when the thread is to end: poll failed, or at a stop nothing more is waiting for it.
  bool Next(TFastCGIConnection& connection) {
    for (;;) {
      if (TStopSignals::StopRequested()) {
        // Every thread waits here until the path is gone, so that none finds the queue empty
        // while new connections can still join it.
        Withdraw();
        // An idle kept connection is closed; the web server opens a new one to the next process.
        if (connection.IsOpen()) {
          if (Readable(connection.Fd())) return true;
          connection.Close();
        }
        if (!withdraw_ || !Readable(listen_fd_)) return false;
        // A connection another thread won is that one's: it looks again after answering, so
        // the rest of the queue is not left behind.
        const Accepted accepted = Accept(connection);
        if (accepted == Accepted::kRefused) continue;
        return accepted == Accepted::kTaken;
      }
      // A kept connection (the web server's keep-conn) brings its next request on the same
      // descriptor, within the parameters' limit like a new one: an idle one is closed.
      if (connection.IsOpen()) {
        const Work work = WaitForWork(connection.Fd(), stop_fd_, MonotonicNow() + limits_.Params);
        if (work == Work::kReady) return true;
        if (work == Work::kIdle) connection.Close();
        if (work == Work::kFailed) return false;
        continue;
      }
      const Work work = WaitForWork(listen_fd_, stop_fd_);
      if (work == Work::kStopped) continue;
      if (work != Work::kReady) return false;
      const Accepted accepted = Accept(connection);
      if (accepted == Accepted::kTaken) return true;
      // Another thread took the connection, or it was refused: wait again. Any other failure
      // (out of descriptors, say) would repeat at once: pause before the next try instead of
      // spinning.
      if (accepted == Accepted::kFailed) PauseUnlessStopped(stop_fd_);
    }
  }

 private:
  enum class Accepted { kTaken, kLost, kRefused, kFailed };

  // Accepts the next connection into `connection`. A TCP peer that the client filter does not
  // allow is closed unread (the first such refusal is logged).
  Accepted Accept(TFastCGIConnection& connection) {
    TFileDescriptor fd;
    TNetworkAddress peer;
    switch (AcceptConnection(listen_fd_, fd, peer)) {
      case TAcceptResult::kTaken:
        break;
      case TAcceptResult::kLost:
        return Accepted::kLost;
      case TAcceptResult::kFailed:
        return Accepted::kFailed;
    }
    if (!clients_.Allows(peer)) {
      fd.Reset();
      if (!refusal_logged_.exchange(true)) {
        WriteHttpLog("FastCGI: connection from " + TClientFilter::Describe(peer) +
                     " refused: not an allowed client (--allow-clients); further refusals are "
                     "not logged");
      }
      return Accepted::kRefused;
    }
    connection.Adopt(fd.Release());
    return Accepted::kTaken;
  }

  const int listen_fd_;
  const int stop_fd_;
  const std::function<void()>& withdraw_;
  const TClientFilter& clients_;
  const TFastCGILimits& limits_;
  std::once_flag withdrawn_;
  std::atomic<bool> refusal_logged_{false};
};

}  // namespace

void TFastCGIEngine::RequestStop() {
  TStopSignals::RequestStop();
}

void TFastCGIEngine::Run(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
                         std::unique_ptr<TStringList> variables) {
  if (output) {
    ProcessRequest(std::move(input), std::move(output), std::move(variables));
    return;
  }
  TFastCGIOptions options;
  std::string error;
  // Options are the command line's only when no web server started the process (a query
  // string can reach the parameters of a CGI run).
  const std::vector<std::string> params =
      StartedByWebServer() ? std::vector<std::string>() : CommandLineParams();
  if (!ParseFastCGIOptions(params, options, error)) {
    std::fprintf(stderr, "brevix.cgi: %s\n%s\n", error.c_str(), kFastCGIUsage);
    SetExitCode(2);
    return;
  }
  if (options.Address.empty() && !IsListeningSocket(0)) {
    error = "no --fastcgi address, and standard input is not a listening socket";
    std::fprintf(stderr, "brevix.cgi: %s\n%s\n", error.c_str(), kFastCGIUsage);
    WriteHttpLog("FastCGI: " + error);
    SetExitCode(2);
    return;
  }
  // A socket of its own is the process's to remove at the stop; the one on standard input
  // belongs to whoever handed it over and outlives the process with its queue.
  TFastCGISocket own;
  if (!options.Address.empty() && !own.Open(options.Address, options.SocketGroup, error)) {
    std::fprintf(stderr, "brevix.cgi: %s\n", error.c_str());
    WriteHttpLog("FastCGI: " + error);
    SetExitCode(2);
    return;
  }
  if (own.Withdrawable()) {
    Serve(own.Fd(), options.Threads, options.Clients, [&own] { own.Withdraw(); });
  } else {
    Serve(options.Address.empty() ? 0 : own.Fd(), options.Threads, options.Clients);
  }
}

void TFastCGIEngine::Serve(int listen_fd, int threads, const TClientFilter& clients,
                           const std::function<void()>& withdraw) {
  // Each request is one submission of a resident process: the one-request process's
  // OnLastExecRequest and error-page shortcut do not apply.
  if (CGIMode() == NormalMode || CGIMode() == ServerMode) SetCGIMode(ServerThreadMode);
  // A web server that closes its end while the answer is written must fail that write, not
  // end the process.
  IgnoreBrokenPipeSignal();
  // Every thread waits in poll and then accepts; with a non-blocking socket the threads that
  // lose the race get EAGAIN and wait again, and a stop is seen at once.
  SetNonBlocking(listen_fd);
  const TFastCGILimits limits = TFastCGILimits::FromEnvironment();
  TStopSignals stop;
  TAcceptor acceptor(listen_fd, stop.ReadFd(), withdraw, clients, limits);
  std::atomic<int> running{threads};
  auto serve = [this, threads, &acceptor, &limits, &running] {
    TStopSignals::BlockInThisThread();
    BindThread(this);
    TFastCGIConnection connection(limits, threads);
    while (acceptor.Next(connection)) {
      std::string error;
      if (!connection.ReadRequestStart(MonotonicNow() + limits.Params, error)) {
        if (!error.empty()) WriteHttpLog("FastCGI: " + error);
        continue;
      }
      if (connection.Role() != fastcgi::kResponder) {
        connection.Finish(fastcgi::kUnknownRole);
        continue;
      }
      try {
        ProcessRequest(std::make_unique<TFastCGIInputStream>(connection, limits),
                       std::make_unique<TFastCGIOutputStream>(connection),
                       RequestVariables(connection.Params()));
      } catch (...) {
        // ProcessRequest turns every std::exception into the error page; anything else must
        // not take the other threads' requests with it.
        WriteHttpLog("FastCGI: request failed");
      }
      connection.Finish();
    }
    connection.Close();
    BindThread(nullptr);
    // Threads that end without a stop (poll failed) must not leave this thread waiting.
    if (--running == 0) RequestStop();
  };
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) workers.emplace_back(serve);
  // The path goes at the signal, not when a thread is next free: with every thread busy, new
  // connections would otherwise join the queue (and a new instance could not start) until then.
  WaitForStop(stop.ReadFd());
  if (TStopSignals::StopRequested()) acceptor.Withdraw();
  for (std::thread& worker : workers) worker.join();
  try {
    if (OnLastExecRequest) OnLastExecRequest(this);
  } catch (const std::exception& failure) {
    WriteHttpLog(std::string("FastCGI: ") + failure.what());
  }
}
