// The four outcomes of a submission, run as real CGI processes against a real SMTP server.
#include <ostream>
#include <string>

#include "gateway_site.h"
#include "mail/scripted_smtp_server.h"

namespace gateway_test {
namespace {

const Fields kVisitor = {{"name", "Ann Visitor"}, {"mail_from", "ann@visitor.test"}};

class OutcomeTest : public GatewaySite {
 protected:
  void SetUp() override {
    GatewaySite::SetUp();
    ini_["Results_File"] = "results.txt";
    ini_["Results_File_Template"] = "record.txt";
    ini_["Entry_Log"] = "entries.log";
    ini_["Receipt_Text"] = "receipt.txt";
    ini_["Message_Text"] = "message.txt";
    ini_["Response_Page"] = "thanks.htm";
    ini_["Error_Page"] = "sorry.htm";
    WriteFile("record.txt", "%name%;%mail_from%");
    WriteFile("message.txt", "Order %refnum_order% from %name%\r\n");
    WriteFile("receipt.txt", "Your number is %refnum_order%.\r\n");
    WriteFile("thanks.htm", "<p>Thanks %name%, number %refnum_order%.</p>");
    WriteFile("sorry.htm", "<p>Sorry: %error_desc% (number %refnum_order%)</p>");
  }

  // Makes the mail server refuse every recipient.
  void UseRefusingServer() {
    refusing_.on_command = [](const std::string& command) -> std::string {
      if (command.rfind("RCPT", 0) == 0) return "550 5.1.1 mailbox unavailable\r\n";
      return brevix_test::ScriptedSmtpServer::DefaultReply(command);
    };
    refusing_.Start();
    ini_["SMTP_Port"] = refusing_.PortText();
  }

