// The request server: the loop that takes spooled requests, serves them through the CGI
// adapter and hands the answers back, and the tick thread that keeps its marker fresh.
#include "engine/adapters/request_server.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

#include "common/exception.h"
#include "engine/adapters/handover_journal.h"
#include "engine/adapters/http_cgi_engine.h"
#include "engine/adapters/spool_files.h"
#include "engine/adapters/spool_owners.h"
#include "engine/adapters/spool_request_head.h"
#include "engine/http_log.h"
#include "platform/clock.h"
#include "platform/file_descriptor.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/process.h"
#include "platform/process_end.h"
#include "platform/stop_signals.h"

namespace {

std::atomic<bool> inside_server_loop{false};

// The largest variable block a request file may start with; a file without its blank line
// within it is not served.
constexpr size_t kMaxVariableBlock = 4 * 1024 * 1024;
// How long the loop sleeps without any folder event before it looks again (the marker may be
// deleted on a file system that reports no events).
constexpr std::chrono::seconds kIdleRecheck{5};

// Every file of the server's own (the marker, the files named after the program's full path)
// and the requests whose forwarder has ended. The requests of live forwarders stay: each takes
// its own back once it sees the server gone.
void ClearSpool() {
  RemoveFile(ServerMarkerFile());
  spool::DeleteAbandonedRequests(true);
  spool::DeleteFilesStartingWith(ModuleFileName() + "_");
}

// Refreshes the marker's time stamp every 5 s and clears the requests that forwarders abandoned
// (also while no request comes). When the marker is gone it asks the loop to stop; a loop that
// has not finished one second later (a request that hangs) ends with the process, so that
// deleting the marker always stops the server.
class TServerTickThread {
 public:
  TServerTickThread() : thread_([this] { Loop(); }) {}
  ~TServerTickThread() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  TServerTickThread(const TServerTickThread&) = delete;
  TServerTickThread& operator=(const TServerTickThread&) = delete;

 private:
  void Loop() {
    const std::string marker = ServerMarkerFile();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!changed_.wait_for(lock, spool::kMarkerRefresh, [this] { return stop_; })) {
      if (TouchFile(marker)) {
        spool::DeleteAbandonedRequests(false);
        continue;
      }
      TStopSignals::RequestStop();
      if (changed_.wait_for(lock, kStopGrace, [this] { return stop_; })) return;
      WriteHttpLog("Server loop: stopped while a request was still running");
      ClearSpool();
      KillProcess(0);
    }
  }

  static constexpr std::chrono::seconds kStopGrace{1};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  std::thread thread_;
};

// The threads of ServerThreadMode; each finished one is joined by the loop.
class TRequestThreads {
 public:
  ~TRequestThreads() { JoinAll(); }

  // Serves the taken request `base` on a thread of its own; `mark` (TakeRequest) is closed
  // when the thread is done.
  void Start(THttpCGIEngine& adapter, const std::string& base, TFileDescriptor mark) {
    auto entry = std::make_unique<Entry>();
    Entry* raw = entry.get();
    entry->thread = std::thread([&adapter, base, mark = std::move(mark), raw]() mutable {
      THttpEngine::BindThread(&adapter);
      try {
        ServeSpooledRequest(adapter, base);
      } catch (const std::exception& error) {
        WriteHttpLog(std::string("Server loop (thread): ") + error.what());
      } catch (...) {
        WriteHttpLog("Server loop (thread): unknown failure");
      }
      mark.Reset();
      raw->done.store(true);
    });
    entries_.push_back(std::move(entry));
  }
  void JoinFinished() {
    for (auto it = entries_.begin(); it != entries_.end();) {
      if ((*it)->done.load()) {
        (*it)->thread.join();
        it = entries_.erase(it);
      } else {
        ++it;
      }
    }
  }
  void JoinAll() {
    for (auto& entry : entries_) entry->thread.join();
    entries_.clear();
  }

