#include "engine/fastcgi_engine.h"

#include <fastcgi.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "common/exception.h"
#include "engine/cgi_startup.h"
#include "engine/fastcgi_socket.h"
#include "engine/fcgi_library.h"
#include "engine/http_log.h"
#include "engine/request_context.h"
#include "engine/watchdog.h"
#include "platform/environment.h"
#include "platform/process_end.h"

namespace {

// The request body, as libfcgi delivers the FCGI_STDIN records. Not a descriptor stream, so
// ReadInput never arms the process-wide watchdog for it.
//
// The body ends with an empty record. A connection that fails before it (the receive time-out
// of a web server that stopped sending, or a connection that broke) fails the request: decoding
// what arrived would mail and record a cut-off submission as if it were whole.
class TFcgxInputStream : public TStream {
 public:
  TFcgxInputStream(const TFcgi& fcgi, FCGX_Stream* stream) : fcgi_(fcgi), stream_(stream) {}
  int Read(void* buffer, int count) override {
    const int n = fcgi_.FCGX_GetStr(static_cast<char*>(buffer), count, stream_);
    if (n > 0) return n;
    const int error = fcgi_.FCGX_GetError(stream_);
    if (error == EAGAIN || error == EWOULDBLOCK) throw Exception(kBodyTimeoutMessage);
    if (error != 0) throw Exception("Request body incomplete: the connection failed");
    return n;
  }
  int Write(const void*, int) override { return -1; }
  int64_t Seek(int64_t, SeekOrigin) override { return -1; }

 private:
  const TFcgi& fcgi_;
  FCGX_Stream* stream_;  // owned by the request
};

// The answer, as FCGI_STDOUT records.
class TFcgxOutputStream : public TStream {
 public:
  TFcgxOutputStream(const TFcgi& fcgi, FCGX_Stream* stream) : fcgi_(fcgi), stream_(stream) {}
  int Read(void*, int) override { return -1; }
  int Write(const void* buffer, int count) override {
    return fcgi_.FCGX_PutStr(static_cast<const char*>(buffer), count, stream_);
  }
  int64_t Seek(int64_t, SeekOrigin) override { return -1; }

 private:
  const TFcgi& fcgi_;
  FCGX_Stream* stream_;  // owned by the request
};

// SIGTERM, SIGINT and SIGHUP stop the accepting. The handler sets a flag and writes a byte into
// a pipe that every request thread waits on beside the listening socket; the byte is never
// read, so one signal wakes them all. The request threads block the signals: Serve's own thread,
// which only waits for the stop, takes them.
std::atomic<bool> stop_requested{false};
std::atomic<int> stop_write_fd{-1};

void RequestStopFromSignal(int) {
  const int saved = errno;
  TFastCGIEngine::RequestStop();
  errno = saved;
}

class TStopPipe {
 public:
  TStopPipe() {
    stop_requested.store(false);
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) pipe_[0] = pipe_[1] = -1;
    stop_write_fd.store(pipe_[1]);
    struct sigaction action {};
    action.sa_handler = &RequestStopFromSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &action, &previous_[i]);
  }
  ~TStopPipe() {
    for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &previous_[i], nullptr);
    stop_write_fd.store(-1);
    for (int fd : pipe_) {
      if (fd >= 0) close(fd);
    }
  }
  TStopPipe(const TStopPipe&) = delete;
  TStopPipe& operator=(const TStopPipe&) = delete;

  int ReadFd() const { return pipe_[0]; }

  // Keeps the stop signals off the calling thread; they go to the thread that waits for the
  // stop. A signal handled on a request thread would interrupt its read or write on the web
  // server's connection, which libfcgi takes for a broken connection: the request would fail.
  static void BlockInThisThread() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal_number : kSignals) sigaddset(&blocked, signal_number);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
  }

 private:
  static constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};
  int pipe_[2] = {-1, -1};
  std::array<struct sigaction, 3> previous_{};
};

// How long one read or write on a web server's connection may stall before the request fails.
constexpr timeval kConnectionTimeout{static_cast<time_t>(watchdog::kReadTimeout.count()), 0};

// The pause after an accept that failed for another reason than a lost race.
constexpr int kAcceptRetryPauseMs = 100;

