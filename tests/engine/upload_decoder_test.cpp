// Decoding of whole multipart bodies through TKestrinFileUpload::Decode, fed by a reader that
// hands the body out in chunks of various sizes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/exception.h"
#include "common/streams.h"
#include "common/string_list.h"
#include "engine/multipart_decoder.h"

namespace {

const std::string kBoundary = "----BrevixFormBoundary7MA4YWxkTrZu0gW";

struct Part {
  std::string name;
  std::string content;
  std::optional<std::string> filename;  // set for a file part
  std::string content_type;
};

Part Field(std::string name, std::string value) {
  return {std::move(name), std::move(value), {}, {}};
}

Part File(std::string name, std::string content, std::string filename,
          std::string content_type = "application/octet-stream") {
  return {std::move(name), std::move(content), std::move(filename), std::move(content_type)};
}

std::string MultipartBody(const std::vector<Part>& parts, const std::string& boundary = kBoundary) {
  std::string body = "--" + boundary;
  for (const Part& part : parts) {
    body += "\r\nContent-Disposition: form-data; name=\"" + part.name + "\"";
    if (part.filename)
      body += "; filename=\"" + *part.filename + "\"\r\nContent-Type: " + part.content_type;
    body += "\r\n\r\n" + part.content + "\r\n--" + boundary;
  }
  return body + "--\r\n";
}

// Deterministic bytes of every value, so that file content is truly binary.
std::string BinaryBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return bytes;
}

// A stream that writes into a sink owned by the test and counts the live instances, so that
// tests see both the bytes and whether the decoder freed what it owned.
class SinkStream : public TMemoryStream {
 public:
  SinkStream(std::string* sink, int* live, bool refuse)
      : sink_(sink), live_(live), refuse_(refuse) {
    ++*live_;
  }
  ~SinkStream() override { --*live_; }
  int Write(const void* buffer, int count) override {
    if (refuse_) return 0;
    largest_write_ = std::max(largest_write_, count);
    sink_->append(static_cast<const char*>(buffer), static_cast<size_t>(count));
    return count;
  }
  static inline int largest_write_ = 0;

 private:
  std::string* sink_;
  int* live_;
  bool refuse_;
};

struct HandlerOptions {
  bool assign_handler = true;
  bool leave_nil = false;   // the handler supplies no stream
  int cancel_on_file = -1;  // index of the file part whose preparation cancels
  bool refuse_writes = false;
};

struct DecodeResult {
  TStringList fields{true};
  std::vector<std::string> files;  // bytes received per file part, in order
  std::vector<TStringList> infos;  // content info per file part
  bool result = false;
  int live_streams = 0;  // streams not freed after Decode
};

// Decodes `body` handed out in pieces of at most `chunk` bytes. The reader fails (-1) once the
// body is used up, or answers 0 when `stall_at_end`; it checks that the decoder never asks for
// more than 4096 bytes at once or beyond `content_length`.
void DecodeInto(DecodeResult& out, const std::string& body, size_t chunk,
                std::optional<int64_t> content_length = std::nullopt, HandlerOptions options = {},
                bool stall_at_end = false) {
  const int64_t length = content_length.value_or(static_cast<int64_t>(body.size()));
  size_t position = 0;
  TUploadReader reader = [&](char* buffer, int count) -> int {
    EXPECT_GT(count, 0);
    EXPECT_LE(count, 4096);
    EXPECT_LE(count, length - static_cast<int64_t>(position)) << "asked beyond the body";
    if (position == body.size()) return stall_at_end ? 0 : -1;
    const size_t n = std::min({static_cast<size_t>(count), chunk, body.size() - position});
    std::memcpy(buffer, body.data() + position, n);
    position += n;
    return static_cast<int>(n);
  };
  out.files.reserve(64);  // sinks must not move while streams point at them
  TKestrinFileUpload upload;
  upload.StallTimeoutMs = 50;
  if (options.assign_handler) {
    upload.OnUploadPrepareFile = [&](TKestrinFileUpload* sender, TStringList& info,
                                     TStream*& stream, bool& free_stream, bool& cancel) {
      EXPECT_EQ(sender, &upload);
      EXPECT_EQ(stream, nullptr);
      const int index = static_cast<int>(out.files.size());
      out.infos.emplace_back().Assign(info);
      out.files.emplace_back();
      if (index == options.cancel_on_file) cancel = true;
      if (options.leave_nil) return;
      stream = new SinkStream(&out.files.back(), &out.live_streams, options.refuse_writes);
      free_stream = true;
    };
  }
  out.result = upload.Decode(reader, length, out.fields);
}

