#include "gateway/locked_state_file.h"

#include "platform/data_file.h"
#include "platform/file_io.h"
#include "platform/file_system.h"

namespace {

// Locks taken again after the name moved on to a newer file before one is given up.
constexpr int kMaxLockAttempts = 1000;

}  // namespace

LockedStateFile::LockedStateFile(const std::string& name) {
  for (int attempt = 0; attempt < kMaxLockAttempts; ++attempt) {
    file_ = OpenDataFile(name, open_flags::kReadWrite);
    if (!file_) return;
    lock_.emplace(file_.Get());
    if (!lock_->Locked()) {
      Release();
      return;
    }
    const TFileInfo held = OpenFileInfo(file_.Get());
    const TFileInfo named = FileInfoOf(name);
    if (held.Exists() && named.Exists() && held.device == named.device &&
        held.inode == named.inode) {
      return;
    }
    Release();
  }
}

LockedStateFile::~LockedStateFile() {
  Release();
}

bool LockedStateFile::Read(std::string& text, size_t max_bytes) const {
  return ReadFromStart(file_.Get(), text, max_bytes);
}

bool LockedStateFile::Append(std::string_view bytes) const {
  const TFileInfo info = OpenFileInfo(file_.Get());
  if (!info.Exists()) return false;
  return WriteSomeAt(file_.Get(), bytes.data(), bytes.size(), info.size) ==
         static_cast<long>(bytes.size());
}

void LockedStateFile::Release() {
  // The lock goes before the descriptor (see LockedTableFile in store/file_store.cpp).
  lock_.reset();
  file_.Reset();
}
