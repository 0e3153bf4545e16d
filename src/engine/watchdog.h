#pragma once

#include <chrono>
#include <string>

#include "platform/clock.h"

// The process's one watchdog: while armed, it ends the process with exit code 0 (and no
// further output) once the deadline has passed. ReadInput arms it for 30 s before reading and
// after every chunk and disarms it when done, so a client that stops sending ends the process
// 30 s after its last byte. The thread waits on a condition variable, never in a busy loop.
//
// Before ending the process it deletes the upload files registered with RegisterTempFile, so
// that no upload outlives a request that was cut short.
namespace watchdog {

inline constexpr std::chrono::seconds kReadTimeout{30};

// Starts the watchdog thread unless it runs already.
void Start();
// Arms (or re-arms) the deadline to now + timeout; starts the thread first when it does not run
// yet (a process whose reads never wait never starts it).
void Arm(TMonotonicClock::duration timeout = kReadTimeout);
void Disarm();
// The armed deadline, or time_point{} when disarmed.
TMonotonicTime Deadline();
// Tells the thread to stop and waits for it. Safe to call when it never ran.
void Stop();
bool Running();

// Upload files to delete should the watchdog end the process.
void RegisterTempFile(const std::string& path);
void UnregisterTempFile(const std::string& path);

}  // namespace watchdog
