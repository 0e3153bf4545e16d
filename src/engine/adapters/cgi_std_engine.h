#pragma once

#include "engine/adapters/http_cgi_engine.h"

// The standard CGI adapter: the request arrives in the environment and on standard input, the
// answer leaves on standard output.
class TCGIStdEngine : public THttpCGIEngine {
 public:
  TCGIStdEngine() = default;

  // Console builds only; the gateway (a windowed build) does nothing here.
  void RunConsoleRequest() override;

  // With `output` given (a request served inside the request server): ProcessRequest on the
  // given streams and variables. Without:
  //  - a request-server process (engine/adapters/cgi_startup.h): becomes the request server
  //    (RunServerLoop, which switches NormalMode to ServerMode) and returns when it stops;
  //  - a live request server: hands the request over (ForwardToServer with standard input,
  //    standard output and the environment), whatever the CGIMode;
  //  - ServerMode or ServerThreadMode without a live server: starts one, then hands over;
  //    a request the server cannot take or answer is served in this process all the same;
  //  - a standard CGI run: ProcessRequest on standard input, standard output and the
  //    environment;
  //  - anything else (parameters but no web server): one line on standard error, exit code 2.
  // The first three return to the caller, which ends the process.
  void Run(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
           std::unique_ptr<TStringList> variables) override;
};

// The line printed when the program runs neither under a web server nor as a request server.
inline constexpr const char* kNoCgiRequest =
    "no CGI request: the program was not started by a web server";
