#include "platform/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// Opens a regular file for reading, or returns -1 with errno set. O_NONBLOCK keeps a named pipe
// from holding the caller until a writer turns up; the file type check then turns the pipe away.
int OpenRegularFile(const std::string& file_name, struct stat& st) {
  const int fd = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  int error = 0;
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = EISDIR;
  }
  if (error == 0) return fd;
  ::close(fd);
  errno = error;
  return -1;
}

}  // namespace

WholeFileRead ReadRegularFile(const std::string& file_name, std::string& out) {
  out.clear();
  struct stat st {};
  const int fd = OpenRegularFile(file_name, st);
  if (fd < 0) return WholeFileRead::kNotOpened;
  // The size only sizes the buffer: the file is read to its end, so a file that grows or
  // shrinks meanwhile still reads whole. The bytes go straight into `out` (one byte more than
  // the size, for the read that finds the end), not through a buffer on the stack: a CGI
  // process would fault in fresh stack pages for it, and copy every byte once more.
  // A read that fills less than the room it was given has met the end: a regular file that
  // gives its size is not read again just to be told so (a CGI process reads several).
  const bool sized = st.st_size > 0;
  out.resize(static_cast<size_t>(st.st_size) + 1);
  size_t used = 0;
  int error = 0;
  for (;;) {
    // A file that grew, or one that gives no size (/proc): room for as much again, or 4 KB.
    if (used == out.size()) out.resize(std::max<size_t>(out.size() * 2, 4096));
    const size_t room = out.size() - used;
    const ssize_t n = ::read(fd, out.data() + used, room);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    used += static_cast<size_t>(n);
    if (sized && static_cast<size_t>(n) < room) break;
  }
  out.resize(used);
  ::close(fd);
  errno = error;
  return error == 0 ? WholeFileRead::kRead : WholeFileRead::kReadFailed;
}

bool ReadWholeFile(const std::string& file_name, std::string& out) {
  return ReadRegularFile(file_name, out) == WholeFileRead::kRead;
}

std::int64_t FileSizeOf(const std::string& file_name) {
  struct stat st {};
  const int fd = OpenRegularFile(file_name, st);
  if (fd < 0) return 0;
  ::close(fd);
  return static_cast<std::int64_t>(st.st_size);
}
