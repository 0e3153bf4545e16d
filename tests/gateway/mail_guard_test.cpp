// The site owner's guards on recipients and mail server, against forms that name their own, run
// through the gateway. (Every case of the rules is settings_resolution_test.cpp; the known
// attacks are form_files_test.cpp.)
#include <string>

#include "gateway_site.h"

namespace gateway_test {
namespace {

class MailGuardTest : public GatewaySite {
 protected:
  void SetUp() override {
    GatewaySite::SetUp();
    ini_["Results_File"] = "results.txt";
    ini_["Results_File_Template"] = "record.txt";
    ini_["Message_Text"] = "message.txt";
    ini_["Response_Page"] = "thanks.htm";
    ini_["Error_Page"] = "sorry.htm";
    WriteFile("record.txt", "%name%");
    WriteFile("message.txt", "Order %refnum_order%\r\n");
    WriteFile("thanks.htm", "sent %refnum_order%");
    WriteFile("sorry.htm", "Sorry: %error_desc%");
  }
};

TEST_F(MailGuardTest, BuiltInErrorPageShowsTheRefusal) {
  ini_["Error_Page"] = "";
  const auto result =
      Post({{"name", "Ann"}, {"mail_from", "a@b.test"}, {"mail_to", "x@elsewhere.test"}});
  EXPECT_NE(Body(result).find("Failed to send mail: Recipient not allowed<p>\r\n"),
            std::string::npos)
      << Body(result);
  // The record is written before the guard, whatever it decides.
  EXPECT_EQ(FileText("results.txt"), "Ann\r\n");
  EXPECT_EQ(smtp_.Dialogue(), "") << "the server must not even be contacted";
}

TEST_F(MailGuardTest, WithoutSettingsFileFormChoosesNeitherServerNorRecipient) {
  without_ini_ = true;
  const auto result = Post({{"mail_from", "a@b.test"},
                            {"mail_to", "x@elsewhere.test"},
                            {"smtp_server", "127.0.0.1"},
                            {"smtp_port", smtp_.PortText()}});
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_NE(Body(result).find("Failed to send mail: Recipient not allowed<p>\r\n"
                              "SMTP Server: localhost Port: 25<p>"),
            std::string::npos)
      << Body(result);
  EXPECT_EQ(smtp_.Dialogue(), "");
  const std::string log = ErrorLog();
  for (const std::string& line : {std::string("Refused form field smtp_server 127.0.0.1"),
                                  "Refused form field smtp_port " + smtp_.PortText(),
                                  std::string("Recipient not allowed: x@elsewhere.test")}) {
    EXPECT_NE(log.find(" Brevix BX Reports: " + line), std::string::npos) << line << "\n" << log;
  }
  EXPECT_EQ(log.find("Cannot read brevix.ini"), std::string::npos);
}

// A brevix.ini the gateway's user cannot read acts as none, and the log says why (it once only
// showed as missing fields). A folder of that name is unreadable even to root.
TEST_F(MailGuardTest, UnreadableSettingsFileIsLoggedWithItsReason) {
  without_ini_ = true;
  WriteFile("brevix.ini/keeps-the-folder", "");
  Post({{"mail_from", "a@b.test"}});
  EXPECT_EQ(smtp_.Dialogue(), "");
  EXPECT_NE(ErrorLog().find(" Cannot read brevix.ini: Is a directory\r\n"), std::string::npos)
      << ErrorLog();
}

}  // namespace
}  // namespace gateway_test
