#include "mail/smtp_reply.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ReplyCase {
  std::string received;
  bool complete;
  int code;
  size_t length;
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
  *os << testing::PrintToString(c.received);
}

class ScanSmtpReplyTest : public testing::TestWithParam<ReplyCase> {};

TEST_P(ScanSmtpReplyTest, FindsTheFirstWholeReply) {
  const ReplyCase& c = GetParam();
  const SmtpReplyScan scan = ScanSmtpReply(c.received);
  EXPECT_EQ(scan.complete, c.complete);
  if (c.complete) {
    EXPECT_EQ(scan.code, c.code);
    EXPECT_EQ(scan.length, c.length);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ScanSmtpReplyTest,
    testing::Values(ReplyCase{"", false, -1, 0}, ReplyCase{"250 ok", false, -1, 0},
                    ReplyCase{"250 ok\r\n", true, 250, 8}, ReplyCase{"250\r\n", true, 250, 5},
                    // The code of a multi-line reply is its last line's.
                    ReplyCase{"220-first\r\n220-second\r\n220 last\r\n", true, 220, 33},
                    ReplyCase{"220-first\r\n220-second\r\n", false, -1, 0},
                    // Bytes after the reply belong to the next one.
                    ReplyCase{"250 ok\r\n354 go\r\n", true, 250, 8},
                    ReplyCase{"hello\r\n", true, -1, 7}, ReplyCase{"25x ok\r\n", true, -1, 8},
                    ReplyCase{"2500 ok\r\n", true, -1, 9},
                    ReplyCase{"550-no\n550 really not\n", true, 550, 22}));

TEST(ScanSmtpReplyLimitTest, EndlessReplyIsCutAtTheLimit) {
  std::string flood;
  while (flood.size() < kMaxSmtpReplyBytes) flood += "250-more\r\n";
  const SmtpReplyScan scan = ScanSmtpReply(flood);
  EXPECT_TRUE(scan.complete);
  EXPECT_EQ(scan.code, -1);
  const SmtpReplyScan partial = ScanSmtpReply(std::string(kMaxSmtpReplyBytes, 'x'));
  EXPECT_TRUE(partial.complete);
  EXPECT_EQ(partial.code, -1);
}

}  // namespace
