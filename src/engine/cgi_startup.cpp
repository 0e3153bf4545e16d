#include "engine/cgi_startup.h"

#include <sys/stat.h>

#include <chrono>

#include "common/module_path.h"
#include "common/text_compare.h"
#include "engine/http_utils.h"
#include "platform/environment.h"

namespace {

constexpr std::chrono::seconds kServerAliveWindow{30};

bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

bool IsServerProcess() {
  std::vector<std::string> params = CommandLineParams();
  if (GetEnvVar("SERVER_SOFTWARE").empty() && params.empty()) return true;
  return params.size() == 2 && Trim(params[0]) == "$$START_SERVER";
}

std::string ServerMarkerFile() {
  std::string module = ModuleFileName();
  size_t slash = module.rfind('/');
  std::string file = slash == std::string::npos ? module : module.substr(slash + 1);
  return ProgramDir() + "temp/" + file + "_s";
}

bool IsServerAlive() {
  struct stat info {};
  if (stat(ServerMarkerFile().c_str(), &info) != 0) return false;
  auto stamp = std::chrono::system_clock::from_time_t(info.st_mtime);
  return stamp > std::chrono::system_clock::now() - kServerAliveWindow;
}

bool IsStandardCGI() {
  if (!GetEnvVar("SERVER_SOFTWARE").empty() || IsServerProcess()) {
    return UpperCase(GetEnvVar("CGI_VERSION")).find("WIN") == std::string::npos;
  }
  return false;
}

bool IsWindowsCGI() {
  if (IsServerProcess()) return true;
  std::vector<std::string> params = CommandLineParams();
  if (params.empty() || !FileExists(AddDriveIfMissing(params[0]))) return false;
  std::string version = UpperCase(GetEnvVar("CGI_VERSION"));
  return version.empty() || version.find("WIN") != std::string::npos;
}

std::unique_ptr<TStringList> BuildEnvironmentList() {
  auto list = std::make_unique<TStringList>(true);
  for (std::string& entry : EnvironmentStrings()) list->Add(std::move(entry));
  return list;
}
