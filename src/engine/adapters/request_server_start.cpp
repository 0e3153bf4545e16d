// Starting the request server: a detached copy of the program, of which only one survives.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/module_path.h"
#include "engine/adapters/request_server.h"
#include "engine/adapters/spool_files.h"
#include "engine/http_log.h"

namespace {

using spool::Clock;

// How long a new server may take until its marker appears.
constexpr std::chrono::milliseconds kServerStartWait{600};

bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// Waits (on folder events) until the marker exists, at most `limit`.
bool WaitForMarker(spool::TSpoolWatch& watch, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!FileExists(ServerMarkerFile())) {
    if (Clock::now() >= deadline) return false;
    watch.Wait(deadline);
  }
  return true;
}

}  // namespace

void StartRequestServer() {
  const std::string program = ModuleFileName();
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal_number : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD}) {
    sigaddset(&defaults, signal_number);
  }
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  // Nothing of the CGI process may reach the server: above all not the pipe to the web
  // server, which would wait for the server's end before it finishes this answer.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  std::string arg_program = program;
  std::string arg_start = "$$START_SERVER";
  std::string arg_x = "X";
  char* argv[] = {arg_program.data(), arg_start.data(), arg_x.data(), nullptr};
  // A clean environment: the server must not take this request's variables for its own.
  const char* path = std::getenv("PATH");
  std::string path_entry = std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin");
  const std::string log_dir = ConfiguredLogFolder();
  std::string log_entry = "CGI_LOG_DIR=" + log_dir;
  std::vector<char*> envp{path_entry.data()};
  if (!log_dir.empty()) envp.push_back(log_entry.data());
#if defined(__SANITIZE_THREAD__)
  // A ThreadSanitizer build's server reports where the build's tests look for reports.
  const char* tsan = std::getenv("TSAN_OPTIONS");
  std::string tsan_entry = std::string("TSAN_OPTIONS=") + (tsan != nullptr ? tsan : "");
  if (tsan != nullptr) envp.push_back(tsan_entry.data());
#endif
  envp.push_back(nullptr);

  pid_t pid = 0;
  const int failed = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) {
    WriteHttpLog(std::string("Server mode - cannot start the server: ") + std::strerror(failed));
    return;
  }
  if (spool::EnsureSpoolDir()) {
    spool::TSpoolWatch watch;
    WaitForMarker(watch, kServerStartWait);
  }
}
