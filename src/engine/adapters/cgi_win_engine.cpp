#include "engine/adapters/cgi_win_engine.h"

#include <cstdio>
#include <optional>

#include "common/exception.h"
#include "engine/adapters/cgi_startup.h"
#include "engine/adapters/request_server.h"
#include "engine/adapters/win_cgi_profile.h"
#include "engine/http_log.h"
#include "platform/environment.h"

namespace {

// The request of the profile named by the first parameter, or nothing when it cannot be read.
// Such a run has nowhere to answer, so the reason is logged for the site's owner.
std::optional<TWinCGIRequest> ReadRequestProfile() {
  std::vector<std::string> params = CommandLineParams();
  try {
    if (params.empty()) throw Exception("Windows CGI: no profile named on the command line");
    return ReadWinCGIProfile(params[0]);
  } catch (const Exception& e) {
    WriteHttpLog(e.Message());
    std::fprintf(stderr, "%s\n", e.Message().c_str());
    return std::nullopt;
  }
}

// Hands the profile's request to the live request server, or serves it here when none can.
void Forward(THttpCGIEngine& adapter, TWinCGIRequest request) {
  // The forwarder copies CONTENT_LENGTH bytes of the body: a request without one has an empty
  // body.
  if (!request.Input) request.Input = std::make_unique<TMemoryStream>();
  ForwardToServer(adapter, std::move(request.Input), std::move(request.Output),
                  std::move(request.Variables));
}

}  // namespace

void TCGIWinEngine::RunConsoleRequest() {
  // A console build would serve its request here; the gateway is a windowed build.
}

void TCGIWinEngine::Run(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
                        std::unique_ptr<TStringList> variables) {
  if (!IsWindowsCGI()) return;
  if (output) {
    ProcessRequest(std::move(input), std::move(output), std::move(variables));
    return;
  }
  const bool server_process = IsServerProcess();
  if (!server_process && IsServerAlive()) {
    // A resident server answers every request while it runs, whatever this site's CGIMode.
    if (auto request = ReadRequestProfile()) Forward(*this, std::move(*request));
    return;
  }
  if (!server_process && CGIMode() != NormalMode) {
    StartRequestServer();
    if (auto request = ReadRequestProfile()) Forward(*this, std::move(*request));
    return;
  }
  if (server_process) {
    if (CGIMode() == NormalMode) SetCGIMode(ServerMode);
    RunServerLoop(*this);
    return;
  }
  if (auto request = ReadRequestProfile()) {
    ProcessRequest(std::move(request->Input), std::move(request->Output),
                   std::move(request->Variables));
  }
}
