#include "engine/multipart_decoder.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

#include "common/exception.h"
#include "common/text_compare.h"
#include "engine/field_table.h"
#include "platform/clock.h"
#include "platform/message_pump.h"

namespace {

enum DecoderState {
  kExpectHeaders = 0,  // the next bytes are a part's header block
  kCopyFile = 1,       // streaming a file part to the out stream
  kCollectField = 2,   // collecting a field part as text
};

// The stream the prepare handler hands over, freed with the part when the handler asked for it,
// and on every way out of Decode (cancel, truncated body, exception).
struct OutStreamSlot {
  TStream* stream = nullptr;
  bool free = false;

  OutStreamSlot() = default;
  OutStreamSlot(const OutStreamSlot&) = delete;
  OutStreamSlot& operator=(const OutStreamSlot&) = delete;
  ~OutStreamSlot() { Release(); }

  void Release() {
    if (free) delete stream;
    stream = nullptr;
    free = false;
  }
};

// A part becomes a field like a url-encoded pair does, so a part without a name adds nothing.
// The fields wait in `pending` and go into the table together (MergeFields), which keeps the
// time of a body of many small parts from growing with the square of their number.
void AddPartField(std::vector<TDecodedField>& pending, const TStringList& content_info,
                  std::string_view value) {
  std::string name = content_info.Values("name");
  if (!name.empty()) pending.emplace_back(std::move(name), std::string(value));
}

void FlushFields(std::vector<TDecodedField>& pending, TStringList& fields) {
  MergeFields(fields, pending);
  pending.clear();
}

}  // namespace

TUploadBuffer::TUploadBuffer(TUploadReader reader, int64_t content_length)
    : Data(kSize), Remaining(std::max<int64_t>(content_length, 0)), Reader(std::move(reader)) {}

