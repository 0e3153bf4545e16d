#pragma once

#include "engine/adapters/http_cgi_engine.h"

// The Windows CGI adapter: the web server writes the request into a profile file, passes its
// path as the program's first parameter and reads the answer from the output file the profile
// names (engine/adapters/win_cgi_profile.h). The answer has the same form as under standard CGI.
//
// TGeneralHttpEngine creates this adapter instead of the standard one when IsWindowsCGI()
// holds (engine/adapters/cgi_startup.h), which includes the request-server process: the request
// server then serves every spooled request through Run with streams given.
class TCGIWinEngine : public THttpCGIEngine {
 public:
  TCGIWinEngine() = default;

  // Console builds only; the gateway (a windowed build) does nothing here.
  void RunConsoleRequest() override;

  // Nothing unless IsWindowsCGI(). Then:
  //  - `output` given (a request served inside the request server): ProcessRequest on the
  //    given streams and variables;
  //  - a live request server (and this process is not it): the profile named by the first
  //    parameter is read and its request handed over (ForwardToServer);
  //  - ServerMode or ServerThreadMode without a live server: StartRequestServer, then the
  //    profile's request is handed over (served here when the server cannot answer it);
  //  - a request-server process: RunServerLoop, which switches NormalMode to ServerMode;
  //  - otherwise: ProcessRequest on the profile's request, the answer going to its output file.
  // Returns to the caller, which ends the process. A profile that cannot be read (missing, no
  // OUTPUT_FILE, an output file that cannot be opened) serves nothing: the reason goes to the
  // engine log and to standard error, and the web server finds no answer file.
  void Run(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
           std::unique_ptr<TStringList> variables) override;
};
