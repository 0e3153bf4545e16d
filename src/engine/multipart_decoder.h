#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/streams.h"
#include "common/string_list.h"

// Decoding of multipart/form-data request bodies (form fields and file uploads).
//
// The body is read through the engine's input reader into a 16384-byte sliding buffer, never
// held whole in memory: text parts become fields of the request's field table (merged with
// MergeField), file parts are streamed straight into the stream the prepare handler supplies.

// The engine's input reader: fills `buffer` with up to `count` bytes and returns the number read
// (> 0), 0 when nothing is available yet, or a negative value when reading failed.
using TUploadReader = std::function<int(char* buffer, int count)>;

class TKestrinFileUpload;

// Called once for every part that carries a file name, before its content is read.
// `content_info` holds the part's header values as name=value lines (at least "name" and
// "filename"; also "Content-Type" and any other header or parameter sent). The handler sets
// `out_stream` to the stream that receives the file's bytes (leaving it null skips the content),
// `free_out_stream` when the decoder should delete that stream after the part, and
// `cancel_upload` to stop decoding altogether.
using TUploadPrepareFileEvent =
    std::function<void(TKestrinFileUpload* sender, TStringList& content_info, TStream*& out_stream,
                       bool& free_out_stream, bool& cancel_upload)>;

class TKestrinFileUpload {
 public:
  TUploadPrepareFileEvent OnUploadPrepareFile;

  // Decodes a multipart body of `content_length` bytes read through `reader` into `fields`.
  // Returns false when the prepare handler cancelled the upload. Throws Exception
  // ("Fileupload: No boundary", "Fileupload: No FieldInfo", stream errors).
  //
  // A body that ends early (the reader fails, or `content_length` bytes have been read without
  // a closing boundary) ends decoding quietly; the fields and file bytes decoded so far are kept.
  bool Decode(const TUploadReader& reader, int64_t content_length, TStringList& fields);
};
