#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"
#include "platform/file_lock.h"

// A small state file of the gateway (BX-Guards.txt, BX-PoW.txt) open and exclusively locked,
// and still the file its name stands for. Such files are replaced whole (written beside and
// renamed, common/file_replace.h) while the lock on the current file is held; a process that
// waited for the lock meanwhile finds the name on a newer file, notices, and locks that one. So
// every process reads, changes and replaces the file in turn, and a reader never meets half a
// file. The file is created when missing. Never throws.
class LockedStateFile {
 public:
  explicit LockedStateFile(const std::string& name);
  ~LockedStateFile();
  LockedStateFile(const LockedStateFile&) = delete;
  LockedStateFile& operator=(const LockedStateFile&) = delete;

  // The file is open and locked (the lock is waited for a few seconds at most).
  bool Ok() const { return file_ && lock_ && lock_->Locked(); }
  // Appends at most `max_bytes` of the file to `text`; false on a read error.
  bool Read(std::string& text, size_t max_bytes) const;
  // Appends `bytes` at the end of the file, in one write; false when not all were written.
  bool Append(std::string_view bytes) const;

 private:
  void Release();

  TFileDescriptor file_;
  std::optional<ScopedFileLock> lock_;
};
