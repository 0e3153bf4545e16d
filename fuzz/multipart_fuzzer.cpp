// Random multipart bodies through the upload decoder: whatever arrives, decoding must end
// without crashing, hanging or touching memory outside its buffer.
//
// Input layout: five control bytes, then the body.
//   [0] largest piece the reader hands out (0 means the whole body at once)
//   [1] flags: bit 0 announces more bytes than the body holds (a truncated body),
//       bit 1 leaves the file stream null, bit 2 cancels at the second file,
//       bits 4-7 pick the byte of the padding
//   [2] padding size in units of 256 bytes, inserted into the body at
//   [3..4] the padding's offset (little endian, clamped to the body)
// The padding lets short inputs reach the buffer's refill and kept-back paths.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/exception.h"
#include "common/streams.h"
#include "common/string_list.h"
#include "engine/multipart_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const size_t piece = data[0] == 0 ? SIZE_MAX : data[0];
  const uint8_t flags = data[1];
  std::string body(reinterpret_cast<const char*>(data + 5), size - 5);
  const size_t padding = static_cast<size_t>(data[2]) * 256;
  const size_t offset = std::min<size_t>(data[3] | (data[4] << 8), body.size());
  static const char kPadBytes[] = {'x', '\r', '\n', '-',    '"',  ';', ':', '=',
                                   ' ', '\0', 'A',  '\xff', '\t', 'z', '0', '9'};
  body.insert(offset, padding, kPadBytes[flags >> 4]);

  size_t position = 0;
  TUploadReader reader = [&](char* buffer, int count) -> int {
    if (count <= 0 || count > 4096) __builtin_trap();
    if (position == body.size()) return -1;
    const size_t n = std::min({static_cast<size_t>(count), piece, body.size() - position});
    std::memcpy(buffer, body.data() + position, n);
    position += n;
    return static_cast<int>(n);
  };

  int files = 0;
  TKestrinFileUpload upload;
  upload.OnUploadPrepareFile = [&](TKestrinFileUpload*, TStringList& info, TStream*& stream,
                                   bool& free_stream, bool& cancel) {
    if (info.Values("filename").empty()) __builtin_trap();
    if (++files == 2 && (flags & 4)) cancel = true;
    if (flags & 2) return;
    stream = new TMemoryStream();
    free_stream = true;
  };
  TStringList fields(true);
  const int64_t length = static_cast<int64_t>(body.size()) + ((flags & 1) ? 1000 : 0);
  try {
    upload.Decode(reader, length, fields);
  } catch (const Exception&) {
    // The decoder's own errors ("Fileupload: No boundary", "Fileupload: No FieldInfo") are
    // expected answers to malformed bodies.
  }
  return 0;
}
