#pragma once

#include <cstdint>
#include <string>

#include "common/pchar_lib.h"
#include "platform/whole_file.h"  // ReadWholeFile, FileSizeOf

// Whole-file reading for template expansion and form scanning.

// A new buffer with the whole content of the regular file `file_name`, or the null buffer when
// the file is empty, missing, not a regular file, or cannot be opened. Every byte is kept (a
// zero byte is text like any other). Throws Exception("Unable to read <file name>") when a read
// fails after the file was opened.
TPChar ReadFileToPChar(const std::string& file_name);