 private:
  struct Entry {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  std::list<std::unique_ptr<Entry>> entries_;
};

// Starts the server's spool (the caller holds the server lock): clears what an earlier server
// and ended forwarders left, then writes the marker with this process's id (under another name
// first, so that it never appears empty).
void OpenSpool() {
  if (!spool::EnsureSpoolDir())
    throw Exception("Cannot create folder \"" + spool::SpoolDir() + "\"");
  const std::string marker = ServerMarkerFile();
  spool::DeleteAbandonedRequests(true);
  const std::string writing = marker + ".new";
  RemoveFile(writing);
  TFileDescriptor file(spool::CreateSpoolFile(writing));
  if (!file) throw Exception("Cannot create file \"" + writing + "\"");
  const bool written = WriteAll(file.Get(), std::to_string(CurrentProcessId()) + "\n");
  file.Reset();
  if (!written || !RenameFile(writing, marker)) {
    RemoveFile(writing);
    throw Exception("Cannot create file \"" + marker + "\"");
  }
}

// The request bases (without the stage) of the requests waiting to be taken.
std::vector<std::string> WaitingRequests() {
  std::vector<std::string> bases;
  const std::string stage = spool::kRequestStage;
  for (const std::string& path : spool::FilesStartingWith(SpoolBase())) {
    if (path.size() > stage.size() &&
        path.compare(path.size() - stage.size(), stage.size(), stage) == 0) {
      bases.push_back(path.substr(0, path.size() - stage.size()));
    }
  }
  return bases;
}

void DeleteStaleSpoolFiles() {
  spool::DeleteFilesOlderThan(spool::SpoolDir(), spool::kStalePattern,
                              WallClockNow() - spool::kStaleAge);
  spool::DeleteOrphanedAnswers();
}

void ServeUntilStopped(THttpCGIEngine& adapter, const TStopSignals& signals) {
  OpenSpool();
  AddProcessEndHandler(ClearSpool);
  if (IsTerminal(kStandardError)) {
    std::fprintf(stderr,
                 "Request server running as process %d; stop it with Ctrl-C or by deleting %s\n",
                 static_cast<int>(CurrentProcessId()), ServerMarkerFile().c_str());
  }
  const bool threaded = adapter.CGIMode() == ServerThreadMode;
  const std::string marker = ServerMarkerFile();
  TServerTickThread tick;
  TRequestThreads threads;
  spool::TSpoolWatch watch;
  watch.AddDescriptor(signals.ReadFd());
  while (!signals.StopRequested() && FileInfoOf(marker).Exists()) {
    std::vector<std::string> waiting = WaitingRequests();
    if (waiting.empty()) {
      watch.Wait(MonotonicNow() + kIdleRecheck);
      threads.JoinFinished();
      continue;
    }
    for (const std::string& base : waiting) {
      TFileDescriptor mark(spool::TakeRequest(base));
      if (!mark) continue;
      if (threaded) {
        threads.Start(adapter, base, std::move(mark));
      } else {
        ServeSpooledRequest(adapter, base);
      }
    }
    DeleteStaleSpoolFiles();
    threads.JoinFinished();
  }
  threads.JoinAll();
}

}  // namespace

bool InsideServerLoop() {
  return inside_server_loop.load();
}

void ServeSpooledRequest(THttpCGIEngine& adapter, const std::string& base) {
  try {
    const std::string taken = base + spool::kTakenStage;
    TFileDescriptor request = OpenFile(taken, open_flags::kReadOnly | open_flags::kNoFollow);
    if (!request) throw Exception("Cannot open file \"" + taken + "\"");
    auto input = std::make_unique<THandleStream>(request.Release(), true);
    std::string text;
    char block[512];
    while (text.find("\r\n\r\n") == std::string::npos && text.size() < kMaxVariableBlock) {
      const int n = input->Read(block, sizeof block);
      if (n <= 0) break;
      text.append(block, static_cast<size_t>(n));
    }
    // Without its variables there is no request to run; the forwarder waits out its time.
    const std::optional<TSpooledRequestHead> head = ParseSpooledRequestHead(text);
    if (!head) return;
    input->SetPosition(static_cast<int64_t>(head->BodyOffset));
    auto variables = std::make_unique<TStringList>(true);
    for (const std::string& line : head->Variables) variables->Add(line);
    const std::string answer = base + spool::kAnswerStage;
    const int fd = spool::CreateSpoolFile(answer);
    if (fd < 0) throw Exception("Cannot create file \"" + answer + "\"");
    std::exception_ptr failure;
    try {
      const THandoverJournalScope journal(base + spool::kMailAcceptedStage);
      adapter.Run(std::move(input), std::make_unique<THandleStream>(fd, true),
                  std::move(variables));
    } catch (...) {
      failure = std::current_exception();
    }
    // The answer is handed over whatever happened inside the request. Until it is complete, the
    // request file and the mail's mark stay: a forwarder whose server ends before then serves
    // the request itself and must know whether the mail went.
    spool::RenameWithRetries(answer, base + spool::kResponseStage, spool::kRenameTries,
                             spool::kAnswerRetryPause);
    RemoveFile(taken);
    RemoveFile(base + spool::kMailAcceptedStage);
    if (failure) std::rethrow_exception(failure);
  } catch (...) {
    // A failure at this level stops the server: its tick thread sees the marker go.
    RemoveFile(ServerMarkerFile());
    throw;
  }
}

void RunServerLoop(THttpCGIEngine& adapter) {
  if (adapter.CGIMode() == NormalMode) adapter.SetCGIMode(ServerMode);
  if (!spool::EnsureSpoolDir()) {
    WriteHttpLog("Server loop: Cannot create folder \"" + spool::SpoolDir() + "\"");
    return;
  }
  // Held until the loop is over: no second server can start meanwhile, and no spool is ever
  // cleared under a live server's feet.
  TFileDescriptor server_lock(spool::AcquireServerLock());
  if (!server_lock) {
    WriteHttpLog("Server mode - Server already running");
    SetExitCode(1);
    if (IsTerminal(kStandardError)) std::fprintf(stderr, "A request server already runs.\n");
    return;
  }
  inside_server_loop.store(true);
  {
    TStopSignals signals;
    try {
      ServeUntilStopped(adapter, signals);
    } catch (const std::exception& error) {
      WriteHttpLog(std::string("Server loop: ") + error.what());
    } catch (...) {
      WriteHttpLog("Server loop: unknown failure");
    }
  }
  try {
    if (adapter.OnLastExecRequest) adapter.OnLastExecRequest(&adapter);
  } catch (const std::exception& error) {
    WriteHttpLog(std::string("Server loop: ") + error.what());
  }
  ClearSpool();
  inside_server_loop.store(false);
  server_lock.Reset();
}
