#pragma once

#include <memory>

#include "engine/fastcgi_startup.h"
#include "engine/http_cgi_engine.h"

// The FastCGI adapter: one resident process answers many requests, each on one of a fixed set
// of request threads, over libfcgi's thread-safe FCGX interface.
//
// Every request runs through ProcessRequest with its own request record (the thread's
// TRequestContext) and the gateway's own per-request state, exactly as a CGI run would: the
// answer is the CGI answer (a "Status:" line, the headers, the body) and nothing of a request
// outlives it. The process never ends after a request. SIGTERM, SIGINT or SIGHUP stop the
// accepting; the requests in hand finish and are answered, then Run returns.
//
// The request body comes from the web server's FCGI_STDIN records. A client that stops
// sending fails its request after 30 s (a receive time-out on the connection); the process's
// watchdog is never armed for it, so it can never end the resident process.
class TFastCGIEngine : public THttpCGIEngine {
 public:
  TFastCGIEngine() = default;

  // With `output` given: ProcessRequest on the given streams. Without: reads the options from
  // the command line (engine/fastcgi_startup.h), listens (or takes the socket on standard
  // input) and serves until stopped; a bad option or a socket that cannot be opened prints the
  // reason and the usage on standard error and sets exit code 2 (the caller ends the process).
  void Run(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
           std::unique_ptr<TStringList> variables) override;

  // Serves FastCGI requests on the listening socket `listen_fd` with `threads` request
  // threads until RequestStop or a stop signal; returns when every request in hand is done.
  // The socket is made non-blocking and is not closed. Runs the adapter's OnLastExecRequest
  // once at the end.
  void Serve(int listen_fd, int threads);

  // Asks a running Serve to stop accepting (also from a signal handler or another thread).
  static void RequestStop();
};
