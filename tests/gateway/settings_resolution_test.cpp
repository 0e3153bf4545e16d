// A request's settings in-process (settings_resolution.h): the form's fields over a site's
// brevix.ini in a program folder of its own, for a request to Own.Test:8080. The files a form may
// name, the mail server it may choose, and the answer pages: an address leads only to this site
// or to a host of Allowed_Redirects. Any other choice is ignored for the ini's own, with one log
// line. The recipients the resolved main mail may go to (recipient_guard.h). (form_files_test.cpp
// and mail_guard_test.cpp run the rules through the gateway.)
#include "gateway/settings_resolution.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/guard_settings.h"
#include "common/options.h"
#include "common/profile_file.h"
#include "gateway/guards/recipient_guard.h"
#include "mail/smtp_send_mail.h"
#include "platform/module_path.h"

namespace {

namespace fs = std::filesystem;
using Fields = std::map<std::string, std::string>;

class SettingsResolutionTest : public ::testing::Test {
 protected:
  // A site one folder down, so that "../secret.htm" lies outside its program folder.
  void SetUp() override {
    char pattern[] = "/tmp/brevix-settings-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    top_ = pattern;
    folder_.emplace(top_ + "/site");
  }
  void TearDown() override {
    folder_.reset();
    std::error_code ignored;
    fs::remove_all(top_, ignored);
  }

  void WriteFile(const std::string& name, const std::string& text) const {
    fs::create_directories(fs::path(ProgramDir() + name).parent_path());
    std::ofstream(ProgramDir() + name, std::ios::binary) << text;
  }

  // Reads brevix.ini's `lines` as the site's settings, and `fields` as the form's.
  const TSettingsResolution& Resolution(const std::string& lines, const Fields& fields) {
    WriteFile("brevix.ini", "[Options]\r\n" + lines);
    const TProfileFile ini(ProgramDir() + "brevix.ini");
    guards_.Load(ini);
    configured_ = TBXOptions();  // named after the program folder of the test
    configured_.Load(ini);
    options_ = configured_;
    files_ = std::make_unique<TFormFileGuard>(
        configured_, options_, guards_.AllowedFormFiles,
        TGatewayPlaces{ProgramDir(), ProgramDir() + "brevix.cgi", "Temp", ""});
    fields_ = fields;
    resolution_ = std::make_unique<TSettingsResolution>(TSettingsResolution::TInputs{
        [this](const std::string& name, const std::string& if_absent) {
          // As the engine gives a field: `if_absent` when it is absent or empty.
          const auto field = fields_.find(name);
          return field == fields_.end() || field->second.empty() ? if_absent : field->second;
        },
        guards_, configured_, *files_, "http://own.test/form.html", "Own.Test:8080",
        [this](const std::string& line) { log_.push_back(line); }});
    return *resolution_;
  }
  void Resolve(const std::string& lines, const Fields& fields) {
    Resolution(lines, fields).Resolve(options_, mail_, empty_mark_);
  }

