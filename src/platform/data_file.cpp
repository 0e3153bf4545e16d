#include "platform/data_file.h"

#include <cerrno>

TFileDescriptor OpenDataFile(const std::string& path, unsigned flags) {
  using namespace open_flags;
  // Created exclusively first, so that only a file made here is given the mode; a file that
  // vanishes between the two opens is simply made on the next round.
  for (int round = 0; round < 3; ++round) {
    TFileDescriptor created = OpenFile(path, flags | kCreate | kExclusive, kDataFileMode);
    if (created) {
      SetOpenFileMode(created.Get(), kDataFileMode);
      return created;
    }
    if (errno != EEXIST || (flags & kExclusive) != 0) return TFileDescriptor();
    TFileDescriptor existing = OpenFile(path, flags & ~kCreate);
    if (existing || errno != ENOENT) return existing;
  }
  return TFileDescriptor();
}
