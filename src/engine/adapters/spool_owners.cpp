#include "engine/adapters/spool_owners.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include "engine/adapters/request_server.h"
#include "engine/adapters/spool_files.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "platform/module_path.h"

namespace spool {

namespace {

constexpr std::chrono::seconds kServerLockWait{1};
constexpr std::chrono::milliseconds kServerLockRetry{10};

// True when `path` is not locked by anyone (tried with a shared lock, released at once).
// `missing` tells whether the file could not be opened.
bool Unlocked(const std::string& path, bool& missing) {
  const TFileDescriptor file = OpenFile(path, open_flags::kReadOnly | open_flags::kNoFollow);
  missing = !file;
  return file && TryLockFile(file.Get(), TLockKind::kShared);
}

// The base of a spool file (its name without the stage suffix), or empty for other names.
std::string BaseOf(const std::string& path, const char* stage) {
  return EndsWith(path, stage) ? path.substr(0, path.size() - std::string(stage).size())
                               : std::string();
}

bool OlderThan(const std::string& path, std::chrono::seconds age) {
  const TFileInfo info = LinkInfoOf(path);
  if (!info.Exists()) return false;
  return WallTimeOfSeconds(info.modified.seconds) < WallClockNow() - age;
}

}  // namespace

int AcquireServerLock() {
  TFileDescriptor program = OpenFile(ModuleFileName(), open_flags::kReadOnly);
  if (!program) return -1;
  const TMonotonicTime deadline = MonotonicNow() + kServerLockWait;
  while (!TryLockFile(program.Get(), TLockKind::kExclusive)) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || MonotonicNow() >= deadline) return -1;
    std::this_thread::sleep_for(kServerLockRetry);
  }
  return program.Release();
}

bool ServerLockHeld() {
  bool missing = false;
  return !Unlocked(ModuleFileName(), missing) && !missing;
}

int CreateLockedRequestFile(const std::string& path) {
  TFileDescriptor file(CreateSpoolFile(path));
  if (file && !TryLockFile(file.Get(), TLockKind::kExclusive)) {
    // A file just created exclusively cannot be locked by anyone else.
    file.Reset();
    RemoveFile(path);
    return -1;
  }
  return file.Release();
}

bool RequestWriterGone(const std::string& path) {
  bool missing = false;
  return Unlocked(path, missing);
}

int TakeRequest(const std::string& base) {
  const std::string waiting = base + kRequestStage;
  TFileDescriptor request = OpenFile(waiting, open_flags::kReadOnly | open_flags::kNoFollow);
  if (!request || !PlaceReadRecordLock(request.Get()) ||
      !RenameWithRetries(waiting, base + kTakenStage, kRenameTries, kTakeRetryPause)) {
    return -1;
  }
  return request.Release();
}

bool TakenByLiveServer(int fd) {
  return RecordLockHeldElsewhere(fd);
}

int DeleteAbandonedRequests(bool at_server_start) {
  int cleared = 0;
  for (const std::string& path : FilesStartingWith(SpoolBase())) {
    if (!BaseOf(path, kWritingStage).empty()) {
      // A forwarder whose visitor stalls is ended by its watchdog after the write limit; a file
      // left unchanged for longer has nobody to finish it, whoever holds its lock.
      if (RequestWriterGone(path) || OlderThan(path, kWriteLimit + kMarkerRefresh)) {
        cleared += RemoveFile(path);
      }
    } else if (!BaseOf(path, kTakenBackStage).empty() ||
               (at_server_start && !BaseOf(path, kRequestStage).empty())) {
      if (RequestWriterGone(path)) cleared += RemoveFile(path);
    } else if (const std::string base = BaseOf(path, kTakenStage);
               at_server_start && !base.empty() && RequestWriterGone(path)) {
      cleared += RemoveFile(path);
      RemoveFile(base + kAnswerStage);
      RemoveFile(base + kMailAcceptedStage);
    }
  }
  return cleared;
}

int WaitingRequestCount() {
  int count = 0;
  for (const std::string& path : FilesStartingWith(SpoolBase())) {
    if (!BaseOf(path, kRequestStage).empty() || !BaseOf(path, kTakenStage).empty()) {
      ++count;
    } else if (!BaseOf(path, kWritingStage).empty()) {
      count += !RequestWriterGone(path) && !OlderThan(path, kWriteLimit + kMarkerRefresh);
    }
  }
  return count;
}

}  // namespace spool
