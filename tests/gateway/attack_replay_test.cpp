// Each way a hostile visitor could once use the gateway with hidden fields alone, replayed
// against the real program: none may read, write, relay or reach what the site owner did not
// allow. The guards' own tests go into detail; this table keeps the known attacks closed.
#include <ostream>
#include <string>

#include "gateway_site.h"

namespace gateway_test {
namespace {

class AttackReplayTest : public GatewaySite {
 protected:
  void SetUp() override {
    GatewaySite::SetUp();
    ini_["Response_Page"] = "thanks.htm";
    ini_["Info_Missing_Page"] = "missing.htm";
    ini_["Message_Text"] = "message.txt";
    ini_["Receipt_Text"] = "receipt.txt";
    ini_["Results_File"] = "results.csv";
    ini_["Entry_Log"] = "entries.log";
    ini_["Owner_Note"] = "SECRET-INI";
    for (const auto& [name, text] : kSiteFiles) WriteFile(name, text);
  }

  const std::map<std::string, std::string> kSiteFiles = {
      {"thanks.htm", "thanks"},
      {"missing.htm", "missing"},
      {"message.txt", "Message from %namereq%"},
      {"receipt.txt", "Thank you"},
      {"results.csv", "\"SECRET-RESULTS\"\r\n"},
      {"entries.log", "SECRET-ENTRIES\r\n"},
  };
};

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

class AttackTableTest : public AttackReplayTest, public ::testing::WithParamInterface<Attack> {};

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
    EXPECT_EQ(smtp_.WaitForMessages(1, std::chrono::seconds(2)), 0);
  }
  for (int n = 1; n <= smtp_.MessageCount(); ++n) {
    const auto mail = smtp_.Message(n);
    EXPECT_EQ(mail.raw.find("SECRET"), std::string::npos) << mail.raw;
    for (const std::string& to : mail.recipients) {
      EXPECT_EQ(to.find("attacker.test"), std::string::npos) << to;
    }
  }
  for (const auto& [name, text] : kSiteFiles) {
    if (name == "results.csv" || name == "entries.log") continue;  // gain this request's lines
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
        Attack{"ReceiptToMany", {{"receipt_to", "a@attacker.test, b@attacker.test"}}, true},
        Attack{"OtherMailServerOrPort", {{"smtp_server", "192.0.2.1"}, {"smtp_port", "1"}}, true}),
    [](const ::testing::TestParamInfo<Attack>& attack) { return std::string(attack.param.label); });

}  // namespace
}  // namespace gateway_test
