// The gateway behind a resident request server: a brevix.cgi started without CGI environment
// takes over the submissions of the CGI runs that find it.
#include <string>

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

  // The bytes the server process has written so far (it writes nothing while idle).
  long long ServerWritten() const {
    std::ifstream io("/proc/" + std::to_string(server_->Started()) + "/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
      if (key == "wchar:") return value;
    }
    return -1;
  }

  std::unique_ptr<cgi_test::RequestServerProcess> server_;
};

TEST_F(ServerModeTest, ForwardedSubmissionSendsTheMailWritesTheRecordAndAnswersAsADirectRun) {
  const Fields visitor = {{"name", "Ann Visitor"}, {"mail_from", "ann@visitor.test"}};
  const auto direct = Post(visitor);
  ASSERT_EQ(direct.exit_code, 0) << direct.error;
  ASSERT_EQ(smtp_.WaitForMessages(1), 1);

  ASSERT_TRUE(server_->Start({{"PATH", "/usr/bin:/bin"}}));
  const long long written_before = ServerWritten();
  const auto forwarded = Post(visitor);
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

// CGI_Mode in brevix.ini: the first submission finds no server, starts one and is served by it,
// with the answer a direct run gives.
TEST_F(ServerModeTest, CgiModeSettingMakesTheFirstSubmissionStartTheServer) {
  const Fields visitor = {{"name", "Ann Visitor"}, {"mail_from", "ann@visitor.test"}};
  const auto direct = Post(visitor);
  ASSERT_EQ(direct.exit_code, 0) << direct.error;
  int mails = 1;
  for (const char* mode : {"Server", "ServerThread"}) {
    SCOPED_TRACE(mode);
    ini_["CGI_Mode"] = mode;
    const auto forwarded = Post(visitor);
    EXPECT_EQ(forwarded.exit_code, 0) << forwarded.error;
    EXPECT_EQ(WithoutExpires(forwarded.output), WithoutExpires(direct.output));
    EXPECT_GT(server_->PidFromMarker(), 0) << "no request server runs";
    ++mails;
    EXPECT_EQ(smtp_.WaitForMessages(mails), mails);
    server_->Stop();
  }
  EXPECT_EQ(ErrorLog(), "");
}

}  // namespace
}  // namespace gateway_test
