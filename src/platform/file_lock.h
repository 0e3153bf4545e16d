#pragma once

#include <chrono>
#include <string>
#include <string_view>

// Files shared by concurrent requests and processes (results file, entry log, error log,
// reference numbers) are written under an exclusive advisory lock (flock), so that no record is
// lost or interleaved.
//
// No wait for a lock is unbounded: a holder that never lets go (a stuck process, a program that
// locked the file by hand) must not keep every submission waiting behind it. Past the limit the
// caller treats the file as unwritable and goes on.

// How long a request waits for a shared file's lock.
inline constexpr std::chrono::milliseconds kFileLockWait{5000};

// Takes an exclusive lock on the open descriptor `fd`, waiting at most `limit`. True when the
// lock is held; false when the limit passed (`timed_out` set, when given) or flock failed.
bool LockFileFor(int fd, std::chrono::milliseconds limit, bool* timed_out = nullptr);

// One try, without waiting, for a lock of the whole file open on `fd` (flock): shared (many
// holders) or exclusive (one). False when another holds a lock in the way (errno EWOULDBLOCK)
// or the try failed; a signal during the try gives EINTR. The lock goes with the last
// descriptor of this open file.
enum class TLockKind { kShared, kExclusive };
bool TryLockFile(int fd, TLockKind kind);

// A read lock on the open file (an open file description lock, which belongs to this open of
// the file, not to the process, so that threads of one process exclude each other as two
// processes would). Independent of the flock locks above. False when another open of the file
// holds a write lock or the call failed.
bool PlaceReadRecordLock(int fd);
// True when another open of the file holds a record lock that a write lock would collide with
// (a read lock placed by PlaceReadRecordLock through another descriptor, say).
bool RecordLockHeldElsewhere(int fd);

// Holds an exclusive lock on an open file descriptor for its lifetime; waits at most `limit`
// for it.
class ScopedFileLock {
 public:
  explicit ScopedFileLock(int fd, std::chrono::milliseconds limit = kFileLockWait);
  ~ScopedFileLock();
  ScopedFileLock(const ScopedFileLock&) = delete;
  ScopedFileLock& operator=(const ScopedFileLock&) = delete;

  bool Locked() const { return locked_; }
  // Lets go of the lock now; the destructor then does nothing. An owner that closes the
  // descriptor itself must call this first: unlocking after the close would act on whatever file
  // another thread has opened under the same number meanwhile.
  void Unlock();
  // The lock was not had within the limit (another holder kept it).
  bool TimedOut() const { return timed_out_; }

 private:
  int fd_;
  bool timed_out_ = false;
  bool locked_;
};

// Appends `bytes` to the file at `path` (created with mode 0644 when missing) in one write under
// an exclusive lock, waiting kFileLockWait at most for it. Returns false when the file cannot be
// opened or written or its lock was not had in time (then `lock_timed_out` is set, when given);
// never throws.
bool AppendToFileLocked(const std::string& path, std::string_view bytes,
                        bool* lock_timed_out = nullptr);