std::unique_ptr<TStringList> RequestVariables(const FCGX_Request& request) {
  auto variables = std::make_unique<TStringList>(true);
  for (char** entry = request.envp; entry != nullptr && *entry != nullptr; ++entry) {
    variables->Add(*entry);
  }
  return variables;
}

// libfcgi, or null after reporting on standard error and in the engine log why it cannot be
// loaded (exit code 2).
const TFcgi* FcgiOrReport() {
  std::string error;
  const TFcgi* fcgi = LoadFcgi(error);
  if (fcgi == nullptr) {
    std::fprintf(stderr, "brevix.cgi: FastCGI needs libfcgi: %s\n", error.c_str());
    WriteHttpLog("FastCGI: " + error);
    SetExitCode(2);
  }
  return fcgi;
}

// Waits until `fd` has something to accept or read, or a stop was asked for. False on stop.
bool WaitForWork(int fd, int stop_fd) {
  for (;;) {
    if (stop_requested.load()) return false;
    std::array<pollfd, 2> entries{{{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}}};
    const int ready = poll(entries.data(), stop_fd >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno != EINTR) return false;
    if (stop_requested.load()) return false;
    if (ready > 0 && entries[0].revents != 0) return true;
  }
}

// True when `fd` has something to accept or read right now.
bool Readable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, 0) == 1 && entry.revents != 0;
}

// Waits until a stop was asked for (the stop pipe's byte is never read), or poll fails.
void WaitForStop(int stop_fd) {
  pollfd entry{stop_fd, POLLIN, 0};
  while (stop_fd >= 0 && !stop_requested.load() && poll(&entry, 1, -1) < 0 && errno == EINTR) {
  }
}

// Waits kAcceptRetryPauseMs, or less when a stop is asked for.
void PauseUnlessStopped(int stop_fd) {
  pollfd entry{stop_fd, POLLIN, 0};
  poll(&entry, stop_fd >= 0 ? 1 : 0, kAcceptRetryPauseMs);
}

// How the request threads take requests, and which they still take once a stop is asked for:
// a request already waiting on a thread's kept connection and, when the socket can be withdrawn,
// every connection already queued on it. Shared by the threads.
class TAcceptor {
 public:
  TAcceptor(const TFcgi& fcgi, int listen_fd, int stop_fd, const std::function<void()>& withdraw)
      : fcgi_(fcgi), listen_fd_(listen_fd), stop_fd_(stop_fd), withdraw_(withdraw) {}
  TAcceptor(const TAcceptor&) = delete;
  TAcceptor& operator=(const TAcceptor&) = delete;

  // Withdraws the socket, once, whichever thread sees the stop first.
  void Withdraw() {
    std::call_once(withdrawn_, [this] {
      if (withdraw_) withdraw_();
    });
  }

  // Accepts the next request into `request`. False when the thread is to end: poll failed, or
  // at a stop nothing more is waiting for it.
  bool Next(FCGX_Request& request) {
    for (;;) {
      if (stop_requested.load()) {
        // Every thread waits here until the path is gone, so that none finds the queue empty
        // while new connections can still join it.
        Withdraw();
        // A failed accept at the stop is one another thread won: that one looks again after
        // answering, so the rest of the queue is not left behind.
        return TakesMoreAtStop(request) && fcgi_.FCGX_Accept_r(&request) >= 0;
      }
      // A kept connection (the web server's keep-conn) brings its next request on the same
      // descriptor; otherwise the next one is a new connection.
      if (!WaitForWork(request.ipcFd >= 0 ? request.ipcFd : listen_fd_, stop_fd_)) {
        if (stop_requested.load()) continue;
        return false;
      }
      const int failed = fcgi_.FCGX_Accept_r(&request);
      if (failed >= 0) return true;
      // Another thread took the connection (EAGAIN), or the web server left: wait again. Any
      // other failure (out of descriptors, say) would repeat at once: pause before the next try
      // instead of spinning.
      if (failed != -EAGAIN && failed != -EWOULDBLOCK) PauseUnlessStopped(stop_fd_);
    }
  }