int TUploadBuffer::Fill() {
  if (Position > 0) {
    std::memmove(Data.data(), Data.data() + Position, static_cast<size_t>(Filled - Position));
    Filled -= Position;
    Position = 0;
  }
  int added = 0;
  // "Nothing yet" is waited out, but not forever: a reader that stays silent as long as the
  // adapter's read limit ends the body like a failed read does.
  bool stalling = false;
  TMonotonicTime stall_start;
  while (Filled < kSize && Remaining > 0 && !failed_) {
    ProcessMessages(0);
    const int want = static_cast<int>(
        std::min<int64_t>({kReadChunk, static_cast<int64_t>(kSize - Filled), Remaining}));
    int got = Reader ? Reader(Data.data() + Filled, want) : -1;
    if (got < 0) {
      failed_ = true;
      break;
    }
    if (got == 0) {
      const TMonotonicTime now = MonotonicNow();
      if (!stalling) {
        stalling = true;
        stall_start = now;
      } else if (now - stall_start >= std::chrono::milliseconds(StallTimeoutMs)) {
        failed_ = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    stalling = false;
    got = std::min(got, want);  // never trust a reader to stay within its count
    Filled += got;
    added += got;
    Remaining -= got;
  }
  return added;
}

std::string TUploadBuffer::ReadBoundary() {
  const char* begin = Data.data() + Position;
  const void* lf = std::memchr(begin, '\n', static_cast<size_t>(Filled - Position));
  if (lf == nullptr) throw Exception("Fileupload: No boundary");
  const int line_end = static_cast<int>(static_cast<const char*>(lf) - Data.data());
  int length = line_end - Position;
  if (length > 0 && Data[line_end - 1] == '\r') --length;
  // An empty boundary would match everywhere, and one longer than the kept-back margin could
  // never be found across buffer refills: neither can delimit parts.
  if (length == 0 || length > kMaxBoundaryLength) throw Exception("Fileupload: No boundary");
  std::string boundary(begin, static_cast<size_t>(length));
  Position = line_end + 1;
  return boundary;
}

void TUploadBuffer::ReadPartHeaders(TStringList& content_info) {
  content_info.Clear();
  int mark = Position;
  std::string pending_name;
  bool name_pending = false;
  int quotes = 0;
  int i = Position;
  for (; i < Filled; ++i) {
    const char c = Data[i];
    if (c == '"') {
      // Blanking the quote lets trimming drop it from the value.
      Data[i] = ' ';
      ++quotes;
      continue;
    }
    if (quotes % 2 != 0) continue;
    if (c == ':' || c == '=') {
      pending_name = Trim(std::string_view(Data.data() + mark, static_cast<size_t>(i - mark)));
      name_pending = true;
      mark = i + 1;
    } else if (c == ';' || c == '\n') {
      if (c == '\n' && !name_pending) {
        ++i;  // the empty line that ends the block
        break;
      }
      content_info.Add(pending_name + "=" +
                       Trim(std::string_view(Data.data() + mark, static_cast<size_t>(i - mark))));
      pending_name.clear();
      name_pending = false;
      mark = i + 1;
    }
  }
  Position = i;
  if (content_info.Empty() && !Exhausted()) throw Exception("Fileupload: No FieldInfo");
}

void TUploadBuffer::Emit(const char* from, const char* to, std::string* text, TStream* stream) {
  const int count = static_cast<int>(to - from);
  if (count <= 0) return;
  if (text != nullptr) {
    text->append(from, static_cast<size_t>(count));
  } else if (stream != nullptr && stream->Write(from, count) != count) {
    throw Exception("Stream write error");
  }
}

bool TUploadBuffer::CopyUntilBoundary(const std::string& boundary, std::string* text,
                                      TStream* stream) {
  const int length = static_cast<int>(boundary.size());
  const char* data = Data.data();
  const std::string_view valid(data, static_cast<size_t>(Filled));
  const size_t hit = valid.find(boundary, static_cast<size_t>(Position));
  const int start = hit == std::string_view::npos ? -1 : static_cast<int>(hit);
  // While more bytes may come, a boundary counts only where the rest of its line can follow it
  // in this buffer. Once the body is exhausted every remaining byte is in the buffer, so any
  // occurrence is the boundary, even one right at the end.
  const bool found =
      start >= 0 && (Exhausted() || (start < kBoundarySearchLimit && start + length < Filled));

  if (!found) {
    // Keep back enough that a boundary cut by the buffer's end, together with the line break in
    // front of it, is still whole after the next Fill.
    const int keep = Exhausted() ? 0 : std::max(length + 10, 13);
    const int content_end = std::max(Position, Filled - keep);
    Emit(data + Position, data + content_end, text, stream);
    Position = content_end;
    return false;
  }

  // The content ends at the line break in front of the boundary (never before Position: bytes
  // already consumed belong to earlier content).
  int content_end = Position;
  for (int i = start - 1; i >= Position; --i) {
    if (data[i] == '\n') {
      content_end = (i > Position && data[i - 1] == '\r') ? i - 1 : i;
      break;
    }
  }
  const int after = start + length;
  const void* lf = std::memchr(data + after, '\n', static_cast<size_t>(Filled - after));
  if (lf == nullptr && !Exhausted() && (content_end > Position || Position > 0)) {
    // The boundary's line runs past the buffer: hand out the content in front of it and find
    // the boundary again, with its whole line, after the next Fill. Otherwise its line end
    // would be read as the next part's header block.
    Emit(data + Position, data + content_end, text, stream);
    Position = content_end;
    return false;
  }
  Emit(data + Position, data + content_end, text, stream);
  closing_seen_ = after + 1 < Filled && data[after] == '-' && data[after + 1] == '-';
  Position = lf == nullptr ? Filled : static_cast<int>(static_cast<const char*>(lf) - data) + 1;
  return true;
}

bool TKestrinFileUpload::Decode(const TUploadReader& reader, int64_t content_length,
                                TStringList& fields) {
  // The fields of the parts decoded so far reach the table on every way out, and before a
  // prepare handler runs (it adds its own entries, and they must follow the earlier fields).
  std::vector<TDecodedField> pending;
  try {
    const bool completed = DecodeParts(reader, content_length, fields, pending);
    FlushFields(pending, fields);
    return completed;
  } catch (...) {
    FlushFields(pending, fields);
    throw;
  }
}

bool TKestrinFileUpload::DecodeParts(const TUploadReader& reader, int64_t content_length,
                                     TStringList& fields, std::vector<TDecodedField>& pending) {
  TUploadBuffer buffer(reader, content_length);
  buffer.StallTimeoutMs = StallTimeoutMs;
  TStringList content_info;
  OutStreamSlot out;
  bool cancel_upload = false;

  buffer.Fill();
  const std::string boundary = buffer.ReadBoundary();
  buffer.Fill();

  DecoderState state = kExpectHeaders;
  std::string value;
  for (;;) {
    switch (state) {
      case kExpectHeaders:
        value.clear();
        out.Release();
        buffer.ReadPartHeaders(content_info);
        if (!content_info.Values("filename").empty()) {
          state = kCopyFile;
          if (OnUploadPrepareFile) {
            FlushFields(pending, fields);
            out.free = false;
            cancel_upload = false;
            OnUploadPrepareFile(this, content_info, out.stream, out.free, cancel_upload);
          }
        } else {
          state = kCollectField;
        }
        break;
      case kCopyFile:
        if (buffer.CopyUntilBoundary(boundary, nullptr, out.stream)) {
          // The field holds the client's file name as sent, path included.
          AddPartField(pending, content_info, content_info.Values("filename"));
          out.Release();
          state = kExpectHeaders;
        }
        break;
      case kCollectField:
        if (buffer.CopyUntilBoundary(boundary, &value, nullptr)) {
          AddPartField(pending, content_info, value);
          state = kExpectHeaders;
        }
        break;
    }
    // What follows the closing boundary is epilogue, not another part.
    if (cancel_upload || (state == kExpectHeaders && buffer.ClosingBoundarySeen())) break;
    const int added = buffer.Fill();
    if (added == 0 && buffer.Unconsumed() == 0) break;
  }
  // `out` frees a stream it owns on every way out, including a part cut off by a short body.
  return !cancel_upload;
}
