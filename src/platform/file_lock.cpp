#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/data_file.h"

bool LockFileFor(int fd, std::chrono::milliseconds limit, bool* timed_out) {
  if (timed_out != nullptr) *timed_out = false;
  if (fd < 0) return false;
  // flock has no time-out of its own: try without blocking, and between tries sleep a little
  // longer each time (from 50 us up to 50 ms), so a short hold costs little and a long one little
  // CPU. The usual holder is another request thread of the same resident process appending one
  // record, which takes some tens of microseconds: a first pause of a whole millisecond would
  // make every such meeting cost the waiting request that millisecond.
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::chrono::microseconds pause{50};
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(50));
  }
  if (timed_out != nullptr) *timed_out = true;
  return false;
}

bool TryLockFile(int fd, TLockKind kind) {
  return ::flock(fd, (kind == TLockKind::kShared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0;
}

bool PlaceReadRecordLock(int fd) {
  struct flock mark {};
  mark.l_type = F_RDLCK;
  mark.l_whence = SEEK_SET;
  return ::fcntl(fd, F_OFD_SETLK, &mark) == 0;
}

bool RecordLockHeldElsewhere(int fd) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  return ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

ScopedFileLock::ScopedFileLock(int fd, std::chrono::milliseconds limit) : fd_(fd), locked_(false) {
  locked_ = LockFileFor(fd, limit, &timed_out_);
}

ScopedFileLock::~ScopedFileLock() {
  Unlock();
}

void ScopedFileLock::Unlock() {
  if (locked_) ::flock(fd_, LOCK_UN);
  locked_ = false;
}

bool AppendToFileLocked(const std::string& path, std::string_view bytes, bool* lock_timed_out) {
  if (lock_timed_out != nullptr) *lock_timed_out = false;
  TFileDescriptor file = OpenDataFile(path, open_flags::kWriteOnly | open_flags::kAppend);
  if (!file) return false;
  bool ok = true;
  {
    ScopedFileLock lock(file.Get());
    // A file system without flock still takes the line (one append write); a holder that
    // keeps the lock past the limit makes the file count as unwritable.
    if (lock.TimedOut()) {
      if (lock_timed_out != nullptr) *lock_timed_out = true;
      return false;
    }
    ok = WriteAll(file.Get(), bytes);
  }
  // A write the system kept back may fail only at the close.
  if (!CloseFile(file.Release())) ok = false;
  return ok;
}
