#include "common/streams.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/exception.h"
#include "platform/file_io.h"

int64_t TStream::Size() {
  const int64_t here = Seek(0, kFromCurrent);
  if (here < 0) return -1;
  const int64_t size = Seek(0, kFromEnd);
  Seek(here, kFromBeginning);
  return size;
}

void TStream::WriteString(const std::string& text) {
  if (text.empty()) return;
  if (Write(text.data(), static_cast<int>(text.size())) != static_cast<int>(text.size()))
    throw Exception("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  char chunk[8192];
  int64_t copied = 0;
  while (count == 0 || copied < count) {
    int want = static_cast<int>(sizeof chunk);
    if (count != 0) want = static_cast<int>(std::min<int64_t>(want, count - copied));
    const int got = source.Read(chunk, want);
    if (got <= 0) break;
    if (Write(chunk, got) != got) throw Exception("Stream write error");
    copied += got;
  }
  return copied;
}

int TMemoryStream::Read(void* buffer, int count) {
  if (count <= 0 || position_ >= DataSize()) return 0;
  const int n = static_cast<int>(std::min<int64_t>(count, DataSize() - position_));
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int TMemoryStream::Write(const void* buffer, int count) {
  if (count <= 0) return 0;
  const int64_t end = position_ + count;
  if (end > DataSize()) data_.resize(static_cast<size_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = 0;
  if (origin == kFromCurrent) base = position_;
  if (origin == kFromEnd) base = DataSize();
  position_ = std::max<int64_t>(0, base + offset);
  return position_;
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

void TMemoryStream::SetSize(int64_t size) {
  data_.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
  position_ = std::min(position_, DataSize());
}

void TMemoryStream::LoadFromFile(const std::string& file_name) {
  TFileStream file(file_name, TFileStream::kOpenRead);
  Clear();
  CopyFrom(file, 0);
  position_ = 0;
}

void TMemoryStream::SaveToFile(const std::string& file_name) const {
  TFileStream file(file_name, TFileStream::kCreate);
  if (!data_.empty() &&
      file.Write(data_.data(), static_cast<int>(data_.size())) != static_cast<int>(data_.size()))
    throw Exception("Cannot create file \"" + file_name + "\"");
}

THandleStream::~THandleStream() {
  if (owns_ && fd_ >= 0) CloseFile(fd_);
}

int THandleStream::Read(void* buffer, int count) {
  if (count <= 0) return 0;
  const long n = ReadSome(fd_, buffer, static_cast<size_t>(count));
  if (n >= 0) return static_cast<int>(n);
  if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
  return -1;
}

int THandleStream::Write(const void* buffer, int count) {
  const char* p = static_cast<const char*>(buffer);
  int left = count;
  while (left > 0) {
    const long n = WriteSome(fd_, p, static_cast<size_t>(left));
    if (n < 0) return count - left > 0 ? count - left : -1;
    p += n;
    left -= static_cast<int>(n);
  }
  return count;
}

int64_t THandleStream::Seek(int64_t offset, SeekOrigin origin) {
  const int whence = origin == kFromBeginning ? SEEK_SET
                     : origin == kFromCurrent ? SEEK_CUR
                                              : SEEK_END;
  return SeekFile(fd_, offset, whence);
}

namespace {

unsigned OpenFlags(TFileStream::Mode mode) {
  switch (mode) {
    case TFileStream::kCreate:
      return open_flags::kReadWrite | open_flags::kCreate | open_flags::kTruncate;
    case TFileStream::kOpenRead:
      return open_flags::kReadOnly;
    case TFileStream::kOpenWrite:
      return open_flags::kWriteOnly;
    case TFileStream::kOpenReadWrite:
      return open_flags::kReadWrite;
  }
  return open_flags::kReadOnly;
}

}  // namespace

TFileStream::TFileStream(const std::string& file_name, Mode mode)
    : THandleStream(OpenFile(file_name, OpenFlags(mode), 0644).Release(), true),
      file_name_(file_name) {
  if (fd_ < 0) {
    throw Exception((mode == kCreate ? "Cannot create file \"" : "Cannot open file \"") +
                    file_name + "\"");
  }
}