class UploadDecodeTest : public ::testing::TestWithParam<size_t> {
 protected:
  size_t Chunk() const { return GetParam(); }
};

TEST_P(UploadDecodeTest, TextAndFileFormYieldsFieldsAndExactFileBytes) {
  const std::string file = BinaryBytes(5000, 1);
  DecodeResult out;
  DecodeInto(out,
             MultipartBody({Field("name", "Alice Example"),
                            File("file", file, "C:\\Users\\alice\\report.bin", "image/png"),
                            Field("comment", "line one\r\nline two")}),
             Chunk());
  EXPECT_TRUE(out.result);
  EXPECT_EQ(out.fields.Count(), 3);
  EXPECT_EQ(out.fields.Values("name"), "Alice Example");
  EXPECT_EQ(out.fields.Values("FILE"), "C:\\Users\\alice\\report.bin");
  EXPECT_EQ(out.fields.Values("comment"), "line one\r\nline two");
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.files[0], file);
  EXPECT_EQ(out.infos[0].Values("name"), "file");
  EXPECT_EQ(out.infos[0].Values("filename"), "C:\\Users\\alice\\report.bin");
  EXPECT_EQ(out.infos[0].Values("content-type"), "image/png");
  EXPECT_EQ(out.infos[0].Values("Content-Disposition"), "form-data");
  EXPECT_EQ(out.live_streams, 0);
}

TEST_P(UploadDecodeTest, RepeatedNamesMergeInArrivalOrder) {
  DecodeResult out;
  out.fields.Add("topic=from query");
  DecodeInto(out,
             MultipartBody({Field("topic", "first"), Field("other", ""), Field("TOPIC", "second")}),
             Chunk());
  EXPECT_EQ(out.fields.Count(), 2);
  EXPECT_EQ(out.fields.Values("topic"), "from query\r\nfirst\r\nsecond");
  // The merged entry is spelled as last received.
  EXPECT_GE(out.fields.IndexOf("TOPIC=from query\r\nfirst\r\nsecond"), 0);
  EXPECT_GE(out.fields.IndexOf("other="), 0);
}

TEST_P(UploadDecodeTest, LargeBinaryFileWithBoundaryLookalikesArrivesWhole) {
  // Everything that almost is a boundary: its prefix behind a line break, the boundary with one
  // byte changed, dashes, bare line feeds. Each is fenced by "#" so that the random bytes around
  // it never complete a real boundary.
  const std::vector<std::string> traps = {
      "\r\n--" + kBoundary.substr(0, kBoundary.size() - 1),
      "\r\n--" + kBoundary.substr(0, kBoundary.size() - 1) + "X\r\n",
      "\n-" + kBoundary,
      "\r\n\r\n----------",
      "--" + kBoundary.substr(1),
  };
  std::string file;
  for (unsigned i = 0; file.size() < 400000; ++i) {
    file += BinaryBytes(997 + i % 5000, i);
    file += "#" + traps[i % traps.size()] + "#";
  }
  SinkStream::largest_write_ = 0;
  DecodeResult out;
  DecodeInto(out, MultipartBody({File("upload", file, "big.bin"), Field("after", "tail")}),
             Chunk());
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_TRUE(out.files[0] == file) << "file of " << out.files[0].size() << " bytes differs";
  EXPECT_EQ(out.fields.Values("after"), "tail");
  // Streamed in buffer-sized pieces, never collected whole.
  EXPECT_LE(SinkStream::largest_write_, TUploadBuffer::kSize);
}

