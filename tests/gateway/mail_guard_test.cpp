// The site owner's guards on recipients and mail server, against forms that name their own.
#include <ostream>
#include <string>
#include <vector>

#include "gateway_site.h"

namespace gateway_test {
namespace {

using Recipients = std::vector<std::string>;

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

struct RecipientCase {
  const char* label;
  Fields ini;        // added to brevix.ini
  Fields fields;     // besides name=Ann and mail_from
  Recipients sent;   // the envelope recipients; empty: refused, nothing sent
  const char* log;   // the one error-log line when refused
  const char* page;  // the error text the visitor sees when refused
};

void PrintTo(const RecipientCase& c, std::ostream* os) {
  *os << c.label;
}

class RecipientGuardTest : public MailGuardTest,
                           public ::testing::WithParamInterface<RecipientCase> {};

TEST_P(RecipientGuardTest, OnlyTheOwnersRecipientsGetMail) {
  const RecipientCase& c = GetParam();
  ini_["Mail_CC"] = "Boss <boss@site.test>";
  ini_["Allowed_Recipients"] = "sales@site.test, @Example.COM";
  for (const auto& [key, value] : c.ini) ini_[key] = value;
  Fields fields = {{"name", "Ann"}, {"mail_from", "ann@visitor.test"}};
  fields.insert(fields.end(), c.fields.begin(), c.fields.end());

  const auto result = Post(fields);
  ASSERT_EQ(result.exit_code, 0) << result.error;
  // The record is written before the guard, whatever it decides.
  EXPECT_EQ(FileText("results.txt"), "Ann\r\n");
  if (!c.sent.empty()) {
    EXPECT_EQ(Body(result), "sent 1");
    ASSERT_EQ(smtp_.WaitForMessages(1), 1);
    EXPECT_EQ(smtp_.Message(1).recipients, c.sent);
    EXPECT_EQ(FileText("BX-RefNumbers.txt"), "order=1\r\n");
    EXPECT_EQ(ErrorLog(), "");
    return;
  }
  EXPECT_EQ(Body(result).rfind(std::string("Sorry: ") + c.page + "<p>", 0), 0u) << Body(result);
  EXPECT_EQ(smtp_.Dialogue(), "") << "the server must not even be contacted";
  EXPECT_FALSE(Exists("BX-RefNumbers.txt")) << "a refused mail keeps no number";
  const std::string log = ErrorLog();
  EXPECT_NE(log.find(std::string(" ") + c.log + "\r\n"), std::string::npos) << log;
  EXPECT_EQ(CountOf(log, "\r\n"), 1) << log;
}

constexpr const char* kNotAllowed = "Recipient not allowed";

// Every case of the rule is recipient_guard_test.cpp; these run it through the gateway.
INSTANTIATE_TEST_SUITE_P(
    Cases, RecipientGuardTest,
    ::testing::Values(RecipientCase{"IniOwnAddressFromAnotherKey",
                                    {},
                                    {{"mail_bcc", "BOSS@site.test"}},
                                    {"owner@site.test", "boss@site.test", "BOSS@site.test"},
                                    "",
                                    ""},
                      RecipientCase{
                          "StrangerInTo",
                          {},
                          {{"mail_to", "victim@elsewhere.test"}},
                          {},
                          "Brevix BX Reports: Recipient not allowed: victim@elsewhere.test (add it "
                          "to Allowed_Recipients in brevix.ini)",
                          kNotAllowed}),
    [](const auto& param_info) { return std::string(param_info.param.label); });

TEST_F(MailGuardTest, BuiltInErrorPageShowsTheRefusal) {
  ini_["Error_Page"] = "";
  const auto result = Post({{"mail_from", "a@b.test"}, {"mail_to", "x@elsewhere.test"}});
  EXPECT_NE(Body(result).find("Failed to send mail: Recipient not allowed<p>\r\n"),
            std::string::npos)
      << Body(result);
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
