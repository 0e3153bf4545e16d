#include "engine/adapters/fastcgi_startup.h"

#include <cstring>

#include "engine/adapters/cgi_startup.h"
#include "platform/environment.h"
#include "platform/socket_io.h"

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

bool IsFastCGI() {
  // A visitor can never make standard input a listening socket; parameters, though, may come
  // from a query string when a web server started the process.
  if (IsListeningSocket(0)) return true;
  if (StartedByWebServer()) return false;
  const std::vector<std::string> params = CommandLineParams();
  return !params.empty() && StartsWith(params[0], "--");
}

bool ParseFastCGIOptions(const std::vector<std::string>& params, TFastCGIOptions& options,
                         std::string& error) {
  for (size_t i = 0; i < params.size(); ++i) {
    const std::string& name = params[i];
    if (name != "--fastcgi" && name != "--threads" && name != "--socket-group" &&
        name != "--allow-clients") {
      error = "unknown option: " + name;
      return false;
    }
    if (i + 1 >= params.size() || params[i + 1].empty()) {
      error = "missing value for " + name;
      return false;
    }
    const std::string& value = params[++i];
    if (name == "--fastcgi") {
      options.Address = value;
      continue;
    }
    if (name == "--socket-group") {
      options.SocketGroup = value;
      continue;
    }
    if (name == "--allow-clients") {
      if (!options.Clients.Parse(value, error)) return false;
      continue;
    }
    if (value.size() > 3 || value.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(value) < 1 || std::stoi(value) > kMaxFastCGIThreads) {
      error =
          "--threads takes a number from 1 to " + std::to_string(kMaxFastCGIThreads) + ": " + value;
      return false;
    }
    options.Threads = std::stoi(value);
  }
  return true;
}
