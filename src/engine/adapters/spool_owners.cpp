#include "engine/adapters/spool_owners.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/module_path.h"
#include "engine/adapters/request_server.h"
#include "engine/adapters/spool_files.h"

namespace spool {

namespace {

constexpr std::chrono::seconds kServerLockWait{1};
constexpr std::chrono::milliseconds kServerLockRetry{10};

// True when `path` is not locked by anyone (tried with a shared lock, released at once).
// `missing` tells whether the file could not be opened.
bool Unlocked(const std::string& path, bool& missing) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  missing = fd < 0;
  if (fd < 0) return false;
  const bool unlocked = flock(fd, LOCK_SH | LOCK_NB) == 0;
  close(fd);
  return unlocked;
}

// The base of a spool file (its name without the stage suffix), or empty for other names.
std::string BaseOf(const std::string& path, const char* stage) {
  return EndsWith(path, stage) ? path.substr(0, path.size() - std::string(stage).size())
                               : std::string();
}

bool OlderThan(const std::string& path, std::chrono::seconds age) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return false;
  const auto stamp = std::chrono::system_clock::from_time_t(info.st_mtime);
  return stamp < std::chrono::system_clock::now() - age;
}

}  // namespace

int AcquireServerLock() {
  const int fd = open(ModuleFileName().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + kServerLockWait;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
      close(fd);
      return -1;
    }
    std::this_thread::sleep_for(kServerLockRetry);
  }
  return fd;
}

bool ServerLockHeld() {
  bool missing = false;
  return !Unlocked(ModuleFileName(), missing) && !missing;
}

int CreateLockedRequestFile(const std::string& path) {
  const int fd = CreateSpoolFile(path);
  if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // A file just created exclusively cannot be locked by anyone else.
    close(fd);
    unlink(path.c_str());
    return -1;
  }
  return fd;
}

bool RequestWriterGone(const std::string& path) {
  bool missing = false;
  return Unlocked(path, missing);
}

int TakeRequest(const std::string& base) {
  const std::string waiting = base + kRequestStage;
  const int fd = open(waiting.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  struct flock mark {};
  mark.l_type = F_RDLCK;
  mark.l_whence = SEEK_SET;
  if (fcntl(fd, F_OFD_SETLK, &mark) != 0 ||
      !RenameWithRetries(waiting, base + kTakenStage, kRenameTries, kTakeRetryPause)) {
    close(fd);
    return -1;
  }
  return fd;
}

bool TakenByLiveServer(int fd) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

int DeleteAbandonedRequests(bool at_server_start) {
  int cleared = 0;
  for (const std::string& path : FilesStartingWith(SpoolBase())) {
    if (!BaseOf(path, kWritingStage).empty()) {
      // A forwarder whose visitor stalls is ended by its watchdog after the write limit; a file
      // left unchanged for longer has nobody to finish it, whoever holds its lock.
      if (RequestWriterGone(path) || OlderThan(path, kWriteLimit + kMarkerRefresh)) {
        cleared += unlink(path.c_str()) == 0;
      }
    } else if (!BaseOf(path, kTakenBackStage).empty() ||
               (at_server_start && !BaseOf(path, kRequestStage).empty())) {
      if (RequestWriterGone(path)) cleared += unlink(path.c_str()) == 0;
    } else if (const std::string base = BaseOf(path, kTakenStage);
               at_server_start && !base.empty() && RequestWriterGone(path)) {
      cleared += unlink(path.c_str()) == 0;
      unlink((base + kAnswerStage).c_str());
      unlink((base + kMailAcceptedStage).c_str());
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
