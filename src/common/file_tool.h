#pragma once

#include <cstdint>
#include <string>

#include "common/pchar_lib.h"

// Whole-file reading for template expansion and form scanning.

// The size in bytes of the regular file `file_name`; 0 when it cannot be opened for reading or
// is not a regular file (a folder, a pipe, a device). Never fails; never blocks on a pipe.
std::int64_t FileSizeOf(const std::string& file_name);

// Reads the whole regular file `file_name` into `out` (a named pipe is never waited on). False
// when it cannot be opened, is not a regular file, or a read fails; errno then tells why (EISDIR
// for any file that is not a regular one), and `out` holds what was read.
bool ReadWholeFile(const std::string& file_name, std::string& out);

// A new buffer with the whole content of the regular file `file_name`, or the null buffer when
// the file is empty, missing, not a regular file, or cannot be opened. Every byte is kept (a
// zero byte is text like any other). Throws Exception("Unable to read <file name>") when a read
// fails after the file was opened.
TPChar ReadFileToPChar(const std::string& file_name);
