// Published properties: the mirroring to the current engine, session coupling, and
// the server variable lookup.

#include <gtest/gtest.h>

#include <chrono>

#include "engine/http_engine.h"
#include "engine/http_utils.h"
#include "engine_test_support.h"

namespace {

using engine_test::TTestEngine;

TEST(EnginePropertiesTest, WritesOnAnotherEngineReachTheCurrentEngine) {
  TTestEngine dispatcher;
  TTestEngine adapter;  // constructed last: the thread's current engine
  ASSERT_EQ(CurrentHttpEngine(), &adapter);
  bool ran = false;
  dispatcher.SetNoCache(true);
  dispatcher.SetAutoReadLimit(100000);
  dispatcher.SetTempDir("Uploads");
  dispatcher.SetSessionName("DefaultSession");
  dispatcher.AllowedMethods().SetPut(true);
  dispatcher.CGISession().SetFileBased(false);
  dispatcher.SetOnExecRequest([&](THttpEngine*) { ran = true; });
  EXPECT_TRUE(adapter.NoCache());
  EXPECT_EQ(adapter.AutoReadLimit(), 100000);
  EXPECT_EQ(adapter.TempDir(), "Uploads");
  EXPECT_EQ(adapter.SessionName(), "DefaultSession");
  EXPECT_EQ(adapter.CGISession().SessionName(), "DefaultSession");
  EXPECT_TRUE(adapter.AllowedMethods().Put());
  EXPECT_FALSE(adapter.CGISession().FileBased());
  EXPECT_EQ(adapter.CGISession().Visibility(), ThisApplication);
  ASSERT_TRUE(adapter.OnExecRequest);
  adapter.OnExecRequest(&adapter);
  EXPECT_TRUE(ran);
  // The current engine's own writes stay its own.
  adapter.SetNoCache(false);
  EXPECT_TRUE(dispatcher.NoCache());
}

TEST(SessionPropertiesTest, SharedSessionsAreAlwaysFileBased) {
  TSessionProperties session;
  session.SetFileBased(false);
  EXPECT_EQ(session.Visibility(), ThisApplication);
  session.SetVisibility(AllApplications);
  EXPECT_TRUE(session.FileBased());
  session.SetVisibility(ThisApplication);
  session.SetFileBased(false);
  EXPECT_EQ(session.Visibility(), ThisApplication);
  EXPECT_FALSE(session.FileBased());
}

struct VariableCase {
  const char* asked;
  std::vector<std::string> variables;
  const char* expected;
};

class ServerVariableTest : public ::testing::TestWithParam<VariableCase> {};

TEST_P(ServerVariableTest, NormalisesTheNameAndFollowsTheAliases) {
  TTestEngine engine;
  std::string value = "unset";
  engine.OnExecRequest = [&](THttpEngine*) { value = HttpServerVar(GetParam().asked); };
  engine.Run(GetParam().variables);
  EXPECT_EQ(value, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lookups, ServerVariableTest,
    ::testing::Values(
        VariableCase{"http referer", {"REFERER=http://a/"}, "http://a/"},
        VariableCase{"Http-Referer", {"HTTP_REFERER=http://b/"}, "http://b/"},
        VariableCase{"REFERER", {"HTTP_REFERER=http://c/"}, "http://c/"},
        VariableCase{"user agent", {"HTTP_USER_AGENT=ua"}, "ua"},
        VariableCase{"URL", {"SCRIPT_NAME=/cgi/x", "URL=/u"}, "/u"},
        VariableCase{"URI", {"EXECUTABLE_PATH=/e", "URL=/u"}, "/e"},
        VariableCase{"SERVER_NAME", {"SERVER_SOFTWARE=srv"}, "srv"},
        VariableCase{"ip", {"REMOTE_ADDRESS=10.0.0.1"}, "10.0.0.1"},
        VariableCase{"auth_user", {"HTTP_AUTHORIZATION=Basic dXNlcjpwYXNz"}, "user"},
        VariableCase{"AUTHENTICATED_PASSWORD", {"HTTP_AUTHORIZATION=Basic dXNlcjpwYXNz"}, "pass"},
        VariableCase{
            "AUTH_USER", {"AUTH_USER=real", "HTTP_AUTHORIZATION=Basic dXNlcjpwYXNz"}, "real"},
        VariableCase{"cookie", {"HTTP_COOKIE=c=1"}, "c=1"},
        VariableCase{"PATH", {"DOCUMENT_ROOT=/srv"}, "/srv"},
        VariableCase{"unknown-name", {"UNKNOWN_NAME=v"}, "v"}, VariableCase{"not there", {}, ""}));

TEST(ServerVariableTest, NumericGetters) {
  TTestEngine engine;
  std::vector<std::pair<std::string, int>> lengths = {
      {"42", 42}, {"", 0}, {"4x", 0}, {" 4", 0}, {"99999999999", 0}, {"-3", -3}};
  for (const auto& [text, expected] : lengths) {
    int length = -99;
    bool secure = true;
    engine.OnExecRequest = [&](THttpEngine* sender) {
      length = sender->ContentLength();
      secure = sender->ServerPortSecure();
    };
    engine.Run({"CONTENT_LENGTH=" + text, "SERVER_PORT_SECURE=0"});
    EXPECT_EQ(length, expected) << text;
    EXPECT_FALSE(secure);
  }
}

TEST(HttpUtilsTest, HttpDateIsGmtWithEnglishNames) {
  // 2026-12-06 11:25:43 UTC was a Sunday.
  auto moment = std::chrono::system_clock::from_time_t(1796556343);
  EXPECT_EQ(HttpDate(moment), "Sun, 06 Dec 2026 11:25:43 GMT");
  EXPECT_EQ(HttpDate(std::chrono::system_clock::from_time_t(0)), "Thu, 01 Jan 1970 00:00:00 GMT");
}

TEST(HttpUtilsTest, TextHelpers) {
  EXPECT_EQ(ColorToHtml(0x00FF8001), "\"#0180FF\"");
  EXPECT_EQ(ReplaceChar('\\', '/', "a\\b\\c"), "a/b/c");
  EXPECT_EQ(TextToList("one\r\ntwo\nthree")->Join("|"), "one|two|three");
}

}  // namespace
