#pragma once

#include <cstdint>
#include <string>

// What tells one version of a file from the next: a rewrite in place changes its size or its
// change time, a replacement by rename its inode. The change time (unlike the modification
// time) cannot be set back by a writer.
struct FileStamp {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  long long ctime_seconds = 0;
  long ctime_nanoseconds = 0;
  long long mtime_seconds = 0;
  long mtime_nanoseconds = 0;

  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& file_name);

// One whole version of a file that a writer may be rewriting in place at the same moment.
struct FileVersion {
  std::string text;
  FileStamp stamp;          // the file's stamp when `text` was read
  bool unreadable = false;  // the file exists but could not be read (a missing one reads empty)
  int read_error = 0;       // when unreadable: the errno of the failed read
  // The version is known to be whole and the clock has moved past its last change, so any
  // later change gives the file another stamp: a copy kept with `stamp` may stand for the file
  // for as long as StampOf() still gives `stamp`.
  bool lasting = false;
};

// Reads `file_name` as one whole version. A read during which the file changed (its stamp
// differs before and after, or fewer bytes came than it holds) is taken again, up to three reads
// in all, the last kept as it is. An editor that rewrites a file in place truncates it first and
// writes it after: a file changed within the last second is looked at again 10 ms after the read
// and read anew if it changed, and an empty one is waited for until it changes or its change is
// a second old.
FileVersion ReadFileVersion(const std::string& file_name);
