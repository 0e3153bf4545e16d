#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/file_descriptor.h"

// Processes of the machine, by their id: this one, others to look at or end, and a detached
// copy of a program to start.

using TProcessId = pid_t;

// The id of this process.
TProcessId CurrentProcessId();

// True while a process with this id exists, whoever it belongs to (kill with signal 0); false
// for 0 and below, which name no single process.
bool ProcessExists(TProcessId pid);

// A descriptor of the process `pid` (pidfd) that becomes readable once the process has ended, so
// that its end can be waited for beside other descriptors (WaitReadable, TFolderWatch). Unopened
// for 0 and below, for a process that is gone, and when the kernel has no such descriptors
// (before Linux 5.3); errno tells why.
TFileDescriptor OpenProcessHandle(TProcessId pid);

// Ends the process `pid` at once (SIGKILL, which it can neither catch nor ignore). False when
// no such process exists or it belongs to another user; errno tells why. Never 0 and below,
// which would name a whole process group.
bool KillOtherProcess(TProcessId pid);

// Starts `program` as a process that lives on after this one, detached from it: in a session of
// its own (no controlling terminal; a signal to this process's group does not reach it), with no
// signal blocked, and SIGPIPE, SIGTERM, SIGINT, SIGHUP and SIGCHLD at their defaults whatever
// this process made of them. Its standard input, output and error are /dev/null, and it inherits
// no other descriptor, so that nothing this process holds open (the pipe to a web server, say)
// stays open for the new process's lifetime. `arguments` is its whole argument list, the program
// name first; `environment` its whole environment ("NAME=value" each), nothing of this
// process's own. Nobody waits for it: once this process has ended, the system reaps it.
// Returns 0 with the new process's id in `started` (when given), or the error number why it
// could not be started (as strerror reads it).
int StartDetachedProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment,
                         TProcessId* started = nullptr);
