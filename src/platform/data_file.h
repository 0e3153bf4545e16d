#pragma once

#include <string>

// The gateway's data files (results files, logs, reference numbers, the limits' counts) hold
// visitors' data: one the gateway creates is readable by its user and group only, 0640, whatever
// the umask. A file that exists keeps its mode: the owner may have chosen another.
inline constexpr unsigned kDataFileMode = 0640;

// open(path, flags | O_CREAT | O_CLOEXEC) that gives a file it creates exactly kDataFileMode.
// `flags` may hold O_EXCL (then only a new file is opened). Returns the descriptor or -1 (errno
// set). Never throws.
int OpenDataFile(const std::string& path, int flags);
