// The gateway's mail over TLS with a login, set in brevix.ini alone, run as real CGI processes
// against aiosmtpd with STARTTLS and an authenticator: the main mail and the receipt both log in,
// and a failed login or handshake ends as any failed send does. The server, as providers do,
// takes only the login's own address as the sender.
#include <map>
#include <regex>
#include <string>

#include "gateway_site.h"

namespace gateway_test {
namespace {

const Fields kVisitor = {{"name", "Ann Visitor"}, {"mail_from", "ann@visitor.test"}};

struct SecurityCase {
  const char* name;
  std::map<std::string, std::string> ini;  // over the working STARTTLS settings
  const char* page;                        // the answer page's body, or its start
  const char* log = nullptr;               // a line the error log must hold
};

void PrintTo(const SecurityCase& c, std::ostream* out) {
  *out << c.name;
}

class SmtpSecurityTest : public GatewaySite, public testing::WithParamInterface<SecurityCase> {
 protected:
  void SetUp() override {
    GatewaySite::SetUp();
    fs::create_directories(dir_ + "tls");
    brevix_test::MakeTestCertificate(dir_ + "tls");
    smtp_.Stop();
    smtp_.options = {"--tls",
                     "starttls",
                     "--user",
                     "ann@site.test",
                     "--password",
                     "secret",
                     "--sender-is-login",
                     "--cert",
                     dir_ + "tls/cert.pem",
                     "--key",
                     dir_ + "tls/key.pem"};
    smtp_.Start();
    ini_["SMTP_Port"] = smtp_.PortText();
    ini_["SMTP_Security"] = "starttls";
    ini_["SMTP_User"] = "ann@site.test";
    ini_["SMTP_Password"] = "secret";
    ini_["SMTP_Verify"] = "0";  // the test's certificate is self-signed
    ini_["Receipt_Text"] = "receipt.txt";
    ini_["Response_Page"] = "thanks.htm";
    ini_["Error_Page"] = "sorry.htm";
    WriteFile("receipt.txt", "Received.\r\n");
    WriteFile("thanks.htm", "<p>Thanks %name%.</p>");
    WriteFile("sorry.htm", "<p>Sorry: %error_desc%</p>");
  }
};

TEST_P(SmtpSecurityTest, AnswersAsTheSendWent) {
  const SecurityCase& c = GetParam();
  for (const auto& [key, value] : c.ini) ini_[key] = value;
  const auto result = Post(kVisitor);
  ASSERT_EQ(result.exit_code, 0) << result.error;
  const std::string body = Body(result);
  EXPECT_EQ(body.rfind(c.page, 0), 0u) << body;
  const std::string dialogue = smtp_.Dialogue();
  if (std::string(c.page).starts_with("<p>Thanks")) {
    // The receipt goes the same way as the main mail: both log in over TLS.
    ASSERT_EQ(smtp_.WaitForMessages(2), 2);
    EXPECT_EQ(smtp_.Message(2).recipients, std::vector<std::string>{"ann@visitor.test"});
    // The login sends as itself; the visitor is who a reply reaches.
    EXPECT_TRUE(std::regex_search(smtp_.Message(1).raw,
                                  std::regex("\r\nReply-To: [^\r]*ann@visitor\\.test")))
        << smtp_.Message(1).raw;
    EXPECT_EQ(CountOf(dialogue, "STARTTLS\r\n"), 2) << dialogue;
    EXPECT_EQ(CountOf(dialogue, "AUTH PLAIN "), 2) << dialogue;
    EXPECT_EQ(ErrorLog(), "");
  } else {
    EXPECT_EQ(smtp_.MessageCount(), 0);
    // Logged as any failed send: the server, then the text the page shows.
    const std::string shown = std::string(c.page).substr(std::string("<p>Sorry: ").size());
    EXPECT_NE(ErrorLog().find(shown), std::string::npos) << ErrorLog();
  }
  if (c.log) {
    EXPECT_EQ(CountOf(ErrorLog(), c.log), 1) << ErrorLog();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SmtpSecurityTest,
    testing::Values(
        SecurityCase{"StartTlsAndLogin", {}, "<p>Thanks Ann Visitor.</p>"},
        SecurityCase{"WrongPassword",
                     {{"SMTP_Password", "wrong"}},
                     "<p>Sorry: 127.0.0.1 reported this error:  535 5.7.8 Authentication "
                     "credentials invalid"},
        SecurityCase{"SelfSignedCertificateVerified",
                     {{"SMTP_Verify", "1"}},
                     "<p>Sorry: 127.0.0.1 reported this error:  TLS handshake failed: certificate "
                     "verify failed"},
        SecurityCase{"LoginNotAnAddress",
                     {{"SMTP_User", "ann"}},
                     "<p>Sorry: 127.0.0.1 reported this error:  535",
                     "SMTP_User is not an address: set Mail_Sender"},
        SecurityCase{"MailSenderOverLogin",
                     {{"Mail_Sender", "web@site.test"}},
                     "<p>Sorry: 127.0.0.1 reported this error:  553 5.7.1 Sender address "
                     "rejected: not owned by user"},
        SecurityCase{"NoLoginSet",
                     {{"SMTP_User", ""}},
                     "<p>Sorry: 127.0.0.1 reported this error:  Server requires authentication: "
                     "530"}),
    [](const testing::TestParamInfo<SecurityCase>& param) {
      return std::string(param.param.name);
    });

}  // namespace
}  // namespace gateway_test
