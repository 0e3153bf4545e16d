#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"

// Reading and writing through file descriptors: opening files, moving bytes, syncing, and
// waiting for a pipe or socket to have something to read. No function here throws; one that
// fails returns -1 or false (an unopened descriptor from OpenFile) with errno telling why. A
// call that a signal interrupts is made again, except where said otherwise.

// The standard streams of the process.
inline constexpr int kStandardInput = 0;
inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// How OpenFile opens: one access mode, plus any of the options.
namespace open_flags {
inline constexpr unsigned kReadOnly = 0;
inline constexpr unsigned kWriteOnly = 1u << 0;
inline constexpr unsigned kReadWrite = 1u << 1;
inline constexpr unsigned kCreate = 1u << 2;       // create the file when it is missing
inline constexpr unsigned kExclusive = 1u << 3;    // with kCreate: only a new file
inline constexpr unsigned kTruncate = 1u << 4;     // empty the file first
inline constexpr unsigned kNoFollow = 1u << 5;     // refuse a symbolic link as the last name
inline constexpr unsigned kNonBlocking = 1u << 6;  // never wait in open (a named pipe) or read
inline constexpr unsigned kAppend = 1u << 7;       // every write goes to the end
}  // namespace open_flags

// Opens `path` with `flags` (open_flags), close-on-exec. A file it creates gets `create_mode`
// less the process's creation mask.
TFileDescriptor OpenFile(const std::string& path, unsigned flags, unsigned create_mode = 0644);

// Creates a new file of its own from `name_template`, whose name ends in "XXXXXX" (mkstemp):
// the X's become the characters that made the name new. Mode 0600, close-on-exec.
TFileDescriptor CreateUniqueFile(std::string& name_template);

// One read of at most `count` bytes: the count read, 0 at the end, -1 on failure (EAGAIN from
// a non-blocking descriptor with nothing to read counts as a failure).
long ReadSome(int fd, void* buffer, std::size_t count);
// One write of at most `count` bytes: the count written, or -1 on failure.
long WriteSome(int fd, const void* buffer, std::size_t count);
// Writes all of `bytes`, in as many writes as it takes; false when one fails or writes nothing.
bool WriteAll(int fd, std::string_view bytes);

// Creates the new file `path` (mode `mode`) holding `bytes`, so that the name appears only with
// all of them: they are written to a nameless file in the same folder (O_TMPFILE), which then
// takes the name. A process killed at any moment leaves the file whole or absent. False when the
// name exists already or the file cannot be made that way (a file system without O_TMPFILE).
bool CreateFileWhole(const std::string& path, std::string_view bytes, unsigned mode);

// ReadSome and WriteSome at `offset` from the file's start, leaving its position (pread,
// pwrite).
long ReadSomeAt(int fd, void* buffer, std::size_t count, std::int64_t offset);
long WriteSomeAt(int fd, const void* buffer, std::size_t count, std::int64_t offset);
// Appends the open regular file's bytes, read from its start whatever its position, to `out`
// until the file ends or `out` holds `max_bytes` (cut there). False when a read fails; `out` then
// holds what came before.
bool ReadFromStart(int fd, std::string& out, std::size_t max_bytes);
// Cuts (or extends) the open file to `size` bytes (ftruncate).
bool TruncateOpenFile(int fd, std::int64_t size);

// Moves the descriptor's position (lseek) by `offset` from `whence` (SEEK_SET, SEEK_CUR or
// SEEK_END of <cstdio>); the new position, or -1.
std::int64_t SeekFile(int fd, std::int64_t offset, int whence);
// Waits until the file's data is on the disk (fsync).
bool SyncFile(int fd);
// Closes `fd` and says whether the close succeeded: a write the system kept back may fail only
// here. Not retried: the descriptor is gone whatever close returns.
bool CloseFile(int fd);

// Sets the permission bits of the open file (fchmod).
bool SetOpenFileMode(int fd, unsigned mode);
// Gives the open file to the group `group`, keeping its owner (fchown).
bool SetOpenFileGroup(int fd, unsigned group);

// Waits at most `timeout_ms` (0: only look; -1: without limit) until `fd` has a byte or its end
// to report. 1 when it has, 0 when the time passed, -1 on failure. Not made again after a
// signal (-1, errno EINTR): the caller knows how much of its time is left.
int WaitReadable(int fd, int timeout_ms);

// True when `fd` is open on a terminal (isatty): someone watches it.
bool IsTerminal(int fd);
