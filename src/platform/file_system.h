#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Files and folders by name: what the program asks the file system about them and the changes
// it makes to them. No function here throws; one that fails returns false (or an empty result)
// with errno telling why, as the system call left it.

// A moment of the file system's clock, as file times hold it.
struct TFileTime {
  std::int64_t seconds = 0;  // since the epoch
  long nanoseconds = 0;

  bool operator==(const TFileTime&) const = default;
};

enum class TFileKind { kMissing, kRegular, kDirectory, kLink, kOther };

// What the file system says about one file. A file that cannot be looked at (missing, or a
// folder on the way that may not be searched) is kMissing with every other field 0.
struct TFileInfo {
  TFileKind kind = TFileKind::kMissing;
  unsigned mode = 0;  // the permission bits, 07777 at most
  unsigned owner = 0;
  unsigned group = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;  // in bytes
  TFileTime changed;      // the inode's change time, which no writer can set back
  TFileTime modified;     // the contents' modification time

  bool Exists() const { return kind != TFileKind::kMissing; }
};

// The file `path` names, following symbolic links (stat).
TFileInfo FileInfoOf(const std::string& path);
// The same without following a last symbolic link, which is then reported as kLink (lstat).
TFileInfo LinkInfoOf(const std::string& path);
// The file open on descriptor `fd` (fstat); kMissing when `fd` is not open.
TFileInfo OpenFileInfo(int fd);

// True when `path` names a regular file (through links); false for "".
bool IsRegularFile(const std::string& path);
// True when `path` names a folder (through links).
bool IsDirectory(const std::string& path);

// Now, by the kernel's coarse clock: the clock that stamps file changes, so a time it gives is
// never earlier than that of a change made before it was read.
TFileTime FileClockNow();

// Creates the folder `path` (one level) with `mode` less the process's creation mask.
bool MakeDirectory(const std::string& path, unsigned mode);
// Renames `from` to `to` in one step, replacing a file `to` (rename).
bool RenameFile(const std::string& from, const std::string& to);
// Sets the access and modification times of `path` to now, without following a last symbolic
// link (utimensat): a link is stamped itself. False when it is missing.
bool TouchFile(const std::string& path);
// Deletes the file `path` (a link itself, never its target); errno ENOENT when it was not there.
bool RemoveFile(const std::string& path);
// The names in the folder `dir`, without "." and "..", sorted; empty when it cannot be read.
std::vector<std::string> FolderNames(const std::string& dir);

// True when this process may write the existing file `path` (access W_OK).
bool MayWrite(const std::string& path);
// The absolute path of `path` with every link, "." and ".." resolved; "" when it cannot be.
std::string ResolvedPath(const std::string& path);
// The process's file creation mask (umask), read without changing it for longer than the read.
unsigned CreationMask();
// Sets the permission bits of `path` (chmod).
bool SetFileMode(const std::string& path, unsigned mode);
// Gives `path` to the group `group`, keeping its owner (chown).
bool SetFileGroup(const std::string& path, unsigned group);
// The id of the group named `name`; false when this machine knows no such group.
bool LookUpGroupId(const std::string& name, unsigned& id);
