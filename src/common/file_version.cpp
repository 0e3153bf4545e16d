#include "common/file_version.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include "common/file_tool.h"
#include "platform/file_system.h"

namespace {

constexpr int kReads = 3;
constexpr std::chrono::seconds kRecentChange(1);
constexpr std::chrono::milliseconds kSettleTime(10);

bool ChangedRecently(const FileStamp& stamp) {
  const TFileTime now = FileClockNow();
  const auto age = std::chrono::seconds(now.seconds - stamp.ctime_seconds) +
                   std::chrono::nanoseconds(now.nanoseconds - stamp.ctime_nanoseconds);
  return age < kRecentChange;
}

// File times come from the kernel's coarse clock: two changes within one of its ticks may leave
// the same stamp. A read that starts once the clock has passed the file's last change sees every
// change up to it, and any later change gets a later time.
bool ClockPassed(const FileStamp& stamp) {
  const TFileTime now = FileClockNow();
  return now.seconds > stamp.ctime_seconds ||
         (now.seconds == stamp.ctime_seconds && now.nanoseconds > stamp.ctime_nanoseconds);
}

// An empty file changed just now is almost surely truncated by a writer that has not written yet
// (on a busy machine a writer may wait long for its turn): it is watched until it changes or the
// change is no longer recent, so an owner who really empties the file waits at most
// kRecentChange. Returns the stamp of the file to read.
FileStamp WaitOutTruncation(const std::string& file_name, FileStamp stamp) {
  while (stamp.exists && stamp.size == 0 && ChangedRecently(stamp)) {
    std::this_thread::sleep_for(kSettleTime);
    stamp = StampOf(file_name);
  }
  return stamp;
}

// Whether a read of a file that stayed the same around it may be kept: one changed just now is
// looked at once more after a moment, and read anew if it changed in that moment.
bool SettledAfterRead(const std::string& file_name, const FileStamp& read) {
  if (!read.exists || !ChangedRecently(read)) return true;
  std::this_thread::sleep_for(kSettleTime);
  return StampOf(file_name) == read;
}

}  // namespace

FileStamp StampOf(const std::string& file_name) {
  const TFileInfo info = FileInfoOf(file_name);
  if (!info.Exists()) return {};
  return {true,
          info.device,
          info.inode,
          info.size,
          info.changed.seconds,
          info.changed.nanoseconds,
          info.modified.seconds,
          info.modified.nanoseconds};
}

FileVersion ReadFileVersion(const std::string& file_name) {
  FileVersion version;
  for (int read = 1; read <= kReads; ++read) {
    // A change seen means a writer is at work: give it a moment before the next read.
    if (read > 1) std::this_thread::sleep_for(kSettleTime);
    const FileStamp before = WaitOutTruncation(file_name, StampOf(file_name));
    const bool clock_passed = ClockPassed(before);
    const bool complete = ReadWholeFile(file_name, version.text);
    version.unreadable = !complete && errno != ENOENT && errno != ENOTDIR;
    version.read_error = version.unreadable ? errno : 0;
    version.stamp = StampOf(file_name);
    const bool whole =
        !complete || static_cast<std::int64_t>(version.text.size()) == version.stamp.size;
    if (before == version.stamp && whole && SettledAfterRead(file_name, version.stamp)) {
      version.lasting = version.stamp.exists && !version.unreadable && clock_passed;
      break;
    }
  }
  return version;
}
