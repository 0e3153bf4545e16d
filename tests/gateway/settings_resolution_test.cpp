// A request's settings in-process (settings_resolution.h): the form's fields over a site's
// brevix.ini, for a request to Own.Test:8080. The mail server a form may choose, and the answer
// pages: an address leads only to this site or to a host of Allowed_Redirects. Any other choice
// is ignored for the ini's own, with one log line.
#include "gateway/settings_resolution.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "common/guard_settings.h"
#include "common/options.h"
#include "common/profile_file.h"
#include "mail/smtp_send_mail.h"

namespace {

using Fields = std::map<std::string, std::string>;

class SettingsResolutionTest : public ::testing::Test {
 protected:
  // Resolves `fields` over brevix.ini's `lines`.
  void Resolve(const std::string& lines, const Fields& fields) {
    const TProfileFile ini = TProfileFile::FromText("brevix.ini", "[Options]\r\n" + lines);
    guards_.Load(ini);
    guards_.IniFound = true;  // the text stands for a file on disk
    configured_.Load(ini);
    options_ = configured_;
    const TFormFileGuard files(configured_, options_, guards_.AllowedFormFiles,
                               {"/nonexistent/", "/nonexistent/brevix.cgi", "Temp", ""});
    const auto form = [&fields](const std::string& name, const std::string& if_absent) {
      const auto field = fields.find(name);
      return field == fields.end() ? if_absent : field->second;
    };
    const auto log = [this](const std::string& line) { log_.push_back(line); };
    TSettingsResolution(
        {form, guards_, configured_, files, "http://own.test/form.html", "Own.Test:8080", log})
        .Resolve(options_, mail_, empty_mark_);
  }

  TGuardSettings guards_;
  TBXOptions configured_;
  TBXOptions options_;
  TSmtpSendMail mail_;
  std::string empty_mark_;
  std::vector<std::string> log_;
};

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

}  // namespace
