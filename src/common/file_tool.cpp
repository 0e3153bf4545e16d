#include "common/file_tool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/exception.h"

namespace {

// Opens a regular file for reading, or returns -1. O_NONBLOCK keeps a named pipe from holding
// the caller until a writer turns up; the file type check then turns the pipe away.
int OpenRegularFile(const std::string& file_name, struct stat& st) {
  const int fd = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool ReadWholeFile(const std::string& file_name, std::string& out) {
  out.clear();
  const int fd = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  int error = 0;
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = EISDIR;
  }
  char buffer[8192];
  while (error == 0) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  errno = error;
  return error == 0;
}

std::int64_t FileSizeOf(const std::string& file_name) {
  struct stat st {};
  const int fd = OpenRegularFile(file_name, st);
  if (fd < 0) return 0;
  ::close(fd);
  return static_cast<std::int64_t>(st.st_size);
}

TPChar ReadFileToPChar(const std::string& file_name) {
  struct stat st {};
  const int fd = OpenRegularFile(file_name, st);
  if (fd < 0 || st.st_size == 0) {
    if (fd >= 0) ::close(fd);
    return TPChar();
  }
  // The size only sizes the buffer: the file is read to its end, so a file that grows or
  // shrinks meanwhile still reads whole.
  TPChar buffer = NewZeroPChar(static_cast<size_t>(st.st_size) + 1);
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      throw Exception("Unable to read " + file_name);
    }
    if (n == 0) break;
    AppendPChar(buffer, std::string_view(chunk, static_cast<size_t>(n)));
  }
  ::close(fd);
  if (IsEmptyPChar(buffer)) return TPChar();
  return buffer;
}
