#include "platform/data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

int OpenDataFile(const std::string& path, int flags) {
  // Created exclusively first, so that only a file made here is given the mode; a file that
  // vanishes between the two opens is simply made on the next round.
  for (int round = 0; round < 3; ++round) {
    const int created = ::open(path.c_str(), flags | O_CREAT | O_EXCL | O_CLOEXEC, kDataFileMode);
    if (created >= 0) {
      ::fchmod(created, kDataFileMode);
      return created;
    }
    if (errno != EEXIST || (flags & O_EXCL) != 0) return -1;
    const int existing = ::open(path.c_str(), (flags & ~O_CREAT) | O_CLOEXEC);
    if (existing >= 0 || errno != ENOENT) return existing;
  }
  return -1;
}
