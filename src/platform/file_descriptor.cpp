#include "platform/file_descriptor.h"

#include <unistd.h>

void TFileDescriptor::Reset(int fd) {
  // close is not retried on EINTR: on Linux the descriptor is gone whatever close returns.
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}
