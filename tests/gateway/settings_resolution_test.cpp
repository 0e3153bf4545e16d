// The answer pages a form may choose (settings_resolution.h), in-process: an address leads only
// to this site or to a host of Allowed_Redirects. hardening_test.cpp runs it through the gateway.
#include "gateway/settings_resolution.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/guard_settings.h"
#include "common/options.h"
#include "common/profile_file.h"

namespace {

struct RedirectCase {
  const char* value;     // the form's info_missing_page
  const char* answered;  // the address the visitor is sent to
};

void PrintTo(const RedirectCase& c, std::ostream* os) {
  *os << c.value;
}

class FormRedirectRuleTest : public ::testing::TestWithParam<RedirectCase> {};

// Any other address is ignored for the ini's own page (an address itself, used as it stands)
// with one log line.
TEST_P(FormRedirectRuleTest, OnlyOwnAndListedHosts) {
  const RedirectCase& c = GetParam();
  const TProfileFile ini = TProfileFile::FromText(
      "brevix.ini",
      "[Options]\r\nInfo_Missing_Page=http://own.test/ini\r\nAllowed_Redirects= Shop.Test "
      ",other.test\r\n");
  TGuardSettings guards;
  guards.Load(ini);
  TBXOptions configured;
  configured.Load(ini);
  const TFormFileGuard files(configured, configured, guards.AllowedFormFiles,
                             {"/nonexistent/", "/nonexistent/brevix.cgi", "Temp", ""});
  std::vector<std::string> log;
  const TSettingsResolution resolution(
      {[&c](const std::string& name, const std::string& if_absent) {
         return name == "info_missing_page" ? std::string(c.value) : if_absent;
       },
       guards, configured, files, "http://own.test/form.html", "Own.Test:8080",
       [&log](const std::string& line) { log.push_back(line); }});
  EXPECT_EQ(resolution.PageName("info_missing_page", configured.Info_Missing_Page), c.answered);
  std::vector<std::string> expected_log;
  if (std::string(c.answered) != c.value) {
    expected_log.push_back(std::string("Brevix BX Reports: Refused form field info_missing_page ") +
                           c.value + " (add its host to Allowed_Redirects in brevix.ini)");
  }
  EXPECT_EQ(log, expected_log);
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

}  // namespace
