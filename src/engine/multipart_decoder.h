#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/streams.h"
#include "common/string_list.h"
#include "engine/field_table.h"

// Decoding of multipart/form-data request bodies (form fields and file uploads).
//
// The body is read through the engine's input reader into a 16384-byte sliding buffer, never
// held whole in memory: text parts become fields of the request's field table (merged with
// MergeField, as url-encoded fields are), file parts are streamed straight into the stream the
// prepare handler supplies.

// The engine's input reader: fills `buffer` with up to `count` bytes and returns the number read
// (> 0), 0 when nothing is available yet, or a negative value when reading failed.
using TUploadReader = std::function<int(char* buffer, int count)>;

class TKestrinFileUpload;

// Called once for every part that carries a non-empty file name, before its content is read.
// `content_info` holds the part's header values as name=value lines (at least "name" and
// "filename"; also "Content-Type" and any other header or parameter sent). The handler sets
// `out_stream` to the stream that receives the file's bytes (leaving it null skips the content),
// `free_out_stream` when the decoder should delete that stream once the part ends (otherwise the
// handler keeps ownership), and `cancel_upload` to stop decoding altogether.
using TUploadPrepareFileEvent =
    std::function<void(TKestrinFileUpload* sender, TStringList& content_info, TStream*& out_stream,
                       bool& free_out_stream, bool& cancel_upload)>;

class TKestrinFileUpload {
 public:
  TUploadPrepareFileEvent OnUploadPrepareFile;

  // How long the reader may keep answering "nothing yet" (0) before the body counts as ended.
  // Matches the 30-second read limit of the standard CGI adapter.
  int StallTimeoutMs = 30000;

  // Decodes a multipart body of `content_length` bytes read through `reader` into `fields`.
  // Returns false when the prepare handler cancelled the upload. Throws Exception
  // ("Fileupload: No boundary", "Fileupload: No FieldInfo", stream errors).
  //
  // Fields are added with MergeField (a repeated name joins the values with CR LF); a file part
  // adds its name with the client's file name as value. The reader is never asked for more than
  // 4096 bytes at once, nor for bytes beyond `content_length`.
  //
  // The first line of the body is the boundary; it must be 1 to kMaxBoundaryLength bytes long
  // (a longer or empty one is "Fileupload: No boundary"). Parts without a name add no field.
  // Decoding ends at the closing boundary ("--" behind it). A body that ends early (the reader
  // fails, stalls for StallTimeoutMs, or `content_length` bytes were read without a closing
  // boundary) ends decoding quietly: the completed parts are kept, the unfinished part adds no
  // field, and an out stream the decoder owns is always freed.
  bool Decode(const TUploadReader& reader, int64_t content_length, TStringList& fields);

 private:
  // Decode's loop; the decoded fields collect in `pending`.
  bool DecodeParts(const TUploadReader& reader, int64_t content_length, TStringList& fields,
                   std::vector<TDecodedField>& pending);
};

// Longest boundary line accepted (the standard allows 70 characters plus the leading "--").
constexpr int kMaxBoundaryLength = 1024;

// The sliding input buffer of the decoder. Bytes [0, Filled) of Data are valid; Position is the
// 0-based index of the next unconsumed byte. What the reader refers to must outlive the buffer.
class TUploadBuffer {
 public:
  static constexpr int kSize = 16384;
  // Largest request handed to the reader at once.
  static constexpr int kReadChunk = 4096;
  // While more body bytes may come, a boundary only counts as found when it starts before this
  // index (so the rest of its line fits the buffer).
  static constexpr int kBoundarySearchLimit = kSize - 11;

  TUploadBuffer(TUploadReader reader, int64_t content_length);
  TUploadBuffer(const TUploadBuffer&) = delete;
  TUploadBuffer& operator=(const TUploadBuffer&) = delete;

  // Drops the consumed bytes and reads until the buffer is full, the body is exhausted or the
  // reader fails (or stalls for StallTimeoutMs); returns the number of bytes added.
  int Fill();

  // Takes the first line of the valid bytes (without CR LF) as the boundary and consumes it.
  // Throws Exception("Fileupload: No boundary") when there is no line feed or the line is empty
  // or longer than kMaxBoundaryLength.
  std::string ReadBoundary();

  // Parses one part's header block into name=value lines of `content_info` (cleared first):
  // ":" and "=" end a name, ";" and a line feed end a value, double quotes protect those
  // characters (and turn into blanks that trimming removes); an empty line ends the block.
  // Throws Exception("Fileupload: No FieldInfo") when no entry results while body bytes remain
  // unread.
  void ReadPartHeaders(TStringList& content_info);

  // Moves the content in front of the next boundary into `text` (appended) or, when `text` is
  // null, into `stream` (dropped when both are null). Returns true when the part's closing
  // boundary was reached; Position is then behind the boundary's line. Content that may still
  // precede a boundary cut by the end of a full buffer is kept back for the next Fill. Throws
  // Exception("Stream write error") when the stream refuses bytes.
  bool CopyUntilBoundary(const std::string& boundary, std::string* text, TStream* stream);

  // Bytes read but not consumed yet.
  int Unconsumed() const { return Filled - Position; }
  // True once no more body bytes can arrive (all read, or the reader failed or stalled).
  bool Exhausted() const { return Remaining <= 0 || failed_; }
  // True when the last boundary found was the closing one ("--" right behind it).
  bool ClosingBoundarySeen() const { return closing_seen_; }

  std::vector<char> Data;
  int Filled = 0;
  int Position = 0;
  int64_t Remaining = 0;
  TUploadReader Reader;
  int StallTimeoutMs = 30000;

 private:
  // Writes content bytes [from, to) to the target of CopyUntilBoundary.
  static void Emit(const char* from, const char* to, std::string* text, TStream* stream);

  bool failed_ = false;
  bool closing_seen_ = false;
};
