// The gateway behind a resident request server: a brevix.cgi started without CGI environment
// takes over the submissions of the CGI runs that find it.
#include <sys/stat.h>

#include <algorithm>
#include <future>
#include <set>
#include <string>
#include <thread>

#include "gateway_site.h"
#include "support/request_server_process.h"

namespace gateway_test {
namespace {

class ServerModeTest : public GatewaySite {
 protected:
  void SetUp() override {
    GatewaySite::SetUp();
    server_ = std::make_unique<cgi_test::RequestServerProcess>(dir_ + "brevix.cgi");
    ini_["Results_File"] = "results.txt";
    ini_["Results_File_Template"] = "record.txt";
    ini_["Response_Page"] = "thanks.htm";
    WriteFile("record.txt", "%name%;%mail_from%");
    WriteFile("thanks.htm", "<p>Thanks %name%.</p>");
  }
  void TearDown() override {
    server_->Stop();
    GatewaySite::TearDown();
  }

  // The answer without its Expires date, which changes with the second.
  static std::string WithoutExpires(std::string answer) {
    const size_t at = answer.find("Expires: ");
    if (at != std::string::npos) answer.erase(at, answer.find("\r\n", at) + 2 - at);
    return answer;
  }

  // The bytes the running server has written so far (it writes nothing while idle; 0: none runs).
  long long ServerWritten() const {
    std::ifstream io("/proc/" + std::to_string(server_->PidFromMarker()) + "/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
      if (key == "wchar:") return value;
    }
    return 0;
  }

  // Starts `count` submissions at once, visitor i named "Visitor i", against the brevix.ini as
  // it stands (rewriting it meanwhile would race with the readers).
  std::vector<std::future<cgi_test::CgiResult>> SubmitAtOnce(int count) const {
    std::vector<std::future<cgi_test::CgiResult>> runs;
    for (int i = 0; i < count; ++i) {
      cgi_test::CgiRun run;
      run.program = dir_ + "brevix.cgi";
      run.env = Environment("POST");
      run.env["REMOTE_ADDR"] = "10.0.0." + std::to_string(i);
      run.env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
      run.input = "mail_from=v%40visitor.test&name=Visitor+" + std::to_string(i);
      run.env["CONTENT_LENGTH"] = std::to_string(run.input.size());
      run.timeout = std::chrono::seconds(120);
      runs.push_back(std::async(std::launch::async, [run] { return cgi_test::RunCgi(run); }));
    }
    return runs;
  }

  // Checks that each visitor shown the thank-you page has exactly one mail, and the others none,
  // every mail with its own reference number. Returns how many were thanked.
  int ExpectOneMailPerThankedVisitor(std::vector<std::future<cgi_test::CgiResult>>& runs) {
    std::set<std::string> thanked;
    for (size_t i = 0; i < runs.size(); ++i) {
      const cgi_test::CgiResult result = runs[i].get();
      const std::string name = "Visitor " + std::to_string(i);
      if (Body(result) == "<p>Thanks " + name + ".</p>") thanked.insert(name);
    }
    const int mails =
        smtp_.WaitForMessages(static_cast<int>(thanked.size()), std::chrono::seconds(60));
    // A mail that is sent twice, or sent for a visitor shown an error, arrives late at most by
    // the time a request takes.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(smtp_.MessageCount(), mails);
    std::multiset<std::string> mailed;
    for (int n = 1; n <= mails; ++n) {
      const std::string raw = smtp_.Message(n).raw;
      const size_t at = raw.find("Visitor ");
      mailed.insert(at == std::string::npos ? raw : raw.substr(at, raw.find('\r', at) - at));
    }
    EXPECT_EQ(mailed, std::multiset<std::string>(thanked.begin(), thanked.end())) << ErrorLog();
    EXPECT_EQ(smtp_.ReferenceNumbers(mails).size(), static_cast<size_t>(mails));
    return static_cast<int>(thanked.size());
  }

  std::unique_ptr<cgi_test::RequestServerProcess> server_;
};

// The server started by hand (""), or by the first submission that finds none under that
// CGI_Mode in brevix.ini, runs the forwarded submission and answers as a direct run does.
class ForwardedSubmissionTest : public ServerModeTest,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(ForwardedSubmissionTest, SendsTheMailWritesTheRecordAndAnswersAsADirectRun) {
  const Fields visitor = {{"name", "Ann Visitor"}, {"mail_from", "ann@visitor.test"}};
  const auto direct = Post(visitor);
  ASSERT_EQ(direct.exit_code, 0) << direct.error;
  ASSERT_EQ(smtp_.WaitForMessages(1), 1);

