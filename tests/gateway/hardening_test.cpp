// What a hostile visitor may try through the form, and what the gateway must keep intact.
#include <sys/stat.h>

#include <ctime>
#include <ostream>
#include <string>

#include "gateway_site.h"

namespace gateway_test {
namespace {

class HardeningTest : public GatewaySite {
 protected:
  void SetUp() override {
    GatewaySite::SetUp();
    ini_["Response_Page"] = "thanks.htm";
    WriteFile("thanks.htm", "thanks");
  }
};

// The gateway's data files hold visitors' data: created 0640 whatever the umask (they were
// readable by every local user).
TEST_F(HardeningTest, DataFilesAreCreatedForOwnerAndGroupOnly) {
  ini_["Results_File"] = "results.txt";
  ini_["Entry_Log"] = "entries.log";
  ini_["Message_Text"] = "message.txt";
  WriteFile("message.txt", "Reference %refnum_order%");
  ini_["SMTP_Port"] = "1";  // a refused send writes the error log
  const mode_t old_mask = umask(0);
  Post({{"name", "Ann"}, {"mail_from", "ann@visitor.test"}});
  ini_["SMTP_Port"] = smtp_.PortText();
  Post({{"name", "Ann"}, {"mail_from", "ann@visitor.test"}});
  umask(old_mask);
  for (const char* file : {"results.txt", "entries.log", "brevix-error.txt", "BX-RefNumbers.txt"}) {
    struct stat info {};
    ASSERT_EQ(stat((dir_ + file).c_str(), &info), 0) << file;
    EXPECT_EQ(info.st_mode & 0777, 0640u) << file;
  }
}

// An <img src=".../brevix.cgi?mail_from=...&receipt_to=victim"> on any page made each visiting
// browser send mail: a form that comes by GET mails only where brevix.ini allows it.
class GetMailTest : public HardeningTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(GetMailTest, AGetMailsOnlyWhereTheSettingsAllowIt) {
  const bool allowed = std::string(GetParam()) == "GET,POST";
  if (*GetParam() != '\0') ini_["Allowed_Methods"] = GetParam();
  WriteIni();
  cgi_test::CgiRun run;
  run.program = dir_ + "brevix.cgi";
  run.env = Environment("GET");
  run.env["QUERY_STRING"] = "mail_from=victim%40visitor.test&name=Ann";
  const cgi_test::CgiResult result = cgi_test::RunCgi(run);
  // The gateway sends before it answers: what the server holds now is all it will get.
  EXPECT_EQ(smtp_.MessageCount(), allowed ? 1 : 0);
  EXPECT_EQ(result.output.find("Status: 403") != std::string::npos, !allowed) << result.output;
  EXPECT_EQ(ErrorLog().find("Form not sent with POST: GET") != std::string::npos, !allowed);
}

INSTANTIATE_TEST_SUITE_P(Settings, GetMailTest, ::testing::Values("", "POST", "GET,POST"));

TEST_F(HardeningTest, AnswerPageEscapesRequestValues) {
  WriteFile("thanks.htm", "<p>%name%</p><p>%error_desc%</p>");
  const Fields hostile = {{"mail_from", "a@b.test"},
                          {"name", "<script>alert(1)</script>"},
                          {"mail_subject", "\"><img src=x>"}};
  Post(hostile);
  const auto result = Post(hostile);
  const std::string body = Body(result);
  EXPECT_EQ(body.find("<script>"), std::string::npos) << body;
  EXPECT_EQ(body.find("<img"), std::string::npos) << body;
  EXPECT_NE(body.find("<p>&lt;script&gt;alert(1)&lt;/script&gt;</p>"), std::string::npos);
  EXPECT_NE(body.find("mail_mail_subject=&quot;&gt;&lt;img src=x&gt;<br>"), std::string::npos);
}

TEST_F(HardeningTest, RedirectAddressCannotBreakOutOfItsAttribute) {
  ini_["Allowed_Redirects"] = "x.test";
  for (const std::string scheme : {"http", "https"}) {
    const auto result =
        Post({{"mail_from", "a@b.test"},
              {"response_page", scheme + "://x.test/\"><script>alert(1)</script>"}});
    const std::string body = Body(result);
    EXPECT_EQ(body.find("<script>"), std::string::npos) << body;
    EXPECT_NE(body.find("URL=" + scheme + "://x.test/&quot;&gt;&lt;script&gt;"), std::string::npos)
        << body;
  }
}

struct MailFormatCase {
  const char* message_file;  // empty: the automatic layout
  const char* default_format;
  bool escaped;
};

void PrintTo(const MailFormatCase& c, std::ostream* os) {
  *os << '"' << c.message_file << "\" format \"" << c.default_format << '"';
}

class MailEscapingTest : public HardeningTest,
                         public ::testing::WithParamInterface<MailFormatCase> {};

TEST_P(MailEscapingTest, HtmlMailsEscapeValuesPlainMailsKeepThem) {
  ini_["Default_Format"] = GetParam().default_format;
  if (*GetParam().message_file) {
    ini_["Message_Text"] = GetParam().message_file;
    WriteFile(GetParam().message_file, "Name: %name%\r\n");
  }
  ini_["Results_File"] = "results.txt";
  ini_["Results_File_Template"] = "record.txt";
  WriteFile("record.txt", "%name%");
  const std::string value = "<b>Ann & \"Bob\"</b>";
  Post({{"mail_from", "a@b.test"}, {"name", value}});
  const std::string mail = Mail(1);
  const bool html = mail.find("Content-Type:Text/HTML") != std::string::npos;
  EXPECT_EQ(html, GetParam().escaped);
  if (GetParam().escaped) {
    EXPECT_NE(mail.find("&lt;b&gt;Ann &amp; &quot;Bob&quot;&lt;/b&gt;"), std::string::npos) << mail;
  } else {
    EXPECT_NE(mail.find(value), std::string::npos) << mail;
  }
  // The results file always keeps the raw value.
  EXPECT_EQ(FileText("results.txt"), value + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Formats, MailEscapingTest,
                         ::testing::Values(MailFormatCase{"message.htm", "", true},
                                           MailFormatCase{"message.txt", "", false},
                                           MailFormatCase{"", "", true},
                                           MailFormatCase{"", "BX1ColHTMLNoLabel", true},
                                           MailFormatCase{"", "BX2ColHTMLNoLabel", true},
                                           MailFormatCase{"", "BX1ColTextLabel", false},
                                           MailFormatCase{"", "BXCSV", false}));

TEST_F(HardeningTest, AutomaticHtmlLayoutEscapesFieldNamesInLabels) {
  Post({{"mail_from", "a@b.test"}, {"<i>x", "1"}});
  const std::string mail = Mail(1);
  EXPECT_EQ(mail.find("<i>x"), std::string::npos) << mail;
  EXPECT_NE(mail.find("<td>&lt;i&gt;x</td>"), std::string::npos) << mail;
}

TEST_F(HardeningTest, GeneratedCsvRecordDoublesQuotes) {
  ini_["Default_Format"] = "BXCSV";
  ini_["Results_File"] = "results.csv";
  Post({{"mail_from", "a@b.test"}, {"name", "Ann \"the\" Visitor"}, {"zip", "1,2"}});
  // Field-table order: mail_from, name, zip.
  EXPECT_EQ(
      FileText("results.csv"),
      "\"mail_from\",\"name\",\"zip\"\r\n\"a@b.test\",\"Ann \"\"the\"\" Visitor\",\"1,2\"\r\n");
}

TEST_F(HardeningTest, PlainFieldCannotPoseAsUpload) {
  const auto result =
      Post({{"mail_from", "a@b.test"}, {"file", "passwd"}, {"FILE_FILENAME", "/etc/passwd"}});
  ASSERT_EQ(result.exit_code, 0);
  const std::string mail = Mail(1);
  EXPECT_EQ(mail.find("multipart/mixed"), std::string::npos) << mail;
  EXPECT_EQ(mail.find("root:"), std::string::npos);
  EXPECT_NE(ErrorLog().find("Brevix BX Reports: Refused file name /etc/passwd"), std::string::npos);
}

TEST_F(HardeningTest, RealUploadIsAttachedUnderClientName) {
  const auto result =
      PostMultipart({{"mail_from", "a@b.test"}}, {{"file", "C:\\docs\\cv<1>.txt", "hello upload"}});
  ASSERT_EQ(result.exit_code, 0) << result.error;
  const std::string mail = Mail(1);
  EXPECT_NE(mail.find("multipart/mixed"), std::string::npos) << mail;
  EXPECT_NE(mail.find("filename=\"cv1.txt\""), std::string::npos) << mail;
  EXPECT_NE(mail.find("aGVsbG8gdXBsb2Fk"), std::string::npos);  // base64 of the content
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(HardeningTest, UploadFromAnotherFieldIsNotAttached) {
  PostMultipart({{"mail_from", "a@b.test"}}, {{"photo", "me.jpg", "jpeg bytes"}});
  EXPECT_EQ(Mail(1).find("multipart/mixed"), std::string::npos);
}

TEST_F(HardeningTest, FormCannotAttachEarlierAutomaticResultsFiles) {
  ini_["Results_File"] = "\\auto.csv";
  WriteFile("010112000042.csv", "old automatic results");
  Post({{"mail_from", "a@b.test"}, {"attached_file", "010112000042.csv"}});
  EXPECT_EQ(Mail(1).find("multipart/mixed"), std::string::npos);
}

TEST_F(HardeningTest, SitesOwnFilesMayBeAttached) {
  WriteFile("brochure.txt", "our brochure");
  WriteFile("price-list.txt", "our prices");
  ini_["Attached_File"] = "brochure.txt";
  Post({{"mail_from", "a@b.test"}});
  Post({{"mail_from", "a@b.test"}, {"attached_file", "price-list.txt"}});
  EXPECT_NE(Mail(1).find("filename=\"brochure.txt\""), std::string::npos);
  EXPECT_NE(Mail(2).find("filename=\"price-list.txt\""), std::string::npos);
  EXPECT_EQ(Mail(2).find("filename=\"brochure.txt\""), std::string::npos);
}

TEST_F(HardeningTest, DeleteResultsFileRemovesOnlyThisRequestsResultsFile) {
  WriteFile("brochure.txt", "our brochure");
  ini_["Attached_File"] = "brochure.txt";
  ini_["Results_File"] = "results.csv";
  ini_["Delete_Results_File"] = "1";
  Post({{"mail_from", "a@b.test"}});
  Post({{"mail_from", "a@b.test"}, {"attached_file", "thanks.htm"}});
  EXPECT_EQ(FileText("brochure.txt"), "our brochure");
  EXPECT_TRUE(Exists("thanks.htm"));
  EXPECT_TRUE(Exists("results.csv"));
}

TEST_F(HardeningTest, AttachedAutomaticResultsFileIsMailedAndDeleted) {
  ini_["Results_File"] = "\\auto.txt";
  ini_["Results_File_Template"] = "record.txt";
  WriteFile("record.txt", "%name% in %results_file%");
  Post({{"mail_from", "a@b.test"},
        {"name", "Ann"},
        {"attached_file", "%results_file%"},
        {"delete_results_file", "YES"}});
  const std::string mail = Mail(1);
  ASSERT_NE(mail.find("multipart/mixed"), std::string::npos) << mail << ErrorLog();
  const size_t at = mail.find("filename=\"");
  const std::string name = mail.substr(at + 10, mail.find('"', at + 10) - at - 10);
  // Ten digits of the time, one or two random digits, the extension.
  EXPECT_TRUE(name.size() == 15 || name.size() == 16) << name;
  EXPECT_EQ(name.substr(name.size() - 4), ".txt");
  EXPECT_FALSE(Exists(name));
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(HardeningTest, AutomaticResultsNamesNeverCollide) {
  ini_["Results_File"] = "data\\auto.csv";
  ini_["Results_File_Template"] = "record.txt";
  WriteFile("record.txt", "%n%");
  fs::create_directories(dir_ + "data");
  constexpr int kRequests = 8;
  for (int i = 0; i < kRequests; ++i) Post({{"mail_from", "a@b.test"}, {"n", std::to_string(i)}});
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir_ + "data")) {
    ++files;
    EXPECT_EQ(CountOf(ReadText(entry.path()), "\r\n"), 1) << entry.path();
  }
  EXPECT_EQ(files, kRequests);
}

TEST_F(HardeningTest, AutomaticNameNeverJoinsAnotherSubmissionsFile) {
  ini_["Results_File"] = "\\auto.csv";
  // Every name of this second and the next three is another submission's file already.
  std::vector<std::string> taken;
  for (std::time_t second = std::time(nullptr); taken.size() < 400; ++second) {
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%m%d%H%M%S", std::localtime(&second));
    for (int n = 0; n < 100; ++n) taken.push_back(stamp + std::to_string(n) + ".csv");
  }
  for (const std::string& name : taken) WriteFile(name, "other");
  Post({{"mail_from", "a@b.test"}, {"name", "Ann"}});
  for (const std::string& name : taken) ASSERT_EQ(FileText(name), "other") << name;
  EXPECT_NE(ErrorLog().find("Unable to open"), std::string::npos) << ErrorLog();
}

TEST_F(HardeningTest, IncompleteSubmissionLeavesNoEmptyAutomaticResultsFile) {
  ini_["Results_File"] = "\\auto.csv";
  Post({{"name", "no sender"}});
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_NE(entry.path().extension(), ".csv") << entry.path();
  }
}

}  // namespace
}  // namespace gateway_test
