#include "gateway/store/file_store.h"

#include <climits>

#include "gateway/ref_numbers.h"
#include "platform/data_file.h"
#include "platform/file_io.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"

namespace {

// The table file held open and locked for one read-modify-write.
class LockedTableFile {
 public:
  explicit LockedTableFile(const std::string& name)
      : file_(OpenDataFile(name, open_flags::kReadWrite)), lock_(file_.Get()) {}
  ~LockedTableFile() {
    // The lock goes before the descriptor. Unlocking after the close once released the lock of
    // another thread that had opened the table under the same descriptor number, and two
    // requests of one resident process drew the same reference number.
    lock_.Unlock();
  }
  LockedTableFile(const LockedTableFile&) = delete;
  LockedTableFile& operator=(const LockedTableFile&) = delete;

  bool Ok() const { return file_ && lock_.Locked(); }
  bool LockTimedOut() const { return lock_.TimedOut(); }

  void Read(TStringList& table) {
    std::string text;
    // A failed read keeps what came before it, as a short table.
    ReadFromStart(file_.Get(), text, text.max_size());
    size_read_ = text.size();
    table.SetText(text);
  }

  // Writes the table over the old one and cuts the file only when the new text is shorter.
  // Truncating first would free and allocate the file's blocks on every draw, and a crash between
  // the two steps would lose every counter.
  void Write(const TStringList& table) const {
    const std::string text = table.Text();
    size_t done = 0;
    while (done < text.size()) {
      const long n = WriteSomeAt(file_.Get(), text.data() + done, text.size() - done,
                                 static_cast<std::int64_t>(done));
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
    // A failed cut leaves the old text's last bytes behind the table; lookups take the first line
    // of a name, which is the new one.
    if (text.size() < size_read_)
      TruncateOpenFile(file_.Get(), static_cast<std::int64_t>(text.size()));
  }

 private:
  TFileDescriptor file_;  // declared first: the lock is taken on it
  size_t size_read_ = 0;  // the table's length when Read found it
  ScopedFileLock lock_;
};

bool IsEmptyFile(int fd) {
  const TFileInfo info = OpenFileInfo(fd);
  return info.Exists() && info.size == 0;
}

class FileAppender : public TResultsAppender {
 public:
  explicit FileAppender(TFileDescriptor file) : file_(std::move(file)) {}
  FileAppender(const FileAppender&) = delete;
  FileAppender& operator=(const FileAppender&) = delete;

  // One write under an exclusive lock: concurrent records never interleave. A holder that keeps
  // the lock past kFileLockWait makes the file unwritable for this record.
  TAppendResult Append(const TResultsRecord& record) override {
    bool written = false;
    bool lock_timed_out;
    {
      ScopedFileLock lock(file_.Get());
      lock_timed_out = lock.TimedOut();
      // The size is looked at under the lock: of two first records only one has the heading.
      if (!lock_timed_out) {
        written = WriteAll(file_.Get(), record.heading.empty() || !IsEmptyFile(file_.Get())
                                            ? record.text
                                            : record.heading + record.text);
      }
    }
    // A write the system kept back may fail only at the close.
    if (!CloseFile(file_.Release())) written = false;
    if (written) return TAppendResult::kWritten;
    return lock_timed_out ? TAppendResult::kLockTimedOut : TAppendResult::kFailed;
  }

 private:
  TFileDescriptor file_;
};

}  // namespace

TFileStore::TFileStore(std::string numbers_file, std::string guards_file,
                       std::string challenges_file)
    : numbers_file_(std::move(numbers_file)),
      guards_file_(std::move(guards_file)),
      challenges_file_(std::move(challenges_file)) {}

void TFileStore::DrawNumber(std::string_view key, TNumberDraw& draw) {
  LockedTableFile file(numbers_file_);
  if (file.LockTimedOut() && OnLockTimeout) OnLockTimeout(numbers_file_);
  if (file.Ok()) file.Read(draw.table);
  draw.previous = draw.table.Values(key);
  // A counter at the top of the range starts again rather than overflowing.
  const long long count = ParseCount(draw.previous);
  const long long next = count >= INT_MAX ? 1 : count + 1;
  draw.table.SetValue(key, std::to_string(next));
  if (file.Ok()) {
    file.Write(draw.table);
    draw.stored = true;
  }
}

void TFileStore::ReadNumbers(TStringList& table) {
  LockedTableFile file(numbers_file_);
  if (file.LockTimedOut() && OnLockTimeout) OnLockTimeout(numbers_file_);
  if (file.Ok()) file.Read(table);
}

void TFileStore::GiveBackNumber(const std::string& key, const std::string& drawn,
                                const std::string& previous) {
  LockedTableFile file(numbers_file_);
  if (file.LockTimedOut() && OnLockTimeout) OnLockTimeout(numbers_file_);
  if (!file.Ok()) return;
  TStringList current;
  file.Read(current);
  if (current.Values(key) != drawn) return;
  if (previous.empty()) {
    current.Delete(current.IndexOfName(key));
  } else {
    current.SetValue(key, previous);
  }
  file.Write(current);
}

TGuardResult TFileStore::RecordEvents(const std::vector<TGuardKey>& keys, std::int64_t now,
                                      size_t* full_key) {
  return RecordGuardEvents(guards_file_, keys, now, full_key);
}

std::unique_ptr<TResultsAppender> TFileStore::OpenResults(const std::string& /*name*/,
                                                          const std::string& path) {
  TFileDescriptor file = OpenDataFile(path, open_flags::kWriteOnly | open_flags::kAppend);
  if (!file) return nullptr;
  return std::make_unique<FileAppender>(std::move(file));
}
