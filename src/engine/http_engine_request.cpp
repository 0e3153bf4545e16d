// THttpEngine: the life of one request (ProcessRequest, ReadInput, FinishRequest) and what
// happens when an exception escapes it.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "common/html_escape.h"
#include "common/random_draw.h"
#include "engine/adapters/http_cgi_engine.h"
#include "engine/http_log.h"
#include "engine/watchdog.h"
#include "engine/without_folders.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/message_pump.h"

namespace {

constexpr int kChunkSize = 1032;

std::atomic<int> request_counter{0};

int DrawRequestNumber() {
  return static_cast<int>(RandomBetween(0, 9999));
}

// How long one wait for the client may take. The watchdog ends the process 30 s after the last
// byte; this bound only matters where no watchdog runs, and turns the stall into a failed read.
constexpr int kWaitLimitMs =
    static_cast<int>(std::chrono::milliseconds(watchdog::kReadTimeout).count()) + 5000;

using Clock = TMonotonicClock;

// Milliseconds left until `deadline` (time_point{}: none), at most `limit`, never below 0.
int MillisecondsLeft(Clock::time_point deadline, int limit) {
  if (deadline == Clock::time_point{}) return limit;
  return std::min(MillisecondsUntil(deadline), limit);
}

// How long the watchdog waits beyond the body's deadline, so that the request fails with its
// error page instead of ending without an answer.
// Generous, because a heavily loaded server may take seconds to get the page out.
constexpr std::chrono::seconds kBodyErrorMargin{10};

// Waits until the descriptor has a byte or its end to report; false when nothing came in time
// (by the per-wait limit or by the body's deadline).
bool WaitForInput(int fd, Clock::time_point deadline) {
  for (;;) {
    const int ready = WaitReadable(fd, MillisecondsLeft(deadline, kWaitLimitMs));
    if (ready >= 0) return ready > 0;
    if (errno != EINTR) return true;  // let the read report the failure
  }
}

// True when the descriptor has a byte or its end to report right now.
bool ReadableNow(int fd) {
  int ready;
  do {
    ready = WaitReadable(fd, 0);
  } while (ready < 0 && errno == EINTR);
  return ready != 0;  // a failed poll lets the read report the failure
}

}  // namespace

void THttpEngine::ProcessRequest(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
                                 std::unique_ptr<TStringList> server_variables) {
  TRequestContext& context = RequestContext();
  // The thread serves this request with this engine, and afterwards is bound again to whatever
  // it was bound to before (a request server's thread serves the next request from scratch).
  struct Binding {
    TRequestContext& context;
    THttpEngine* previous;
    ~Binding() { context.Engine = previous; }
  } binding{context, context.Engine};
  context.Engine = this;
  context.Fields = std::make_unique<TStringList>(true);
  context.TempFiles = std::make_unique<TStringList>();
  context.Headers = std::make_unique<TStringList>();
  context.Body = std::make_unique<TMemoryStream>();
  context.HeadersSent = false;
  context.BodySent = false;
  context.DebugActive = false;
  context.InputStream = std::move(input);
  context.OutputStream = std::move(output);
  context.ServerVariables =
      server_variables ? std::move(server_variables) : std::make_unique<TStringList>();
  context.RequestNumber = DrawRequestNumber();
  context.ReadLimit = auto_read_limit_;
  context.DebugInput.reset();
  context.DebugLog.reset();
  context.OwnerState.reset();

  auto run = [&] {
    BeforeRequest();
    if (debug_mode_ != NoDebug) {
      context.DebugInput = std::make_unique<TMemoryStream>();
      context.DebugLog = std::make_unique<TMemoryStream>();
      if (debug_mode_ == DebugAlways) StartDebugOutput();
    }
    if (OnPrepareRequest) OnPrepareRequest(this);
    // Once per process (a static's guarded start: lighter than call_once, and no futex call to
    // wake waiters that a CGI process never has).
    [[maybe_unused]] static const bool swept = (SweepUploadLeftovers(), true);
    if (auto_read_input_) ReadFormInput();
    if (request_counter.fetch_add(1) == 0 && OnFirstExecRequest) OnFirstExecRequest(this);
    if (OnExecRequest) OnExecRequest(this);
    if (!RunsAsLibrary() && cgi_mode_ == NormalMode && OnLastExecRequest) OnLastExecRequest(this);
    if (!kIsConsoleBuild) QueueContentLength();
  };
  // Inside a web server's process a ServerMode site still serves one request at a time, as its
  // request server would: the request's events run under one lock made on first use.
  struct ServerModeLock {
    THttpEngine* engine;
    TLockHandle lock = nullptr;
    ~ServerModeLock() { engine->LeaveLock(lock); }
  } server_mode_lock{this};
  if (RunsAsLibrary() && cgi_mode_ == ServerMode) {
    static const TLockHandle library_lock = CreateLock();
    server_mode_lock.lock = library_lock;
    EnterLock(library_lock);
  }
  // Every failure is a std::exception here; the gateway raises Exception, the runtime may raise
  // others (allocation, streams). All of them end in the error page instead of a crash.
  try {
    run();
  } catch (const std::exception& error) {
    const Exception* as_exception = dynamic_cast<const Exception*>(&error);
    Exception reason = as_exception != nullptr ? *as_exception : Exception(error.what());
    if (OnRequestError) {
      try {
        OnRequestError(this, reason);
      } catch (const std::exception& handler_error) {
        HandleRequestError(Exception(handler_error.what()));
      }
    } else {
      HandleRequestError(reason);
    }
  }
  LeaveLock(server_mode_lock.lock);
  server_mode_lock.lock = nullptr;
  if (!kIsConsoleBuild) FinishRequest();
}

