#include "gateway/locked_state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/data_file.h"

namespace {

// Locks taken again after the name moved on to a newer file before one is given up.
constexpr int kMaxLockAttempts = 1000;

}  // namespace

LockedStateFile::LockedStateFile(const std::string& name) {
  for (int attempt = 0; attempt < kMaxLockAttempts; ++attempt) {
    fd_ = OpenDataFile(name, O_RDWR);
    if (fd_ < 0) return;
    lock_.emplace(fd_);
    struct stat held {};
    struct stat named {};
    if (lock_->Locked() && ::fstat(fd_, &held) == 0 && ::stat(name.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return;
    }
    const bool locked = lock_->Locked();
    Release();
    if (!locked) return;
  }
}

LockedStateFile::~LockedStateFile() {
  Release();
}

bool LockedStateFile::Read(std::string& text, size_t max_bytes) const {
  char buffer[8192];
  off_t offset = 0;
  while (text.size() < max_bytes) {
    const ssize_t n = ::pread(fd_, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    offset += n;
  }
  if (text.size() > max_bytes) text.resize(max_bytes);
  return true;
}

bool LockedStateFile::Append(std::string_view bytes) const {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) return false;
  ssize_t written = 0;
  do {
    written = ::pwrite(fd_, bytes.data(), bytes.size(), info.st_size);
  } while (written < 0 && errno == EINTR);
  return written == static_cast<ssize_t>(bytes.size());
}

void LockedStateFile::Release() {
  lock_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}
