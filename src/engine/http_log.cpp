#include "engine/http_log.h"

#include <cstdio>
#include <ctime>

#include "engine/http_engine.h"
#include "platform/environment.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/module_path.h"

namespace {

// The log folder with its trailing "/".
std::string LogDirectory() {
  std::string dir = ConfiguredLogFolder();
  if (dir.empty()) dir = ProgramDir() + "log";
  if (dir.back() != '/') dir += '/';
  // One level only, as for the upload folder: a missing parent means a misconfiguration.
  if (!IsDirectory(dir) && !MakeDirectory(dir, 0755) && !IsDirectory(dir)) {
    return ProgramDir();
  }
  return dir;
}

std::string ModuleBaseName() {
  std::string name = ModuleFileName();
  size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

// Local date and time in the fixed US format: m/d/yyyy h:nn:ss AM/PM.
std::string LogTimestamp() {
  const std::tm local = LocalTimeNow();
  int hour12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
  char text[48];
  std::snprintf(text, sizeof text, "%d/%d/%04d %d:%02d:%02d %s", local.tm_mon + 1, local.tm_mday,
                local.tm_year + 1900, hour12, local.tm_min, local.tm_sec,
                local.tm_hour < 12 ? "AM" : "PM");
  return text;
}

}  // namespace

std::string ConfiguredLogFolder() {
  return GetEnvVar("CGI_LOG_DIR");
}

std::string HttpLogFileName() {
  return LogDirectory() + ModuleBaseName() + ".Log";
}

void WriteHttpLog(const std::string& text) {
  try {
    TRequestContext& context = RequestContext();
    std::string line =
        LogTimestamp() + ",  " + std::to_string(context.RequestNumber) + " : " + text + "\r\n";
    AppendToFileLocked(HttpLogFileName(), line);
    THttpEngine* engine = context.Engine;
    if (engine != nullptr && engine->DebugMode() != NoDebug && context.DebugLog) {
      context.DebugLog->WriteString(line);
    }
  } catch (...) {
    // Logging never fails a request.
  }
}
