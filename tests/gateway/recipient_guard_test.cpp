// The recipient guard in-process (recipient_guard.h), over a site's brevix.ini; the server guard
// is settings_resolution_test.cpp. mail_guard_test.cpp runs them through the gateway: what a
// refusal costs and what is sent.
#include "gateway/guards/recipient_guard.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/guard_settings.h"
#include "common/options.h"
#include "common/profile_file.h"

namespace {

// A site's settings from the lines of its brevix.ini.
struct Site {
  explicit Site(const std::string& lines) {
    const TProfileFile ini = TProfileFile::FromText("brevix.ini", "[Options]\r\n" + lines);
    guards.Load(ini);
    guards.IniFound = true;  // the text stands for a file on disk
    configured.Load(ini);
  }
  TGuardSettings guards;
  TBXOptions configured;
};

const std::string kRecipientsIni =
    "Mail_To=owner@site.test\r\nMail_CC=Boss <boss@site.test>\r\n"
    "Allowed_Recipients=sales@site.test, @Example.COM\r\n";

struct RecipientCase {
  const char* label;
  std::string ini;          // added to kRecipientsIni (a later line of a key wins)
  std::string to, cc, bcc;  // the form's mail_to, mail_cc and mail_bcc; empty: none
  std::string log;          // the error-log line of a refusal; empty: the mail may go
  const char* error = kRecipientNotAllowed;
};

void PrintTo(const RecipientCase& c, std::ostream* os) {
  *os << c.label;
}

class RecipientRuleTest : public ::testing::TestWithParam<RecipientCase> {};

TEST_P(RecipientRuleTest, OnlyTheOwnersRecipientsAndAtMostMaxRecipients) {
  const RecipientCase& c = GetParam();
  const Site site(c.ini + kRecipientsIni);
  // The mail as it would go: a form's value replaces the ini's.
  const TBXOptions& ini = site.configured;
  const std::string to = c.to.empty() ? ini.Mail_To : c.to;
  const std::string cc = c.cc.empty() ? ini.Mail_CC : c.cc;
  const std::string bcc = c.bcc.empty() ? ini.Mail_BCC : c.bcc;
  const auto refusal = CheckMainMailRecipients(site.guards, ini, {to, cc, bcc, c.to, c.cc, c.bcc});
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
