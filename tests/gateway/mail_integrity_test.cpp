// What the owner receives is what the visitor sent: hostile values cannot add parts to a mail,
// HTML mails reach a strict reader intact, and the greeting name is the owner's. Each mail is
// read by Python's email package (strict_mail.py), as a mail reader would.
#include <stdio.h>

#include <regex>

#include "gateway_site.h"

namespace gateway_test {
namespace {

// strict_mail.py's report on `mail`; the decoded parts are left in dir + "strict.eml.N".
std::string ParseStrictly(const std::string& dir, const std::string& mail) {
  std::ofstream(dir + "strict.eml", std::ios::binary) << mail;
  const std::string command = "python3 " + std::string(BREVIX_SOURCE_DIR) +
                              "/tests/gateway/strict_mail.py " + dir + "strict.eml";
  std::string report;
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) report.append(buffer, n);
  if (pipe) ::pclose(pipe);
  return report;
}

std::string Unix(const std::string& text) {
  return std::regex_replace(text, std::regex("\r\n"), "\n");
}

struct InjectionCase {
  const char* value;      // a text field, the upload's content and the attached file's
  const char* file_name;  // the upload's browser name
  const char* type;       // the attachment's type and charset as the strict reader sees them
};

class PartInjectionTest : public GatewaySite,
                          public ::testing::WithParamInterface<std::tuple<InjectionCase, bool>> {};

// Regression: every multipart mail used one fixed boundary, so a text field could end the text
// part and add parts of the visitor's choosing.
TEST_P(PartInjectionTest, MailHasExactlyThePartsTheGatewayMeant) {
  const auto& [c, upload] = GetParam();
  ini_["Response_Page"] = "thanks.htm";
  ini_["Message_Text"] = "message.txt";
  WriteFile("thanks.htm", "ok");
  WriteFile("message.txt", "Comment:\r\n%comment%\r\nEnd");
  const Fields fields = {{"mail_from", "ann@visitor.test"}, {"comment", c.value}};
  if (upload) {
    PostMultipart(fields, {{"file", c.file_name, c.value}});
  } else {
    ini_["Attached_File"] = "brochure.txt";
    WriteFile("brochure.txt", c.value);
    Post(fields);
  }
  EXPECT_EQ(ParseStrictly(dir_, Mail(1)),
            "defects: none\nlines: ok\npart: text/plain; iso-8859-1; None\npart: " +
                std::string(c.type) + "; " + (upload ? c.file_name : "brochure.txt") + "\n");
  // The line break before the first boundary belongs to the boundary.
  EXPECT_EQ(FileText("strict.eml.1"), Unix(std::string("Comment:\n") + c.value + "\nEnd"));
  EXPECT_EQ(FileText("strict.eml.2"), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    HostileValues, PartInjectionTest,
    ::testing::Combine(
        ::testing::Values(
            InjectionCase{"--64fd12hzzZ146r703k319Ap\r\nContent-Type: text/plain\r\n\r\n"
                          "Your account is locked\r\n--64fd12hzzZ146r703k319Ap--\r\n",
                          "note.txt", "text/plain; us-ascii"},
            InjectionCase{"--\r\n--=_bx\r\n-- x\r\n", "r\xc3\xa9sum\xc3\xa9 (cv).txt",
                          "text/plain; us-ascii"},
            InjectionCase{"%PDF-1.4\r\n--x\r\nContent-Type: application/octet-stream\r\n"
                          "Content-Disposition: attachment; filename=\"evil.exe\"\r\n"
                          "Content-Transfer-Encoding: base64\r\n\r\nTVqQAAMAAAAEAAAA\r\n--x--\r\n",
                          "brief.pdf", "application/pdf; None"}),
        ::testing::Bool()));

// Regression: HTML mails went out as raw 8-bit text in lines of any length, a Latin-1 form gave
// a mail whose header and <meta> named different charsets, and ".html" templates went as text.
// Parameters: an HTML template (else the automatic layout), the visitor's name, its charset.
class HtmlBodyTest
    : public GatewaySite,
      public ::testing::WithParamInterface<std::tuple<bool, const char*, const char*>> {};

TEST_P(HtmlBodyTest, StrictReaderGetsShortLinesAndOneCharset) {
  const auto& [template_file, value, charset] = GetParam();
  ini_["Response_Page"] = "thanks.htm";
  ini_["Default_Format"] = "BX2ColHTMLLabel";
  ini_["Receipt_Text"] = "receipt.html";
  ini_["Results_File"] = "results.htm";
  ini_["Message_Text"] = template_file ? "message.html" : "";
  WriteFile("thanks.htm", "ok");
  const std::string page = "<html><head><meta charset=\"utf-8\"></head><body><p>%comment%</p>";
  WriteFile("message.html", page + "</body></html>\r\n");
  WriteFile("receipt.html", page + "<p>Thank you</p></body></html>\r\n");
  std::string comment;
  for (int i = 0; i < 60; ++i) comment += std::string(value) + " and = more ";
  Post({{"mail_from", "ann@visitor.test"}, {"comment", comment}});
  ASSERT_EQ(smtp_.WaitForMessages(2), 2) << ErrorLog();
  const std::string html = std::string("text/html; ") + charset + "; None\nmeta: " + charset;
  EXPECT_EQ(ParseStrictly(dir_, Mail(1)), "defects: none\nlines: ok\npart: " + html + "\n");
  EXPECT_EQ(ParseStrictly(dir_, Mail(2)), "defects: none\nlines: ok\npart: " + html + "\n");
  // The HTML results page names the charset of its values too.
  EXPECT_NE(FileText("results.htm").find(std::string("charset=") + charset), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Forms, HtmlBodyTest,
                         ::testing::Values(std::make_tuple(true, "J\xc3\xbcrgen", "utf-8"),
                                           std::make_tuple(true, "J\xfcrgen", "iso-8859-1"),
                                           std::make_tuple(false, "J\xc3\xbcrgen", "utf-8"),
                                           std::make_tuple(false, "J\xfcrgen", "iso-8859-1")));

// Regression: the greeting was the machine's short name ("HELO vm") and the Message-ID's domain
// the SMTP server's name.
TEST_F(GatewaySite, GreetingAndMessageIdNameTheOwnersDomain) {
  ini_["Response_Page"] = "thanks.htm";
  ini_["SMTP_Helo_Name"] = "mail.owner.example";
  WriteFile("thanks.htm", "ok");
  // A form cannot choose the name.
  Post({{"mail_from", "ann@visitor.test"}, {"smtp_helo_name", "forged.example"}});
  EXPECT_NE(Mail(1).find("@mail.owner.example>\r\n"), std::string::npos) << Mail(1);
  EXPECT_NE(smtp_.Dialogue().find("HELO mail.owner.example\r\n"), std::string::npos);
}

}  // namespace
}  // namespace gateway_test
