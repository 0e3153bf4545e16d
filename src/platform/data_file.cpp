#include "platform/data_file.h"

#include <cerrno>

TFileDescriptor OpenDataFile(const std::string& path, unsigned flags) {
  using namespace open_flags;
  // The file is usually there already, so it is opened first; only a missing one is created,
  // exclusively, so that only a file made here is given the mode. A file that appears or
  // vanishes between the two opens is simply taken on the next round.
  for (int round = 0; round < 3; ++round) {
    if ((flags & kExclusive) == 0) {
      TFileDescriptor existing = OpenFile(path, flags & ~kCreate);
      if (existing || errno != ENOENT) return existing;
    }
    TFileDescriptor created = OpenFile(path, flags | kCreate | kExclusive, kDataFileMode);
    if (created) {
      SetOpenFileMode(created.Get(), kDataFileMode);
      return created;
    }
    if (errno != EEXIST || (flags & kExclusive) != 0) return TFileDescriptor();
  }
  return TFileDescriptor();
}
