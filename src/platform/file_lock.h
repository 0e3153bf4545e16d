#pragma once

#include <string>
#include <string_view>

// Files shared by concurrent requests and processes (results file, entry log, error log,
// reference numbers) are written under an exclusive advisory lock (flock), so that no record is
// lost or interleaved.

// Holds an exclusive lock on an open file descriptor for its lifetime. Waits for the lock.
class ScopedFileLock {
 public:
  explicit ScopedFileLock(int fd);
  ~ScopedFileLock();
  ScopedFileLock(const ScopedFileLock&) = delete;
  ScopedFileLock& operator=(const ScopedFileLock&) = delete;

  bool Locked() const { return locked_; }

 private:
  int fd_;
  bool locked_;
};

// Appends `bytes` to the file at `path` (created with mode 0644 when missing) in one write under
// an exclusive lock. Returns false when the file cannot be opened or written; never throws.
bool AppendToFileLocked(const std::string& path, std::string_view bytes);
