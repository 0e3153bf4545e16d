// The decoder's sliding buffer: refilling, the boundary line, part headers and the kept-back
// tail of a full buffer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/exception.h"
#include "common/string_list.h"
#include "engine/multipart_decoder.h"

namespace {

// Hands out `body` and records every count the buffer asks for; after the body it answers
// `at_end` (0: nothing yet, -1: failed).
struct RecordingReader {
  explicit RecordingReader(std::string text, int end_answer = -1)
      : body(std::move(text)), at_end(end_answer) {}

  std::string body;
  size_t position = 0;
  int at_end;
  std::vector<int> asked;

  TUploadReader Reader() {
    return [this](char* buffer, int count) {
      asked.push_back(count);
      if (position == body.size()) return at_end;
      const size_t n = std::min(static_cast<size_t>(count), body.size() - position);
      std::memcpy(buffer, body.data() + position, n);
      position += n;
      return static_cast<int>(n);
    };
  }
};

std::string Pattern(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

std::string Valid(const TUploadBuffer& buffer) {
  return std::string(buffer.Data.data() + buffer.Position,
                     static_cast<size_t>(buffer.Filled - buffer.Position));
}

TEST(UploadBufferTest, FillReadsInBoundedPiecesAndDropsConsumedBytes) {
  RecordingReader source(Pattern(20000));
  TUploadBuffer buffer(source.Reader(), 20000);
  EXPECT_EQ(buffer.Fill(), TUploadBuffer::kSize);
  EXPECT_EQ(source.asked, (std::vector<int>{4096, 4096, 4096, 4096}));
  EXPECT_EQ(buffer.Remaining, 20000 - TUploadBuffer::kSize);

  buffer.Position = 100;
  source.asked.clear();
  EXPECT_EQ(buffer.Fill(), 100);
  EXPECT_EQ(source.asked, (std::vector<int>{100}));
  EXPECT_EQ(buffer.Position, 0);
  EXPECT_EQ(Valid(buffer), source.body.substr(100, TUploadBuffer::kSize));

  // The rest of the body only: never more than was announced.
  buffer.Position = TUploadBuffer::kSize;
  source.asked.clear();
  EXPECT_EQ(buffer.Fill(), 20000 - TUploadBuffer::kSize - 100);
  EXPECT_EQ(source.asked, (std::vector<int>{3516}));
  EXPECT_TRUE(buffer.Exhausted());
}

TEST(UploadBufferTest, FailedOrStalledReaderEndsTheBody) {
  for (const int at_end : {-1, 0}) {
    RecordingReader source("--b\r\n", at_end);
    TUploadBuffer buffer(source.Reader(), 1000);
    buffer.StallTimeoutMs = 60;
    EXPECT_EQ(buffer.Fill(), 5);
    EXPECT_TRUE(buffer.Exhausted());
    const size_t asked = source.asked.size();
    EXPECT_EQ(buffer.Fill(), 0);
    EXPECT_EQ(source.asked.size(), asked) << "asked again after the body ended";
  }
}

TEST(UploadBufferTest, NothingYetIsWaitedOut) {
  int calls = 0;
  TUploadBuffer buffer(
      [&calls](char* data, int) {
        if (++calls < 3) return 0;
        std::memcpy(data, "xyz", 3);
        return 3;
      },
      3);
  EXPECT_EQ(buffer.Fill(), 3);
  EXPECT_FALSE(buffer.ClosingBoundarySeen());
  EXPECT_EQ(Valid(buffer), "xyz");
}

TEST(UploadBufferTest, BoundaryIsTheFirstLineWithoutItsLineEnd) {
  for (const std::string end : {"\r\n", "\n"}) {
    RecordingReader source("--AaB03x" + end + "rest");
    TUploadBuffer buffer(source.Reader(), static_cast<int64_t>(source.body.size()));
    buffer.Fill();
    EXPECT_EQ(buffer.ReadBoundary(), "--AaB03x");
    EXPECT_EQ(Valid(buffer), "rest");
  }
}

TEST(UploadBufferTest, PartHeadersBecomeEntries) {
  RecordingReader source(
      "Content-Disposition: form-data; name=\"doc\"; filename=\"C:\\My Files\\a: b.txt\"\r\n"
      "Content-Type: text/plain\r\n"
      "\r\n"
      "content");
  TUploadBuffer buffer(source.Reader(), static_cast<int64_t>(source.body.size()));
  buffer.Fill();
  TStringList info;
  info.Add("stale=entry");
  buffer.ReadPartHeaders(info);
  EXPECT_EQ(info.Text(),
            "Content-Disposition=form-data\r\nname=doc\r\nfilename=C:\\My Files\\a: b.txt\r\n"
            "Content-Type=text/plain\r\n");
  EXPECT_EQ(Valid(buffer), "content");
}

TEST(UploadBufferTest, FullBufferKeepsBackTheBoundaryMargin) {
  const std::string boundary = "--0123456789";
  RecordingReader source(Pattern(40000));
  TUploadBuffer buffer(source.Reader(), 40000);
  buffer.Fill();
  std::string text;
  EXPECT_FALSE(buffer.CopyUntilBoundary(boundary, &text, nullptr));
  const size_t kept = boundary.size() + 10;
  EXPECT_EQ(text, source.body.substr(0, TUploadBuffer::kSize - kept));
  EXPECT_EQ(buffer.Unconsumed(), static_cast<int>(kept));
}

TEST(UploadBufferTest, FoundBoundaryEndsContentAtTheLineBreakInFrontOfIt) {
  struct Case {
    const char* body;
    const char* content;
    const char* rest;
    bool closing;
  };
  const Case cases[] = {
      {"value\r\n--b\r\nnext", "value", "next", false},
      {"two\r\nlines\n--b--\r\n", "two\r\nlines", "", true},
      {"\r\n--b\r\n", "", "", false},
      {"no break--b\r\nnext", "", "next", false},
      {"ends\r\n--b", "ends", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    RecordingReader source(c.body);
    TUploadBuffer buffer(source.Reader(), static_cast<int64_t>(source.body.size()));
    buffer.Fill();
    std::string text;
    EXPECT_TRUE(buffer.CopyUntilBoundary("--b", &text, nullptr));
    EXPECT_EQ(text, c.content);
    EXPECT_EQ(Valid(buffer), c.rest);
    EXPECT_EQ(buffer.ClosingBoundarySeen(), c.closing);
  }
}

}  // namespace
