// The engine run as a real CGI process (build/bin/engine_test_cgi): environment and standard
// input in; standard output, exit code, log and upload files out.

#include "support/cgi_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "engine_test_support.h"

namespace {

namespace fs = std::filesystem;
using cgi_test::CgiResult;
using cgi_test::CgiRun;
using engine_test::ReadFile;

int CountOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class CgiProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    log_dir_ = fs::temp_directory_path() / ("engine_cgi_" + std::to_string(getpid()) + "_" + name);
    fs::remove_all(log_dir_);
    fs::create_directories(log_dir_);
  }
  void TearDown() override { fs::remove_all(log_dir_); }

  CgiRun Request(const std::string& action, const std::string& method = "GET",
                 const std::string& query = "") {
    CgiRun run;
    run.program = cgi_test::BinDir() + "engine_test_cgi";
    run.env = cgi_test::CgiEnvironment(method, query);
    run.env["CGI_LOG_DIR"] = log_dir_.string();
    if (!action.empty()) run.env["TEST_CGI_ACTION"] = action;
    return run;
  }

  static CgiRun Post(CgiRun run, const std::string& body) {
    run.env["CONTENT_LENGTH"] = std::to_string(body.size());
    run.env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    run.input = body;
    return run;
  }

  std::string Log() const { return ReadFile(log_dir_ / "engine_test_cgi.Log"); }

  fs::path log_dir_;
};

TEST_F(CgiProcessTest, OrdinaryRequestAnswersWithStatusHeadersAndBody) {
  CgiResult result = cgi_test::RunCgi(Request("html"));
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_TRUE(engine_test::MatchesPattern(result.output,
                                          "Status: 200 OK\r\n"
                                          "content-type: text/html\r\n"
                                          "content-length: 12\r\n"
                                          "Connection: Keep-Alive\r\n"
                                          "Pragma: no-cache\r\n"
                                          "Cache-Control: no-cache\r\n"
                                          "Expires: {date}\r\n"
                                          "\r\n"
                                          "<p>Hello</p>"))
      << result.output;
}

TEST_F(CgiProcessTest, HandlerThatQueuesLocationGetsNoStatusTypeOrNoCacheHeaders) {
  CgiResult result = cgi_test::RunCgi(Request("location"));
  ASSERT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output,
            "location: http://127.0.0.1/done.html\r\n"
            "content-length: 5\r\n"
            "Connection: Keep-Alive\r\n"
            "\r\n"
            "moved");
}

TEST_F(CgiProcessTest, HandlerThatWritesNothingStillGetsStatusAndTypeButNoLength) {
  CgiResult result = cgi_test::RunCgi(Request("nothing"));
  ASSERT_EQ(result.exit_code, 0);
  EXPECT_EQ(
      result.output.rfind("Status: 200 OK\r\ncontent-type: text/html\r\nPragma: no-cache\r\n", 0),
      0u)
      << result.output;
  EXPECT_EQ(result.output.find("content-length"), std::string::npos);
  EXPECT_EQ(result.output.substr(result.output.size() - 4), "\r\n\r\n");
}

TEST_F(CgiProcessTest, HandlerThatRaisesAnswersOnlyTheErrorPageAndLogsOneLine) {
  CgiResult result = cgi_test::RunCgi(Request("raise"));
  ASSERT_EQ(result.exit_code, 0);
  const std::string page =
      "<html><body>Unhandled Exception: Handler failed &lt;here&gt;</body></html>\r\n";
  EXPECT_EQ(result.output.find("written before"), std::string::npos);
  EXPECT_EQ(result.output.rfind("Status: 200 OK\r\ncontent-type: text/html\r\n", 0), 0u);
  EXPECT_EQ(result.output.substr(result.output.size() - page.size()), page) << result.output;
  std::string log = Log();
  EXPECT_EQ(CountOf(log, "\r\n"), 1) << log;
  // m/d/yyyy h:nn:ss AM/PM,  <request number> : <text>
  EXPECT_TRUE(engine_test::MatchesPattern(
      log,
      "{digits}/{digits}/{digits} {digits}:{digits}:{digits} {word}  {digits} : "
      "Unhandled Exception: Handler failed <here>\r\n"))
      << log;
}

struct Refusal {
  const char* name;
  const char* method;
  const char* content_type;
  const char* content_length;
  const char* setting;  // TEST_CGI_* variable set to 0 ("" for none)
  const char* message;
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
  *out << refusal.name;
}