  std::string top_;
  std::optional<TProgramFolderOverride> folder_;
  TGuardSettings guards_;
  TBXOptions configured_;
  TBXOptions options_;
  Fields fields_;
  std::unique_ptr<TFormFileGuard> files_;
  std::unique_ptr<TSettingsResolution> resolution_;
  TSmtpSendMail mail_;
  std::string empty_mark_;
  std::vector<std::string> log_;
};

struct FileNameCase {
  const char* field;
  const char* value;
  bool allowed;
};

void PrintTo(const FileNameCase& c, std::ostream* os) {
  *os << c.field << "=" << c.value;
}

class FormFileNameTest : public SettingsResolutionTest,
                         public ::testing::WithParamInterface<FileNameCase> {};

// A form never names a file the gateway writes or keeps, nor one outside the program folder, and
// writes only where the owner allowed it; a refused name leaves the ini's, with one log line.
TEST_P(FormFileNameTest, GatewayFilesAndFilesOutsideAreRefused) {
  const FileNameCase& c = GetParam();
  for (const char* name : {"brevix.cgi", "thanks.htm", "missing.htm", "message.txt", "results.csv",
                           "entries.log", "results-7.csv", "brevix-error.txt", "BX-RefNumbers.txt",
                           "BX-Guards.txt", "Temp/123.tmp", "BX-MachineName.txt", "log/brevix.Log",
                           "010112000042.csv", "logs/old.log", "price-list.txt", "../secret.htm"}) {
    WriteFile(name, "SECRET");
  }
  ::symlink("/etc/hostname", (ProgramDir() + "outside.htm").c_str());
  const std::string page = std::string(c.field).find("_page") != std::string::npos ? "p" : "";
  const TSettingsResolution& resolution = Resolution(
      "Response_Page=thanks.htm\r\nInfo_Missing_Page=missing.htm\r\nMessage_Text=message.txt"
      "\r\nResults_File=results.csv\r\nEntry_Log=entries.log\r\nAllowed_Form_Files=results-*.csv,"
      " logs\\*.log\r\n",
      {{c.field, c.value}});
  const std::string chosen =
      page.empty() ? resolution.FileName(c.field, "ini's") : resolution.PageName(c.field, "ini's");
  EXPECT_EQ(chosen, c.allowed ? c.value : "ini's");
  EXPECT_EQ(log_, c.allowed ? std::vector<std::string>{}
                            : std::vector<std::string>{"Brevix BX Reports: Refused file name " +
                                                       std::string(c.value)});
}

INSTANTIATE_TEST_SUITE_P(
    Names, FormFileNameTest,
    ::testing::Values(
        // Outside the program folder.
        FileNameCase{"response_page", "..\\secret.htm", false},
        FileNameCase{"response_page", "/etc/passwd", false},
        FileNameCase{"error_page", "c:\\secret.htm", false},
        FileNameCase{"info_missing_page", "pages/../../secret.htm", false},
        FileNameCase{"message_text", "../secret.htm", false},
        FileNameCase{"receipt_text", "/etc/hostname", false},
        FileNameCase{"attached_file", "../secret.htm", false},
        FileNameCase{"attached_file", "/etc/passwd", false},
        FileNameCase{"results_file", "/tmp/brevix-owned.txt", false},
        FileNameCase{"results_file_template", "../secret.htm", false},
        FileNameCase{"entry_log", "/tmp/brevix-owned.txt", false},
        FileNameCase{"response_page", "outside.htm", false},  // a link out of the folder
        // Shown as the answer page, or mailed as the message or an attachment.
        FileNameCase{"response_page", "brevix.ini", false},
        FileNameCase{"response_page", "results.csv", false},
        FileNameCase{"response_page", "brevix-error.txt", false},
        FileNameCase{"info_missing_page", "results.csv", false},
        FileNameCase{"message_text", "results.csv", false},
        FileNameCase{"message_text", "entries.log", false},
        FileNameCase{"message_text", "results-7.csv", false},  // another form's results
        FileNameCase{"receipt_text", "BX-RefNumbers.txt", false},
        FileNameCase{"results_file_template", "entries.log", false},
        FileNameCase{"attached_file", "brevix.ini", false},
        FileNameCase{"attached_file", "./brevix.ini", false},
        FileNameCase{"attached_file", "BX-Guards.txt", false},
        FileNameCase{"attached_file", "BX-MachineName.txt", false},
        FileNameCase{"attached_file", "brevix.cgi", false},
        FileNameCase{"attached_file", "Temp\\123.tmp", false},
        FileNameCase{"attached_file", "log/brevix.Log", false},
        FileNameCase{"attached_file", "010112000042.csv", false},  // an automatic results file
        FileNameCase{"attached_file", "logs/old.log", false},      // one forms may write
        FileNameCase{"attached_file", "price-list.txt", true},
        FileNameCase{"message_text", "thanks.htm", true},
        // Visitor text appended to the gateway's settings, pages or templates.
        FileNameCase{"results_file", "thanks.htm", false},
        FileNameCase{"results_file", "brevix.ini", false},
        FileNameCase{"results_file", "message.txt", false},
        FileNameCase{"results_file", "entries.log", false},
        FileNameCase{"results_file", "other.csv", false},  // matches no allowed pattern
        FileNameCase{"entry_log", "missing.htm", false},
        FileNameCase{"entry_log", "results.csv", false},
        FileNameCase{"entry_log", "logs/../thanks.htm", false},
        // Where the owner allowed it.
        FileNameCase{"results_file", "results.csv", true},
        FileNameCase{"results_file", "results-2.csv", true},
        FileNameCase{"results_file", "RESULTS-3.CSV", true},
        FileNameCase{"results_file", "\\auto.csv", true},  // an automatic name: a new file
        FileNameCase{"entry_log", "logs\\contact.log", true}));

struct RedirectCase {
  const char* value;     // the form's info_missing_page
  const char* answered;  // the address the visitor is sent to
};

void PrintTo(const RedirectCase& c, std::ostream* os) {
  *os << c.value;
}

class FormRedirectRuleTest : public SettingsResolutionTest,
                             public ::testing::WithParamInterface<RedirectCase> {};

TEST_P(FormRedirectRuleTest, OnlyOwnAndListedHosts) {
  const RedirectCase& c = GetParam();
  Resolve("Info_Missing_Page=http://own.test/ini\r\nAllowed_Redirects= Shop.Test ,other.test\r\n",
          {{"info_missing_page", c.value}});
  EXPECT_EQ(options_.Info_Missing_Page, c.answered);
  std::vector<std::string> expected_log;
  if (std::string(c.answered) != c.value) {
    expected_log.push_back(std::string("Brevix BX Reports: Refused form field info_missing_page ") +
                           c.value + " (add its host to Allowed_Redirects in brevix.ini)");
  }
  EXPECT_EQ(log_, expected_log);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, FormRedirectRuleTest,
    ::testing::Values(RedirectCase{"https://OWN.test:9/done", "https://OWN.test:9/done"},
                      RedirectCase{"http://shop.test/a?b", "http://shop.test/a?b"},
                      RedirectCase{"HTTP://Other.test/", "HTTP://Other.test/"},
                      RedirectCase{"http://evil.example/phish", "http://own.test/ini"},
                      RedirectCase{"http://own.test@evil.example/", "http://own.test/ini"},
                      RedirectCase{"http:\\\\evil.example/shop.test", "http://own.test/ini"},
                      RedirectCase{"https:evil.example", "http://own.test/ini"},
                      RedirectCase{"http://shop.test.evil.example/", "http://own.test/ini"}));

struct ServerCase {
  const char* label;
  const char* allowed;               // Allowed_SMTP_Servers
  const char* host;                  // smtp_server from the form; empty: none
  const char* port;                  // smtp_port from the form; empty: none
  const char* used;                  // the server the mail goes through, "host:port"
  std::vector<std::string> refused;  // the refused form fields, as logged
};

void PrintTo(const ServerCase& c, std::ostream* os) {
  *os << c.label;
}

class ServerRuleTest : public SettingsResolutionTest,
                       public ::testing::WithParamInterface<ServerCase> {};

// The ini's server is 127.0.0.1:2525; another one listens on port 2626.
TEST_P(ServerRuleTest, FormUsesOnlyTheOwnersServers) {
  const ServerCase& c = GetParam();
  Fields fields;
  if (*c.host) fields["smtp_server"] = c.host;
  if (*c.port) fields["smtp_port"] = c.port;
  Resolve("SMTP_Server=127.0.0.1\r\nSMTP_Port=2525\r\nAllowed_SMTP_Servers=" +
              std::string(c.allowed) + "\r\n",
          fields);
  EXPECT_EQ(mail_.RemoteHost + ":" + mail_.RemotePort, c.used);
  std::vector<std::string> expected_log;
  for (const std::string& field : c.refused) {
    expected_log.push_back("Brevix BX Reports: Refused form field " + field);
  }
  EXPECT_EQ(log_, expected_log);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServerRuleTest,
    ::testing::Values(
        ServerCase{"NoFormFields", "", "", "", "127.0.0.1:2525", {}},
        // The wizard's hidden fields repeat the ini's own server.
        ServerCase{"RepeatsIniServer", "", "127.0.0.1", "2525", "127.0.0.1:2525", {}},
        ServerCase{
            "UnlistedHost", "", "evil.test", "", "127.0.0.1:2525", {"smtp_server evil.test"}},
        ServerCase{"UnlistedPort", "", "", "2626", "127.0.0.1:2525", {"smtp_port 2626"}},
        ServerCase{"ListedHostAndPort",
                   "mail.site.test, 127.0.0.1:2626",
                   "127.0.0.1",
                   "2626",
                   "127.0.0.1:2626",
                   {}},
        ServerCase{"ListedPortOfIniHost", "127.0.0.1:2626", "", "2626", "127.0.0.1:2626", {}},
        ServerCase{"HostCaseIgnored", "LocalHost:2626", "localHOST", "2626", "localHOST:2626", {}},
        ServerCase{"HostEntryAllowsIniPort", "localhost", "localhost", "", "localhost:2525", {}},
        ServerCase{"HostEntryAllowsNoOtherPort",
                   "localhost",
                   "localhost",
                   "2626",
                   "127.0.0.1:2525",
                   {"smtp_server localhost", "smtp_port 2626"}},
        ServerCase{"ListedPortOfAnotherHost",
                   "evil.test:2626",
                   "",
                   "2626",
                   "127.0.0.1:2525",
                   {"smtp_port 2626"}}),
    [](const auto& param_info) { return std::string(param_info.param.label); });

struct SubjectCase {
  const char* subject;
  const char* use_asterisks;
  const char* expected;
};

void PrintTo(const SubjectCase& c, std::ostream* os) {
  *os << '"' << c.subject << "\" asterisks " << c.use_asterisks;
}

class SubjectRuleTest : public SettingsResolutionTest,
                        public ::testing::WithParamInterface<SubjectCase> {};

// The receipt's subject follows the same rules (its macros once arrived literally).
TEST_P(SubjectRuleTest, SubjectMacrosTakeFormFields) {
  const SubjectCase& c = GetParam();
  Resolve("", {{"item", "Lamp"},
               {"empty", ""},
               {"mail_subject", c.subject},
               {"receipt_subject", c.subject},
               {"use_asterisks", c.use_asterisks}});
  EXPECT_EQ(mail_.MailSubject, c.expected);
  EXPECT_EQ(options_.Receipt_Subject, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Subjects, SubjectRuleTest,
    ::testing::Values(SubjectCase{"Order %item% from %empty%", "yes", "Order Lamp from **"},
                      SubjectCase{"Order %item% from %empty%", "no", "Order Lamp from  "},
                      // Only form fields are known here: no built-ins, no reference numbers.
                      SubjectCase{"%vorl_date%/%refnum_x%/%%", "yes", "**/**/**"},
                      SubjectCase{"%item%%item%", "yes", "LampLamp"},
                      // A lone "%" pairs with the next one; an unclosed one stays as text.
                      SubjectCase{"50% off %item", "yes", "50**item"},
                      SubjectCase{"%item% at 100%", "yes", "Lamp at 100%"}));

struct AsteriskCase {
  const char* ini_value;
  const char* form_value;  // nullptr: field not submitted
  const char* empty_mark;
};

void PrintTo(const AsteriskCase& c, std::ostream* os) {
  *os << "ini " << c.ini_value << " form " << (c.form_value ? c.form_value : "(none)");
}

class AsteriskRuleTest : public SettingsResolutionTest,
                         public ::testing::WithParamInterface<AsteriskCase> {};

TEST_P(AsteriskRuleTest, EmptyFieldShowsEmptyMark) {
  const AsteriskCase& c = GetParam();
  Fields fields;
  if (c.form_value) fields["use_asterisks"] = c.form_value;
  Resolve("Use_Asterisks=" + std::string(c.ini_value) + "\r\n", fields);
  EXPECT_EQ(empty_mark_, c.empty_mark);
}

INSTANTIATE_TEST_SUITE_P(
    Switch, AsteriskRuleTest,
    ::testing::Values(AsteriskCase{"0", "YES", "**"}, AsteriskCase{"1", "no", " "},
                      AsteriskCase{"1", "1", " "}, AsteriskCase{"1", "true", " "},
                      AsteriskCase{"0", "X", " "}, AsteriskCase{"1", "X", "**"},
                      AsteriskCase{"0", nullptr, " "}, AsteriskCase{"yes", nullptr, "**"}));

const std::string kRecipientsIni =
    "Mail_To=owner@site.test\r\nMail_CC=Boss <boss@site.test>\r\n"
    "Allowed_Recipients=sales@site.test, @Example.COM\r\n";

struct RecipientCase {
  const char* label;
  std::string ini;          // before kRecipientsIni: its keys win
  std::string to, cc, bcc;  // the form's mail_to, mail_cc and mail_bcc; empty: none
  std::string log;          // the error-log line of a refusal; empty: the mail may go
  const char* error = kRecipientNotAllowed;
};

void PrintTo(const RecipientCase& c, std::ostream* os) {
  *os << c.label;
}

class RecipientRuleTest : public SettingsResolutionTest,
                          public ::testing::WithParamInterface<RecipientCase> {};

TEST_P(RecipientRuleTest, OnlyTheOwnersRecipientsAndAtMostMaxRecipients) {
  const RecipientCase& c = GetParam();
  Fields fields;
  for (const auto& [name, value] :
       {std::pair{"mail_to", c.to}, {"mail_cc", c.cc}, {"mail_bcc", c.bcc}})
    if (!value.empty()) fields[name] = value;
  Resolve(c.ini + kRecipientsIni, fields);
  const auto refusal = CheckMainMailRecipients(
      guards_, configured_, {mail_.MailTo, mail_.MailCC, mail_.MailBCC, c.to, c.cc, c.bcc});
  ASSERT_EQ(refusal.has_value(), !c.log.empty());
  if (!refusal) return;
  EXPECT_EQ(refusal->LogLine, "Brevix BX Reports: " + c.log);
  EXPECT_STREQ(refusal->Error, c.error);
}

std::string NotListed(const std::string& address) {
  return "Recipient not allowed: " + address + " (add it to Allowed_Recipients in brevix.ini)";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecipientRuleTest,
    ::testing::Values(
        RecipientCase{"IniOnly", "", "", "", "", ""},
        RecipientCase{"ListedAddressInOtherCase", "", "Sales@SITE.test", "", "", ""},
        RecipientCase{"ListedDomain", "", "", "Desk <desk@example.com>", "", ""},
        RecipientCase{"IniOwnAddressFromAnotherKey", "", "", "", "BOSS@site.test", ""},
        RecipientCase{"StrangerInTo", "", "victim@elsewhere.test", "", "",
                      NotListed("victim@elsewhere.test")},
        RecipientCase{"StrangerBehindAllowedOne", "", "", "sales@site.test; x@elsewhere.test", "",
                      NotListed("x@elsewhere.test")},
        RecipientCase{"SubdomainOfListedDomain", "", "", "", "a@mail.example.com",
                      NotListed("a@mail.example.com")},
        RecipientCase{"RelayThroughListedDomain", "", "x%elsewhere.test@example.com", "", "",
                      NotListed("x%elsewhere.test@example.com")},
        RecipientCase{"SourceRouteThroughListedDomain", "", "@elsewhere.test:x@example.com", "", "",
                      NotListed("@elsewhere.test:x@example.com")},
        RecipientCase{"BangPathThroughListedDomain", "", "elsewhere.test!x@example.com", "", "",
                      NotListed("elsewhere.test!x@example.com")},
        // Text after the closing bracket is not an address: the whole value is refused.
        RecipientCase{"TextAfterAddress", "", "<sales@site.test> NOTIFY=SUCCESS", "", "",
                      "Recipient not allowed: <sales@site.test> NOTIFY=SUCCESS (not a list of "
                      "addresses)"},
        // The form's own value, not the ini's, is what an override is compared against.
        RecipientCase{"FormCannotVouchForItself", "Allowed_Recipients=\r\n", "x@elsewhere.test",
                      "x@elsewhere.test", "", NotListed("x@elsewhere.test")},
        RecipientCase{"AtTheLimit", "Max_Recipients=3\r\n", "", "", "a@example.com", ""},
        RecipientCase{"OverTheLimitFromTheForm", "Max_Recipients=3\r\n", "", "",
                      "a@example.com, b@example.com",
                      "Too many recipients: 4 (Max_Recipients in brevix.ini allows 3)",
                      kTooManyRecipients},
        RecipientCase{"OverTheDefaultLimitFromTheIni",
                      "Mail_BCC=a@x.test,b@x.test;c@x.test,d@x.test,e@x.test,f@x.test,g@x.test,"
                      "h@x.test,i@x.test\r\n",
                      "", "", "",
                      "Too many recipients: 11 (Max_Recipients in brevix.ini allows 10)",
                      kTooManyRecipients}),
    [](const auto& param_info) { return std::string(param_info.param.label); });

}  // namespace