int THttpEngine::ReadInput(char* buffer, int count) {
  TRequestContext& context = RequestContext();
  if (!context.InputStream) return -1;
  ProcessMessages(0);
  const Clock::time_point deadline = context.BodyDeadline;
  auto* handle_stream = dynamic_cast<THandleStream*>(context.InputStream.get());
  // Only a pipe or socket from the web server can stall; a file on disk (a spooled request)
  // never does, and a resident server must not be ended by the process-wide watchdog.
  const bool may_stall =
      handle_stream != nullptr && dynamic_cast<TFileStream*>(handle_stream) == nullptr;
  // The watchdog stays the backstop should a wait not return: it never fires before the body's
  // deadline has been reported as an error.
  const auto arm = [&] {
    if (!may_stall) return;
    const int left = MillisecondsLeft(deadline, kWaitLimitMs);
    watchdog::Arm(std::min<Clock::duration>(watchdog::kReadTimeout,
                                            std::chrono::milliseconds(left) + kBodyErrorMargin));
  };
  // The watchdog is armed only when a read would have to wait: a body that is already waiting
  // on the descriptor (the usual case) never starts its thread.
  bool armed = false;
  int total = 0;
  int last = 0;
  bool late = false;
  while (total < count) {
    ProcessMessages(0);
    if (deadline != Clock::time_point{} && Clock::now() >= deadline) {
      late = true;
      break;
    }
    if (handle_stream != nullptr && !ReadableNow(handle_stream->Handle())) {
      if (may_stall) {
        arm();
        armed = true;
      }
      if (!WaitForInput(handle_stream->Handle(), deadline)) {
        late = deadline != Clock::time_point{} && Clock::now() >= deadline;
        last = -1;
        break;
      }
    }
    last = context.InputStream->Read(buffer + total, std::min(count - total, kChunkSize));
    // Nothing after the descriptor reported ready is its end, and a memory-backed stream never
    // grows while it is read: either way no more bytes will come, so do not poll on.
    if (last <= 0) break;
    total += last;
  }
  if (armed) watchdog::Disarm();
  // A body that trickles in for longer than kBodyTimeLimit fails the request, however steadily
  // its bytes come: the error page names the reason and the request's uploads are deleted.
  if (late) throw Exception(kBodyTimeoutMessage);
  if (total > 0 && debug_mode_ != NoDebug && context.DebugInput) {
    context.DebugInput->Write(buffer, total);
  }
  if (total > 0 || count <= 0) return total;
  return last < 0 ? last : -1;
}

void THttpEngine::DeleteTempFiles() {
  TRequestContext& context = RequestContext();
  if (!context.TempFiles) return;
  for (const std::string& path : *context.TempFiles) {
    RemoveFile(path);
    watchdog::UnregisterTempFile(path);
  }
  context.TempFiles->Clear();
}

void THttpEngine::FinishRequest() {
  TRequestContext& context = RequestContext();
  // The uploads go before the answer: a web server that has the whole answer may end this
  // process at once (lighttpd does), and the files would stay behind.
  try {
    DeleteTempFiles();
  } catch (...) {
  }
  try {
    if (context.DebugActive) WriteLn("");
    if (context.OutputStream) SendResponse();
  } catch (...) {
    // Ending a request never fails; what could not be sent is lost.
  }
  context.InputStream.reset();
  context.OutputStream.reset();
  context.DebugInput.reset();
  context.DebugLog.reset();
  context.ServerVariables.reset();
  context.Fields.reset();
  context.TempFiles.reset();
  context.Headers.reset();
  context.Body.reset();
  context.OwnerState.reset();
}

void THttpEngine::HandleRequestError(const Exception& error) {
  try {
    if (debug_mode_ != NoDebug) StartDebugOutput();
  } catch (...) {
  }
  WriteHttpLog("Unhandled Exception: " + error.Message());
  TRequestContext& context = RequestContext();
  THttpEngine* current = context.Engine;
  if (current == nullptr) return;
  try {
    if (!context.DebugActive) current->ClearResponse();
    if (!context.HeadersSent) current->AddHeader("content-type", "text/html");
    // The message may quote request data (a file name, a field): never let it become markup.
    // A path in it is the owner's business: the log has it whole, the visitor no folder.
    if (!context.DebugActive) {
      current->WriteLn("<html><body>Unhandled Exception: " +
                       HtmlEscape(WithoutFolders(error.Message())) + "</body></html>");
    }
  } catch (...) {
  }
  auto* cgi = dynamic_cast<THttpCGIEngine*>(current);
  if (cgi != nullptr && cgi->CGIMode() == NormalMode) {
    try {
      cgi->SendResponse();
    } catch (...) {
    }
    // A one-request process's answer is complete here; FinishRequest adds nothing to it.
    current->DeleteTempFiles();
  }
}
