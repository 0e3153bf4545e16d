#include "engine/adapters/cgi_std_engine.h"

#include <cstdio>

#include "engine/adapters/cgi_startup.h"
#include "engine/adapters/request_server.h"
#include "platform/file_io.h"
#include "platform/process_end.h"

void TCGIStdEngine::RunConsoleRequest() {
  // A console build would serve its request here; the gateway is a windowed build.
}

void TCGIStdEngine::Run(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
                        std::unique_ptr<TStringList> variables) {
  if (output) {
    ProcessRequest(std::move(input), std::move(output), std::move(variables));
    return;
  }
  // The standard handles stay open when their streams are freed.
  if (IsServerProcess()) {
    RunServerLoop(*this);
    return;
  }
  // A live server answers every request, whatever this site's CGIMode; a server mode starts one
  // when none runs. The forwarder serves the request itself when no server can.
  const bool alive = IsServerAlive();
  if (alive || CGIMode() != NormalMode) {
    if (!alive) StartRequestServer();
    ForwardToServer(*this, std::make_unique<THandleStream>(kStandardInput),
                    std::make_unique<THandleStream>(kStandardOutput), BuildEnvironmentList());
    return;
  }
  if (!IsStandardCGI()) {
    // Parameters without a web server: there is no request and nowhere to answer; running the
    // handler anyway would act on nothing and report success.
    std::fprintf(stderr, "%s\n", kNoCgiRequest);
    SetExitCode(2);
    return;
  }
  ProcessRequest(std::make_unique<THandleStream>(kStandardInput),
                 std::make_unique<THandleStream>(kStandardOutput), BuildEnvironmentList());
}
