#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

ScopedFileLock::ScopedFileLock(int fd) : fd_(fd), locked_(false) {
  if (fd_ < 0) return;
  int rc;
  do {
    rc = ::flock(fd_, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  locked_ = rc == 0;
}

ScopedFileLock::~ScopedFileLock() {
  if (locked_) ::flock(fd_, LOCK_UN);
}

bool AppendToFileLocked(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  {
    ScopedFileLock lock(fd);
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
      const ssize_t n = ::write(fd, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  if (::close(fd) != 0) ok = false;
  return ok;
}