// The closing boundary of a file part landing at every position around the end of the first
// and the second buffer load, with and without a part behind it (whose boundary line may then be
// cut between its CR and LF). A buffer load after the header block starts with the content; the
// second one starts with the bytes kept back from the first.
TEST_P(UploadDecodeTest, BoundaryAtEveryPositionAroundBufferEndsIsFound) {
  const int b = static_cast<int>(kBoundary.size()) + 2;
  const int first_edge = TUploadBuffer::kSize;
  const int second_edge = first_edge + TUploadBuffer::kSize - (b + 10);
  for (const int edge : {first_edge, second_edge}) {
    for (int size = edge - b - 16; size <= edge + 4; ++size) {
      for (const bool with_next : {false, true}) {
        const std::string file =
            BinaryBytes(static_cast<size_t>(size), static_cast<unsigned>(size));
        std::vector<Part> parts = {File("f", file, "a.bin")};
        if (with_next) {
          parts.push_back(Field("next", "value"));
        }
        DecodeResult out;
        DecodeInto(out, MultipartBody(parts), Chunk());
        ASSERT_EQ(out.files.size(), 1u) << "size " << size;
        ASSERT_TRUE(out.files[0] == file) << "size " << size << ", got " << out.files[0].size();
        ASSERT_EQ(out.fields.Values("f"), "a.bin") << "size " << size;
        if (with_next) {
          ASSERT_EQ(out.fields.Values("next"), "value") << "size " << size;
        }
      }
    }
  }
}

TEST_P(UploadDecodeTest, QuotesProtectSeparatorsInHeaderValues) {
  const std::string body = "--" + kBoundary +
                           "\r\nContent-Disposition: form-data; name=\"a;b:c d\"\r\n\r\nv1\r\n--" +
                           kBoundary +
                           "\r\nContent-Disposition: form-data; name=\"doc\"; "
                           "filename=\"C:\\my docs\\x;y=z.txt\"\r\n\r\nfile\r\n--" +
                           kBoundary + "--\r\n";
  DecodeResult out;
  DecodeInto(out, body, Chunk());
  EXPECT_EQ(out.fields.Values("a;b:c d"), "v1");
  EXPECT_EQ(out.fields.Values("doc"), "C:\\my docs\\x;y=z.txt");
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.files[0], "file");
}

TEST_P(UploadDecodeTest, CancelStopsDecodingAndKeepsEarlierFields) {
  DecodeResult out;
  HandlerOptions options;
  options.cancel_on_file = 0;
  DecodeInto(
      out,
      MultipartBody({Field("before", "kept"), File("f", "data", "x.txt"), Field("after", "lost")}),
      Chunk(), std::nullopt, options);
  EXPECT_FALSE(out.result);
  EXPECT_EQ(out.fields.Values("before"), "kept");
  EXPECT_EQ(out.fields.IndexOfName("f"), -1);
  EXPECT_EQ(out.fields.IndexOfName("after"), -1);
  EXPECT_EQ(out.files[0], "");
  EXPECT_EQ(out.live_streams, 0);
}

TEST_P(UploadDecodeTest, FileWithoutStreamIsSkippedButNamed) {
  for (const bool assign : {true, false}) {
    DecodeResult out;
    HandlerOptions options;
    options.assign_handler = assign;
    options.leave_nil = true;
    DecodeInto(out,
               MultipartBody({File("f", BinaryBytes(40000, 3), "x.bin"), Field("after", "ok")}),
               Chunk(), std::nullopt, options);
    EXPECT_TRUE(out.result);
    EXPECT_EQ(out.fields.Values("f"), "x.bin");
    EXPECT_EQ(out.fields.Values("after"), "ok");
  }
}

TEST_P(UploadDecodeTest, EmptyFileNameIsAFieldPart) {
  DecodeResult out;
  DecodeInto(out, MultipartBody({File("f", "", ""), Field("g", "x")}), Chunk());
  EXPECT_TRUE(out.files.empty());
  EXPECT_EQ(out.fields.IndexOf("f="), 0);
  EXPECT_EQ(out.fields.Values("g"), "x");
}

