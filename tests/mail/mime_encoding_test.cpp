#include "mail/mime_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string EncodeLines(const std::string& bytes, size_t piece) {
  TBase64LineEncoder encoder;
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += piece) encoder.Add(bytes.substr(i, piece), out);
  encoder.Finish(out);
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
  return lines;
}

std::string Bytes(size_t count) {
  std::string bytes;
  for (size_t i = 0; i < count; ++i) bytes += static_cast<char>((i * 37 + 11) & 0xFF);
  return bytes;
}

TEST(Base64LineEncoderTest, LineLayoutFollowsFileSize) {
  struct Case {
    size_t size;
    std::vector<size_t> line_lengths;
    std::string last_line_end;
  };
  const Case cases[] = {
      {0, {}, ""},        {1, {4}, "=="},     {2, {4}, "="},
      {3, {4}, ""},       {45, {60}, ""},     {46, {60, 4}, "=="},
      {47, {60, 4}, "="}, {90, {60, 60}, ""}, {1000, std::vector<size_t>(22, 60), ""},
  };
  for (const Case& c : cases) {
    const std::string out = EncodeLines(Bytes(c.size), 1 << 20);
    const std::vector<std::string> lines = Lines(out);
    std::vector<size_t> lengths;
    for (const std::string& line : lines) lengths.push_back(line.size());
    std::vector<size_t> expected = c.line_lengths;
    if (c.size == 1000) expected.push_back(4 * ((1000 - 22 * 45 + 2) / 3));
    EXPECT_EQ(lengths, expected) << c.size << " bytes";
    if (!c.last_line_end.empty()) {
      EXPECT_TRUE(lines.back().ends_with(c.last_line_end) &&
                  !lines.back().ends_with("=" + c.last_line_end))
          << c.size << " bytes";
    }
  }
}

TEST(Base64LineEncoderTest, PiecesOfAnySizeGiveTheSameLines) {
  const std::string bytes = Bytes(1234);
  const std::string whole = EncodeLines(bytes, bytes.size());
  for (size_t piece : {1u, 2u, 4u, 44u, 45u, 46u, 1000u})
    EXPECT_EQ(EncodeLines(bytes, piece), whole) << "pieces of " << piece;
}

TEST(Base64LineEncoderTest, KnownVectors) {
  EXPECT_EQ(EncodeLines("Man", 3), "TWFu\r\n");
  EXPECT_EQ(EncodeLines("Ma", 3), "TWE=\r\n");
  EXPECT_EQ(EncodeLines(std::string("\xff\xfe\x00", 3), 3), "//4A\r\n");
  EXPECT_EQ(Base64Encode("hello world"), "aGVsbG8gd29ybGQ=");
}

TEST(QuotedPrintableTest, EncodesWhatWouldNotSurviveTransport) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"plain text\r\n", "plain text\r\n"},
      {"a=b\r\n", "a=3Db\r\n"},
      {"trailing blank \r\n", "trailing blank=20\r\n"},
      {"tab\t\r\n", "tab=09\r\n"},
      {"caf\xc3\xa9\r\n", "caf=C3=A9\r\n"},
      {"lf only\nnext", "lf only\r\nnext"},
      {"", ""},
      {".dot\r\n", ".dot\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(QuotedPrintableEncode(c.in), c.out) << c.in;
}

TEST(QuotedPrintableTest, LongLinesGetSoftBreaksWithinSeventySixCharacters) {
  const std::string line(200, 'x');
  const std::string encoded = QuotedPrintableEncode(line + "=" + line + "\r\n");
  std::string decoded;
  for (const std::string& l : Lines(encoded)) {
    EXPECT_LE(l.size(), 76u);
    if (l.ends_with("=")) {
      decoded += l.substr(0, l.size() - 1);
    } else {
      decoded += l + "\n";
    }
  }
  EXPECT_EQ(decoded, line + "=3D" + line + "\n");
}

TEST(CharsetTest, Utf8Validation) {
  struct Case {
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {"ascii", true},
      {"caf\xc3\xa9", true},
      {"\xe2\x82\xac", true},
      {"\xf0\x9f\x98\x80", true},
      {"caf\xe9", false},           // ISO-8859-1
      {"\xc3", false},              // cut short
      {"\xc0\xaf", false},          // overlong
      {"\xed\xa0\x80", false},      // surrogate
      {"\xf4\x90\x80\x80", false},  // past U+10FFFF
      {"\x80", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
  EXPECT_FALSE(HasHighBytes("plain"));
  EXPECT_TRUE(HasHighBytes("caf\xe9"));
}

TEST(EncodedWordTest, AsciiStaysAndOtherTextIsEncoded) {
  EXPECT_EQ(EncodeHeaderWord("Order 12"), "Order 12");
  EXPECT_EQ(EncodeHeaderWord("caf\xc3\xa9"), "=?utf-8?B?Y2Fmw6k=?=");
  EXPECT_EQ(EncodeHeaderWord("caf\xe9"), "=?iso-8859-1?B?Y2Fm6Q==?=");
}

TEST(EncodedWordTest, LongTextIsSplitIntoFoldedWordsOnCharacterBoundaries) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "\xc3\xa9";  // 80 bytes of two-byte characters
  const std::string encoded = EncodeHeaderWord(text);
  std::string decoded_bytes;
  size_t start = 0;
  for (;;) {
    const size_t end = encoded.find("\r\n ", start);
    const std::string word = encoded.substr(start, end == std::string::npos ? end : end - start);
    EXPECT_LE(word.size(), 75u);
    ASSERT_TRUE(word.starts_with("=?utf-8?B?") && word.ends_with("?="));
    // Each word must hold whole characters: an even number of bytes here.
    const std::string b64 = word.substr(10, word.size() - 12);
    const size_t bytes = b64.size() / 4 * 3 - (b64.ends_with("==")  ? 2
                                               : b64.ends_with("=") ? 1
                                                                    : 0);
    EXPECT_EQ(bytes % 2, 0u);
    decoded_bytes += std::string(bytes, 'x');
    if (end == std::string::npos) break;
    start = end + 3;
  }
  EXPECT_EQ(decoded_bytes.size(), text.size());
}

TEST(CharsetTest, DeclareUtf8RewritesLatin1AndAddsMissingCharset) {
  EXPECT_EQ(DeclareUtf8Charset("Subject: x\r\nContent-Type: text/plain; charset=ISO-8859-1\r\n"),
            "Subject: x\r\nContent-Type: text/plain; charset=utf-8\r\n");
  EXPECT_EQ(DeclareUtf8Charset("Content-Type:Text/HTML\r\n"),
            "Content-Type:Text/HTML; charset=utf-8\r\n");
  EXPECT_EQ(DeclareUtf8Charset("Content-Type: text/plain; charset=us-ascii\r\n"),
            "Content-Type: text/plain; charset=us-ascii\r\n");
  EXPECT_EQ(DeclareUtf8Charset("X-Note: charset=iso-8859-1\r\n"), "X-Note: charset=utf-8\r\n");
}

TEST(CharsetTest, QuotedPrintableDeclarationIsFoundInAnyCase) {
  EXPECT_TRUE(DeclaresQuotedPrintable("A: b\r\nContent-Transfer-Encoding: quoted-printable\r\n"));
  EXPECT_TRUE(DeclaresQuotedPrintable("content-transfer-encoding:Quoted-Printable \r\n"));
  EXPECT_FALSE(DeclaresQuotedPrintable("Content-Transfer-Encoding: 8bit\r\n"));
  EXPECT_FALSE(DeclaresQuotedPrintable("Subject: quoted-printable\r\n"));
}

}  // namespace
