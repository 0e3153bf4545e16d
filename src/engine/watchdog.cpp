#include "engine/watchdog.h"

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "platform/file_system.h"
#include "platform/process_end.h"

namespace watchdog {
namespace {

using Clock = TMonotonicClock;

struct State {
  std::mutex mutex;
  std::condition_variable changed;
  Clock::time_point deadline{};  // time_point{}: disarmed
  bool stop = false;
  bool running = false;
  std::thread thread;
  std::set<std::string> temp_files;
};

// Never destroyed: the thread may still wait on it while static objects are torn down.
State& TheState() {
  static State* state = new State;
  return *state;
}

[[noreturn]] void Expire(State& state) {
  // The request is cut short: its uploads must not outlive it.
  for (const std::string& path : state.temp_files) RemoveFile(path);
  KillProcess(0);
}

void Loop() {
  State& state = TheState();
  std::unique_lock<std::mutex> lock(state.mutex);
  while (!state.stop) {
    if (state.deadline == Clock::time_point{}) {
      state.changed.wait(lock);
      continue;
    }
    Clock::time_point deadline = state.deadline;
    if (Clock::now() >= deadline) Expire(state);
    // Wakes at the deadline, or earlier when it is re-armed, disarmed or stopped.
    state.changed.wait_until(lock, deadline);
  }
}

}  // namespace

void Start() {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.running) return;
  state.stop = false;
  state.running = true;
  state.thread = std::thread(Loop);
}

void Arm(Clock::duration timeout) {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.running) {
    state.stop = false;
    state.running = true;
    state.thread = std::thread(Loop);
  }
  state.deadline = Clock::now() + timeout;
  state.changed.notify_all();
}

void Disarm() {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.deadline = Clock::time_point{};
  state.changed.notify_all();
}

Clock::time_point Deadline() {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.deadline;
}

void Stop() {
  State& state = TheState();
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.running) return;
    state.stop = true;
    state.running = false;
    state.changed.notify_all();
    thread.swap(state.thread);
  }
  if (thread.joinable()) {
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();
    } else {
      thread.join();
    }
  }
}

bool Running() {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.running;
}

void RegisterTempFile(const std::string& path) {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.temp_files.insert(path);
}

void UnregisterTempFile(const std::string& path) {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.temp_files.erase(path);
}

}  // namespace watchdog
