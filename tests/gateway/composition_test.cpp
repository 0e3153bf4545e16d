// How the form's fields and "brevix.ini" make up the mail, the receipt and the results record.
#include <cctype>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "gateway_site.h"

namespace gateway_test {
namespace {

class CompositionTest : public GatewaySite {
 protected:
  void SetUp() override {
    GatewaySite::SetUp();
    ini_["Response_Page"] = "thanks.htm";
    WriteFile("thanks.htm", "ok");
  }

  // The header block of mail n.
  std::string Header(int n) {
    const std::string mail = Mail(n);
    return mail.substr(0, mail.find("\r\n\r\n") + 2);
  }
};

// The header fields of a mail: name as written and value, continuation lines joined.
std::vector<std::pair<std::string, std::string>> HeaderFields(const std::string& mail) {
  std::vector<std::pair<std::string, std::string>> fields;
  const std::string header = mail.substr(0, mail.find("\r\n\r\n") + 2);
  for (size_t at = 0; at < header.size();) {
    const size_t end = header.find("\r\n", at);
    const std::string line = header.substr(at, end - at);
    at = end + 2;
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !fields.empty()) {
      fields.back().second += line;
    } else {
      const size_t colon = line.find(':');
      fields.push_back({line.substr(0, colon),
                        colon == std::string::npos ? std::string() : line.substr(colon + 1)});
    }
  }
  return fields;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The values of the fields named `name` (without regard to case), blanks around them trimmed.
std::vector<std::string> FieldValues(const std::string& mail, const std::string& name) {
  std::vector<std::string> values;
  for (const auto& [field, value] : HeaderFields(mail)) {
    if (Lower(field) != Lower(name)) continue;
    const size_t first = value.find_first_not_of(" \t");
    const size_t last = value.find_last_not_of(" \t");
    values.push_back(first == std::string::npos ? "" : value.substr(first, last - first + 1));
  }
  return values;
}

TEST_F(CompositionTest, EmptySubjectNamesReferringPage) {
  ini_["Mail_Subject"] = "";
  Post({{"mail_from", "a@b.test"}});
  EXPECT_NE(Header(1).find("Subject: Response from http://site.test/form.html \r\n"),
            std::string::npos);
  referer_.clear();
  Post({{"mail_from", "a@b.test"}});
  EXPECT_NE(Header(2).find("Subject: Response from  \r\n"), std::string::npos) << Header(2);
}

TEST_F(CompositionTest, EmptyFormFieldNeverOverridesSettings) {
  ini_["Mail_CC"] = "cc@site.test";
  Post({{"mail_from", "a@b.test"}, {"mail_cc", ""}, {"mail_to", ""}});
  const auto mail = smtp_.Message(smtp_.WaitForMessages(1));
  EXPECT_EQ(mail.recipients, (std::vector<std::string>{"owner@site.test", "cc@site.test"}));
}

TEST_F(CompositionTest, MacrosReachServerVariablesAndBuiltIns) {
  ini_["Message_Text"] = "message.txt";
  WriteFile("message.txt",
            "addr:%remote_addr%\r\nurl:%script_name%\r\nref:%vorl_referer%\r\n"
            "err:%vorl_error_desc%\r\ndate:%vorl_date%\r\nx:%unknown% 50% off\r\n");
  Post({{"mail_from", "a@b.test"}, {"script_name", "shadowed"}, {"date_format", "yyyy"}});
  const std::string mail = Mail(1);
  // A field named like a server variable is shadowed by it.
  EXPECT_NE(mail.find("addr:127.0.0.1\r\nurl:/cgi-bin/brevix.cgi\r\n"
                      "ref:http://site.test/form.html\r\nerr:**\r\ndate:20"),
            std::string::npos)
      << mail;
  EXPECT_NE(mail.find("\r\nx:** 50% off"), std::string::npos) << mail;
}

TEST_F(CompositionTest, AutomaticMessageListsEveryFieldAsHtml) {
  Post({{"mail_from", "a@b.test"}, {"colour", "red"}, {"colour", "blue"}});
  const std::string mail = Mail(1);
  const std::string body = mail.substr(mail.find("\r\n\r\n") + 4);
  EXPECT_EQ(body.rfind("Generated automatically. No message_text file found!\r\n<html>\r\n", 0), 0u)
      << body;
  EXPECT_NE(body.find("<tr>\r\n<td>colour</td>\r\n<td>red\r\nblue</td>\r\n</tr>"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find("<td>mail_from</td>\r\n<td>a@b.test</td>"), std::string::npos);
  EXPECT_EQ(CountOf(Header(1), "Content-Type:Text/HTML; charset=utf-8\r\n"), 1);
  EXPECT_EQ(CountOf(Header(1), "Content-Transfer-Encoding: quoted-printable\r\n"), 1);
}

TEST_F(CompositionTest, ReceiptWithoutTextFileIsOneLine) {
  ini_["Receipt_Text"] = "missing-receipt.txt";
  referer_.clear();
  Post({{"mail_from", "ann@visitor.test"}});
  ASSERT_EQ(smtp_.WaitForMessages(2), 2);
  const auto receipt = smtp_.Message(2);
  EXPECT_EQ(receipt.recipients, std::vector<std::string>{"ann@visitor.test"});
  EXPECT_EQ(receipt.mail_from, "owner@site.test");
  EXPECT_NE(receipt.raw.find("Subject: Receipt:  \r\n"), std::string::npos) << receipt.raw;
  EXPECT_NE(receipt.raw.find("\r\n\r\nYour request on  has been sent\r\n"), std::string::npos);
  // No referrer: the log line begins with a blank.
  const std::string log = ErrorLog();
  EXPECT_EQ(log.rfind(" ", 0), 0u) << log;
  EXPECT_NE(log.find(" Brevix BX Reports: Missing Receipt Text file missing-receipt.txt\r\n"),
            std::string::npos);
}

TEST_F(CompositionTest, HtmlReceiptTemplateSwitchesItsHeader) {
  ini_["Receipt_Text"] = "receipt.htm";
  ini_["Receipt_To"] = "copy@site.test";
  ini_["Receipt_Subject"] = "Thanks";
  ini_["Message_Text"] = "message.txt";
  WriteFile("message.txt", "Name: %name%\r\n");
  WriteFile("receipt.htm", "<p>Dear %name%</p>\r\n");
  Post({{"mail_from", "a@b.test"}, {"name", "<Ann>"}});
  ASSERT_EQ(smtp_.WaitForMessages(2), 2);
  const auto receipt = smtp_.Message(2);
  EXPECT_EQ(receipt.recipients, std::vector<std::string>{"copy@site.test"});
  EXPECT_NE(receipt.raw.find("Content-Type:Text/HTML"), std::string::npos);
  EXPECT_NE(receipt.raw.find("<p>Dear &lt;Ann&gt;</p>"), std::string::npos) << receipt.raw;
  EXPECT_NE(receipt.raw.find("Subject: Thanks \r\n"), std::string::npos) << receipt.raw;
  // The main mail stays plain text.
  EXPECT_EQ(Mail(1).find("Content-Type:Text/HTML"), std::string::npos);
}

struct WellFormedCase {
  bool html;        // the automatic HTML message and an HTML receipt, else text templates
  bool attachment;  // an uploaded file goes with the main mail
};

void PrintTo(const WellFormedCase& c, std::ostream* os) {
  *os << (c.html ? "html" : "plain") << (c.attachment ? " with attachment" : "");
}

class WellFormedMailTest : public CompositionTest,
                           public ::testing::WithParamInterface<WellFormedCase> {};

// Regression: the mails had no Date and no Message-ID, "Mime-Version" twice with attachments,
// two Content-Type lines when HTML, empty "CC: " and "BCC: " lines, a BCC line in the receipt
// (a hidden address shown to every reader), and an automatic HTML message whose meta tag named
// another charset than its header.
TEST_P(WellFormedMailTest, MainMailAndReceiptAreWellFormed) {
  ini_["Mail_BCC"] = "hidden@site.test";
  ini_["Receipt_Text"] = GetParam().html ? "receipt.htm" : "receipt.txt";
  WriteFile("receipt.txt", "Dear %name%\r\n");
  WriteFile("receipt.htm", "<html><body><p>Dear %name%</p></body></html>\r\n");
  if (!GetParam().html) {
    ini_["Message_Text"] = "message.txt";
    WriteFile("message.txt", "Name: %name%\r\n");
  }
  const Fields fields = {{"mail_from", "ann@visitor.test"}, {"name", "J\xc3\xbcrgen"}};
  if (GetParam().attachment) {
    PostMultipart(fields, {{"file", "note.txt", "hello J\xc3\xbcrgen"}});
  } else {
    Post(fields);
  }
  ASSERT_EQ(smtp_.WaitForMessages(2), 2) << ErrorLog();
  const std::regex date(
      "(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-3][0-9] "
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) 2[0-9]{3} "
      "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] "
      "[+-][0-9]{4}");
  const std::regex message_id("<[^<>@ ]+@[A-Za-z0-9.-]+>");
  // Quoted-printable writes the meta tag's "=" as "=3D".
  const std::regex charset("charset=(3D)?\"?([A-Za-z0-9_-]+)", std::regex::icase);
  std::vector<std::string> ids;
  for (int n : {1, 2}) {
    const std::string mail = Mail(n);
    SCOPED_TRACE(mail);
    for (const char* name : {"Date", "Message-ID", "MIME-Version", "Content-Type"}) {
      EXPECT_EQ(FieldValues(mail, name).size(), 1u) << name;
    }
    for (const auto& [name, value] : HeaderFields(mail)) {
      EXPECT_NE(value.find_first_not_of(" \t"), std::string::npos) << "empty " << name;
      EXPECT_NE(Lower(name), "bcc");
    }
    EXPECT_EQ(mail.find("hidden@site.test"), std::string::npos);
    EXPECT_TRUE(std::regex_match(FieldValues(mail, "Date")[0], date));
    ASSERT_TRUE(std::regex_match(FieldValues(mail, "Message-ID")[0], message_id));
    ids.push_back(FieldValues(mail, "Message-ID")[0]);
    // Header, text part and meta tag name one charset: the body's, here UTF-8.
    int charsets = 0;
    for (std::sregex_iterator it(mail.begin(), mail.end(), charset), end; it != end; ++it) {
      EXPECT_EQ(Lower((*it)[2]), "utf-8");
      ++charsets;
    }
    EXPECT_GE(charsets, GetParam().html && n == 1 ? 2 : 1);
    // Text and HTML bodies alike go out as quoted-printable.
    EXPECT_NE(mail.find("J=C3=BCrgen"), std::string::npos);
  }
  EXPECT_NE(ids[0], ids[1]);
  // The hidden copy still goes out, through the envelope alone.
  EXPECT_EQ(smtp_.Message(1).recipients,
            (std::vector<std::string>{"owner@site.test", "hidden@site.test"}));
  EXPECT_EQ(CountOf(Mail(1), "multipart/mixed"), GetParam().attachment ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Mails, WellFormedMailTest,
                         ::testing::Values(WellFormedCase{false, false},
                                           WellFormedCase{false, true}, WellFormedCase{true, false},
                                           WellFormedCase{true, true}));

// NUL and the other control characters (tab aside) of a form's values never reach a header.
TEST_F(CompositionTest, NoControlCharacterReachesAHeader) {
  ini_["Allowed_Recipients"] = "@site.test";
  ini_["Mail_Sender"] = "forms@site.test";  // the visitor's sender becomes the Reply-To
  const std::string nul(1, '\0');
  Post({{"mail_from", "Ann Lee <ann@visitor.test>"},
        {"mail_to", "Desk" + nul + "\x1b <desk@site.test>"},
        {"mail_cc", "Shop" + nul + "\x7f <shop@site.test>"},
        {"mail_subject", "Hi" + nul + "\x01there"}});
  ASSERT_EQ(smtp_.WaitForMessages(1), 1) << ErrorLog();
  const std::string header = Header(1);
  for (size_t i = 0; i < header.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(header[i]);
    const bool line_end = header.compare(i, 2, "\r\n") == 0 || (i > 0 && header[i - 1] == '\r');
    EXPECT_TRUE((c >= ' ' && c != 0x7f) || c == '\t' || line_end) << i << ": " << header;
  }
  EXPECT_EQ(FieldValues(Mail(1), "Subject"), std::vector<std::string>{"Hi  there"});
  EXPECT_EQ(FieldValues(Mail(1), "Reply-To"),
            std::vector<std::string>{"Ann Lee <ann@visitor.test>"});
}

struct SenderCase {
  const char* mail_sender;       // the ini's Mail_Sender
  const char* form_mail_sender;  // a form field of that name (never used); nullptr: none sent
  const char* receipt_from;      // the ini's Receipt_From
  const char* main_envelope;
  const char* main_from;      // the From value
  const char* main_reply_to;  // nullptr: no Reply-To
  const char* receipt_envelope;
  const char* receipt_from_header;
  const char* receipt_reply_to;
};

void PrintTo(const SenderCase& c, std::ostream* os) {
  *os << "Mail_Sender \"" << c.mail_sender << "\" receipt_from \"" << c.receipt_from << '"';
}

class MailSenderTest : public CompositionTest, public ::testing::WithParamInterface<SenderCase> {};

TEST_P(MailSenderTest, SiteSenderSendsWithOwnSenderAsReplyTo) {
  const SenderCase& c = GetParam();
  ini_["Mail_Sender"] = c.mail_sender;
  ini_["Receipt_From"] = c.receipt_from;
  ini_["Receipt_Text"] = "receipt.txt";
  WriteFile("receipt.txt", "Thanks\r\n");
  Fields fields = {{"mail_from", "ann@visitor.test"}};
  if (c.form_mail_sender) fields.push_back({"mail_sender", c.form_mail_sender});
  Post(fields);
  ASSERT_EQ(smtp_.WaitForMessages(2), 2) << ErrorLog();
  const auto main = smtp_.Message(1);
  const auto receipt = smtp_.Message(2);
  EXPECT_EQ(main.mail_from, c.main_envelope);
  EXPECT_EQ(FieldValues(main.raw, "From"), std::vector<std::string>{c.main_from});
  EXPECT_EQ(FieldValues(main.raw, "Reply-To"), c.main_reply_to
                                                   ? std::vector<std::string>{c.main_reply_to}
                                                   : std::vector<std::string>{});
  // The receipt still goes to the visitor: the site's sender replaced the visitor's address
  // for the main mail's sending only.
  EXPECT_EQ(receipt.recipients, std::vector<std::string>{"ann@visitor.test"});
  EXPECT_EQ(receipt.mail_from, c.receipt_envelope);
  EXPECT_EQ(FieldValues(receipt.raw, "From"), std::vector<std::string>{c.receipt_from_header});
  EXPECT_EQ(FieldValues(receipt.raw, "Reply-To"), c.receipt_reply_to
                                                      ? std::vector<std::string>{c.receipt_reply_to}
                                                      : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Senders, MailSenderTest,
    ::testing::Values(
        // Unset: the mails go out as they always did; a form field cannot set it.
        SenderCase{"", "forged@else.test", "", "ann@visitor.test", "<ann@visitor.test>", nullptr,
                   "owner@site.test", "<owner@site.test>", nullptr},
        SenderCase{"forms@site.test", nullptr, "", "forms@site.test", "<forms@site.test>",
                   "<ann@visitor.test>", "forms@site.test", "<forms@site.test>",
                   "<owner@site.test>"},
        SenderCase{"Site Forms <forms@site.test>", nullptr, "desk@site.test", "forms@site.test",
                   "Site Forms <forms@site.test>", "<ann@visitor.test>", "forms@site.test",
                   "Site Forms <forms@site.test>", "<desk@site.test>"},
        // Not one address: ignored (and logged) rather than an invalid MAIL FROM.
        SenderCase{"a@site.test, b@site.test", nullptr, "", "ann@visitor.test",
                   "<ann@visitor.test>", nullptr, "owner@site.test", "<owner@site.test>",
                   nullptr}));

TEST_F(CompositionTest, ResultsTemplateKeepsUnknownBuiltInsAndPairsLonePercent) {
  ini_["Results_File"] = "results.txt";
  ini_["Results_File_Template"] = "record.txt";
  WriteFile("record.txt", "%vorl_referer%|%a%%b%|%missing%|%refnum_x%|50% off %c%\r\n");
  referer_.clear();
  Post({{"mail_from", "a@b.test"}, {"a", "A"}, {"b", "B"}, {"c", "C"}});
  // "% off %" is taken as a field name; the template's own line break ends the record with an
  // empty line.
  EXPECT_EQ(FileText("results.txt"), "%vorl_referer%|AB|**|**|50**c%\r\n\r\n");
}

TEST_F(CompositionTest, SecondReferenceKeyIsNotAdvanced) {
  ini_["Message_Text"] = "message.txt";
  WriteFile("message.txt", "%refnum_order% %refnum_ticket% %refnum_order% %refnum_new%\r\n");
  WriteFile("BX-RefNumbers.txt", "order=4\r\nticket=9\r\n");
  Post({{"mail_from", "a@b.test"}});
  EXPECT_NE(Mail(1).find("\r\n\r\n5 9 5 **\r\n"), std::string::npos) << Mail(1);
  EXPECT_EQ(FileText("BX-RefNumbers.txt"), "order=5\r\nticket=9\r\n");
}

TEST_F(CompositionTest, LogLinesUseFormDateAndTimeFormats) {
  ini_["Entry_Log"] = "entries.log";
  Post({{"mail_from", "a@b.test"}, {"date_format", "\"day\" yyyy"}, {"time_format", "\"T\""}});
  const std::string log = FileText("entries.log");
  EXPECT_EQ(log.rfind("day 20", 0), 0u) << log;
  EXPECT_EQ(log.substr(log.size() - 4), " T\r\n");
}

TEST_F(CompositionTest, LineBreakInFieldNameCannotForgeLogLines) {
  Post({{"mail_from", "a@b.test"}, {"x\r\nforged line phonereq", ""}});
  const std::string log = ErrorLog();
  EXPECT_EQ(CountOf(log, "\r\n"), 1) << log;
  EXPECT_NE(log.find("Missing Field x  forged line phonereq"), std::string::npos) << log;
}

}  // namespace
}  // namespace gateway_test
