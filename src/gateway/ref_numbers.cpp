#include "gateway/ref_numbers.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "common/text_compare.h"
#include "platform/data_file.h"
#include "platform/file_lock.h"

namespace {

constexpr size_t kMaxKeyLength = 255;

bool StorableKey(std::string_view key) {
  for (char c : key) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '=') return false;
  }
  return true;
}

// The table file held open and locked for one read-modify-write.
class LockedTableFile {
 public:
  explicit LockedTableFile(const std::string& name) : fd_(OpenDataFile(name, O_RDWR)), lock_(fd_) {}
  ~LockedTableFile() {
    // The lock goes before the descriptor. Unlocking after the close once released the lock of
    // another thread that had opened the table under the same descriptor number, and two
    // requests of one resident process drew the same reference number.
    lock_.Unlock();
    if (fd_ >= 0) ::close(fd_);
  }
  LockedTableFile(const LockedTableFile&) = delete;
  LockedTableFile& operator=(const LockedTableFile&) = delete;

  bool Ok() const { return fd_ >= 0 && lock_.Locked(); }
  bool LockTimedOut() const { return lock_.TimedOut(); }

  void Read(TStringList& table) {
    std::string text;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
      const ssize_t n = ::pread(fd_, buffer, sizeof buffer, offset);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
      offset += n;
    }
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
      const ssize_t n =
          ::pwrite(fd_, text.data() + done, text.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
    // A failed cut leaves the old text's last bytes behind the table; lookups take the first line
    // of a name, which is the new one.
    if (text.size() < size_read_ && ::ftruncate(fd_, static_cast<off_t>(text.size())) != 0) return;
  }

 private:
  int fd_;
  size_t size_read_ = 0;  // the table's length when Read found it
  ScopedFileLock lock_;
};

}  // namespace

long long ParseCount(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size()) return 0;
  long long value = 0;
  for (; i < text.size() && text[i] != ' '; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX + 1LL) return 0;
  }
  while (i < text.size() && text[i] == ' ') ++i;
  if (i != text.size()) return 0;
  if (negative) value = -value;
  return value < INT_MIN || value > INT_MAX ? 0 : value;
}

TRefNumbers::TRefNumbers(std::string file_name) : file_name_(std::move(file_name)) {}

std::string TRefNumbers::Next(std::string_view key) {
  if (key.size() > kMaxKeyLength) key = key.substr(0, kMaxKeyLength);
  if (!StorableKey(key)) return std::string();
  if (table_) return table_->Values(key);

  table_ = std::make_unique<TStringList>();
  LockedTableFile file(file_name_);
  if (file.LockTimedOut() && OnLockTimeout) OnLockTimeout(file_name_);
  if (file.Ok()) file.Read(*table_);
  previous_count_ = table_->Values(key);
  // A counter at the top of the range starts again rather than overflowing.
  const long long count = ParseCount(previous_count_);
  const long long next = count >= INT_MAX ? 1 : count + 1;
  reserved_count_ = std::to_string(next);
  reserved_key_ = std::string(key);
  table_->SetValue(key, reserved_count_);
  if (file.Ok()) {
    file.Write(*table_);
    reserved_ = true;
  }
  return table_->Values(key);
}

void TRefNumbers::Resume(std::string_view key, const std::string& count) {
  if (key.size() > kMaxKeyLength) key = key.substr(0, kMaxKeyLength);
  table_ = std::make_unique<TStringList>();
  {
    LockedTableFile file(file_name_);
    if (file.LockTimedOut() && OnLockTimeout) OnLockTimeout(file_name_);
    if (file.Ok()) file.Read(*table_);
  }
  reserved_ = false;
  if (!StorableKey(key) || count.empty()) return;
  table_->SetValue(key, count);
  reserved_key_ = std::string(key);
  reserved_count_ = count;
}

void TRefNumbers::GiveBack() {
  if (!reserved_) return;
  reserved_ = false;
  LockedTableFile file(file_name_);
  if (file.LockTimedOut() && OnLockTimeout) OnLockTimeout(file_name_);
  if (!file.Ok()) return;
  TStringList current;
  file.Read(current);
  if (current.Values(reserved_key_) != reserved_count_) return;
  if (previous_count_.empty()) {
    current.Delete(current.IndexOfName(reserved_key_));
  } else {
    current.SetValue(reserved_key_, previous_count_);
  }
  file.Write(current);
}
