// Starting the request server: a detached copy of the program, of which only one survives.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/adapters/request_server.h"
#include "engine/adapters/spool_files.h"
#include "engine/http_log.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/process.h"

namespace {

// How long a new server may take until its marker appears.
constexpr std::chrono::milliseconds kServerStartWait{600};

// Waits (on folder events) until the marker exists, at most `limit`.
bool WaitForMarker(spool::TSpoolWatch& watch, std::chrono::milliseconds limit) {
  const auto deadline = MonotonicNow() + limit;
  while (!FileInfoOf(ServerMarkerFile()).Exists()) {
    if (MonotonicNow() >= deadline) return false;
    watch.Wait(deadline);
  }
  return true;
}

}  // namespace

void StartRequestServer() {
  const std::string program = ModuleFileName();
  // A clean environment: the server must not take this request's variables for its own.
  const char* path = std::getenv("PATH");
  std::vector<std::string> environment{std::string("PATH=") +
                                       (path != nullptr ? path : "/usr/bin:/bin")};
  const std::string log_dir = ConfiguredLogFolder();
  if (!log_dir.empty()) environment.push_back("CGI_LOG_DIR=" + log_dir);
#if defined(__SANITIZE_THREAD__)
  // A ThreadSanitizer build's server reports where the build's tests look for reports.
  if (const char* tsan = std::getenv("TSAN_OPTIONS"); tsan != nullptr) {
    environment.push_back(std::string("TSAN_OPTIONS=") + tsan);
  }
#endif
  // Detached, so that nothing of the CGI process reaches the server: above all not the pipe to
  // the web server, which would wait for the server's end before it finishes this answer.
  const int failed = StartDetachedProcess(program, {program, "$$START_SERVER", "X"}, environment);
  if (failed != 0) {
    WriteHttpLog(std::string("Server mode - cannot start the server: ") + std::strerror(failed));
    return;
  }
  if (spool::EnsureSpoolDir()) {
    spool::TSpoolWatch watch;
    WaitForMarker(watch, kServerStartWait);
  }
}
