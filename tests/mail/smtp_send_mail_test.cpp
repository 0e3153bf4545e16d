// The sender against a real SMTP server (aiosmtpd): what a reader of the mail receives.
#include "mail/smtp_send_mail.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/exception.h"
#include "mail/mime_encoding.h"
#include "support/smtp_server.h"

namespace {

std::string Base64Decode(const std::string& text) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned value = 0;
  int bits = 0;
  for (char c : text) {
    const size_t at = alphabet.find(c);
    if (at == std::string::npos) continue;  // line breaks and padding
    value = (value << 6) | static_cast<unsigned>(at);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return out;
}

// The text between the first "\r\n\r\n" of `part` and the end of `part`.
std::string PartBody(const std::string& part) {
  const size_t at = part.find("\r\n\r\n");
  return at == std::string::npos ? "" : part.substr(at + 4);
}

// The boundary a multipart message declares.
std::string Boundary(const std::string& raw) {
  const std::string key = "multipart/mixed; boundary=\"";
  const size_t at = raw.find(key);
  if (at == std::string::npos) return "(none)";
  return raw.substr(at + key.size(), raw.find('"', at + key.size()) - at - key.size());
}

class SmtpSendMailTest : public testing::Test {
 protected:
  void SetUp() override {
    server_.Start();
    sender_.RemoteHost = "127.0.0.1";
    sender_.RemotePort = server_.PortText();
    sender_.MailFrom = "Web Form <form@site.test>";
    sender_.MailTo = "owner@site.test";
    sender_.MailSubject = "Order";
    char dir[] = "/tmp/brevix-mail-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // Sends and returns the message as the server received it.
  std::string SendAndReceive() {
    EXPECT_TRUE(sender_.SendMail(10)) << sender_.GetLastErrorText();
    EXPECT_EQ(server_.WaitForMessages(1), 1);
    return server_.Message(1).raw;
  }

  void SetBody(std::initializer_list<const char*> lines) {
    sender_.MailBody.Clear();
    for (const char* l : lines) sender_.MailBody.Add(l);
  }

  brevix_test::TestSmtpServer server_;
  TSmtpSendMail sender_;
  std::string dir_;
};

TEST_F(SmtpSendMailTest, PlainMailGoesOutWithTheDefaultHeader) {
  sender_.MailCC = "Copy Person <cc@site.test>";
  SetBody({"Hello", "", "Bye"});
  const std::string raw = SendAndReceive();
  // Date and Message-ID lead (their form is checked where the gateway sends); the template's
  // lines follow in their order, without the empty BCC line.
  ASSERT_EQ(raw.rfind("Date: ", 0), 0u) << raw;
  const size_t id = raw.find("\r\nMessage-ID: <");
  ASSERT_NE(id, std::string::npos) << raw;
  EXPECT_EQ(raw.substr(raw.find("\r\n", id + 2) + 2),
            "From: Web Form <form@site.test>\r\n"
            "To: <owner@site.test>\r\n"
            "CC: Copy Person <cc@site.test>\r\n"
            "Subject: Order \r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=iso-8859-1\r\n"
            "\r\n"
            "Hello\r\n\r\nBye\r\n\r\n");
  const auto mail = server_.Message(1);
  EXPECT_EQ(mail.mail_from, "form@site.test");
  EXPECT_EQ(mail.recipients, (std::vector<std::string>{"owner@site.test", "cc@site.test"}));
  EXPECT_NE(server_.Dialogue().find("HELO "), std::string::npos);
  EXPECT_NE(server_.Dialogue().find("QUIT\r\n"), std::string::npos);
  EXPECT_EQ(sender_.State(), kSocketIdle);
}

TEST_F(SmtpSendMailTest, RecipientsFollowListOrderAcrossSeparators) {
  sender_.MailTo = "a@site.test, b@site.test; c@site.test";
  sender_.MailBCC = "hidden@site.test";
  SetBody({"x"});
  SendAndReceive();
  EXPECT_EQ(
      server_.Message(1).recipients,
      (std::vector<std::string>{"a@site.test", "b@site.test", "c@site.test", "hidden@site.test"}));
}

TEST_F(SmtpSendMailTest, EveryDotLineReachesTheReaderUnchanged) {
  // Regression: only a lone "." used to be doubled, so ".x" arrived as "x".
  SetBody({".", ".x", "..y", "a.b"});
  const std::string raw = SendAndReceive();
  EXPECT_NE(raw.find("\r\n\r\n.\r\n.x\r\n..y\r\na.b\r\n"), std::string::npos) << raw;
}

TEST_F(SmtpSendMailTest, BodyEntriesAreAnsweredByTheHandler) {
  SetBody({"Name: %name%", "Done: 100% sure %missing", "Pct: %%"});
  sender_.OnBodyEntry = [&](const std::string& entry) {
    sender_.WriteBody(entry.empty() ? "<empty>" : "<" + entry + ">");
  };
  const std::string body = PartBody(SendAndReceive());
  EXPECT_EQ(body, "Name: <name>\r\nDone: 100% sure %missing\r\nPct: <empty>\r\n\r\n");
}

TEST_F(SmtpSendMailTest, WithoutHandlerEntriesGoOutLiterally) {
  SetBody({"Name: %name%"});
  EXPECT_EQ(PartBody(SendAndReceive()), "Name: %name%\r\n\r\n");
}

TEST_F(SmtpSendMailTest, DeclaredQuotedPrintableBodyIsEncoded) {
  // Regression: the header promised quoted-printable while the body went out raw, so "=3D"
  // style sequences and long lines reached the reader mangled.
  sender_.MailHeader.Add("Content-Transfer-Encoding: quoted-printable");
  SetBody({"a=b", std::string(100, 'z').c_str()});
  const std::string body = PartBody(SendAndReceive());
  EXPECT_EQ(body.substr(0, 7), "a=3Db\r\n");
  EXPECT_NE(body.find("=\r\n"), std::string::npos) << "the long line needs a soft break";
}

TEST_F(SmtpSendMailTest, Utf8MailIsDeclaredAsUtf8) {
  sender_.MailSubject = "Bestellung f\xc3\xbcr Sie";
  sender_.MailTo = "J\xc3\xbcrgen <j@site.test>";
  SetBody(
      {"Gr\xc3\xbc\xc3\x9f"
       "e"});
  const std::string raw = SendAndReceive();
  EXPECT_NE(raw.find("Content-Type: text/plain; charset=utf-8\r\n"), std::string::npos) << raw;
  EXPECT_NE(raw.find("Subject: =?utf-8?B?" + Base64Encode("Bestellung f\xc3\xbcr Sie") + "?= \r\n"),
            std::string::npos)
      << raw;
  EXPECT_NE(raw.find("To: =?utf-8?B?" + Base64Encode("J\xc3\xbcrgen") + "?= <j@site.test>"),
            std::string::npos)
      << raw;
}

TEST_F(SmtpSendMailTest, HtmlMailWithoutCharsetGainsUtf8) {
  sender_.MailHeader.SetString(6, "Content-Type:Text/HTML");
  SetBody({"<p>\xe2\x82\xac</p>"});
  const std::string raw = SendAndReceive();
  EXPECT_NE(raw.find("Content-Type:Text/HTML; charset=utf-8\r\n"), std::string::npos) << raw;
}

TEST_F(SmtpSendMailTest, Latin1SubjectIsEncodedAsLatin1) {
  sender_.MailSubject = "Caf\xe9";
  SetBody({"ascii"});
  const std::string raw = SendAndReceive();
  EXPECT_NE(raw.find("Subject: =?iso-8859-1?B?Q2Fm6Q==?= \r\n"), std::string::npos) << raw;
  EXPECT_NE(raw.find("charset=iso-8859-1"), std::string::npos) << "ASCII body keeps its charset";
}

TEST_F(SmtpSendMailTest, LineBreaksInFieldsCannotAddHeadersOrCommands) {
  sender_.MailSubject = "Hi\r\nBcc: victim@else.test";
  sender_.MailTo = "owner@site.test\r\nRCPT TO:<victim@else.test>";
  sender_.MailFrom = "form@site.test\nX-Injected: yes";
  SetBody({"x"});
  const std::string raw = SendAndReceive();
  EXPECT_EQ(raw.find("\r\nBcc: victim"), std::string::npos) << raw;
  EXPECT_EQ(raw.find("\r\nX-Injected"), std::string::npos) << raw;
  EXPECT_EQ(server_.Message(1).recipients.size(), 1u);
  EXPECT_EQ(server_.Dialogue().find("\r\nRCPT TO:<victim@else.test>\r\nRCPT"), std::string::npos);
}

TEST_F(SmtpSendMailTest, TwoAttachmentsArriveByteForByte) {
  std::string binary;
  for (int i = 0; i < 100000; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
  const std::string first = WriteFile("data.bin", binary);
  const std::string second = WriteFile("tmp-upload-1", "name,qty\r\n.dot,3\r\n");
  sender_.Attachments.Add(first);
  sender_.Attachments.Add("C:\\Users\\visitor\\order list.csv <" + second + ">");
  sender_.MailHeader.Add("Content-Transfer-Encoding: quoted-printable");
  SetBody({"See attached: a=b"});
  const std::string raw = SendAndReceive();

  const std::string boundary = "--" + Boundary(raw);
  std::vector<std::string> parts;
  for (size_t at = raw.find(boundary + "\r\n"); at != std::string::npos;) {
    const size_t next = raw.find("\r\n" + boundary, at + 1);
    parts.push_back(raw.substr(at + boundary.size() + 2, next - at - boundary.size() - 2));
    at = next == std::string::npos ? next : raw.find(boundary, next);
    if (at != std::string::npos && raw.compare(at, boundary.size() + 2, boundary + "--") == 0)
      break;
  }
  ASSERT_EQ(parts.size(), 3u) << raw.substr(0, 2000);
  EXPECT_EQ(parts[0],
            "Content-Type: text/plain; charset=iso-8859-1\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
            "See attached: a=3Db");
  EXPECT_NE(parts[1].find("Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
                          "Content-Transfer-Encoding: base64\r\n"
                          "Content-Disposition: attachment; filename=\"data.bin\"\r\n\r\n"),
            std::string::npos);
  EXPECT_NE(parts[2].find("name=\"order list.csv\""), std::string::npos) << parts[2];
  EXPECT_EQ(Base64Decode(PartBody(parts[1])), binary);
  EXPECT_EQ(Base64Decode(PartBody(parts[2])), "name,qty\r\n.dot,3\r\n");
  for (size_t at = 0, end; (end = PartBody(parts[1]).find("\r\n", at)) != std::string::npos;
       at = end + 2)
    EXPECT_LE(end - at, 60u);
  EXPECT_TRUE(raw.ends_with("\r\n" + boundary + "--\r\n\r\n")) << raw.substr(raw.size() - 80);
}

TEST_F(SmtpSendMailTest, UploadWithoutBrowserNameIsShownUnderItsOwnFileName) {
  const std::string path = WriteFile("upload-77.tmp", "abc");
  sender_.Attachments.Add(" <" + path + "> ");
  SetBody({"x"});
  const std::string raw = SendAndReceive();
  EXPECT_NE(raw.find("Content-Type: text/plain; charset=us-ascii; name=\"upload-77.tmp\"\r\n"),
            std::string::npos)
      << raw;
  EXPECT_NE(raw.find("\r\n\r\nYWJj\r\n\r\n\r\n--" + Boundary(raw) + "--"), std::string::npos)
      << raw;
}

TEST_F(SmtpSendMailTest, UnreadableAttachmentDeliversNothing) {
  sender_.Attachments.Add(dir_ + "/missing.pdf");
  SetBody({"x"});
  EXPECT_THROW(sender_.SendMail(10), Exception);
  EXPECT_EQ(sender_.State(), kSocketIdle);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(server_.MessageCount(), 0);
  // The sender is ready for the next mail.
  sender_.Attachments.Clear();
  EXPECT_TRUE(sender_.SendMail(10)) << sender_.GetLastErrorText();
  EXPECT_EQ(server_.WaitForMessages(1), 1);
}

TEST_F(SmtpSendMailTest, SendersOnSeveralThreadsKeepTheirMessagesApart) {
  constexpr int kThreads = 4;
  constexpr int kMails = 3;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      TSmtpSendMail sender;
      sender.RemoteHost = "127.0.0.1";
      sender.RemotePort = server_.PortText();
      sender.MailFrom = "form@site.test";
      sender.MailTo = "t" + std::to_string(t) + "@site.test";
      for (int i = 0; i < 200; ++i) sender.MailBody.Add("line %who%");
      sender.OnBodyEntry = [&sender, t](const std::string&) {
        sender.WriteBody("thread" + std::to_string(t));
      };
      for (int m = 0; m < kMails; ++m) failures[t] += !sender.SendMail(20);
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  ASSERT_EQ(server_.WaitForMessages(kThreads * kMails), kThreads * kMails);
  for (int n = 1; n <= kThreads * kMails; ++n) {
    const auto mail = server_.Message(n);
    ASSERT_EQ(mail.recipients.size(), 1u);
    const std::string mine = "thread" + mail.recipients[0].substr(1, 1);
    size_t count = 0;
    for (size_t at = mail.raw.find("line "); at != std::string::npos;
         at = mail.raw.find("line ", at + 1)) {
      EXPECT_EQ(mail.raw.compare(at + 5, mine.size(), mine), 0) << "mail " << n;
      ++count;
    }
    EXPECT_EQ(count, 200u);
  }
}

}  // namespace