class RefusalTest : public CgiProcessTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, RefusedBeforeTheHandlerWithErrorPageAndLogLine) {
  const Refusal& refusal = GetParam();
  CgiRun run = Request("fields", refusal.method, "q=1");
  run.env["CONTENT_TYPE"] = refusal.content_type;
  run.env["CONTENT_LENGTH"] = refusal.content_length;
  if (*refusal.setting != '\0') run.env[refusal.setting] = "0";
  // The body is never read, so the process must not wait for it either.
  run.input = "a=1";
  CgiResult result = cgi_test::RunCgi(run);
  ASSERT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.error.find("request runs"), std::string::npos);
  EXPECT_NE(result.output.find(std::string("<html><body>Unhandled Exception: ") + refusal.message +
                               "</body></html>"),
            std::string::npos)
      << result.output;
  EXPECT_NE(Log().find(std::string(" : Unhandled Exception: ") + refusal.message + "\r\n"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusalTest,
    ::testing::Values(
        Refusal{"OverLimit", "POST", "application/x-www-form-urlencoded", "100001", "",
                "Content length exceeds allowed limit: 100001 bytes sent, 100000 allowed"},
        Refusal{"MultipartOverLimit", "POST", "multipart/form-data; boundary=x", "100001", "",
                "Content length exceeds allowed limit: 100001 bytes sent, 100000 allowed"},
        Refusal{"PostNotAllowed", "POST", "application/x-www-form-urlencoded", "3", "TEST_CGI_POST",
                "Method not allowed (POST)"},
        Refusal{"PutNotAllowed", "POST", "multipart/form-data; boundary=x", "3", "TEST_CGI_PUT",
                "Method not allowed (PUT)"},
        Refusal{"GetNotAllowed", "GET", "", "", "TEST_CGI_GET", "Method not allowed (GET)"}),
    [](const ::testing::TestParamInfo<Refusal>& param_info) {
      return std::string(param_info.param.name);
    });

TEST_F(CgiProcessTest, BodyOfExactlyTheLimitIsReadAndMergedWithTheQuery) {
  std::string body = "A=1&big=" + std::string(100000 - 8, 'x');
  CgiResult result = cgi_test::RunCgi(Post(Request("fields", "POST", "a=2"), body));
  ASSERT_EQ(result.exit_code, 0);
  // Body fields come first, the query's second; one entry for both spellings of the name.
  EXPECT_NE(result.output.find("\r\n\r\na=1|2\r\n"), std::string::npos)
      << result.output.substr(0, 300);
  EXPECT_NE(result.output.find("big=" + std::string(100000 - 8, 'x') + "\r\n"), std::string::npos);
}

// The fields that arrived are not the form the client sent: the handler never sees them.
TEST_F(CgiProcessTest, ClientThatClosesEarlyGetsTheErrorPageAtOnce) {
  CgiRun run = Post(Request("fields", "POST"), "a=1&b=2");
  run.env["CONTENT_LENGTH"] = "50";  // more than will ever come
  run.timeout = std::chrono::seconds(15);
  CgiResult result = cgi_test::RunCgi(run);
  ASSERT_FALSE(result.timed_out) << "a closed input must not wait for the watchdog";
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.output.find("Unhandled Exception: Request body incomplete: 7 of 50 bytes"),
            std::string::npos)
      << result.output;
  EXPECT_EQ(result.output.find("a=1"), std::string::npos) << result.output;
}

TEST_F(CgiProcessTest, LogGoesBelowTheProgramFolderWithoutCgiLogDir) {
  std::string tag = "tag" + std::to_string(getpid());
  CgiRun run = Request("log", "GET", "tag=" + tag);
  run.env.erase("CGI_LOG_DIR");
  CgiResult result = cgi_test::RunCgi(run);
  ASSERT_EQ(result.exit_code, 0);
  EXPECT_NE(ReadFile(cgi_test::BinDir() + "log/engine_test_cgi.Log").find("handler line " + tag),
            std::string::npos);
}

TEST_F(CgiProcessTest, SendResponseTwiceEmitsTheHeaderBlockOnce) {
  CgiResult result = cgi_test::RunCgi(Request("twice"));
  ASSERT_EQ(result.exit_code, 0);
  EXPECT_EQ(CountOf(result.output, "Status: "), 1);
  EXPECT_EQ(CountOf(result.output, "\r\n\r\n"), 1);
  EXPECT_EQ(result.output.find("content-length"), std::string::npos);
  EXPECT_EQ(result.output.substr(result.output.size() - 22), "first part;second part");
}

