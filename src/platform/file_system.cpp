#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>

namespace {

TFileKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return TFileKind::kRegular;
  if (S_ISDIR(mode)) return TFileKind::kDirectory;
  if (S_ISLNK(mode)) return TFileKind::kLink;
  return TFileKind::kOther;
}

TFileInfo InfoFrom(const struct stat& st) {
  TFileInfo info;
  info.kind = KindOf(st.st_mode);
  info.mode = st.st_mode & 07777;
  info.owner = st.st_uid;
  info.group = st.st_gid;
  info.device = st.st_dev;
  info.inode = st.st_ino;
  info.size = st.st_size;
  info.changed = {st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
  info.modified = {st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
  return info;
}

}  // namespace

TFileInfo FileInfoOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? InfoFrom(st) : TFileInfo{};
}

TFileInfo LinkInfoOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? InfoFrom(st) : TFileInfo{};
}

TFileInfo OpenFileInfo(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? InfoFrom(st) : TFileInfo{};
}

bool IsRegularFile(const std::string& path) {
  return !path.empty() && FileInfoOf(path).kind == TFileKind::kRegular;
}

bool IsDirectory(const std::string& path) {
  return FileInfoOf(path).kind == TFileKind::kDirectory;
}

TFileTime FileClockNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return {now.tv_sec, now.tv_nsec};
}

bool MakeDirectory(const std::string& path, unsigned mode) {
  return ::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool TouchFile(const std::string& path) {
  return ::utimensat(AT_FDCWD, path.c_str(), nullptr, AT_SYMLINK_NOFOLLOW) == 0;
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

std::vector<std::string> FolderNames(const std::string& dir) {
  std::vector<std::string> names;
  DIR* handle = ::opendir(dir.c_str());
  if (handle == nullptr) return names;
  while (dirent* entry = ::readdir(handle)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  ::closedir(handle);
  std::sort(names.begin(), names.end());
  return names;
}

bool MayWrite(const std::string& path) {
  return ::access(path.c_str(), W_OK) == 0;
}

std::string ResolvedPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

unsigned CreationMask() {
  // umask can only be read by setting it: put it back at once.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

bool SetFileMode(const std::string& path, unsigned mode) {
  return ::chmod(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

bool SetFileGroup(const std::string& path, unsigned group) {
  return ::chown(path.c_str(), static_cast<uid_t>(-1), static_cast<gid_t>(group)) == 0;
}

bool LookUpGroupId(const std::string& name, unsigned& id) {
  std::vector<char> buffer(16384);
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return false;
  }
  id = found->gr_gid;
  return true;
}
