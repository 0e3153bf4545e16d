#pragma once

#include <utility>

// The owner of one open file descriptor (a file, a socket, a pipe end): it closes the descriptor
// when it goes, so that no error path leaks one. Move-only; -1 holds nothing.
class TFileDescriptor {
 public:
  TFileDescriptor() = default;
  explicit TFileDescriptor(int fd) : fd_(fd) {}
  TFileDescriptor(TFileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  TFileDescriptor& operator=(TFileDescriptor&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  ~TFileDescriptor() { Reset(); }

  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  explicit operator bool() const { return IsOpen(); }

  // Gives the descriptor up without closing it (to a caller that closes it itself).
  int Release() { return std::exchange(fd_, -1); }

  // Closes the descriptor held, if any, and holds `fd` instead.
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};
