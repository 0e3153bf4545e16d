// The header block as it goes on the wire, for template lines the gateway's own templates do not
// produce (the process-level tests cover those).
#include "mail/well_formed_header.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>

namespace {

struct HeaderCase {
  const char* name;
  const char* expanded;      // the template's lines after macro expansion
  const char* reply_to;      // frame.reply_to
  const char* content_type;  // frame.content_type (multipart)
  const char* expected;      // what follows the Date and Message-ID lines
};

void PrintTo(const HeaderCase& c, std::ostream* os) {
  *os << c.name;
}

class WellFormedHeaderTest : public testing::TestWithParam<HeaderCase> {};

TEST_P(WellFormedHeaderTest, KeepsOrderAndOneOfEachRequiredField) {
  HeaderFrame frame;
  frame.date = "Mon, 07 Dec 2026 18:40:00 +0000";
  frame.message_id = "<1.2.3@host.test>";
  frame.reply_to = GetParam().reply_to;
  frame.content_type = GetParam().content_type;
  frame.charset = "iso-8859-1";
  EXPECT_EQ(WellFormedHeader(GetParam().expanded, frame),
            std::string("Date: Mon, 07 Dec 2026 18:40:00 +0000\r\n"
                        "Message-ID: <1.2.3@host.test>\r\n") +
                GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, WellFormedHeaderTest,
    testing::Values(
        HeaderCase{"repeats and own stamps dropped",
                   "Date: yesterday\r\nFrom: <a@x.test>\r\nMime-Version: 1.0\r\n"
                   "Content-Type: text/html\r\nMIME-Version: 1.0\r\nContent-Type: text/plain\r\n"
                   "Message-Id: <old@x>\r\n",
                   "", "", "From: <a@x.test>\r\nMIME-Version: 1.0\r\nContent-Type: text/html\r\n"},
        HeaderCase{"empty, folded-empty, Bcc and non-field lines dropped",
                   "To: <b@x.test>\r\nCC: \r\nBcc: <h@x.test>\r\nbcc :\r\n <h2@x.test>\r\n"
                   "X-Empty:\r\n \t\r\nno field here\r\n continued\r\nSubject: =?utf-8?B?QQ==?=\r\n"
                   " =?utf-8?B?Qg==?=\r\n",
                   "", "",
                   "To: <b@x.test>\r\nSubject: =?utf-8?B?QQ==?=\r\n =?utf-8?B?Qg==?=\r\n"
                   "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"},
        HeaderCase{"multipart type follows MIME-Version, Content-* lines go",
                   "From: <a@x.test>\r\nMime-Version: 1.0\r\nSubject: s\r\n"
                   "Content-Transfer-Encoding: quoted-printable\r\n",
                   "", "multipart/mixed; boundary=\"b\"",
                   "From: <a@x.test>\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: multipart/mixed; boundary=\"b\"\r\nSubject: s\r\n"},
        HeaderCase{"Reply-To after From, replacing the template's",
                   "Reply-To: <old@x.test>\r\nFrom: <site@x.test>\r\nTo: <b@x.test>\r\n"
                   "Content-Type: text/plain\r\n",
                   "<visitor@y.test>", "",
                   "From: <site@x.test>\r\nReply-To: <visitor@y.test>\r\nTo: <b@x.test>\r\n"
                   "Content-Type: text/plain\r\nMIME-Version: 1.0\r\n"},
        HeaderCase{"control characters but tab become blanks",
                   "Subject: a\x01"
                   "b\x7f\tc\rd\r\n",
                   "<v@y.test>\x02", "",
                   "Subject: a b \tc d\r\nReply-To: <v@y.test> \r\nMIME-Version: 1.0\r\n"
                   "Content-Type: text/plain; charset=iso-8859-1\r\n"}));

TEST(WellFormedPartHeaderTest, OneTypeAndOneEncoding) {
  EXPECT_EQ(
      WellFormedPartHeader("Content-Type:Text/HTML; charset=utf-8\r\nContent-Type:Text/HTML\r\n"
                           "Content-Transfer-Encoding: 8bit\r\nContent-Transfer-Encoding: "
                           "base64\r\nContent-Disposition: \r\n",
                           "utf-8"),
      "Content-Type:Text/HTML; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n");
  EXPECT_EQ(WellFormedPartHeader("", "utf-8"), "Content-Type: text/plain; charset=utf-8\r\n");
}

TEST(RfcDateTest, LocalTimeWithItsZone) {
  // A fixed zone, so the offset and the local hour are known.
  setenv("TZ", "XYZ-05:30", 1);
  tzset();
  const auto t = std::chrono::system_clock::from_time_t(1796601600);  // 2026-12-07 00:00:00 UTC
  EXPECT_EQ(RfcDate(t), "Mon, 07 Dec 2026 05:30:00 +0530");
  setenv("TZ", "XYZ+03", 1);
  tzset();
  EXPECT_EQ(RfcDate(t), "Sun, 06 Dec 2026 21:00:00 -0300");
  unsetenv("TZ");
  tzset();
}

TEST(NewMessageIdTest, UniqueWithADomain) {
  const std::regex form("<[0-9]+\\.[0-9]+\\.[0-9a-f]{16}@[A-Za-z0-9.-]+>");
  const std::string first = NewMessageId("mail.example.test");
  EXPECT_TRUE(std::regex_match(first, form)) << first;
  EXPECT_EQ(first.substr(first.find('@')), "@mail.example.test>");
  EXPECT_NE(NewMessageId("mail.example.test"), first);
  // Nothing hostile survives.
  const std::string other = NewMessageId("<x>@\r\n");
  EXPECT_TRUE(std::regex_match(other, form)) << other;
}

}  // namespace
