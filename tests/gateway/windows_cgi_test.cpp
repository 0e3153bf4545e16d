// The gateway under Windows CGI: the real brevix.cgi started with a profile file as its only
// parameter and no CGI environment, answering into the output file the profile names, directly
// or through a live request server.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>

#include "gateway_site.h"

namespace gateway_test {
namespace {

// The site's missing-information page (the built-in one is the outcome tests' business).
const char kMissingPage[] = "<p>Missing</p>";

enum class BodyFrom { kContentFile, kFormLiteral, kQueryString };

struct WinCGICase {
  const char* name;
  BodyFrom body_from;
  Fields fields;
  bool via_server;   // a request server runs and answers
  const char* body;  // the answer's body in the output file
  const char* mail;  // a part of the one mail sent; null: no mail
};

void PrintTo(const WinCGICase& c, std::ostream* os) {
  *os << c.name;
}

class WindowsCgiTest : public GatewaySite, public ::testing::WithParamInterface<WinCGICase> {
 protected:
  void SetUp() override {
    GatewaySite::SetUp();
    ini_["Response_Page"] = "thanks.htm";
    ini_["Info_Missing_Page"] = "missing.htm";
    ini_["Message_Text"] = "message.txt";
    ini_["Allowed_Methods"] = "GET,POST";  // a row sends its form in the query string
    WriteFile("thanks.htm", "<p>Thanks %name%, number %refnum_order%.</p>");
    WriteFile("missing.htm", kMissingPage);
    WriteFile("message.txt", "Order %refnum_order% from %name%\r\n");
  }

  void TearDown() override {
    StopServer();
    GatewaySite::TearDown();
  }

  // The profile of one request, as a Windows CGI web server writes it.
  std::string Profile(const WinCGICase& c) const {
    // A browser encodes "/" as well, which the gateway keeps as it is.
    std::string encoded;
    for (char ch : FormBody(c.fields) + "&")
      encoded += ch == '/' ? std::string("%2F") : std::string(1, ch);
    std::string cgi =
        "[CGI]\r\nRequest Protocol=HTTP/1.0\r\nExecutable Path=/cgi-win/brevix.cgi\r\n"
        "Server Software=WinServer/1.0\r\nRemote Address=127.0.0.1\r\n"
        "Referer=http://site.test/form.html\r\n";
    std::string form;
    if (c.body_from == BodyFrom::kQueryString) {
      cgi += "Request Method=GET\r\nQuery String=" + encoded + "\r\n";
    } else {
      cgi += "Request Method=POST\r\nContent Type=application/x-www-form-urlencoded\r\n";
      // The length of the body as the browser encoded it.
      cgi += "Content Length=" + std::to_string(encoded.size()) + "\r\n";
      if (c.body_from == BodyFrom::kContentFile) {
        WriteFile("request.inp", encoded);
        cgi += "Content File=" + dir_ + "request.inp\r\n";
      } else {
        form = "[Form Literal]\r\n";
        for (const auto& [name, value] : c.fields) form += name + "=" + value + "\r\n";
      }
    }
    return cgi + "[Accept]\r\ntext/html=Yes\r\n[System]\r\nGMT Offset=0\r\nOutput File=" + dir_ +
           "request.out\r\n" + form + "[Extra Headers]\r\nAccept-Language=en\r\n";
  }

