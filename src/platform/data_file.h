#pragma once

#include <string>

#include "platform/file_descriptor.h"
#include "platform/file_io.h"

// The gateway's data files (results files, logs, reference numbers, the limits' counts) hold
// visitors' data: one the gateway creates is readable by its user and group only, 0640, whatever
// the umask. A file that exists keeps its mode: the owner may have chosen another.
inline constexpr unsigned kDataFileMode = 0640;

// OpenFile(path, flags | kCreate) that gives a file it creates exactly kDataFileMode. `flags`
// (open_flags) may hold kExclusive (then only a new file is opened). Not open when it fails
// (errno set). Never throws.
TFileDescriptor OpenDataFile(const std::string& path, unsigned flags);
