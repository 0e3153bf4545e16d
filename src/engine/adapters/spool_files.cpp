#include "engine/adapters/spool_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>

#include "platform/module_path.h"
#include "common/random_draw.h"
#include "engine/adapters/request_server.h"
#include "engine/http_log.h"
#include "platform/private_folder.h"

namespace {

std::string ProgramFileName() {
  std::string module = ModuleFileName();
  size_t slash = module.rfind('/');
  return slash == std::string::npos ? module : module.substr(slash + 1);
}

// The names in `dir` (with its trailing "/"), without "." and "..".
std::vector<std::string> NamesIn(const std::string& dir) {
  std::vector<std::string> names;
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) return names;
  while (dirent* entry = readdir(handle)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  closedir(handle);
  std::sort(names.begin(), names.end());
  return names;
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
  return open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
}

bool RenameWithRetries(const std::string& from, const std::string& to, int tries,
                       std::chrono::milliseconds pause) {
  for (int attempt = 0; attempt < tries; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(pause);
    if (rename(from.c_str(), to.c_str()) == 0) return true;
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
  for (const std::string& name : NamesIn(dir)) {
    if (name.compare(0, start.size(), start) == 0) files.push_back(dir + name);
  }
  return files;
}

int DeleteFilesStartingWith(const std::string& prefix) {
  int deleted = 0;
  for (const std::string& path : FilesStartingWith(prefix)) {
    if (unlink(path.c_str()) == 0) ++deleted;
  }
  return deleted;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void DeleteOrphanedAnswers() {
  const std::string base = SpoolBase();
  DeleteFilesOlderThan(SpoolDir(), base.substr(base.rfind('/') + 1) + "*" + kResponseStage,
                       std::chrono::system_clock::now() - kAnswerWait);
}

void DeleteFilesOlderThan(const std::string& dir, const std::string& name_pattern,
                          std::chrono::system_clock::time_point before) {
  const time_t limit = std::chrono::system_clock::to_time_t(before);
  for (const std::string& name : NamesIn(dir)) {
    if (fnmatch(name_pattern.c_str(), name.c_str(), 0) != 0) continue;
    const std::string path = dir + name;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode) || info.st_mtime >= limit) {
      continue;
    }
    for (int attempt = 0; attempt < 11; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (unlink(path.c_str()) == 0 || errno == ENOENT) break;
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

pid_t ServerPidFromMarker() {
  const int fd = open(ServerMarkerFile().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  FILE* file = fd < 0 ? nullptr : fdopen(fd, "r");
  if (file == nullptr) {
    if (fd >= 0) close(fd);
    return 0;
  }
  long pid = 0;
  if (std::fscanf(file, "%ld", &pid) != 1 || pid <= 0) pid = 0;
  std::fclose(file);
  return static_cast<pid_t>(pid);
}

bool ProcessExists(pid_t pid) {
  // EPERM: the process exists but belongs to someone else.
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

TSpoolWatch::TSpoolWatch() {
  inotify_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_fd_ < 0) return;
  const uint32_t events = IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE | IN_CREATE | IN_MOVED_FROM;
  if (inotify_add_watch(inotify_fd_, SpoolDir().c_str(), events) < 0) {
    close(inotify_fd_);
    inotify_fd_ = -1;
  }
}

TSpoolWatch::~TSpoolWatch() {
  if (inotify_fd_ >= 0) close(inotify_fd_);
}

void TSpoolWatch::AddDescriptor(int fd) {
  if (fd >= 0) extra_fds_.push_back(fd);
}

bool TSpoolWatch::Wait(Clock::time_point deadline) {
  std::vector<pollfd> fds;
  for (int fd : extra_fds_) fds.push_back({fd, POLLIN, 0});
  if (inotify_fd_ >= 0) fds.push_back({inotify_fd_, POLLIN, 0});
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  if (inotify_fd_ < 0) left = std::min<std::chrono::milliseconds>(left, kFallbackPoll);
  const int timeout = static_cast<int>(std::max<long long>(left.count(), 0));
  if (poll(fds.data(), fds.size(), timeout) <= 0) return false;
  bool extra = false;
  for (size_t i = 0; i < extra_fds_.size(); ++i) extra = extra || fds[i].revents != 0;
  if (inotify_fd_ >= 0) {
    // The callers look at the folder afterwards; which events came does not matter.
    alignas(inotify_event) char buffer[4096];
    while (read(inotify_fd_, buffer, sizeof buffer) > 0) {
    }
  }
  return extra;
}

}  // namespace spool
