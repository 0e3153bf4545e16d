#include "engine/adapters/cgi_startup.h"

#include <chrono>
#include <cstdlib>

#include "common/text_compare.h"
#include "engine/adapters/request_server.h"
#include "engine/adapters/spool_owners.h"
#include "engine/engine_types.h"
#include "engine/http_utils.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file_system.h"

namespace {

constexpr std::chrono::seconds kServerAliveWindow{30};

}  // namespace

bool StartedByWebServer() {
  return std::getenv("GATEWAY_INTERFACE") != nullptr || !GetEnvVar("SERVER_SOFTWARE").empty() ||
         std::getenv("REQUEST_METHOD") != nullptr;
}

bool IsServerProcess() {
  // The query string of a request can reach the command line (a query without "=" becomes
  // the parameters): a visitor must never be able to start a server.
  if (StartedByWebServer()) return false;
  std::vector<std::string> params = CommandLineParams();
  if (params.empty()) return true;
  return params.size() == 2 && Trim(params[0]) == "$$START_SERVER";
}

bool IsServerAlive() {
  if (InsideServerLoop()) return true;
  const TFileInfo marker = FileInfoOf(ServerMarkerFile());
  if (!marker.Exists()) return false;
  const TWallTime stamp = WallTimeOfSeconds(marker.modified.seconds);
  // A marker outlives a server that was killed; the server lock does not.
  return stamp > WallClockNow() - kServerAliveWindow && spool::ServerLockHeld();
}

bool IsStandardCGI() {
  if (RunsAsLibrary()) return false;
  if (StartedByWebServer()) return true;
  if (IsServerProcess()) return FindText(GetEnvVar("CGI_VERSION"), "WIN") == std::string::npos;
  return false;
}

bool IsWindowsCGI() {
  // Under a web server the parameters may come from the query string: a visitor must never
  // choose the profile file (a results file holds visitor text, and could name the output).
  if (StartedByWebServer()) return false;
  if (IsServerProcess()) return true;
  std::vector<std::string> params = CommandLineParams();
  if (params.empty() || !IsRegularFile(AddDriveIfMissing(params[0]))) return false;
  std::string version = UpperCase(GetEnvVar("CGI_VERSION"));
  return version.empty() || version.find("WIN") != std::string::npos;
}

std::unique_ptr<TStringList> BuildEnvironmentList() {
  auto list = std::make_unique<TStringList>(true);
  std::vector<std::string> entries = EnvironmentStrings();
  list->Reserve(static_cast<int>(entries.size()));
  for (std::string& entry : entries) list->Add(std::move(entry));
  return list;
}
