#pragma once

// SIGTERM, SIGINT and SIGHUP ask a resident loop (the request server, the FastCGI responder) to
// stop. The handler only sets a flag and writes one byte into a pipe that the loop polls beside
// its other descriptors, whichever thread the signal lands on; the byte is never read, so one
// signal wakes every thread that waits on the pipe.
//
// One TStopSignals lives for the loop's run: it clears the flag, installs the handlers (with
// SA_RESTART, so a read or write that the signal interrupts goes on) and restores the previous
// ones when it ends.
class TStopSignals {
 public:
  TStopSignals();
  ~TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  // Readable once a stop was asked for (-1 when the pipe could not be made: the flag still
  // works, the loop then notices it at its next wake-up).
  int ReadFd() const { return pipe_[0]; }

  static bool StopRequested();
  // Asks the loop to stop and wakes it: from a signal handler or from any thread.
  static void RequestStop();

  // Keeps the stop signals off the calling thread, so they go to a thread that waits for the
  // stop. A signal handled on a request thread would interrupt a blocking call on the web
  // server's connection, which the request would take for a broken connection.
  static void BlockInThisThread();

 private:
  int pipe_[2] = {-1, -1};
};
