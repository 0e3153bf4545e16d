#include "engine/adapters/spool_files.h"

#include <fnmatch.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "common/random_draw.h"
#include "engine/adapters/request_server.h"
#include "engine/http_log.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/private_folder.h"

namespace {

std::string ProgramFileName() {
  std::string module = ModuleFileName();
  size_t slash = module.rfind('/');
  return slash == std::string::npos ? module : module.substr(slash + 1);
}

}  // namespace

std::string SpoolBase() {
  return spool::SpoolDir() + ProgramFileName() + "_";
}

std::string ServerMarkerFile() {
  return SpoolBase() + "s";
}

namespace spool {

std::string SpoolDir() {
  return ProgramDir() + "Temp/";
}

bool EnsureSpoolDir() {
  // Request bodies are visitors' data: only the program's owner may list or read them.
  const std::string problem = PreparePrivateFolder(SpoolDir());
  if (!problem.empty()) WriteHttpLog("Server mode - " + problem);
  return problem.empty();
}

int CreateSpoolFile(const std::string& path) {
  return OpenFile(path,
                  open_flags::kReadWrite | open_flags::kCreate | open_flags::kExclusive |
                      open_flags::kNoFollow,
                  0600)
      .Release();
}

bool RenameWithRetries(const std::string& from, const std::string& to, int tries,
                       std::chrono::milliseconds pause) {
  for (int attempt = 0; attempt < tries; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(pause);
    if (RenameFile(from, to)) return true;
    // A file that is not there will not appear by waiting for it.
    if (errno == ENOENT) return false;
  }
  return false;
}

std::vector<std::string> FilesStartingWith(const std::string& prefix) {
  const size_t slash = prefix.rfind('/');
  const std::string dir = prefix.substr(0, slash + 1);
  const std::string start = prefix.substr(slash + 1);
  std::vector<std::string> files;
  for (const std::string& name : FolderNames(dir)) {
    if (name.compare(0, start.size(), start) == 0) files.push_back(dir + name);
  }
  return files;
}

int DeleteFilesStartingWith(const std::string& prefix) {
  int deleted = 0;
  for (const std::string& path : FilesStartingWith(prefix)) {
    if (RemoveFile(path)) ++deleted;
  }
  return deleted;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void DeleteOrphanedAnswers() {
  const std::string base = SpoolBase();
  DeleteFilesOlderThan(SpoolDir(), base.substr(base.rfind('/') + 1) + "*" + kResponseStage,
                       WallClockNow() - kAnswerWait);
}

void DeleteFilesOlderThan(const std::string& dir, const std::string& name_pattern,
                          TWallTime before) {
  const std::int64_t limit = WallSecondsOf(before);
  for (const std::string& name : FolderNames(dir)) {
    if (fnmatch(name_pattern.c_str(), name.c_str(), 0) != 0) continue;
    const std::string path = dir + name;
    const TFileInfo info = LinkInfoOf(path);
    if (!info.Exists() || info.kind == TFileKind::kDirectory || info.modified.seconds >= limit) {
      continue;
    }
    for (int attempt = 0; attempt < 11; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (RemoveFile(path) || errno == ENOENT) break;
    }
  }
}

std::string ClientAddressPart(const std::string& address) {
  std::string part = address;
  for (char& c : part) {
    const bool kept = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                      c == ':' || c == '-';
    if (!kept) c = '-';
  }
  return part;
}

std::string NewRequestBase(const std::string& address) {
  const std::string start = SpoolBase() + ClientAddressPart(address) + "_";
  for (;;) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%05X", static_cast<unsigned>(RandomBetween(0, 0xFFFFFFE)));
    std::string base = start + hex;
    if (FilesStartingWith(base).empty()) return base;
  }
}

TProcessId ServerPidFromMarker() {
  TFileDescriptor marker =
      OpenFile(ServerMarkerFile(), open_flags::kReadOnly | open_flags::kNoFollow);
  FILE* file = marker ? fdopen(marker.Get(), "r") : nullptr;
  if (file == nullptr) return 0;
  marker.Release();  // the stream closes it now
  long pid = 0;
  if (std::fscanf(file, "%ld", &pid) != 1 || pid <= 0) pid = 0;
  std::fclose(file);
  return static_cast<TProcessId>(pid);
}

}  // namespace spool