  brevix_test::ScriptedSmtpServer refusing_;
};

TEST_F(OutcomeTest, MailSentWritesEverythingAndAnswersWithResponsePage) {
  const auto result = Post(kVisitor);
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_EQ(Body(result), "<p>Thanks Ann Visitor, number 1.</p>");
  EXPECT_EQ(FileText("results.txt"), "Ann Visitor;ann@visitor.test\r\n");
  EXPECT_EQ(CountOf(FileText("entries.log"), "\r\n"), 1);
  ASSERT_EQ(smtp_.WaitForMessages(2), 2);
  EXPECT_NE(Mail(1).find("Order 1 from Ann Visitor"), std::string::npos);
  const auto receipt = smtp_.Message(2);
  EXPECT_EQ(receipt.recipients, std::vector<std::string>{"ann@visitor.test"});
  EXPECT_NE(receipt.raw.find("Your number is 1."), std::string::npos);
  EXPECT_NE(receipt.raw.find("Subject: Receipt: http://site.test/form.html"), std::string::npos);
  EXPECT_EQ(FileText("BX-RefNumbers.txt"), "order=1\r\n");
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(OutcomeTest, MailNotSentKeepsRecordButNothingAfterTheSend) {
  UseRefusingServer();
  for (int round = 0; round < 2; ++round) {
    const auto result = Post(kVisitor);
    ASSERT_EQ(result.exit_code, 0) << result.error;
    // The number shown in the error page is not kept: the next request shows it again.
    EXPECT_EQ(Body(result),
              "<p>Sorry: 127.0.0.1 reported this error:  550 5.1.1 mailbox unavailable\r\n<p>"
              "mail_to=owner@site.test<br>mail_from=ann@visitor.test<br>"
              "mail_mail_subject=Form mail<br>smpt_server=127.0.0.1<br>smtp_port=" +
                  refusing_.PortText() + "<br> (number 1)</p>");
  }
  EXPECT_EQ(FileText("results.txt"),
            "Ann Visitor;ann@visitor.test\r\nAnn Visitor;ann@visitor.test\r\n");
  EXPECT_FALSE(Exists("entries.log"));
  EXPECT_EQ(refusing_.Messages().size(), 0u);
  EXPECT_EQ(refusing_.Connections(), 2);  // no receipt was tried
  EXPECT_NE(ErrorLog().find(" 127.0.0.1 reported this error:  550 5.1.1 mailbox unavailable"),
            std::string::npos);
  EXPECT_EQ(FileText("BX-RefNumbers.txt").find("order=1"), std::string::npos);
}

TEST_F(OutcomeTest, MailNotSentWithoutErrorPageShowsBuiltInPage) {
  UseRefusingServer();
  ini_["Error_Page"] = "no-such-page.htm";
  const auto result = Post(kVisitor);
  const std::string body = Body(result);
  EXPECT_NE(body.find("<TITLE>Error!</TITLE>"), std::string::npos);
  EXPECT_NE(body.find("Unexpected Error!\r\n"
                      "Failed to send mail: 550 5.1.1 mailbox unavailable\r\n<p>\r\n"
                      "SMTP Server: 127.0.0.1 Port: " +
                      refusing_.PortText() +
                      "<p>\r\n"
                      "Error_Page: no-such-page.htm not found!\r\n"
                      "Notify Your Webmaster!!!\r\n"),
            std::string::npos)
      << body;
}

struct MissingCase {
  const char* ini_key;  // emptied in brevix.ini
  Fields fields;
  const char* logged;
};

void PrintTo(const MissingCase& c, std::ostream* os) {
  *os << c.logged;
}

class FieldsMissingTest : public OutcomeTest, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(FieldsMissingTest, NothingIsWrittenOrSentAndBuiltInPageAnswers) {
  if (*GetParam().ini_key) ini_[GetParam().ini_key] = "";
  const auto result = Post(GetParam().fields);
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_EQ(Body(result),
            "<HTML>\r\n<HTML>\r\n<HEAD>\r\n<Title>Brevix BX - Missing Information/Title>\r\n"
            "</HEAD>\r\n<BODY BGCOLOR=\"#CCEECC\">\r\n"
            "You did not complete all of the required information! <br>\r\n"
            "Please click the Back button on your browser and try again.<br>\r\n"
            "Thank you!<P>\r\n\r\n\r\n</BODY>\r\n</HTML>\r\n\r\n");
  EXPECT_FALSE(Exists("results.txt"));
  EXPECT_FALSE(Exists("entries.log"));
  EXPECT_EQ(smtp_.MessageCount(), 0);
  const std::string log = ErrorLog();
  EXPECT_NE(log.find(std::string(" ") + GetParam().logged + "\r\n"), std::string::npos) << log;
  EXPECT_EQ(CountOf(log, "\r\n"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FieldsMissingTest,
    ::testing::Values(
        MissingCase{"Mail_To", kVisitor,
                    "Brevix BX Reports: Missing Field Mail_To: set Mail_To in brevix.ini"},
        MissingCase{"SMTP_Server", kVisitor,
                    "Brevix BX Reports: Missing Field SMTP_server: set SMTP_Server in brevix.ini"},
        MissingCase{"", {{"name", "Ann"}}, "Brevix BX Reports: Missing Field Mail_From"},
        // One sender only: a list would make an invalid MAIL FROM.
        MissingCase{"",
                    {{"mail_from", "a@x.test, Bob <b@y.test>"}},
                    "Brevix BX Reports: Mail_From is not one address: a@x.test, Bob <b@y.test>"},
        MissingCase{
            "", {{"mail_from", " ;, "}}, "Brevix BX Reports: Mail_From is not one address:  ;, "},
        // The same rule as a receipt's address: a server would refuse "bob" anyway.
        MissingCase{
            "", {{"mail_from", "bob"}}, "Brevix BX Reports: Mail_From is not one address: bob"},
        // Nothing after the closing bracket may become the sender (or ESMTP parameters).
        MissingCase{"",
                    {{"mail_from", "<a@b.test> SIZE=1 BODY=8BITMIME"}},
                    "Brevix BX Reports: Mail_From is not one address: <a@b.test> SIZE=1 "
                    "BODY=8BITMIME"},
        MissingCase{"",
                    {{"mail_from", "a@b.test"}, {"phonereq", ""}, {"zipreq", ""}},
                    "Brevix BX Reports: Missing Field phonereq"}));

TEST_F(OutcomeTest, RequiredFieldRuleNeedsLowerCaseSuffixAndFourCharacters) {
  const auto result = Post({{"mail_from", "a@b.test"}, {"req", ""}, {"PhoneREQ", ""}});
  // The name was not submitted: the page shows nothing where a mail shows the empty mark.
  EXPECT_EQ(Body(result), "<p>Thanks , number 1.</p>");
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(OutcomeTest, MissingInformationPageFileAnswersWithEntries) {
  WriteFile("missing.htm", "Please fill in #phonereq# for %name%.");
  ini_["Info_Missing_Page"] = "missing.htm";
  const auto result = Post({{"name", "Ann"}, {"mail_from", "a@b.test"}, {"phonereq", ""}});
  EXPECT_EQ(Body(result), "Please fill in  for Ann.");
  // A number shown on the missing-information page is not kept either.
  EXPECT_FALSE(Exists("results.txt"));
}

TEST_F(OutcomeTest, ExceptionAfterSendAppendsErrorPageAndKeepsNumber) {
  // The page file exists but cannot be read: the page filter raises.
  ini_["Response_Page"] = "/proc/self/mem";
  const auto result = Post(kVisitor);
  ASSERT_EQ(result.exit_code, 0) << result.error;
  const std::string body = Body(result);
  EXPECT_NE(body.find("<TITLE>Error!</TITLE>"), std::string::npos) << body;
  EXPECT_NE(body.find("Error_Page: sorry.htm not found!"), std::string::npos);
  EXPECT_EQ(smtp_.WaitForMessages(2), 2);
  EXPECT_NE(ErrorLog().find(" Brevix BX Reports: Cannot "), std::string::npos) << ErrorLog();
  EXPECT_EQ(FileText("BX-RefNumbers.txt"), "order=1\r\n");
}

struct ResponsePageCase {
  const char* setting;
  const char* expected_body;  // empty: the built-in page
  const char* shown = "";     // the built-in page's name for the missing page
};

void PrintTo(const ResponsePageCase& c, std::ostream* os) {
  *os << '"' << c.setting << '"';
}

class ResponsePageTest : public OutcomeTest,
                         public ::testing::WithParamInterface<ResponsePageCase> {};

TEST_P(ResponsePageTest, ChoosesRedirectFileOrBuiltInPage) {
  ini_["Response_Page"] = GetParam().setting;
  const auto result = Post(kVisitor);
  ASSERT_EQ(result.exit_code, 0) << result.error;
  const std::string body = Body(result);
  if (*GetParam().expected_body) {
    EXPECT_EQ(body, GetParam().expected_body);
    EXPECT_EQ(ErrorLog(), "");
    return;
  }
  const std::string path = dir_ + GetParam().setting;
  EXPECT_NE(body.find("<TITLE>Response Page Missing</TITLE>"), std::string::npos);
  EXPECT_NE(body.find("BGCOLOR=\"#FF00FF\""), std::string::npos);
  EXPECT_NE(body.find("<h3>Thank You!</h3>Press the Back button on your browser to return...<p>"
                      "<hr>Reponse Page: " +
                      std::string(GetParam().shown) +
                      " was not found. This page was automatically created by Brevix BX. <p>"),
            std::string::npos)
      << body;
  EXPECT_EQ(body.find(dir_), std::string::npos) << body;
  EXPECT_NE(ErrorLog().find(" Brevix BX Reports: Response Page " + path + " not found!\r\n"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ResponsePageTest,
    ::testing::Values(
        ResponsePageCase{
            "HTTP://site.test/thanks?a=1&b=2",
            "<html><head>\r\n<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; \r\n"
            "URL=HTTP://site.test/thanks?a=1&amp;b=2\"></head><body></body></html>\r\n"},
        ResponsePageCase{"https://site.test/thanks",
                         "<html><head>\r\n<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; \r\n"
                         "URL=https://site.test/thanks\"></head><body></body></html>\r\n"},
        // An empty setting names the program directory, which is no file.
        ResponsePageCase{"", ""},
        // The visitor sees the file name; the log gives the owner the whole path.
        ResponsePageCase{"pages/gone.htm", "", "gone.htm"},
        ResponsePageCase{"thanks.htm", "<p>Thanks Ann Visitor, number 1.</p>"}));

}  // namespace
}  // namespace gateway_test
