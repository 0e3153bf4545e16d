#include "platform/process.h"

#include <signal.h>

#include <cerrno>

bool ProcessExists(TProcessId pid) {
  // EPERM: the process exists but belongs to someone else.
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}