  // Starts a request server for the site the way its owner does (no CGI environment, no
  // parameters) and waits for its marker.
  void StartServer() {
    const std::string program = dir_ + "brevix.cgi";
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    std::string path = "PATH=/usr/bin:/bin";
    char* envp[] = {path.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ASSERT_EQ(posix_spawn(&server_, program.c_str(), &actions, nullptr, argv, envp), 0);
    posix_spawn_file_actions_destroy(&actions);
    // An upper bound that turns a server that never comes up into a failure, not a hang.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!Exists("Temp/brevix.cgi_s") && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(Exists("Temp/brevix.cgi_s"));
  }

  void StopServer() {
    if (server_ <= 0) return;
    kill(server_, SIGTERM);
    int status = 0;
    waitpid(server_, &status, 0);
    server_ = 0;
  }

  cgi_test::CgiResult Run(const std::string& profile) {
    WriteIni();
    WriteFile("request.ini", profile);
    cgi_test::CgiRun run;
    run.program = dir_ + "brevix.cgi";
    run.args = {dir_ + "request.ini"};
    // A web server's CGI variables would make this a standard CGI run, by design.
    run.env = {{"PATH", "/usr/bin:/bin"}};
    return cgi_test::RunCgi(run);
  }

  pid_t server_ = 0;
};

TEST_P(WindowsCgiTest, AnswersIntoTheOutputFile) {
  const WinCGICase& c = GetParam();
  if (c.via_server) {
    StartServer();
    if (HasFatalFailure()) return;
  }
  const cgi_test::CgiResult result = Run(Profile(c));
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_EQ(result.output, "");  // the answer goes to the output file only
  const std::string answer = FileText("request.out");
  EXPECT_EQ(answer.rfind("Status: 200 OK\r\n", 0), 0u) << answer;
  const size_t end = answer.find("\r\n\r\n");
  ASSERT_NE(end, std::string::npos) << answer;
  EXPECT_EQ(answer.substr(end + 4), c.body);
  if (c.mail != nullptr) {
    EXPECT_NE(Mail(1).find(c.mail), std::string::npos);
  } else {
    EXPECT_EQ(smtp_.MessageCount(), 0);
  }
}

// A profile the gateway cannot serve ends the run without an answer file and says why; it
// never brings the program down.
TEST_F(WindowsCgiTest, ProfileWithoutOutputFileIsRefusedWithItsReason) {
  const cgi_test::CgiResult result = Run("[CGI]\r\nRequest Method=GET\r\n");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.error.find("names no output file (OUTPUT_FILE)"), std::string::npos)
      << result.error;
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(smtp_.MessageCount(), 0);
}

const Fields kSent = {{"name", "Ann Visitor"}, {"mail_from", "ann@visitor.test"}};
const Fields kMissing = {
    {"name", "Ann Visitor"}, {"mail_from", "ann@visitor.test"}, {"phonereq", ""}};

INSTANTIATE_TEST_SUITE_P(
    Requests, WindowsCgiTest,
    ::testing::Values(
        WinCGICase{"ContentFile", BodyFrom::kContentFile, kSent, false,
                   "<p>Thanks Ann Visitor, number 1.</p>", "Order 1 from Ann Visitor"},
        WinCGICase{"FormLiteral", BodyFrom::kFormLiteral, kSent, false,
                   "<p>Thanks Ann Visitor, number 1.</p>", "Order 1 from Ann Visitor"},
        // The gateway keeps "/" as it is, the browser sent "%2F": the rebuilt body is shorter.
        WinCGICase{"FormLiteralEncodedOtherwise",
                   BodyFrom::kFormLiteral,
                   {{"name", "A/B/C"}, {"mail_from", "ann@visitor.test"}},
                   false,
                   "<p>Thanks A/B/C, number 1.</p>",
                   "Order 1 from A/B/C"},
        WinCGICase{"QueryString", BodyFrom::kQueryString, kSent, false,
                   "<p>Thanks Ann Visitor, number 1.</p>", "Order 1 from Ann Visitor"},
        WinCGICase{"MissingField", BodyFrom::kContentFile, kMissing, false, kMissingPage, nullptr},
        WinCGICase{"ContentFileViaServer", BodyFrom::kContentFile, kSent, true,
                   "<p>Thanks Ann Visitor, number 1.</p>", "Order 1 from Ann Visitor"},
        WinCGICase{"FormLiteralViaServer", BodyFrom::kFormLiteral, kSent, true,
                   "<p>Thanks Ann Visitor, number 1.</p>", "Order 1 from Ann Visitor"},
        // No body at all: the forwarder still gets a (empty) body to copy.
        WinCGICase{"QueryStringViaServer", BodyFrom::kQueryString, kSent, true,
                   "<p>Thanks Ann Visitor, number 1.</p>", "Order 1 from Ann Visitor"},
        WinCGICase{"MissingFieldViaServer", BodyFrom::kContentFile, kMissing, true, kMissingPage,
                   nullptr}),
    [](const ::testing::TestParamInfo<WinCGICase>& param) {
      return std::string(param.param.name);
    });

}  // namespace
}  // namespace gateway_test
