// The cross-origin rule in-process: which answers name the origin, what a preflight says, and
// which posts are refused for their origin. (That a preflight runs no form and that a refused post
// costs nothing is script_answer_test.cpp, with the gateway as a process.)
#include "gateway/guards/cross_origin.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/guard_settings.h"
#include "common/profile_file.h"

namespace {

struct OriginCase {
  const char* name;
  const char* method;   // OPTIONS or POST
  const char* allowed;  // Allowed_Origins in brevix.ini
  std::string origin;   // the request's Origin; empty: none
  bool named;           // the answer names the origin
  bool refused = false;
  // HTTPS, REQUEST_SCHEME, HTTP_HOST, SERVER_PORT: the gateway's own origin.
  std::vector<const char*> own = {"", "", "", ""};
};

void PrintTo(const OriginCase& c, std::ostream* os) {
  *os << c.name;
}

class CrossOriginRuleTest : public ::testing::TestWithParam<OriginCase> {};

TEST_P(CrossOriginRuleTest, ListedOriginsAloneAreNamedOrMayPost) {
  const OriginCase& c = GetParam();
  TGuardSettings guards;
  guards.Load(TProfileFile::FromText("brevix.ini",
                                     "[Options]\r\nAllowed_Origins=" + std::string(c.allowed)));
  const std::vector<std::string>& allowed = guards.AllowedOrigins;
  const bool preflight = std::string(c.method) == "OPTIONS";
  std::vector<TAnswerHeader> expected;
  if (preflight) expected.emplace_back("HTTP/1.0 204 No Content", "");
  if (c.named) {
    expected.emplace_back("Access-Control-Allow-Origin", c.origin);
    expected.emplace_back("Vary", "Origin");
  }
  if (c.named && preflight) {
    expected.emplace_back("Access-Control-Allow-Methods", "POST");
    expected.emplace_back("Access-Control-Allow-Headers", "Content-Type, Accept");
    expected.emplace_back("Access-Control-Max-Age", "600");
  }
  EXPECT_EQ(CrossOriginHeaders(allowed, c.method, c.origin), expected);
  EXPECT_EQ(IsPreflight(c.method), preflight);
  if (preflight) return;
  const std::string own = OwnOrigin(c.own[0], c.own[1], c.own[2], c.own[3]);
  EXPECT_EQ(OriginRefused(allowed, c.origin, own), c.refused) << own;
}

INSTANTIATE_TEST_SUITE_P(
    Origins, CrossOriginRuleTest,
    ::testing::Values(
        OriginCase{"preflight_listed", "OPTIONS", "https://www.site.test", "https://www.site.test",
                   true},
        OriginCase{"preflight_other", "OPTIONS", "https://www.site.test", "https://evil.test",
                   false},
        OriginCase{"preflight_none_listed", "OPTIONS", "", "https://www.site.test", false},
        OriginCase{"preflight_without_origin", "OPTIONS", "https://www.site.test", "", false},
        OriginCase{"post_listed_among_several", "POST",
                   " https://a.test , http://127.0.0.1:8081,https://b.test",
                   "http://127.0.0.1:8081", true},
        // Browsers send scheme and host in lower case; the header repeats what the browser sent.
        OriginCase{"post_listed_other_case", "POST", "https://WWW.Site.test",
                   "https://www.site.test", true},
        OriginCase{"post_other", "POST", "https://www.site.test", "https://www.site.test.evil.test",
                   false, true},
        OriginCase{"post_prefix_of_listed", "POST", "https://www.site.test:8443",
                   "https://www.site.test", false, true},
        // Any page can be made to send "null" (a sandboxed frame, a data: page).
        OriginCase{"post_null", "POST", "null", "null", false, true},
        OriginCase{"post_without_origin", "POST", "https://www.site.test", "", false},
        OriginCase{"post_none_listed", "POST", "", "https://evil.test", false},
        // As the address bar shows it: a trailing slash, the scheme's own port.
        OriginCase{"post_listed_with_slash_and_port", "POST", "https://www.site.test:443/",
                   "https://www.site.test", true},
        OriginCase{"post_listed_http_default_port", "POST", "http://www.site.test:80",
                   "http://www.site.test", true},
        // The gateway's own site posts with an Origin too.
        OriginCase{"post_same_origin_https",
                   "POST",
                   "https://www.site.test",
                   "https://gw.test",
                   false,
                   false,
                   {"on", "", "gw.test:443", ""}},
        OriginCase{"post_same_origin_request_scheme",
                   "POST",
                   "https://www.site.test",
                   "https://gw.test",
                   false,
                   false,
                   {"", "HTTPS", "gw.test", ""}},
        // A Host without its port (Debian's nginx): the port the request came in on.
        OriginCase{"post_same_origin_server_port",
                   "POST",
                   "https://www.site.test",
                   "http://gw.test:8080",
                   false,
                   false,
                   {"", "", "gw.test", "8080"}},
        OriginCase{"post_same_origin_ipv6",
                   "POST",
                   "https://www.site.test",
                   "http://[::1]:8080",
                   false,
                   false,
                   {"", "", "[::1]", "8080"}},
        // An IPv6 Host names its port after the bracket; the colons inside it are no port.
        OriginCase{"post_same_origin_ipv6_host_port",
                   "POST",
                   "https://www.site.test",
                   "http://[::1]:8080",
                   false,
                   false,
                   {"", "", "[::1]:8080", "8080"}},
        OriginCase{"post_same_host_other_port",
                   "POST",
                   "https://www.site.test",
                   "http://gw.test",
                   false,
                   true,
                   {"", "", "gw.test", "8080"}},
        OriginCase{"post_same_host_other_scheme",
                   "POST",
                   "https://www.site.test",
                   "http://gw.test",
                   false,
                   true,
                   {"on", "", "gw.test", ""}}),
    [](const ::testing::TestParamInfo<OriginCase>& param_info) {
      return std::string(param_info.param.name);
    });

// The method is read as servers pass it on; a hostile origin reaches the error log as printable
// ASCII, cut after kMaxLoggedOrigin bytes.
TEST(CrossOriginRuleTest, PreflightMethodAndLoggedOrigin) {
  EXPECT_TRUE(IsPreflight(" options "));
  EXPECT_EQ(OriginForLog("https://e\x01\r\n\xc3\xa9" + std::string(300, 'a')),
            "https://e?????" + std::string(186, 'a') + "...");
  EXPECT_EQ(OriginForLog("https://a.test"), "https://a.test");
}

}  // namespace
