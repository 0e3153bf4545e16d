#include "engine/http_engine.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/http_utils.h"
#include "engine/watchdog.h"
#include "engine_test_support.h"

namespace {

using engine_test::ScopedLogDir;
using engine_test::StringSource;
using engine_test::TTestEngine;

const std::vector<std::string> kGet = {"REQUEST_METHOD=GET", "SERVER_SOFTWARE=test"};

class HttpEngineTest : public ::testing::Test {
 protected:
  ScopedLogDir log_;
  TTestEngine engine_;
};

TEST_F(HttpEngineTest, OrdinaryAnswerPutsHandlerHeadersBeforeLengthAndNoCacheLast) {
  engine_.SetNoCache(true);
  engine_.OnExecRequest = [](THttpEngine* sender) {
    sender->AddHeader("Set-Cookie", "a=1");
    HttpWrite("hello");
  };
  std::string answer = engine_.Run(kGet);
  EXPECT_TRUE(engine_test::MatchesPattern(answer,
                                          "HTTP/1.0 200 OK\r\n"
                                          "content-type: text/html\r\n"
                                          "Set-Cookie: a=1\r\n"
                                          "content-length: 5\r\n"
                                          "Connection: Keep-Alive\r\n"
                                          "Pragma: no-cache\r\n"
                                          "Cache-Control: no-cache\r\n"
                                          "Expires: {date}\r\n"
                                          "\r\nhello"))
      << answer;
}

TEST_F(HttpEngineTest, HandlerContentTypeAndLengthAreKept) {
  engine_.OnExecRequest = [](THttpEngine* sender) {
    sender->AddHeader("Content-Type", "text/plain");
    sender->AddHeader("Content-Length", "2");
    HttpWrite("ok");
  };
  EXPECT_EQ(engine_.Run(kGet),
            "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok");
}

// The header block and a page leave in one write (one wake-up of the web server); a download
// larger than 64 KB is not copied for it and follows the block in a write of its own.
class AnswerWritesTest : public HttpEngineTest, public ::testing::WithParamInterface<int> {};

TEST_P(AnswerWritesTest, HeaderBlockGoesWithABodyUpTo64KB) {
  const std::string body(static_cast<size_t>(GetParam()), 'x');
  engine_.OnExecRequest = [&](THttpEngine*) { HttpWrite(body); };
  std::vector<int> writes;
  const std::string answer = engine_.Run(kGet, "", &writes);
  const size_t block = answer.find("\r\n\r\n") + 4;
  ASSERT_EQ(answer.substr(block), body);
  const std::vector<int> expected = body.size() <= 64 * 1024
                                        ? std::vector<int>{static_cast<int>(answer.size())}
                                        : std::vector<int>{static_cast<int>(block), GetParam()};
  EXPECT_EQ(writes, expected);
}

INSTANTIATE_TEST_SUITE_P(BodySizes, AnswerWritesTest, ::testing::Values(0, 725, 65536, 65537));

TEST_F(HttpEngineTest, WithoutAutoHeaderOnlyQueuedHeadersGoOut) {
  engine_.SetAutoHttpHeader(false);
  engine_.OnExecRequest = [](THttpEngine*) { HttpWrite("raw"); };
  EXPECT_EQ(engine_.Run(kGet), "raw");
}

TEST_F(HttpEngineTest, ClearResponseDropsHeadersAndBody) {
  engine_.OnExecRequest = [](THttpEngine* sender) {
    sender->AddHeader("X-Gone", "1");
    HttpWrite("gone");
    sender->ClearResponse();
    HttpWriteLn("kept");
  };
  EXPECT_EQ(engine_.Run(kGet),
            "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\ncontent-length: 6\r\n"
            "Connection: Keep-Alive\r\n\r\nkept\r\n");
}

TEST_F(HttpEngineTest, WriteStreamCopiesFromTheCurrentPositionInChunks) {
  engine_.SetAutoHttpHeader(false);
  std::string text(5000, 'x');
  text[0] = 'S';
  engine_.OnExecRequest = [&](THttpEngine* sender) {
    TMemoryStream stream;
    stream.WriteString("skip" + text);
    stream.SetPosition(4);
    sender->WriteStream(stream);
  };
  EXPECT_EQ(engine_.Run(kGet), text);
}

TEST_F(HttpEngineTest, WritesOutsideARequestAreIgnored) {
  HttpWrite("nowhere");
  engine_.AddHeader("X", "1");
  EXPECT_EQ(HttpFields(), nullptr);
  EXPECT_EQ(HttpFormVar("x", "def"), "def");
  EXPECT_EQ(engine_.Run(kGet), "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\n\r\n");
}

struct ReadCase {
  int body_size;
  std::vector<int> reads;  // the counts asked of the stream
};

class ReadInputTest : public HttpEngineTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadInputTest, ReadsInChunksOfAtMost1032Bytes) {
  std::vector<int> requests;
  std::string body(static_cast<size_t>(GetParam().body_size), 'b');
  int result = 0;
  std::string got(body.size(), '\0');
  engine_.SetAutoReadInput(false);
  engine_.OnExecRequest = [&](THttpEngine* sender) {
    RequestContext().InputStream = std::make_unique<StringSource>(body, &requests);
    result = sender->ReadInput(got.data(), static_cast<int>(got.size()));
  };
  engine_.Run(kGet);
  EXPECT_EQ(result, GetParam().body_size);
  EXPECT_EQ(got, body);
  EXPECT_EQ(requests, GetParam().reads);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReadInputTest,
                         ::testing::Values(ReadCase{1032, {1032}}, ReadCase{1033, {1032, 1}},
                                           ReadCase{3000, {1032, 1032, 936}}));

