#pragma once

#include <functional>

// The end of a one-request process (stands in for TerminateProcess on itself).

// Registers a handler run by EndProcess, last registered first (the owner of the program's
// form frees it here). Handlers must not throw; a failure is ignored.
void AddProcessEndHandler(std::function<void()> handler);
// Runs the handlers, flushes the C and C++ standard streams and ends the process with `code`
// without running static destructors. Does not return.
[[noreturn]] void EndProcess(int code);
// The exit code the program's regular end (EndHttpProcess) uses: 0 unless a start-up refusal
// set another before returning to main.
void SetExitCode(int code);
int ExitCode();
// Ends the process at once with `code`: no handlers, no flushing (the watchdog's exit).
[[noreturn]] void KillProcess(int code);
