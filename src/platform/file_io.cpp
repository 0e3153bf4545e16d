#include "platform/file_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

int SystemFlags(unsigned flags) {
  using namespace open_flags;
  int result = O_CLOEXEC;
  if (flags & kWriteOnly) result |= O_WRONLY;
  if (flags & kReadWrite) result |= O_RDWR;
  if (flags & kCreate) result |= O_CREAT;
  if (flags & kExclusive) result |= O_EXCL;
  if (flags & kTruncate) result |= O_TRUNC;
  if (flags & kNoFollow) result |= O_NOFOLLOW;
  if (flags & kNonBlocking) result |= O_NONBLOCK;
  if (flags & kAppend) result |= O_APPEND;
  return result;
}

}  // namespace

TFileDescriptor OpenFile(const std::string& path, unsigned flags, unsigned create_mode) {
  return TFileDescriptor(
      ::open(path.c_str(), SystemFlags(flags), static_cast<mode_t>(create_mode)));
}

TFileDescriptor CreateUniqueFile(std::string& name_template) {
  return TFileDescriptor(::mkostemp(name_template.data(), O_CLOEXEC));
}

long ReadSome(int fd, void* buffer, std::size_t count) {
  ssize_t n;
  do {
    n = ::read(fd, buffer, count);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

long WriteSome(int fd, const void* buffer, std::size_t count) {
  ssize_t n;
  do {
    n = ::write(fd, buffer, count);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const long written = WriteSome(fd, bytes.data(), bytes.size());
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

long ReadSomeAt(int fd, void* buffer, std::size_t count, std::int64_t offset) {
  ssize_t n;
  do {
    n = ::pread(fd, buffer, count, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

long WriteSomeAt(int fd, const void* buffer, std::size_t count, std::int64_t offset) {
  ssize_t n;
  do {
    n = ::pwrite(fd, buffer, count, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

bool ReadFromStart(int fd, std::string& out, std::size_t max_bytes) {
  // The bytes go straight into `out`, not through a buffer on the stack: a CGI process would
  // fault in fresh stack pages for it. A read that fills less than its room has met the end of
  // the (regular) file, which is not read again just to be told so.
  std::int64_t offset = 0;
  std::size_t room = 512;  // most state files are a few lines; a large one doubles it
  while (out.size() < max_bytes) {
    const std::size_t used = out.size();
    out.resize(used + room);
    const long n = ReadSomeAt(fd, out.data() + used, room, offset);
    out.resize(used + static_cast<std::size_t>(std::max(n, 0L)));
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) < room) break;
    offset += n;
    room = std::min<std::size_t>(room * 2, 1 << 20);
  }
  if (out.size() > max_bytes) out.resize(max_bytes);
  return true;
}

bool TruncateOpenFile(int fd, std::int64_t size) {
  return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

bool CreateFileWhole(const std::string& path, std::string_view bytes, unsigned mode) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const TFileDescriptor file(
      ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, static_cast<mode_t>(mode)));
  if (!file || !WriteAll(file.Get(), bytes)) return false;
  // The nameless file takes its name through its /proc entry: linkat with AT_EMPTY_PATH would
  // need a privilege the gateway does not have.
  const std::string self = "/proc/self/fd/" + std::to_string(file.Get());
  return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

std::int64_t SeekFile(int fd, std::int64_t offset, int whence) {
  const off_t result = ::lseek(fd, static_cast<off_t>(offset), whence);
  return result < 0 ? -1 : static_cast<std::int64_t>(result);
}

bool SyncFile(int fd) {
  return ::fsync(fd) == 0;
}

bool CloseFile(int fd) {
  return ::close(fd) == 0;
}

bool SetOpenFileMode(int fd, unsigned mode) {
  return ::fchmod(fd, static_cast<mode_t>(mode)) == 0;
}

bool SetOpenFileGroup(int fd, unsigned group) {
  return ::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(group)) == 0;
}

int WaitReadable(int fd, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  const int ready = ::poll(&entry, 1, timeout_ms);
  return ready < 0 ? -1 : (ready > 0 ? 1 : 0);
}

bool IsTerminal(int fd) {
  return ::isatty(fd) == 1;
}
