#pragma once

#include <string>
#include <vector>

#include "platform/clock.h"

// Waits for changes in one folder (inotify: a file created, written and closed, moved in or out,
// or deleted), and at the same time for extra descriptors to become readable (a signal pipe, a
// pidfd). Without inotify (none left, or the folder cannot be watched) every Wait is a plain
// pause of kFolderPollPause at most, so callers re-check their condition after each Wait in any
// case. Which change woke a Wait is not told: callers look at the folder afterwards.
class TFolderWatch {
 public:
  static constexpr std::chrono::milliseconds kFolderPollPause{50};

  // Watches `folder` from now on.
  explicit TFolderWatch(const std::string& folder);
  ~TFolderWatch();
  TFolderWatch(const TFolderWatch&) = delete;
  TFolderWatch& operator=(const TFolderWatch&) = delete;

  // Also wakes when `fd` becomes readable (or hangs up). Not owned: it must stay open while
  // this watch waits on it.
  void AddDescriptor(int fd);
  // Waits until the folder changes, an extra descriptor is ready or `deadline` passes. Returns
  // true when woken by an extra descriptor. Drains the folder's pending events.
  bool Wait(TMonotonicTime deadline);
  bool Watching() const { return inotify_fd_ >= 0; }

 private:
  int inotify_fd_ = -1;
  std::vector<int> extra_fds_;
};
