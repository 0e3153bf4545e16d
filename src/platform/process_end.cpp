#include "platform/process_end.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

std::mutex& HandlersMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<std::function<void()>>& Handlers() {
  static std::vector<std::function<void()>> handlers;
  return handlers;
}

}  // namespace

void AddProcessEndHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(HandlersMutex());
  Handlers().push_back(std::move(handler));
}

void EndProcess(int code) {
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard<std::mutex> lock(HandlersMutex());
    handlers.swap(Handlers());
  }
  for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
    try {
      (*it)();
    } catch (...) {
      // The process ends anyway; a failing clean-up must not keep it alive.
    }
  }
  std::fflush(nullptr);
  // _exit: static destructors may still be in use by other threads (the watchdog).
  _exit(code);
}

namespace {
std::atomic<int> exit_code{0};
}  // namespace

void SetExitCode(int code) {
  exit_code = code;
}

int ExitCode() {
  return exit_code;
}

void KillProcess(int code) {
  _exit(code);
}
