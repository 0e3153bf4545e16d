#pragma once

#include <functional>
#include <memory>

#include "engine/adapters/fastcgi_socket.h"
#include "engine/adapters/fastcgi_startup.h"
#include "engine/adapters/http_cgi_engine.h"

// The FastCGI adapter: one resident process answers many requests, each on one of a fixed set
// of request threads, each thread speaking FastCGI on its connection itself
// (engine/adapters/fastcgi_connection.h).
//
// Every request runs through ProcessRequest with its own request record (the thread's
// TRequestContext) and the gateway's own per-request state, exactly as a CGI run would: the
// answer is the CGI answer (a "Status:" line, the headers, the body) and nothing of a request
// outlives it. The process never ends after a request. SIGTERM, SIGINT or SIGHUP stop the
// accepting; the requests in hand finish and are answered, then Run returns (exit code 0). No
// request the process has accepted is dropped: see Serve for which are still taken at a stop.
//
// Whoever can connect to the socket chooses every request variable, the client's address
// included: the socket is the web server's alone (engine/adapters/fastcgi_socket.h). A peer cannot
// hold a thread for long either: the parameters must arrive within 10 s of the accept, the body
// within 60 s of its first read, each wait at most 30 s (TFastCGILimits); a peer that misses a
// deadline fails its request and loses its connection. The process's watchdog is never armed for a
// FastCGI request, so no peer can end the resident process.
class TFastCGIEngine : public THttpCGIEngine {
 public:
  TFastCGIEngine() = default;

  // With `output` given: ProcessRequest on the given streams. Without: reads the options from
  // the command line (engine/adapters/fastcgi_startup.h), listens
  // (engine/adapters/fastcgi_socket.h; or takes the socket on standard input) and serves until
  // stopped. A bad option prints the reason and the usage on standard error, a socket that cannot
  // be opened (another process serves the address, say) the reason; both set exit code 2 (the
  // caller ends the process).
  void Run(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
           std::unique_ptr<TStringList> variables) override;

  // Serves FastCGI requests on the listening socket `listen_fd` with `threads` request
  // threads until RequestStop or a stop signal, then returns once every thread has answered the
  // request it holds and any request already waiting on its kept connection. A TCP peer that
  // `clients` does not allow is closed unread. With `withdraw`
  // (a unix socket this process opened: TFastCGISocket::Withdraw), the stop first calls it once
  // and the threads also answer every connection already queued on the socket; without it the
  // queue stays on the socket for the next process (systemd's socket unit keeps it). The socket
  // is made non-blocking and is not closed. Runs the adapter's OnLastExecRequest once at the end.
  void Serve(int listen_fd, int threads, const TClientFilter& clients,
             const std::function<void()>& withdraw = nullptr);

  // Asks a running Serve to stop accepting (also from a signal handler or another thread).
  static void RequestStop();
};
