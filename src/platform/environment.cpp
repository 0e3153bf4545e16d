#include "platform/environment.h"

#include <cstdlib>

#include "platform/whole_file.h"

extern char** environ;

std::string GetEnvVar(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return "";
  std::string result(value);
  // A server that calls itself "ZB..." is a development host, not a CGI server.
  if (name == "SERVER_SOFTWARE" && result.find("ZB") != std::string::npos) return "";
  return result;
}

std::vector<std::string> EnvironmentStrings() {
  std::vector<std::string> result;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    result.emplace_back(*entry);
  }
  return result;
}

std::vector<std::string> CommandLineParams() {
  // /proc/self/cmdline holds argv as zero-terminated strings; reading it spares every main()
  // from handing argc/argv down to the engine. The command line never changes, and the
  // start-up tests ask for it several times: it is read once.
  static const std::vector<std::string> params = [] {
    std::string all;
    ReadWholeFile("/proc/self/cmdline", all);
    std::vector<std::string> result;
    size_t start = 0;
    bool first = true;
    while (start < all.size()) {
      size_t end = all.find('\0', start);
      if (end == std::string::npos) end = all.size();
      if (!first) result.push_back(all.substr(start, end - start));
      first = false;
      start = end + 1;
    }
    return result;
  }();
  return params;
}
