#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The argument or environment list as exec takes it: pointers into `strings`, ended by null.
std::vector<char*> NullEndedList(const std::vector<std::string>& strings) {
  std::vector<char*> list;
  list.reserve(strings.size() + 1);
  for (const std::string& text : strings) list.push_back(const_cast<char*>(text.c_str()));
  list.push_back(nullptr);
  return list;
}

}  // namespace

TProcessId CurrentProcessId() {
  return ::getpid();
}

bool ProcessExists(TProcessId pid) {
  // EPERM: the process exists but belongs to someone else.
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

TFileDescriptor OpenProcessHandle(TProcessId pid) {
  if (pid <= 0) {
    errno = EINVAL;
    return TFileDescriptor();
  }
  // The C library has no wrapper for every kernel this runs on; a pidfd is close-on-exec.
  return TFileDescriptor(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

bool KillOtherProcess(TProcessId pid) {
  if (pid <= 0) {
    errno = EINVAL;
    return false;
  }
  return ::kill(pid, SIGKILL) == 0;
}

int StartDetachedProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment, TProcessId* started) {
  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  sigset_t none;
  ::sigemptyset(&none);
  sigset_t defaults;
  ::sigemptyset(&defaults);
  for (int signal_number : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD}) {
    ::sigaddset(&defaults, signal_number);
  }
  ::posix_spawnattr_setsigmask(&attributes, &none);
  ::posix_spawnattr_setsigdefault(&attributes, &defaults);
  ::posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  std::vector<char*> argv = NullEndedList(arguments);
  std::vector<char*> envp = NullEndedList(environment);
  pid_t pid = 0;
  const int failed =
      ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  if (failed == 0 && started != nullptr) *started = pid;
  return failed;
}
