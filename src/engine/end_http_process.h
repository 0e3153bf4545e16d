#pragma once

// The end of a gateway process, in one place. The program's main calls it once the adapter has
// returned; owner code may call it (through THttpEngine::Terminate) to end a one-request process
// in the middle of its request, which then finishes that request first: the buffered answer is
// sent and the request's upload files are deleted.
//
// It stops the watchdog, runs the process-end handlers (platform/process_end.h), flushes the
// standard streams and ends the process with exit code 0 (or the one a start-up refusal set with
// SetExitCode). Does not return.
[[noreturn]] void EndHttpProcess();