TEST_F(CgiProcessTest, StatusLineQueuedByTheHandlerReplacesTheEngines) {
  CgiResult result = cgi_test::RunCgi(Request("status"));
  ASSERT_EQ(result.exit_code, 0);
  EXPECT_EQ(CountOf(result.output, "Status: "), 1);
  EXPECT_EQ(result.output.rfind("content-type: text/html\r\nStatus: 404 Not Found\r\n", 0), 0u)
      << result.output;
}

TEST_F(CgiProcessTest, HeaderNamesAndValuesThatWouldBreakTheAnswerNeverReachTheServer) {
  CgiResult result = cgi_test::RunCgi(Request("badheader"));
  ASSERT_EQ(result.exit_code, 0);
  std::string head = result.output.substr(0, result.output.find("\r\n\r\n") + 2);
  EXPECT_EQ(head.find("Document Expires"), std::string::npos);
  EXPECT_EQ(head.find("\r\nX-Injected"), std::string::npos);
  EXPECT_NE(head.find("\r\nX-Good: line  X-Injected: yes\r\n"), std::string::npos) << head;
  EXPECT_NE(Log().find("Header not sent (invalid name): Document Expires"), std::string::npos);
}

TEST_F(CgiProcessTest, AttachmentHeadersCarryTheBareFileName) {
  CgiResult result = cgi_test::RunCgi(Request("attachment"));
  ASSERT_EQ(result.exit_code, 0);
  EXPECT_NE(result.output.find("Status: 200 OK\r\n"
                               "Content-Type: application/binary; name=report.txt\r\n"
                               "Content-Transfer-Encoding: 8bit\r\n"
                               "Content-Disposition: attachment; filename=report.txt\r\n"),
            std::string::npos)
      << result.output;
}

TEST_F(CgiProcessTest, DebugAlwaysAnswersThePlainTextPageWithTrailer) {
  CgiRun run = Post(Request("html", "POST"), "x=posted");
  run.env["TEST_CGI_DEBUG"] = "2";
  run.env["TEST_CGI_NOCACHE"] = "0";
  CgiResult result = cgi_test::RunCgi(run);
  ASSERT_EQ(result.exit_code, 0);
  const std::string expected_start =
      "Status: 200 OK\r\ncontent-type: text/plain\r\n\r\n"
      "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\ncontent-length: 12\r\n"
      "Connection: Keep-Alive\r\n\r\n<p>Hello</p>\r\n(*** END ***)\r\n"
      "\r\n(************************)\r\n(***    User Log      ***)\r\n"
      "(************************)\r\n";
  EXPECT_EQ(result.output.substr(0, expected_start.size()), expected_start) << result.output;
  EXPECT_NE(result.output.find("(***   Client input   ***)\r\n(************************)\r\n"
                               "x=posted\r\n"),
            std::string::npos);
  EXPECT_NE(result.output.find("(*** Server variables ***)"), std::string::npos);
  EXPECT_NE(result.output.find("REQUEST_METHOD=POST"), std::string::npos);
}

TEST_F(CgiProcessTest, DebugExceptionShowsTheLogLineInsteadOfTheErrorPage) {
  CgiRun run = Request("raise");
  run.env["TEST_CGI_DEBUG"] = "1";
  CgiResult result = cgi_test::RunCgi(run);
  ASSERT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output.rfind("Status: 200 OK\r\ncontent-type: text/plain\r\n\r\n", 0), 0u);
  EXPECT_EQ(result.output.find("<html><body>"), std::string::npos);
  size_t user_log = result.output.find("(***    User Log      ***)");
  ASSERT_NE(user_log, std::string::npos);
  EXPECT_NE(result.output.find(" : Unhandled Exception: Handler failed <here>\r\n", user_log),
            std::string::npos)
      << result.output;
}

TEST_F(CgiProcessTest, WithoutAutoTerminateTheProcessOutlivesTheRequest) {
  CgiRun run = Request("html");
  run.env["TEST_CGI_AUTOTERMINATE"] = "0";
  CgiResult result = cgi_test::RunCgi(run);
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_NE(result.error.find("process outlived the request"), std::string::npos);
  EXPECT_NE(result.output.find("<p>Hello</p>"), std::string::npos);
}

