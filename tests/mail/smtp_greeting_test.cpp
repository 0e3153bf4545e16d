// A setting that does not fit the port: the sender says which setting, quickly, instead of
// waiting out its time limit and reporting a bare time-out.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "mail/smtp_login.h"
#include "mail/smtp_send_mail.h"
#include "support/smtp_server.h"

namespace {

struct MismatchCase {
  const char* name;
  bool server_tls;  // the server speaks TLS from the first byte, else plain SMTP
  TSmtpSecurityMode mode;
  const char* text;  // what the failure text holds
};

class SecurityMismatchTest : public testing::TestWithParam<MismatchCase> {};

// Regression: a TLS port without SMTP_Security=tls hung for the whole limit and then said
// "SendMessage timeout".
TEST_P(SecurityMismatchTest, AnsweredWithinFifteenSecondsNamingTheSetting) {
  char folder[] = "/tmp/brevix-greeting-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  brevix_test::TestSmtpServer server;
  if (GetParam().server_tls) {
    brevix_test::MakeTestCertificate(folder);
    server.options = {"--tls",  "implicit",
                      "--cert", std::string(folder) + "/cert.pem",
                      "--key",  std::string(folder) + "/key.pem"};
  }
  server.Start();
  TSmtpSendMail sender;
  sender.RemoteHost = "127.0.0.1";
  sender.RemotePort = server.PortText();
  sender.Security.Mode = GetParam().mode;
  sender.Security.Verify = false;
  sender.MailFrom = "form@site.test";
  sender.MailTo = "owner@site.test";
  sender.MailBody.Add("x");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(sender.SendMail(60));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_NE(sender.GetLastErrorText().find(GetParam().text), std::string::npos)
      << sender.GetLastErrorText();
  std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, SecurityMismatchTest,
    testing::Values(
        MismatchCase{"PlainOnTlsPort", true, TSmtpSecurityMode::kNone, kNoGreetingTls},
        MismatchCase{"StartTlsOnTlsPort", true, TSmtpSecurityMode::kStartTls, kNoGreetingTls},
        MismatchCase{"TlsOnPlainPort", false, TSmtpSecurityMode::kImplicitTls, kPlainTextAnswer}),
    [](const testing::TestParamInfo<MismatchCase>& param) { return param.param.name; });

}  // namespace
