#pragma once

#include "engine/http_cgi_engine.h"

// The standard CGI adapter: the request arrives in the environment and on standard input, the
// answer leaves on standard output.
class TCGIStdEngine : public THttpCGIEngine {
 public:
  TCGIStdEngine() = default;

  // Console builds only; the gateway (a windowed build) does nothing here.
  void RunConsoleRequest() override;

  // With `output` given: ProcessRequest on the given streams and variables. Without:
  //  - a request-server start or a live request server: the request server is not part of this
  //    build, so one line goes to standard error and the process ends with exit code 2;
  //  - a server mode without a live server: likewise;
  //  - otherwise ProcessRequest on standard input, standard output and the environment.
  void Run(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
           std::unique_ptr<TStringList> variables) override;
};

// The line printed when a path would need the resident request server.
inline constexpr const char* kRequestServerUnavailable =
    "request server mode is not available in this build";
