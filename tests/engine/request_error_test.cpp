// What the engine answers when a request fails, and the refusals of its input rules.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "engine/http_engine.h"
#include "engine_test_support.h"

namespace {

using engine_test::ScopedLogDir;
using engine_test::TTestEngine;

const std::string kErrorHead = "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\n";

std::string ReadLog(const ScopedLogDir& log) {
  for (const auto& entry : std::filesystem::directory_iterator(log.Dir())) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  return "";
}

class RequestErrorTest : public ::testing::Test {
 protected:
  ScopedLogDir log_;
  TTestEngine engine_;
};

TEST_F(RequestErrorTest, RaisingHandlerAnswersOnlyTheEscapedErrorPage) {
  engine_.OnExecRequest = [](THttpEngine* sender) {
    sender->AddHeader("X-Dropped", "1");
    HttpWrite("earlier text");
    throw Exception("bad <input>");
  };
  std::string answer = engine_.Run({"REQUEST_METHOD=GET"});
  EXPECT_EQ(answer, kErrorHead + "\r\n" +
                        "<html><body>Unhandled Exception: bad &lt;input&gt;</body></html>\r\n");
  std::string log = ReadLog(log_);
  EXPECT_NE(log.find(" : Unhandled Exception: bad <input>\r\n"), std::string::npos) << log;
}

// A file operation's message names its path: the log keeps it, the page the name alone.
TEST_F(RequestErrorTest, ErrorPageShowsNoFolderOfTheServer) {
  engine_.OnExecRequest = [](THttpEngine*) {
    throw Exception("Cannot open \"/srv/a b/up1\" /c/d");
  };
  const std::string answer = engine_.Run({"REQUEST_METHOD=GET"});
  EXPECT_NE(answer.find("Exception: Cannot open &quot;up1&quot; d</body>"), std::string::npos);
  EXPECT_NE(ReadLog(log_).find("Cannot open \"/srv/a b/up1\" /c/d\r\n"), std::string::npos);
}

TEST_F(RequestErrorTest, OtherStandardExceptionsAlsoEndInTheErrorPage) {
  engine_.OnExecRequest = [](THttpEngine*) { throw std::runtime_error("runtime trouble"); };
  std::string answer = engine_.Run({"REQUEST_METHOD=GET"});
  EXPECT_NE(answer.find("Unhandled Exception: runtime trouble"), std::string::npos) << answer;
}

TEST_F(RequestErrorTest, OnRequestErrorReplacesTheDefaultHandling) {
  std::string seen;
  engine_.OnExecRequest = [](THttpEngine*) { throw Exception("first"); };
  engine_.OnRequestError = [&](THttpEngine* sender, const Exception& error) {
    seen = error.Message();
    sender->ClearResponse();
    HttpWrite("handled");
  };
  std::string answer = engine_.Run({"REQUEST_METHOD=GET"});
  EXPECT_EQ(seen, "first");
  EXPECT_EQ(answer.substr(answer.size() - 7), "handled");
  EXPECT_EQ(ReadLog(log_), "");
}

TEST_F(RequestErrorTest, FailureInsideOnRequestErrorGetsTheDefaultHandling) {
  engine_.OnExecRequest = [](THttpEngine*) { throw Exception("first"); };
  engine_.OnRequestError = [](THttpEngine*, const Exception&) { throw Exception("second"); };
  std::string answer = engine_.Run({"REQUEST_METHOD=GET"});
  EXPECT_NE(answer.find("Unhandled Exception: second"), std::string::npos);
  EXPECT_EQ(answer.find("first"), std::string::npos);
}

struct Refusal {
  const char* name;
  std::vector<std::string> variables;
  bool get, post, put;
  int limit;
  const char* message;  // "" when accepted
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
  *out << refusal.name;
}

class InputRuleTest : public RequestErrorTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(InputRuleTest, RefusesBeforeTheHandlerRunsOrAccepts) {
  const Refusal& rule = GetParam();
  engine_.AllowedMethods().SetGet(rule.get);
  engine_.AllowedMethods().SetPost(rule.post);
  engine_.AllowedMethods().SetPut(rule.put);
  engine_.SetAutoReadLimit(rule.limit);
  bool handler_ran = false;
  int body_bytes_left = -1;
  engine_.OnExecRequest = [&](THttpEngine*) { handler_ran = true; };
  engine_.OnRequestError = [&](THttpEngine* sender, const Exception& error) {
    HttpWrite("refused: " + error.Message());
    char probe[8];
    body_bytes_left = sender->ReadInput(probe, 1);
  };
  // The body is as long as announced: a shorter one is refused as cut off.
  std::string body = "a=1";
  for (const std::string& variable : rule.variables) {
    if (variable.rfind("CONTENT_LENGTH=", 0) == 0)
      body.resize(std::stoul(variable.substr(15)), 'x');
  }
  std::string answer = engine_.Run(rule.variables, body);
  if (*rule.message == '\0') {
    EXPECT_TRUE(handler_ran);
  } else {
    EXPECT_FALSE(handler_ran);
    EXPECT_NE(answer.find(std::string("refused: ") + rule.message), std::string::npos) << answer;
    EXPECT_EQ(body_bytes_left, 1) << "the body was read before the refusal";
  }
}

const std::vector<std::string> kPost = {"REQUEST_METHOD=POST", "CONTENT_LENGTH=3",
                                        "CONTENT_TYPE=application/x-www-form-urlencoded"};
const std::vector<std::string> kMultipart = {"REQUEST_METHOD=POST", "CONTENT_LENGTH=3",
                                             "CONTENT_TYPE=Multipart/Form-Data; boundary=z"};
const std::vector<std::string> kBig = {"REQUEST_METHOD=POST", "CONTENT_LENGTH=100001"};
const std::vector<std::string> kLimit = {"REQUEST_METHOD=POST", "CONTENT_LENGTH=100000"};

INSTANTIATE_TEST_SUITE_P(
    Rules, InputRuleTest,
    ::testing::Values(
        Refusal{"PostNotAllowed", kPost, true, false, true, -1, "Method not allowed (POST)"},
        Refusal{"PutGatesMultipart", kMultipart, true, true, false, -1, "Method not allowed (PUT)"},
        Refusal{"GetNotAllowed",
                {"REQUEST_METHOD=get"},
                false,
                true,
                true,
                -1,
                "Method not allowed (GET)"},
        Refusal{"GetOffStillAcceptsPost", kPost, false, true, false, -1, ""},
        Refusal{"OverLimit", kBig, true, true, true, 100000,
                "Content length exceeds allowed limit"},
        Refusal{"AtLimit", kLimit, true, true, true, 100000, ""},
        Refusal{"NoLimitWhenZero", kBig, true, true, true, 0, ""}),
    [](const ::testing::TestParamInfo<Refusal>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