TEST_F(HttpEngineTest, ReadInputReportsMissingAndEndedInput) {
  int without_stream = 0;
  int ended = 0;
  int short_read = 0;
  engine_.SetAutoReadInput(false);
  engine_.OnExecRequest = [&](THttpEngine* sender) {
    char buffer[10];
    RequestContext().InputStream.reset();
    without_stream = sender->ReadInput(buffer, 10);
    RequestContext().InputStream = std::make_unique<StringSource>("abc");
    short_read = sender->ReadInput(buffer, 10);
    ended = sender->ReadInput(buffer, 10);
  };
  engine_.Run(kGet);
  EXPECT_EQ(without_stream, -1);
  EXPECT_EQ(short_read, 3);
  EXPECT_EQ(ended, -1);
}

// An armed watchdog left behind would end a slow handler (mail sending) 30 s later.
TEST_F(HttpEngineTest, WatchdogIsDisarmedWhileTheHandlerRuns) {
  for (const std::string method : {"GET", "POST"}) {
    bool armed_in_handler = true;
    engine_.OnExecRequest = [&](THttpEngine*) {
      armed_in_handler = watchdog::Deadline() != std::chrono::steady_clock::time_point{};
    };
    engine_.Run({"REQUEST_METHOD=" + method, "CONTENT_LENGTH=3", "QUERY_STRING=q=1"}, "a=1");
    EXPECT_FALSE(armed_in_handler) << method;
  }
}

struct FormCase {
  const char* name;
  std::vector<std::string> variables;
  std::string body;
  std::vector<std::string> fields;
};

void PrintTo(const FormCase& form, std::ostream* out) {
  *out << form.name;
}

class ReadFormInputTest : public HttpEngineTest, public ::testing::WithParamInterface<FormCase> {};

TEST_P(ReadFormInputTest, DecodesBodyAndQueryIntoOneTable) {
  std::vector<std::string> fields;
  engine_.OnExecRequest = [&](THttpEngine*) {
    fields.assign(HttpFields()->begin(), HttpFields()->end());
  };
  engine_.Run(GetParam().variables, GetParam().body);
  EXPECT_EQ(fields, GetParam().fields);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadFormInputTest,
    ::testing::Values(
        FormCase{"BodyThenQuery",
                 {"REQUEST_METHOD=POST", "CONTENT_LENGTH=3", "QUERY_STRING=a=2"},
                 "A=1",
                 {"a=1\r\n2"}},
        FormCase{"ZeroLengthPostStillDecodesTheQuery",
                 {"REQUEST_METHOD=post", "CONTENT_LENGTH=0", "QUERY_STRING=q=1"},
                 "ignored=1",
                 {"q=1"}},
        FormCase{"BodyBeyondTheAnnouncedLengthIsIgnored",
                 {"REQUEST_METHOD=POST", "CONTENT_LENGTH=3"},
                 "a=1&b=2",
                 {"a=1"}},
        FormCase{"NonNumericLengthReadsNoBody",
                 {"REQUEST_METHOD=POST", "CONTENT_LENGTH=12x"},
                 "a=1",
                 {}},
        FormCase{"GetReadsNoBody", {"REQUEST_METHOD=GET", "CONTENT_LENGTH=3"}, "a=1", {}},
        FormCase{"QueryFoundThroughItsAlias", {"REQUEST_METHOD=GET", "QUERY=x=9"}, "", {"x=9"}}),
    [](const ::testing::TestParamInfo<FormCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST_F(HttpEngineTest, FormFieldSentEmptyYieldsTheDefault) {
  std::string b;
  std::string a;
  std::string missing;
  engine_.OnExecRequest = [&](THttpEngine*) {
    a = HttpFormVar("A", "x");
    b = HttpFormVar("b", "x");
    missing = HttpFormVar("c", "dflt");
  };
  engine_.Run({"REQUEST_METHOD=GET", "QUERY_STRING=a=1&a=2&b="});
  EXPECT_EQ(a, "1\r\n2");
  EXPECT_EQ(b, "x");
  EXPECT_EQ(missing, "dflt");
}

TEST_F(HttpEngineTest, FieldNamesAreANewListInTableOrder) {
  std::unique_ptr<TStringList> names;
  engine_.OnExecRequest = [&](THttpEngine*) { names = HttpFieldNames(); };
  engine_.Run({"REQUEST_METHOD=GET", "QUERY_STRING=zeta=1&Alpha=2&mid=3"});
  ASSERT_NE(names, nullptr);
  EXPECT_EQ(names->Join(","), "Alpha,mid,zeta");
}

}  // namespace
