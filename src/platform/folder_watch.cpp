#include "platform/folder_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>

TFolderWatch::TFolderWatch(const std::string& folder) {
  inotify_fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_fd_ < 0) return;
  const uint32_t events = IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE | IN_CREATE | IN_MOVED_FROM;
  if (::inotify_add_watch(inotify_fd_, folder.c_str(), events) < 0) {
    ::close(inotify_fd_);
    inotify_fd_ = -1;
  }
}

TFolderWatch::~TFolderWatch() {
  if (inotify_fd_ >= 0) ::close(inotify_fd_);
}

void TFolderWatch::AddDescriptor(int fd) {
  if (fd >= 0) extra_fds_.push_back(fd);
}

bool TFolderWatch::Wait(TMonotonicTime deadline) {
  std::vector<pollfd> fds;
  for (int fd : extra_fds_) fds.push_back({fd, POLLIN, 0});
  if (inotify_fd_ >= 0) fds.push_back({inotify_fd_, POLLIN, 0});
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - MonotonicNow());
  if (inotify_fd_ < 0) left = std::min<std::chrono::milliseconds>(left, kFolderPollPause);
  const int timeout = static_cast<int>(std::max<long long>(left.count(), 0));
  if (::poll(fds.data(), fds.size(), timeout) <= 0) return false;
  bool extra = false;
  for (size_t i = 0; i < extra_fds_.size(); ++i) extra = extra || fds[i].revents != 0;
  if (inotify_fd_ >= 0) {
    // The callers look at the folder afterwards; which events came does not matter.
    alignas(inotify_event) char buffer[4096];
    while (::read(inotify_fd_, buffer, sizeof buffer) > 0) {
    }
  }
  return extra;
}
