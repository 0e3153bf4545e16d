// What a request body may carry into the gateway: field names of any bytes, bodies up to the
// owner's Max_Request_Size, and shared files whose lock another process holds; and a body that
// arrives cut short, through each adapter of a process of its own.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <tuple>

#include "gateway_site.h"
#include "support/fastcgi_client.h"

namespace gateway_test {
namespace {

class RequestBodyTest : public GatewaySite {
 protected:
  void SetUp() override {
    GatewaySite::SetUp();
    ini_["Response_Page"] = "thanks.htm";
    WriteFile("thanks.htm", "thanks");
  }

  cgi_test::CgiResult Send(bool multipart, const Fields& fields) {
    return multipart ? PostMultipart(fields, {}) : Post(fields);
  }
};

// A name holding "=" keeps its value, in either encoding, and its macro finds it.
class EqualSignNameTest : public RequestBodyTest, public ::testing::WithParamInterface<bool> {};

TEST_P(EqualSignNameTest, NameWithEqualSignKeepsItsValue) {
  ini_["Message_Text"] = "message.txt";
  WriteFile("message.txt", "One:%=%\r\nTwo:%a=b%\r\nThree:%x%\r\n");
  const auto result =
      Send(GetParam(), {{"mail_from", "a@b.test"}, {"=", "first"}, {"a=b", "second"}, {"x", "3"}});
  ASSERT_EQ(result.exit_code, 0) << result.error;
  const std::string mail = Mail(1);
  EXPECT_NE(mail.find("One:first\r\nTwo:second\r\nThree:3"), std::string::npos) << mail;
}

INSTANTIATE_TEST_SUITE_P(Encodings, EqualSignNameTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param_info) {
                           return std::string(param_info.param ? "Multipart" : "UrlEncoded");
                         });

// A name with blanks is no macro the mail's scan replaces: in the automatic HTML layouts its
// text stands in the mail as it is, so it must be escaped there, label or not.
class HtmlNameTest : public RequestBodyTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(HtmlNameTest, NameWithBlanksAndMarkupIsEscapedInTheAutomaticHtmlMail) {
  ini_["Default_Format"] = GetParam();
  Post({{"mail_from", "a@b.test"}, {"<i class x>", "1"}});
  const std::string mail = Mail(1);
  EXPECT_NE(mail.find("Content-Type:Text/HTML"), std::string::npos) << mail;
  EXPECT_EQ(mail.find("<i class"), std::string::npos) << mail;
  EXPECT_NE(mail.find("&lt;i class x&gt;"), std::string::npos) << mail;
}

INSTANTIATE_TEST_SUITE_P(Formats, HtmlNameTest,
                         ::testing::Values("BX1ColHTMLNoLabel", "BX2ColHTMLNoLabel",
                                           "BX2ColHTMLLabel"));

struct SizeCase {
  const char* max_request_size;  // empty: not in brevix.ini
  size_t upload_size;
  bool accepted;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
  *os << "Max_Request_Size=\"" << c.max_request_size << "\" upload " << c.upload_size;
}

class RequestSizeTest : public RequestBodyTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(RequestSizeTest, MaxRequestSizeDecidesWhichUploadIsRead) {
  if (*GetParam().max_request_size) ini_["Max_Request_Size"] = GetParam().max_request_size;
  const auto result = PostMultipart(
      {{"mail_from", "a@b.test"}}, {{"file", "big.bin", std::string(GetParam().upload_size, 'x')}});
  ASSERT_EQ(result.exit_code, 0) << result.error;
  if (GetParam().accepted) {
    EXPECT_NE(Mail(1).find("filename=\"big.bin\""), std::string::npos);
  } else {
    EXPECT_NE(result.output.find("Content length exceeds allowed limit"), std::string::npos)
        << result.output;
    EXPECT_EQ(smtp_.MessageCount(), 0);
  }
  // Neither way leaves an upload behind.
  EXPECT_TRUE(!Exists("Temp") || fs::is_empty(dir_ + "Temp"));
}

INSTANTIATE_TEST_SUITE_P(Limits, RequestSizeTest,
                         ::testing::Values(SizeCase{"", 150000, false},  // 100000 by default
                                           SizeCase{"", 90000, true},
                                           SizeCase{"300000", 150000, true},
                                           SizeCase{"0", 150000, false},  // never unlimited
                                           SizeCase{"1000", 5000, false}));

struct LockCase {
  const char* file;     // the shared file another process holds locked
  const char* ini_key;  // the setting that makes the request write it (empty: none)
  const char* ini_value;
};

void PrintTo(const LockCase& c, std::ostream* os) {
  *os << c.file;
}

class HeldLockTest : public RequestBodyTest, public ::testing::WithParamInterface<LockCase> {};

// A holder that never lets go costs a submission a few seconds (the lock's bound; the run's
// own time-out is the upper bound here), never the submission itself: the mail goes out, the
// file is left as it was, and the error log names the file.
TEST_P(HeldLockTest, HeldLockDoesNotHangTheSubmissionAndIsLogged) {
  const std::string file = GetParam().file;
  if (*GetParam().ini_key) ini_[GetParam().ini_key] = GetParam().ini_value;
  ini_["Message_Text"] = "message.txt";
  WriteFile("message.txt", "Ref %refnum_order%\r\n");
  WriteFile(file, "");
  const int fd = ::open((dir_ + file).c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  const auto result = Post({{"mail_from", "a@b.test"}, {"name", "Ann"}});
  ::close(fd);
  ASSERT_FALSE(result.timed_out);
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_NE(Mail(1).find("Ref "), std::string::npos);
  EXPECT_EQ(FileText(file), "");
  EXPECT_NE(ErrorLog().find("Brevix BX Reports: Lock timed out on " + dir_ + file),
            std::string::npos)
      << ErrorLog();
}

INSTANTIATE_TEST_SUITE_P(Files, HeldLockTest,
                         ::testing::Values(LockCase{"results.txt", "Results_File", "results.txt"},
                                           LockCase{"entries.log", "Entry_Log", "entries.log"},
                                           LockCase{"BX-RefNumbers.txt", "", ""}));

enum class Adapter { kStandardCgi, kWindowsCgi, kFastCgi };
const char* const kAdapterNames[] = {"StandardCgi", "WindowsCgi", "FastCgi"};

// Each adapter, with a url-encoded body, or (true) with an upload (which must not stay behind in
// Temp/) from a client that asks for a JSON answer.
class CutBodyTest : public RequestBodyTest,
                    public ::testing::WithParamInterface<std::tuple<Adapter, bool>> {
 protected:
  static constexpr size_t kUnsent = 100;

  // The whole answer (headers and body) to `body` announced with kUnsent bytes more than it has,
  // and the client's input then ended.
  std::string Serve(const std::string& type, const std::string& body) {
    const auto [adapter, json] = GetParam();
    WriteIni();
    auto env = Environment("POST");
    env["CONTENT_TYPE"] = type;
    env["CONTENT_LENGTH"] = std::to_string(body.size() + kUnsent);
    if (adapter == Adapter::kFastCgi) {
      fastcgi_ = std::make_unique<fastcgi_test::FastCgiProcess>();
      const std::string socket = dir_ + "fcgi.sock";
      EXPECT_TRUE(fastcgi_->Start(dir_ + "brevix.cgi", {"--fastcgi", socket}, dir_ + "fcgi.out"));
      EXPECT_TRUE(fastcgi_test::FastCgiProcess::WaitForSocket(socket));
      return fastcgi_test::Request(socket, env, body).output;
    }
    cgi_test::CgiRun run;
    run.program = dir_ + "brevix.cgi";
    if (adapter == Adapter::kStandardCgi) {
      run.env = env;
      run.input = body;
      return cgi_test::RunCgi(run).output;
    }
    WriteFile("request.inp", body);  // shorter than its Content Length says
    std::string profile = "[CGI]\r\nRequest Method=POST\r\nContent Type=" + type +
                          "\r\nContent Length=" + env["CONTENT_LENGTH"] +
                          "\r\nContent File=" + dir_ + "request.inp\r\n";
    if (json) profile += "[Accept]\r\napplication/json=Yes\r\n";
    WriteFile("request.ini", profile + "[System]\r\nOutput File=" + dir_ + "request.out\r\n");
    run.args = {dir_ + "request.ini"};
    run.env = {{"PATH", "/usr/bin:/bin"}};
    cgi_test::RunCgi(run);
    return FileText("request.out");
  }

  std::unique_ptr<fastcgi_test::FastCgiProcess> fastcgi_;
};

// Whichever way the body is cut, the request is refused before the form runs: the answer says
// why, and nothing is mailed, recorded, numbered or left in Temp/.
TEST_P(CutBodyTest, BodyShorterThanItsLengthIsRefusedAndNothingIsSent) {
  const bool upload = std::get<1>(GetParam());
  ini_["Results_File"] = "results.csv";
  ini_["Message_Text"] = "message.txt";
  WriteFile("message.txt", "Ref %refnum_order%\r\n");
  if (upload) headers_["HTTP_ACCEPT"] = "application/json";
  std::string type = "application/x-www-form-urlencoded";
  std::string body = "mail_from=a%40b.test&comments=" + std::string(5000, 'c');
  if (upload) {
    type = "multipart/form-data; boundary=cut";
    body =
        "--cut\r\nContent-Disposition: form-data; name=\"mail_from\"\r\n\r\na@b.test\r\n"
        "--cut\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.bin\"\r\n\r\n" +
        std::string(30000, 'f') + "\r\n--cut--\r\n";
  }
  const std::string answer = Serve(type, body);
  const std::string reason = "Request body incomplete: " + std::to_string(body.size()) + " of " +
                             std::to_string(body.size() + kUnsent) + " bytes arrived";
  EXPECT_NE(answer.find(reason), std::string::npos) << answer;
  if (upload) {
    EXPECT_NE(answer.find("Status: 400 Bad Request\r\n"), std::string::npos) << answer;
    EXPECT_NE(answer.find("{\"status\":\"error\",\"error\":\"" + reason + "\"}"),
              std::string::npos);
  }
  EXPECT_EQ(smtp_.MessageCount(), 0);
  EXPECT_FALSE(Exists("results.csv"));
  EXPECT_FALSE(Exists("BX-RefNumbers.txt"));
  EXPECT_TRUE(!Exists("Temp") || fs::is_empty(dir_ + "Temp"));
}

INSTANTIATE_TEST_SUITE_P(Adapters, CutBodyTest,
                         ::testing::Combine(::testing::Values(Adapter::kStandardCgi,
                                                              Adapter::kWindowsCgi,
                                                              Adapter::kFastCgi),
                                            ::testing::Bool()),
                         [](const auto& row) {
                           return kAdapterNames[static_cast<int>(std::get<0>(row.param))] +
                                  std::string(std::get<1>(row.param) ? "UploadJson" : "");
                         });

}  // namespace
}  // namespace gateway_test
