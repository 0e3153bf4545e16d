#include "engine/cgi_std_engine.h"

#include <unistd.h>

#include <cstdio>

#include "engine/cgi_startup.h"
#include "platform/process_end.h"

namespace {

// The paths that would need a resident request server end here, loudly, instead of pretending
// to serve.
[[noreturn]] void Unavailable(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  EndProcess(2);
}

}  // namespace

void TCGIStdEngine::RunConsoleRequest() {
  // A console build would serve its request here; the gateway is a windowed build.
}

void TCGIStdEngine::Run(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
                        std::unique_ptr<TStringList> variables) {
  if (output) {
    ProcessRequest(std::move(input), std::move(output), std::move(variables));
    return;
  }
  bool server_process = IsServerProcess();
  if (server_process || IsServerAlive()) {
    // A request-server start, or a live server that would take this request over.
    Unavailable(kRequestServerUnavailable);
  }
  if (CGIMode() != NormalMode) {
    // A server mode would start the request server and hand the request to it.
    Unavailable(kRequestServerUnavailable);
  }
  if (!IsStandardCGI()) {
    // Without a CGI environment there is no request and nowhere to answer: running the
    // handler anyway would act on nothing and report success.
    Unavailable("no CGI request: the program was not started by a web server");
  }
  // The standard handles stay open when their streams are freed.
  ProcessRequest(std::make_unique<THandleStream>(STDIN_FILENO),
                 std::make_unique<THandleStream>(STDOUT_FILENO), BuildEnvironmentList());
}
