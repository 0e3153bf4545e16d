#pragma once

#include <sys/types.h>

// Other processes of the machine, by their id.

using TProcessId = pid_t;

// True while a process with this id exists, whoever it belongs to (kill with signal 0); false
// for 0 and below, which name no single process.
bool ProcessExists(TProcessId pid);