 private:
  // At a stop: true when a request is already waiting for this thread, on its kept connection
  // or (draining) queued on the listening socket. An idle kept connection is closed; the web
  // server opens a new one to the next process.
  bool TakesMoreAtStop(FCGX_Request& request) {
    if (request.ipcFd >= 0) {
      if (Readable(request.ipcFd)) return true;
      fcgi_.FCGX_Free(&request, 1);
    }
    return withdraw_ && Readable(listen_fd_);
  }

  const TFcgi& fcgi_;
  const int listen_fd_;
  const int stop_fd_;
  const std::function<void()>& withdraw_;
  std::once_flag withdrawn_;
};

}  // namespace

void TFastCGIEngine::RequestStop() {
  stop_requested.store(true);
  const int fd = stop_write_fd.load();
  if (fd >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(fd, &byte, 1);
  }
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
  if (FcgiOrReport() == nullptr) return;
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
  if (!options.Address.empty() && !own.Open(options.Address, error)) {
    std::fprintf(stderr, "brevix.cgi: %s\n", error.c_str());
    WriteHttpLog("FastCGI: " + error);
    SetExitCode(2);
    return;
  }
  if (own.Withdrawable()) {
    Serve(own.Fd(), options.Threads, [&own] { own.Withdraw(); });
  } else {
    Serve(options.Address.empty() ? 0 : own.Fd(), options.Threads);
  }
}

void TFastCGIEngine::Serve(int listen_fd, int threads, const std::function<void()>& withdraw) {
  // Each request is one submission of a resident process: the one-request process's
  // OnLastExecRequest and error-page shortcut do not apply.
  if (CGIMode() == NormalMode || CGIMode() == ServerMode) SetCGIMode(ServerThreadMode);
  const TFcgi* loaded = FcgiOrReport();
  if (loaded == nullptr) return;
  const TFcgi& fcgi = *loaded;
  // A web server that closes its end while the answer is written must fail that write, not
  // end the process.
  signal(SIGPIPE, SIG_IGN);
  fcgi.FCGX_Init();
  // Every thread waits in poll and then accepts; with a non-blocking socket the threads that
  // lose the race get EAGAIN and wait again, and a stop is seen at once.
  fcntl(listen_fd, F_SETFL, fcntl(listen_fd, F_GETFL) | O_NONBLOCK);
  TStopPipe stop;
  TAcceptor acceptor(fcgi, listen_fd, stop.ReadFd(), withdraw);
  std::atomic<int> running{threads};
  auto serve = [this, listen_fd, &acceptor, &fcgi, &running] {
    TStopPipe::BlockInThisThread();
    BindThread(this);
    FCGX_Request request;
    fcgi.FCGX_InitRequest(&request, listen_fd, 0);
    while (acceptor.Next(request)) {
      setsockopt(request.ipcFd, SOL_SOCKET, SO_RCVTIMEO, &kConnectionTimeout,
                 sizeof kConnectionTimeout);
      setsockopt(request.ipcFd, SOL_SOCKET, SO_SNDTIMEO, &kConnectionTimeout,
                 sizeof kConnectionTimeout);
      if (request.role != FCGI_RESPONDER) {
        fcgi.FCGX_PutS("Status: 501 Not Implemented\r\n\r\n", request.out);
      } else {
        try {
          ProcessRequest(std::make_unique<TFcgxInputStream>(fcgi, request.in),
                         std::make_unique<TFcgxOutputStream>(fcgi, request.out),
                         RequestVariables(request));
        } catch (...) {
          // ProcessRequest turns every std::exception into the error page; anything else must
          // not take the other threads' requests with it.
          WriteHttpLog("FastCGI: request failed");
        }
      }
      fcgi.FCGX_Finish_r(&request);
    }
    fcgi.FCGX_Free(&request, 1);
    BindThread(nullptr);
    // Threads that end without a stop (poll failed) must not leave this thread waiting.
    if (--running == 0) RequestStop();
  };
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) workers.emplace_back(serve);
  // The path goes at the signal, not when a thread is next free: with every thread busy, new
  // connections would otherwise join the queue (and a new instance could not start) until then.
  WaitForStop(stop.ReadFd());
  if (stop_requested.load()) acceptor.Withdraw();
  for (std::thread& worker : workers) worker.join();
  try {
    if (OnLastExecRequest) OnLastExecRequest(this);
  } catch (const std::exception& failure) {
    WriteHttpLog(std::string("FastCGI: ") + failure.what());
  }
}