  if (*GetParam() == '\0') {
    ASSERT_TRUE(server_->Start({{"PATH", "/usr/bin:/bin"}}));
  } else {
    ini_["CGI_Mode"] = GetParam();
  }
  const long long written_before = ServerWritten();
  const auto forwarded = Post(visitor);
  EXPECT_GT(server_->PidFromMarker(), 0) << "no request server runs";
  // The server wrote the answer (and the record): the request ran there.
  EXPECT_GE(ServerWritten() - written_before, static_cast<long long>(forwarded.output.size()));
  EXPECT_EQ(forwarded.exit_code, 0) << forwarded.error;
  EXPECT_EQ(WithoutExpires(forwarded.output), WithoutExpires(direct.output));
  EXPECT_EQ(Body(forwarded), "<p>Thanks Ann Visitor.</p>");
  ASSERT_EQ(smtp_.WaitForMessages(2), 2);
  EXPECT_NE(smtp_.Message(2).raw.find("Ann Visitor"), std::string::npos);
  EXPECT_EQ(FileText("results.txt"),
            "Ann Visitor;ann@visitor.test\r\nAnn Visitor;ann@visitor.test\r\n");
  EXPECT_EQ(ErrorLog(), "");
}

INSTANTIATE_TEST_SUITE_P(Starts, ForwardedSubmissionTest,
                         ::testing::Values("", "Server", "ServerThread"), [](const auto& row) {
                           return std::string(*row.param ? row.param : "ByHand");
                         });

class ServerModeLoadTest : public ServerModeTest,
                           public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    ServerModeTest::SetUp();
    ini_["CGI_Mode"] = GetParam();
    ini_["Message_Text"] = "message.txt";
    WriteFile("message.txt", "Reference <%refnum_order%> from %name%\r\n");
    WriteIni();
  }
};

// More visitors at once than the server takes: every one is answered with their own page and
// mailed exactly once (8 to 11 of 20 once got HTTP 500 and were never mailed).
TEST_P(ServerModeLoadTest, FiftySimultaneousVisitorsAreEachAnsweredAndMailedOnce) {
  auto runs = SubmitAtOnce(50);
  EXPECT_EQ(ExpectOneMailPerThankedVisitor(runs), 50);
  EXPECT_GT(server_->PidFromMarker(), 0) << "no request server ran";
}

// kill -9 of the server in the middle of a crowd: every visitor is still answered, and no mail
// goes twice or to a visitor shown an error. The mail server holds new transactions back
// meanwhile, so that the kill falls outside the one case SMTP leaves open (a server killed after
// the mail server took a message and before its reply arrived may send it once more).
TEST_P(ServerModeLoadTest, ServerKilledUnderLoadLosesAndDoublesNothing) {
  ASSERT_TRUE(server_->Start({{"PATH", "/usr/bin:/bin"}}));
  auto runs = SubmitAtOnce(20);
  smtp_.WaitForMessages(5);
  smtp_.Hold(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(server_->Started(), SIGKILL);
  cgi_test::RequestServerProcess::WaitUntilGone(server_->Started(), std::chrono::seconds(10));
  smtp_.Hold(false);
  EXPECT_EQ(ExpectOneMailPerThankedVisitor(runs), 20);
}

INSTANTIATE_TEST_SUITE_P(Modes, ServerModeLoadTest, ::testing::Values("Server", "ServerThread"));

// A server killed after the mail went but before its answer: the visitor gets the thank-you page
// with the mail's reference number, and neither the mail nor the record is repeated.
TEST_F(ServerModeTest, ServerKilledAfterTheMailWentAnswersWithoutSendingAgain) {
  ini_["Entry_Log"] = "entries.log";
  ini_["Message_Text"] = "message.txt";
  WriteFile("message.txt", "Reference <%refnum_order%>\r\n");
  WriteFile("thanks.htm", "<p>Thanks %name%, %refnum_order%.</p>");
  WriteIni();
  ASSERT_TRUE(server_->Start({{"PATH", "/usr/bin:/bin"}}));
  // The entry log, written right after the mail, is a pipe nobody reads: the server waits there
  // for as long as the test needs (a lock would be given up after a few seconds).
  ASSERT_EQ(mkfifo((dir_ + "entries.log").c_str(), 0600), 0);
  auto run = std::async(std::launch::async, [this] {
    return Post({{"name", "Ann Visitor"}, {"mail_from", "ann@visitor.test"}});
  });
  ASSERT_EQ(smtp_.WaitForMessages(1), 1);
  // The server notes the accepted mail in the spool right after the mail server's reply.
  const auto noted = [](const fs::directory_entry& entry) {
    return entry.path().string().ends_with("_snt");
  };
  for (int round = 0; round < 500; ++round) {
    if (std::ranges::any_of(fs::directory_iterator(dir_ + "Temp"), noted)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(server_->Started(), SIGKILL);
  const auto result = run.get();
  const std::string number = *smtp_.ReferenceNumbers(1).begin();
  EXPECT_EQ(Body(result), "<p>Thanks Ann Visitor, " + number + ".</p>");
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(smtp_.MessageCount(), 1);
  EXPECT_EQ(FileText("results.txt"), "Ann Visitor;ann@visitor.test\r\n");
  EXPECT_NE(ErrorLog().find("answered without sending it again"), std::string::npos) << ErrorLog();
}

}  // namespace
}  // namespace gateway_test