// An upload whose request then fails: the error path ends the process before the request's
// normal end, and the temporary file must go all the same.
TEST_F(CgiProcessTest, UploadFileOfAFailedRequestIsDeleted) {
  const std::string body =
      "--XyZ\r\n"
      "Content-Disposition: form-data; name=\"file\"; filename=\"C:\\docs\\a.txt\"\r\n"
      "Content-Type: text/plain\r\n\r\n"
      "uploaded bytes\r\n"
      "--XyZ--\r\n";
  CgiRun run = Post(Request("upload_raise", "POST"), body);
  run.env["CONTENT_TYPE"] = "multipart/form-data; boundary=XyZ";
  run.env["TEST_CGI_DEBUG"] = "1";  // the debug page keeps the handler's output
  CgiResult result = cgi_test::RunCgi(run);
  ASSERT_EQ(result.exit_code, 0);
  size_t at = result.output.find("FILE_FILENAME=");
  ASSERT_NE(at, std::string::npos) << result.output;
  at += 14;
  std::string path = result.output.substr(at, result.output.find("\r\n", at) - at);
  EXPECT_EQ(path.rfind(cgi_test::BinDir() + "Temp/", 0), 0u) << path;
  EXPECT_FALSE(fs::exists(path));
  EXPECT_NE(result.output.find("Unhandled Exception: Failed after upload"), std::string::npos);
}

// A web server passes a query string without "=" as parameters: whatever they are, a process
// started by a web server answers its request and never becomes a request server or a Windows
// CGI run.
struct Start {
  const char* name;
  std::map<std::string, std::string> changes;  // "" as a value removes the variable
  std::vector<std::string> args;
  bool answers;  // false: refused as no CGI request (exit code 2, one line)
};

void PrintTo(const Start& start, std::ostream* out) {
  *out << start.name;
}

class StartTest : public CgiProcessTest, public ::testing::WithParamInterface<Start> {
 protected:
  void TearDown() override {
    // Should a start wrongly become a server, it must not outlive the test.
    const std::string marker = cgi_test::BinDir() + "Temp/engine_test_cgi_s";
    std::ifstream in(marker);
    long pid = 0;
    if (in >> pid && pid > 0) kill(static_cast<pid_t>(pid), SIGKILL);
    fs::remove(marker);
    CgiProcessTest::TearDown();
  }
};

TEST_P(StartTest, WebServerStartAnswersAsStandardCgiWhateverItsParameters) {
  const Start& start = GetParam();
  CgiRun run = Request("html");
  for (const auto& [name, value] : start.changes) {
    if (value.empty()) {
      run.env.erase(name);
    } else {
      run.env[name] = value;
    }
  }
  run.args = start.args;
  run.timeout = std::chrono::seconds(10);
  CgiResult result = cgi_test::RunCgi(run);
  if (start.answers) {
    EXPECT_EQ(result.exit_code, 0) << result.error;
    EXPECT_NE(result.output.find("\r\n\r\n<p>Hello</p>"), std::string::npos) << result.output;
  } else {
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.error, "no CGI request: the program was not started by a web server\n");
  }
  EXPECT_FALSE(fs::exists(cgi_test::BinDir() + "Temp/engine_test_cgi_s"));
}

INSTANTIATE_TEST_SUITE_P(
    Starts, StartTest,
    ::testing::Values(
        Start{"ServerStartParameters", {}, {" $$START_SERVER ", "X"}, true},
        Start{"ServerStartParametersWithoutServerSoftware",
              {{"SERVER_SOFTWARE", ""}},
              {"$$START_SERVER", "X"},
              true},
        Start{"DevelopmentHostWithGatewayInterface", {{"SERVER_SOFTWARE", "ZB-Dev/1.0"}}, {}, true},
        Start{"FileParameter", {}, {"/etc/hostname"}, true},
        Start{"FileParameterWithWindowsCgiVersion",
              {{"CGI_VERSION", "CGI/1.3a WIN"}},
              {"/etc/hostname"},
              true},
        // A server set-up that passes neither variable once made every request a resident
        // server that never answered.
        Start{"RequestMethodAlone", {{"SERVER_SOFTWARE", ""}, {"GATEWAY_INTERFACE", ""}}, {}, true},
        Start{"ParametersWithoutWebServer",
              {{"SERVER_SOFTWARE", ""}, {"GATEWAY_INTERFACE", ""}, {"REQUEST_METHOD", ""}},
              {"results.csv"},
              false}),
    [](const ::testing::TestParamInfo<Start>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
