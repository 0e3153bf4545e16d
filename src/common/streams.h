#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Byte streams in the shape the engine, the upload decoder and the mail sender use them.
//
// Read returns the number of bytes read: positive when bytes arrived, 0 when nothing is
// available (yet, or at the end), negative on failure. Write returns the number of bytes
// written (negative on failure).
class TStream {
 public:
  enum SeekOrigin { kFromBeginning = 0, kFromCurrent = 1, kFromEnd = 2 };

  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  virtual int Read(void* buffer, int count) = 0;
  virtual int Write(const void* buffer, int count) = 0;
  // Moves the position; returns the new position, or -1 when the stream cannot seek.
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, kFromCurrent); }
  void SetPosition(int64_t position) { Seek(position, kFromBeginning); }
  // Size of a seekable stream (its position is kept); -1 otherwise.
  int64_t Size();

  // Writes the whole text; throws Exception("Stream write error") when the stream refuses.
  void WriteString(const std::string& text);
  // Copies `count` bytes (all bytes from the position to the end when count is 0) from
  // `source`; returns the number copied.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A growable in-memory stream.
class TMemoryStream : public TStream {
 public:
  int Read(void* buffer, int count) override;
  int Write(const void* buffer, int count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;

  const char* Memory() const { return data_.data(); }
  int64_t DataSize() const { return static_cast<int64_t>(data_.size()); }
  std::string AsString() const { return std::string(data_.begin(), data_.end()); }
  void Clear();
  void SetSize(int64_t size);
  // Replaces the content with a file's bytes; throws Exception on failure.
  void LoadFromFile(const std::string& file_name);
  // Writes the whole content to a file; throws Exception on failure.
  void SaveToFile(const std::string& file_name) const;

 private:
  std::vector<char> data_;
  int64_t position_ = 0;
};

// A stream over an operating-system file descriptor.
class THandleStream : public TStream {
 public:
  // `owns` closes the descriptor with the stream.
  explicit THandleStream(int fd, bool owns = false) : fd_(fd), owns_(owns) {}
  ~THandleStream() override;

  int Read(void* buffer, int count) override;
  // Writes all bytes, retrying after partial writes and EINTR.
  int Write(const void* buffer, int count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int Handle() const { return fd_; }

 protected:
  int fd_;
  bool owns_;
};

// A file opened by name.
class TFileStream : public THandleStream {
 public:
  enum Mode {
    kCreate,     // create or truncate, read/write
    kOpenRead,   // existing file, read only
    kOpenWrite,  // existing file, write only
    kOpenReadWrite,
  };
  // Throws Exception("Cannot create file \"<name>\"") or Exception("Cannot open file
  // \"<name>\"") when the file cannot be opened.
  TFileStream(const std::string& file_name, Mode mode);

  const std::string& FileName() const { return file_name_; }

 private:
  std::string file_name_;
};