// A body that ends early, however it ends, keeps the completed parts, adds no field for the
// part it cut off and frees the open stream.
TEST_P(UploadDecodeTest, TruncatedBodyEndsQuietly) {
  const std::string file = BinaryBytes(30000, 9);
  const std::string body = MultipartBody({Field("first", "done"), File("f", file, "cut.bin")});
  const std::string cut = body.substr(0, body.size() - 20000);
  struct Case {
    const char* what;
    std::string body;
    int64_t length;
    bool stall;
  };
  const Case cases[] = {
      {"reader fails", cut, static_cast<int64_t>(body.size()), false},
      {"reader stalls", cut, static_cast<int64_t>(body.size()), true},
      {"length too short", body, static_cast<int64_t>(cut.size()), false},
      {"no closing boundary", body.substr(0, body.size() - 10),
       static_cast<int64_t>(body.size() - 10), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DecodeResult out;
    DecodeInto(out, c.body, Chunk(), c.length, {}, c.stall);
    EXPECT_TRUE(out.result);
    EXPECT_EQ(out.fields.Values("first"), "done");
    EXPECT_EQ(out.fields.IndexOfName("f"), -1);
    ASSERT_EQ(out.files.size(), 1u);
    const size_t received = std::min(out.files[0].size(), file.size());
    EXPECT_GT(received, 0u);
    EXPECT_EQ(out.files[0].substr(0, received), file.substr(0, received));
    EXPECT_EQ(out.live_streams, 0);
  }
}

TEST_P(UploadDecodeTest, EpilogueAfterClosingBoundaryIsIgnored) {
  DecodeResult out;
  DecodeInto(out, MultipartBody({Field("a", "1")}) + std::string(40000, 'e') + "\r\n\r\n", Chunk());
  EXPECT_TRUE(out.result);
  EXPECT_EQ(out.fields.Count(), 1);
  EXPECT_EQ(out.fields.Values("a"), "1");
}

INSTANTIATE_TEST_SUITE_P(Chunks, UploadDecodeTest,
                         ::testing::Values(size_t{1}, size_t{7}, size_t{4096},
                                           std::numeric_limits<size_t>::max()));

TEST(UploadDecodeFailureTest, StreamWriteErrorThrowsAndFreesTheStream) {
  DecodeResult out;
  HandlerOptions options;
  options.refuse_writes = true;
  try {
    DecodeInto(out, MultipartBody({File("f", "data", "x.txt")}), 100, std::nullopt, options);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Stream write error");
  }
  EXPECT_EQ(out.live_streams, 0);
}

// Malformed bodies end with the decoder's own error or decode what they can; none may crash,
// hang or read outside the buffer (the sanitizer build checks the latter).
TEST(UploadDecodeFailureTest, MalformedBodies) {
  const std::string b = "--" + kBoundary;
  const std::string big_junk(40000, 'x');
  struct Case {
    const char* what;
    std::string body;
    const char* error;  // null: decodes without error
    int fields;
  };
  const Case cases[] = {
      {"empty body", "", "Fileupload: No boundary", 0},
      {"no line feed", std::string(20000, '-'), "Fileupload: No boundary", 0},
      {"empty boundary line", "\r\nContent-Disposition: form-data; name=a\r\n\r\nv\r\n\r\n",
       "Fileupload: No boundary", 0},
      {"boundary longer than allowed", "--" + std::string(5000, 'b') + "\r\n" + big_junk,
       "Fileupload: No boundary", 0},
      {"boundary filling the buffer", "--" + std::string(16381, 'b') + "\n",
       "Fileupload: No boundary", 0},
      {"empty header block before more body", b + "\r\n\r\n" + big_junk, "Fileupload: No FieldInfo",
       0},
      {"header block without line feed", b + "\r\n" + big_junk, "Fileupload: No FieldInfo", 0},
      {"unclosed quote", b + "\r\nContent-Disposition: form-data; name=\"a\r\n\r\nv\r\n" + b + "--",
       nullptr, 0},
      {"empty content right behind the headers",
       b + "\r\nContent-Disposition: form-data; name=a\r\n\r\n" + b + "--\r\n", nullptr, 1},
      {"part without name", b + "\r\nContent-Disposition: form-data\r\n\r\nv\r\n" + b + "--",
       nullptr, 0},
      {"only the boundary", b + "\r\n", nullptr, 0},
      {"line feeds only", b + "\n" + "Content-Disposition: form-data; name=a\n\nv\n" + b + "--\n",
       nullptr, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DecodeResult out;
    try {
      DecodeInto(out, c.body, 4096);
      EXPECT_EQ(c.error, nullptr) << "no exception";
    } catch (const Exception& e) {
      ASSERT_NE(c.error, nullptr) << e.Message();
      EXPECT_EQ(e.Message(), c.error);
    }
    EXPECT_EQ(out.fields.Count(), c.fields);
  }
}

}  // namespace
