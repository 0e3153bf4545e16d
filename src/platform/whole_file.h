#pragma once

#include <cstdint>
#include <string>

// The one reader of whole files. Only regular files are read: a named pipe is never waited on
// (it is opened without blocking and then turned away), and a folder or a device is refused.

enum class WholeFileRead {
  kRead,        // the whole file is in `out`
  kNotOpened,   // missing, not permitted, or not a regular file; `out` is empty
  kReadFailed,  // opened, but a read failed; `out` holds what came before
};

// Reads the regular file `file_name` into `out`. errno tells why when the result is not kRead
// (EISDIR for any file that is not a regular one).
WholeFileRead ReadRegularFile(const std::string& file_name, std::string& out);

// The same, true when the whole file was read.
bool ReadWholeFile(const std::string& file_name, std::string& out);

// The size in bytes of the regular file `file_name`; 0 when it cannot be opened for reading or
// is not a regular file. Never fails; never blocks on a pipe.
std::int64_t FileSizeOf(const std::string& file_name);
