#pragma once

#include <string>
#include <string_view>

// Replaces the whole content of the file `file_name` with `bytes` so that a reader sees either
// the old file or the new one, never a half-written file: the bytes go to a new file beside it
// (same folder), which is flushed to disk and then takes the name with rename().
//  - A symbolic link stays a link: the file it points at is the one replaced.
//  - An existing file keeps its permissions and, where this user may give it, its group; a new
//    one gets 0666 less the umask.
//  - An existing name that is not a regular file, or a file the caller may not write, is left
//    alone and counts as a failure.
// Returns false, leaving the old file as it was, when the file cannot be written. Never throws.
bool ReplaceFileContents(const std::string& file_name, std::string_view bytes);

// Gives the existing file `path` to the group named `group` and lets that group read it (mode
// 0640). False, with `reason` saying why, when the group is unknown or cannot be given; the
// mode is then left as it was.
bool ShareFileWithGroup(const std::string& path, const std::string& group, std::string& reason);
// Lets only the file's owner read and write it (mode 0600).
bool KeepFileToOwner(const std::string& path);
