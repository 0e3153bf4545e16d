// Which files a hostile form may name, through the gateway: never one the gateway writes or keeps,
// and a file to write only where the site owner allowed it. (Every name the rule refuses or allows
// is settings_resolution_test.cpp.)
#include <ostream>
#include <string>

#include "gateway_site.h"

namespace gateway_test {
namespace {

class FormFilesTest : public GatewaySite {
 protected:
  void SetUp() override {
    GatewaySite::SetUp();
    ini_["Response_Page"] = "thanks.htm";
    ini_["Info_Missing_Page"] = "missing.htm";
    ini_["Message_Text"] = "message.txt";
    ini_["Results_File"] = "results.csv";
    ini_["Entry_Log"] = "entries.log";
    ini_["Allowed_Form_Files"] = "results-*.csv, logs\\*.log";
    ini_["Owner_Note"] = "SECRET-INI";
    for (const auto& [name, text] : kSiteFiles) WriteFile(name, text);
    fs::create_directories(dir_ + "logs");
  }

  // Every file of the site with what it held before the request; none may leak or change
  // (results.csv and entries.log only gain this request's own lines).
  const std::map<std::string, std::string> kSiteFiles = {
      {"thanks.htm", "thanks"},
      {"missing.htm", "missing"},
      {"message.txt", "Message from %namereq%"},
      {"results.csv", "SECRET-RESULTS\r\n"},
      {"entries.log", "SECRET-ENTRIES\r\n"},
      {"results-7.csv", "SECRET-OTHER-RESULTS\r\n"},
      {"brevix-error.txt", "SECRET-ERRORS\r\n"},
      {"BX-RefNumbers.txt", "SECRET=1\r\n"},
  };
};

TEST_F(FormFilesTest, CsvResultsFromAnOwnersTemplateDoubleQuotes) {
  WriteFile("row.txt", "\"%namereq%\";\"%comment%\"");
  ini_["Results_File_Template"] = "row.txt";
  Post({{"mail_from", "a@b.test"}, {"namereq", "Ünsal"}, {"comment", "\"Quotes\" = fine"}});
  EXPECT_EQ(FileText("results.csv"),
            kSiteFiles.at("results.csv") + "\"Ünsal\";\"\"\"Quotes\"\" = fine\"\r\n");
}

// A ".csv" results file without a template is a table whatever layout the mails use (it once
// got a whole HTML page per record): a heading row when the file is new, then one row each.
TEST_F(FormFilesTest, CsvResultsFileWithoutTemplateIsATable) {
  ini_["Default_Format"] = "BX2ColHTMLLabel";
  for (const char* name : {"Ann", "Bo \"B\""}) {
    Post({{"mail_from", "a@b.test"}, {"namereq", name}, {"results_file", "results-2.csv"}});
  }
  Post({{"mail_from", "c@b.test"}, {"namereq", "Cy"}});
  EXPECT_EQ(FileText("results-2.csv"),
            "\"mail_from\",\"namereq\",\"results_file\"\r\n"
            "\"a@b.test\",\"Ann\",\"results-2.csv\"\r\n"
            "\"a@b.test\",\"Bo \"\"B\"\"\",\"results-2.csv\"\r\n");
  EXPECT_EQ(FileText("results.csv"), kSiteFiles.at("results.csv") + "\"c@b.test\",\"Cy\"\r\n");
}

// However wide the owner's pattern, an existing page, script, style sheet or settings file is
// never a form's to append to.
TEST_F(FormFilesTest, WidePatternNeverAppendsToAPage) {
  ini_["Allowed_Form_Files"] = "*";
  for (const char* name : {"news.html", "news.shtml", "app.js", "site.css", "old.ini"}) {
    WriteFile(name, "kept");
    Post({{"mail_from", "a@b.test"}, {"namereq", "Ann"}, {"results_file", name}});
    EXPECT_EQ(FileText(name), "kept") << name;
  }
}

// Each way a hostile visitor could once use the gateway with hidden fields alone, replayed
// against the real program: none may read, write, relay or reach what the site owner did not
// allow. The guards' own tests go into detail; this table keeps the known attacks closed.
std::string ManyAddresses(int count) {
  std::string list;
  for (int i = 0; i < count; ++i) list += (i ? "," : "") + std::to_string(i) + "@attacker.test";
  return list;
}

struct Attack {
  const char* label;
  Fields fields;   // besides mail_from and namereq
  bool delivered;  // the owner still gets the submission, through the owner's server
};

void PrintTo(const Attack& a, std::ostream* os) {
  *os << a.label;
}

class AttackTableTest : public FormFilesTest, public ::testing::WithParamInterface<Attack> {};

TEST_P(AttackTableTest, IsBlocked) {
  // A case's own namereq replaces the visitor's.
  Fields fields = {{"mail_from", "visitor@example.org"}};
  bool named = false;
  for (const auto& field : GetParam().fields) named = named || field.first == "namereq";
  if (!named) fields.emplace_back("namereq", "<script>x()</script>");
  for (const auto& field : GetParam().fields) fields.push_back(field);
  const auto result = Post(fields);
  ASSERT_EQ(result.exit_code, 0) << result.error;

  // Nothing secret shown or mailed, no mail to the attacker's addresses, nothing sent anywhere
  // but the owner's server (the only one listening), no page or template changed.
  EXPECT_EQ(Body(result).find("SECRET"), std::string::npos) << Body(result);
  if (GetParam().delivered) {
    EXPECT_GE(smtp_.WaitForMessages(1), 1);
  } else {
    // The gateway sends before it answers: what the server holds now is all it will get.
    EXPECT_EQ(smtp_.MessageCount(), 0);
  }
  for (int n = 1; n <= smtp_.MessageCount(); ++n) {
    const auto mail = smtp_.Message(n);
    EXPECT_EQ(mail.raw.find("SECRET"), std::string::npos) << mail.raw;
    for (const std::string& to : mail.recipients) {
      EXPECT_EQ(to.find("attacker.test"), std::string::npos) << to;
    }
  }
  for (const auto& [name, text] : kSiteFiles) {
    // The logs, the numbers and the results gain this request's lines.
    if (name != "thanks.htm" && name != "missing.htm" && name != "message.txt") continue;
    EXPECT_EQ(FileText(name), text) << name;
  }
  EXPECT_EQ(FileText("brevix.ini").find("<script>"), std::string::npos);
  EXPECT_FALSE(Exists("other.csv"));
}

INSTANTIATE_TEST_SUITE_P(
    KnownAttacks, AttackTableTest,
    ::testing::Values(
        Attack{"ShowSettingsAsAnswerPage", {{"response_page", "brevix.ini"}}, true},
        Attack{"ShowResultsAsMissingInformationPage",
               {{"info_missing_page", "results.csv"}, {"namereq", ""}},
               false},
        Attack{"MailResultsAsMessage",
               {{"message_text", "results.csv"}, {"mail_to", "thief@attacker.test"}},
               false},
        Attack{"AttachResultsAfterRenamingThem",
               {{"results_file", "other.csv"}, {"attached_file", "results.csv"}},
               true},
        Attack{"StoredScriptInThankYouPage", {{"results_file", "thanks.htm"}}, true},
        Attack{"AppendToSettings", {{"entry_log", "brevix.ini"}}, true},
        Attack{"MailToThousands", {{"mail_to", ManyAddresses(4000)}}, false},
        Attack{"CopyToStrangers",
               {{"mail_cc", "a@attacker.test, b@attacker.test"}, {"mail_bcc", "c@attacker.test"}},
               false},
        Attack{
            "ReceiptToMany",
            {{"receipt_text", "message.txt"}, {"receipt_to", "a@attacker.test, b@attacker.test"}},
            true},
        Attack{"OtherMailServerOrPort", {{"smtp_server", "192.0.2.1"}, {"smtp_port", "1"}}, true}),
    [](const ::testing::TestParamInfo<Attack>& attack) { return std::string(attack.param.label); });

}  // namespace
}  // namespace gateway_test
