#include "platform/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

namespace {

constexpr std::array<int, 3> kStopSignals{SIGTERM, SIGINT, SIGHUP};
std::atomic<bool> stop_requested{false};
std::atomic<int> stop_write_fd{-1};
std::array<struct sigaction, kStopSignals.size()> previous_actions{};

void HandleStopSignal(int) {
  const int saved = errno;
  TStopSignals::RequestStop();
  errno = saved;
}

}  // namespace

TStopSignals::TStopSignals() {
  stop_requested.store(false);
  if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) pipe_[0] = pipe_[1] = -1;
  stop_write_fd.store(pipe_[1]);
  struct sigaction action {};
  action.sa_handler = &HandleStopSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < kStopSignals.size(); ++i) {
    sigaction(kStopSignals[i], &action, &previous_actions[i]);
  }
}

TStopSignals::~TStopSignals() {
  for (size_t i = 0; i < kStopSignals.size(); ++i) {
    sigaction(kStopSignals[i], &previous_actions[i], nullptr);
  }
  stop_write_fd.store(-1);
  for (int fd : pipe_) {
    if (fd >= 0) close(fd);
  }
}

bool TStopSignals::StopRequested() {
  return stop_requested.load();
}

void TStopSignals::RequestStop() {
  stop_requested.store(true);
  const int fd = stop_write_fd.load();
  if (fd >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(fd, &byte, 1);
  }
}

void TStopSignals::BlockInThisThread() {
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int signal_number : kStopSignals) sigaddset(&blocked, signal_number);
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
}
