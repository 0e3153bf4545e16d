#include <gtest/gtest.h>

#include <string>

#include "mail/body_scan.h"
#include "mail/mail_header.h"
#include "mail/smtp_data_writer.h"

namespace {

// Expands `text`, answering each entry with "[name]".
std::string Expand(const std::string& text) {
  std::string out;
  ScanBodyEntries(
      text, [&](const std::string& name) { out += "[" + name + "]"; },
      [&](std::string_view piece) { out += piece; });
  return out;
}

TEST(BodyScanTest, EntriesAndPlainPercentSigns) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"Dear %name%,", "Dear [name],"},
      {"%a%%b%", "[a][b]"},
      {"100%% sure", "100[] sure"},
      {"50% off, 20% more", "50% off, 20% more"},
      {"lone %", "lone %"},
      {"%name", "%name"},
      // A line break between two signs is no entry either.
      {"100%\r\nTotal:100%", "100%\r\nTotal:100%"},
      {"%a b% %c%", "%a b% [c]"},
      {"no entries", "no entries"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Expand(c.in), c.out) << c.in;
}

TEST(BodyScanTest, LongBodiesLoseNothing) {
  const std::string filler(100000, 'x');
  EXPECT_EQ(Expand(filler + "%tail%" + filler), filler + "[tail]" + filler);
  // The second sign farther than the span: a plain sign.
  const std::string far = "%" + std::string(kMaxEntrySpan + 1, 'y') + "%";
  EXPECT_EQ(Expand(far), far);
}

TEST(SmtpDataWriterTest, DotStuffsEveryDotLineAndNormalisesLineEnds) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {".\r\n", "..\r\n"},
      {".x\r\n", "..x\r\n"},
      {"a\r\n.b\r\n..c\r\n", "a\r\n..b\r\n...c\r\n"},
      {"a.b\r\n", "a.b\r\n"},
      // Bare LF or CR cannot hide a "." line from the reader.
      {"a\n.\nb", "a\r\n..\r\nb"},
      {"a\r.\rb", "a\r\n..\r\nb"},
      {"x\r\n\r\n", "x\r\n\r\n"},
  };
  for (const Case& c : cases) {
    TSmtpDataWriter w;
    w.Add(c.in);
    EXPECT_EQ(w.Take(), c.out) << c.in;
  }
}

TEST(SmtpDataWriterTest, StateCarriesAcrossPiecesAndFinishEndsTheData) {
  TSmtpDataWriter w;
  w.Add("line\r");
  w.Add("\n.");
  w.Add("x");
  w.Finish();
  EXPECT_EQ(w.Take(), "line\r\n..x\r\n.\r\n");
  EXPECT_EQ(w.Size(), 0u);
}

TEST(MailHeaderTest, TemplateLinesAreSortedAndMacrosReplacedOnce) {
  TStringList lines;
  for (const char* l : {"From: %MAILFROM%", "To: %mailto%", "  ", "Subject: %SUBJECT% %SUBJECT%",
                        "Content-Type: text/plain", "X-Copy: CC: %MAILCC% BCC: %MAILBCC%"})
    lines.Add(l);
  const MailHeaderValues values{"Jane <j@x.org>", "", "", "me@y.org", "Hi %MAILTO%"};

  const MailHeaderText plain = SortHeaderLines(lines, false, values);
  EXPECT_EQ(plain.part_header, "");
  EXPECT_EQ(ReplaceHeaderMacros(plain.header, values),
            "From: <me@y.org>\r\nTo: Jane <j@x.org>\r\nSubject: Hi %MAILTO% %SUBJECT%\r\n"
            "Content-Type: text/plain\r\n");

  const MailHeaderText parts = SortHeaderLines(lines, true, values);
  EXPECT_EQ(parts.part_header, "Content-Type: text/plain\r\n");
  EXPECT_EQ(parts.header.find("Content-Type"), std::string::npos);
}

TEST(MailHeaderTest, LineBreaksInValuesBecomeBlanks) {
  const MailHeaderValues values{"a@x.org", "", "", "me@y.org", "Hi\r\nBcc: spy@z.org"};
  const std::string header = ReplaceHeaderMacros("Subject: %SUBJECT%\r\n", values);
  EXPECT_EQ(header, "Subject: Hi  Bcc: spy@z.org\r\n");
}

}  // namespace
