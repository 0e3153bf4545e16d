#include "common/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// The file a name stands for: the target of a symbolic link, else the name itself.
std::string ReplacedPath(const std::string& file_name) {
  struct stat st {};
  if (::lstat(file_name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return file_name;
  char resolved[PATH_MAX];
  if (::realpath(file_name.c_str(), resolved) != nullptr) return resolved;
  return file_name;
}

}  // namespace

bool ReplaceFileContents(const std::string& file_name, std::string_view bytes) {
  const std::string target = ReplacedPath(file_name);
  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  if (existed && !S_ISREG(old.st_mode)) return false;
  // Writing needs permission on the file itself too, as an in-place write would.
  if (existed && ::access(target.c_str(), W_OK) != 0) return false;

  const size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  // mkstemp gives a name of our own (O_EXCL): we never write into someone else's file.
  std::string temp = folder + ".bx-save-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;

  bool ok = WriteAll(fd, bytes);
  if (ok) {
    mode_t mode = 0;
    if (existed) {
      mode = old.st_mode & 07777;
      // The group too: a file shared with the web server's group must stay readable to it.
      // Where this user may not give the group, the file keeps the user's own.
      if (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
        // Nothing to do: the mode below still limits who reads it.
      }
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
    ok = ::fchmod(fd, mode) == 0;
  }
  if (ok) ok = ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}
