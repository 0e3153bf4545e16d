// Server mode run as real processes: a copy of engine_test_cgi in a folder of its own (so its
// spool Temp/ is private), a resident request server, and CGI runs that forward to it.

#include "engine/adapters/request_server.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <thread>

#include "engine/adapters/spool_files.h"
#include "engine_test_support.h"
#include "support/cgi_process.h"
#include "support/request_server_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using cgi_test::CgiResult;
using cgi_test::CgiRun;
using engine_test::ReadFile;

// The answer with what differs between two runs of one request blanked: the Expires date, the
// upload's temporary file name and the length that includes it.
std::string Normalized(std::string answer) {
  for (const char* start : {"Expires: ", "FILE_FILENAME=", "content-length: "}) {
    const size_t at = answer.find(start);
    if (at == std::string::npos) continue;
    const size_t value = at + std::string(start).size();
    const size_t end = answer.find_first_of("\r\n", value);
    answer.replace(value, end - value, "*");
  }
  return answer;
}

// The rows of the tables below print, and name their tests, by their `name`.
template <class Row>
requires requires(const Row& row) {
  row.name;
}
void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}
template <class Row>
std::string RowName(const ::testing::TestParamInfo<Row>& info) {
  return info.param.name;
}

class RequestServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brevix-server-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
    program_ = dir_ + "engine_test_cgi";
    fs::copy_file(cgi_test::BinDir() + "engine_test_cgi", program_);
    server_ = std::make_unique<cgi_test::RequestServerProcess>(program_);
  }
  void TearDown() override {
    server_->Stop();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // The environment of a server started by hand: no CGI variables at all; `mode` is its
  // TEST_CGI_MODE ("": none).
  std::map<std::string, std::string> ServerEnvironment(const std::string& mode = "") const {
    std::map<std::string, std::string> env = {{"PATH", "/usr/bin:/bin"},
                                              {"CGI_LOG_DIR", dir_ + "log"}};
    if (!mode.empty()) env["TEST_CGI_MODE"] = mode;
    return env;
  }

  // A GET with the query `query`; `body` makes it a POST of that content type.
  CgiRun Request(const std::string& query, const std::string& body = "",
                 const std::string& content_type = "") const {
    CgiRun run;
    run.program = program_;
    run.env = cgi_test::CgiEnvironment(body.empty() ? "GET" : "POST", query);
    run.env["CGI_LOG_DIR"] = dir_ + "log";
    if (!body.empty()) {
      run.env["CONTENT_LENGTH"] = std::to_string(body.size());
      run.env["CONTENT_TYPE"] = content_type;
      run.input = body;
    }
    return run;
  }

  std::string Log() const { return ReadFile(dir_ + "log/engine_test_cgi.Log"); }
  // The names of the spool folder's files.
  std::vector<std::string> SpoolNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(server_->SpoolDir())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
  std::string program_;
  std::unique_ptr<cgi_test::RequestServerProcess> server_;
};

// ---- The same answer, forwarded or not -----------------------------------------------------

struct Exchange {
  const char* name;
  const char* query;
  std::string body;  // empty: a GET without CONTENT_LENGTH
  const char* content_type;
};

const std::string kBoundary = "b0undary";
const Exchange kExchanges[] = {
    {"GetWithoutContentLength", "action=fields&x=1&y=%3Cz%3E", "", ""},
    {"Post", "action=fields", "a=1&b=two+words&c=%0D%0Aline", "application/x-www-form-urlencoded"},
    {"MultipartUpload", "action=upload",
     "--" + kBoundary +
         "\r\nContent-Disposition: form-data; name=\"FILE\"; filename=\"c:\\docs\\a.bin\"\r\n"
         "Content-Type: application/octet-stream\r\n\r\nbytes\r\n\r\n\0 and more\r\n--"s +
         kBoundary + "--\r\n",
     "multipart/form-data; boundary=b0undary"},
};

enum class ServerStart { kNoEnvironment, kServerModeRequest };

class ForwardedAnswerTest
    : public RequestServerTest,
      public ::testing::WithParamInterface<std::tuple<Exchange, ServerStart>> {};

TEST_P(ForwardedAnswerTest, EqualsTheAnswerOfADirectRun) {
  const auto& [exchange, start] = GetParam();
  const CgiRun run = Request(exchange.query, exchange.body, exchange.content_type);
  const CgiResult direct = cgi_test::RunCgi(run);
  ASSERT_EQ(direct.exit_code, 0) << direct.error;
  ASSERT_NE(direct.output.find("\r\n\r\n"), std::string::npos);

  CgiRun forwarded_run = run;
  if (start == ServerStart::kNoEnvironment) {
    ASSERT_TRUE(server_->Start(ServerEnvironment()));
  } else {
    // No server runs: this request starts one and is its first client.
    forwarded_run.env["TEST_CGI_MODE"] = "1";
  }
  const CgiResult forwarded = cgi_test::RunCgi(forwarded_run);
  EXPECT_NE(server_->PidFromMarker(), 0) << "no server answered";
  EXPECT_EQ(Normalized(forwarded.output), Normalized(direct.output));
  // The handler ran in the server, not in the forwarder.
  EXPECT_EQ(forwarded.error.find("request runs"), std::string::npos) << forwarded.error;
  // Nothing of the request is left behind but the marker.
  EXPECT_EQ(SpoolNames(), std::vector<std::string>{"engine_test_cgi_s"});
}

INSTANTIATE_TEST_SUITE_P(Requests, ForwardedAnswerTest,
                         ::testing::Combine(::testing::ValuesIn(kExchanges),
                                            ::testing::Values(ServerStart::kNoEnvironment,
                                                              ServerStart::kServerModeRequest)),
                         [](const auto& param_info) {
                           return std::string(std::get<0>(param_info.param).name) +
                                  (std::get<1>(param_info.param) == ServerStart::kNoEnvironment
                                       ? "_ServerStartedByHand"
                                       : "_ServerStartedByRequest");
                         });

// ---- Stopping --------------------------------------------------------------------------------

struct Stop {
  const char* name;
  int signal_number;  // 0: delete the marker instead
};

class ServerStopTest : public RequestServerTest, public ::testing::WithParamInterface<Stop> {};

TEST_P(ServerStopTest, EndsTheServerAndClearsTheSpool) {
  ASSERT_TRUE(server_->Start(ServerEnvironment()));
  const pid_t pid = server_->Started();
  std::ofstream(server_->SpoolBase() + "10-0-0-9_ABCDE_cnf") << "left over";
  if (GetParam().signal_number == 0) {
    fs::remove(server_->Marker());
  } else {
    kill(pid, GetParam().signal_number);
  }
  // An upper bound only: the marker's refresh period plus a generous margin.
  EXPECT_TRUE(cgi_test::RequestServerProcess::WaitUntilGone(pid, std::chrono::seconds(20)));
  EXPECT_EQ(SpoolNames(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Ways, ServerStopTest,
                         ::testing::Values(Stop{"MarkerDeleted", 0}, Stop{"Sigterm", SIGTERM},
                                           Stop{"Sigint", SIGINT}, Stop{"Sighup", SIGHUP}),
                         RowName<Stop>);

// ---- Refusal and clean-up ----------------------------------------------------------------------

struct Crowd {
  int waiting;        // spool files besides the marker when the client arrives
  const char* stage;  // their stage
  bool forwarded;     // the server serves the client; otherwise the forwarder serves it itself
};

void PrintTo(const Crowd& crowd, std::ostream* out) {
  *out << crowd.waiting << crowd.stage;
}

class SpoolCrowdTest : public RequestServerTest, public ::testing::WithParamInterface<Crowd> {};

// Ten requests occupying the server make the next client's forwarder serve it itself; it was once
// answered with nothing at all. Neither answers that nobody collected (their forwarder was ended
// by the web server when the visitor went away) nor requests whose forwarder died while writing
// them (an abandoned upload) hold a place: ten of either once locked every visitor out.
TEST_P(SpoolCrowdTest, EveryClientIsAnsweredAndOnlyLiveRequestsCount) {
  ASSERT_TRUE(server_->Start(ServerEnvironment()));
  for (int i = 0; i < GetParam().waiting; ++i) {
    std::ofstream(server_->SpoolBase() + "10-0-0-" + std::to_string(i) + "_1000" +
                  std::to_string(i) + GetParam().stage);
  }
  const CgiResult result = cgi_test::RunCgi(Request("action=html"));
  EXPECT_NE(result.output.find("<p>Hello</p>"), std::string::npos) << result.output;
  const bool served_here = result.error.find("request runs") != std::string::npos;
  EXPECT_EQ(served_here, !GetParam().forwarded) << result.error;
  EXPECT_EQ(Log().find(" : Server mode - Too many clients\r\n") != std::string::npos,
            !GetParam().forwarded)
      << Log();
}

INSTANTIATE_TEST_SUITE_P(Counts, SpoolCrowdTest,
                         ::testing::Values(Crowd{9, "_cnf", true}, Crowd{10, "_cnf", false},
                                           Crowd{10, "_rsp", true}, Crowd{10, "_new", true}),
                         [](const auto& param_info) {
                           return std::to_string(param_info.param.waiting) +
                                  (param_info.param.stage + 1);
                         });

TEST_F(RequestServerTest, LeftoversGoAtServerStartAndStaleFilesAfterFifteenMinutes) {
  fs::create_directories(server_->SpoolDir());
  const std::string leftover = server_->SpoolBase() + "10-0-0-1_12345_req";
  std::ofstream(leftover) << "REQUEST_METHOD=GET\r\n\r\n";
  std::ofstream(server_->Marker()) << "999999999";
  ASSERT_TRUE(server_->Start(ServerEnvironment()));
  EXPECT_FALSE(fs::exists(leftover));

  // Other programs' spool files: gone when older than 15 minutes, kept when younger.
  const std::string old_file = server_->SpoolDir() + "other.cgi_1_cnf";
  const std::string young_file = server_->SpoolDir() + "other.cgi_2_cnf";
  const std::string upload = server_->SpoolDir() + "upload1234.tmp";
  for (const std::string& path : {old_file, young_file, upload}) std::ofstream(path) << "x";
  const time_t now = time(nullptr);
  const utimbuf old_stamp{now - 16 * 60, now - 16 * 60};
  const utimbuf young_stamp{now - 14 * 60, now - 14 * 60};
  utime(old_file.c_str(), &old_stamp);
  utime(young_file.c_str(), &young_stamp);
  utime(upload.c_str(), &old_stamp);
  const CgiResult result = cgi_test::RunCgi(Request("action=html"));
  EXPECT_NE(result.output.find("<p>Hello</p>"), std::string::npos);
  EXPECT_FALSE(fs::exists(old_file));
  EXPECT_TRUE(fs::exists(young_file));
  EXPECT_TRUE(fs::exists(upload));  // not a spool name
}

// ---- A server that ends under its clients ------------------------------------------------------

struct ServerEnd {
  const char* name;
  const char* action;
  const char* stage;  // the spool stage whose file shows the server got this far ("": idle)
  bool kill_server;   // kill -9; otherwise the marker is deleted (the server then ends itself)
  const char* answer;
};

class ServerEndTest : public RequestServerTest, public ::testing::WithParamInterface<ServerEnd> {
 protected:
  bool WaitForStage(const std::string& stage) const {
    for (int round = 0; round < 2000; ++round) {
      for (const std::string& name : SpoolNames()) {
        if (name.size() > stage.size() && name.ends_with(stage)) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

// Every visitor is answered, and a request whose mail the server had sent is answered as sent
// without running it again. A killed server once lost the next request without a log line, and
// its clients waited out 180 s and got nothing.
TEST_P(ServerEndTest, TheForwarderAnswersEveryRequestItself) {
  const ServerEnd& end = GetParam();
  ASSERT_TRUE(server_->Start(ServerEnvironment("1")));
  const pid_t pid = server_->Started();
  CgiRun run = Request(std::string("action=") + end.action);
  run.env["TEST_CGI_MODE"] = "1";
  run.timeout = std::chrono::seconds(40);
  // A second client waits behind the first in ServerMode, and must not be lost either.
  CgiRun waiting = Request("action=html");
  waiting.env["TEST_CGI_MODE"] = "1";
  std::future<CgiResult> first, second;
  if (*end.stage != '\0') {
    first = std::async(std::launch::async, [&run] { return cgi_test::RunCgi(run); });
    ASSERT_TRUE(WaitForStage(end.stage));
    second = std::async(std::launch::async, [&waiting] { return cgi_test::RunCgi(waiting); });
    ASSERT_TRUE(WaitForStage("_req"));
  }
  if (end.kill_server) {
    kill(pid, SIGKILL);
  } else {
    fs::remove(server_->Marker());
  }
  ASSERT_TRUE(cgi_test::RequestServerProcess::WaitUntilGone(pid, std::chrono::seconds(20)));
  const CgiResult result = *end.stage != '\0' ? first.get() : cgi_test::RunCgi(run);
  EXPECT_NE(result.output.find(end.answer), std::string::npos) << result.output << result.error;
  if (second.valid()) {
    EXPECT_NE(second.get().output.find("<p>Hello</p>"), std::string::npos);
  }
  server_->Stop();
  // Nothing of either request is left behind (a new server's marker may be).
  for (const std::string& name : SpoolNames()) EXPECT_EQ(name, "engine_test_cgi_s");
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ServerEndTest,
    ::testing::Values(
        ServerEnd{"KilledWhileIdle", "html", "", true, "<p>Hello</p>"},
        ServerEnd{"KilledWhileServing", "hang_in_server", "_ind", true, "<p>Hello</p>"},
        ServerEnd{"KilledAfterTheMailWent", "send_then_hang_in_server", "_snt", true,
                  "sent earlier detail 7"},
        ServerEnd{"MarkerDeletedWhileServing", "hang_in_server", "_ind", false, "<p>Hello</p>"}),
    RowName<ServerEnd>);

// Simultaneous first requests of a server mode each start a server: exactly one comes up, and
// none of them clears the spool under the others (1 to 8 of 8 requests were once lost, with
// two servers left running).
TEST_F(RequestServerTest, SimultaneousFirstRequestsStartOneServerAndAllAreAnswered) {
  constexpr int kClients = 8;
  std::vector<std::future<CgiResult>> runs;
  for (int i = 0; i < kClients; ++i) {
    CgiRun run = Request("action=fields", "client=" + std::to_string(i),
                         "application/x-www-form-urlencoded");
    run.env["TEST_CGI_MODE"] = "1";
    runs.push_back(std::async(std::launch::async, [run] { return cgi_test::RunCgi(run); }));
  }
  for (int i = 0; i < kClients; ++i) {
    const CgiResult result = runs[static_cast<size_t>(i)].get();
    EXPECT_NE(result.output.find("\r\nclient=" + std::to_string(i) + "\r\n"), std::string::npos)
        << "client " << i << ": " << result.output;
  }
  // The servers that lost the start end within a second.
  int servers = 0;
  for (int round = 0; round < 50 && (round == 0 || servers != 1); ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    servers = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
      std::ifstream cmdline(entry.path() / "cmdline");
      std::string argv0;
      std::getline(cmdline, argv0, '\0');
      servers += argv0 == program_ && entry.path().filename() != "self";
    }
  }
  EXPECT_EQ(servers, 1);
}

// ---- What is never spooled ---------------------------------------------------------------------

struct Unspooled {
  const char* name;
  const char* temp;  // how Temp/ is found: "link", "foreign" (another user's) or "wide" (0777)
  const char* answer;
  const char* log;  // "" when nothing is logged
};

class UnspooledTest : public RequestServerTest, public ::testing::WithParamInterface<Unspooled> {};

// A spool that another local user could read or replace is not used: a link or a folder of
// someone else's once let a user serve their own page to a visitor and read the results file.
// A body over the limit is refused before a byte of it is read (a 50 MB post once became a
// 51 MB spool file).
TEST_P(UnspooledTest, TheForwarderServesTheRequestItself) {
  const Unspooled& row = GetParam();
  ASSERT_TRUE(server_->Start(ServerEnvironment()));
  const std::string temp = server_->SpoolDir().substr(0, server_->SpoolDir().size() - 1);
  const std::string elsewhere = dir_ + "elsewhere";
  if (std::string(row.temp) != "wide") {
    server_->Stop();
    fs::remove_all(temp);
    fs::create_directory(elsewhere);
    if (std::string(row.temp) == "link") {
      fs::create_directory_symlink(elsewhere, temp);
    } else {
      fs::create_directory(temp);
      ASSERT_EQ(chown(temp.c_str(), 65534, 65534), 0);
    }
  }
  CgiRun run = Request("action=html");
  if (*row.temp == 'w') {
    chmod(temp.c_str(), 0777);
    run = Request("action=fields", "a=1", "application/x-www-form-urlencoded");
    run.env["CONTENT_LENGTH"] = "50000000";
  }
  run.env["TEST_CGI_MODE"] = "1";
  const CgiResult result = cgi_test::RunCgi(run);
  EXPECT_NE(result.output.find(row.answer), std::string::npos) << result.output;
  if (*row.log != '\0') {
    EXPECT_NE(Log().find(row.log), std::string::npos) << Log();
  }
  struct stat info {};
  ASSERT_EQ(lstat(temp.c_str(), &info), 0);
  if (S_ISDIR(info.st_mode) && info.st_uid == geteuid()) {
    EXPECT_EQ(info.st_mode & 077, 0u);
  }
  EXPECT_TRUE(!fs::exists(elsewhere) || fs::is_empty(elsewhere));
}

INSTANTIATE_TEST_SUITE_P(Cases, UnspooledTest,
                         ::testing::Values(Unspooled{"TempIsALink", "link", "<p>Hello</p>",
                                                     "Temp\" is a link: not used"},
                                           Unspooled{"TempIsAnotherUsers", "foreign",
                                                     "<p>Hello</p>", "belongs to another user"},
                                           Unspooled{"BodyOverTheLimitInAWideTempNarrowed", "wide",
                                                     "Content length exceeds allowed limit", ""}),
                         RowName<Unspooled>);

// ---- ServerThreadMode --------------------------------------------------------------------------

TEST_F(RequestServerTest, ThreadModeServesSixteenConcurrentRequestsEachItsOwnAnswer) {
  ASSERT_TRUE(server_->Start(ServerEnvironment("2")));
  constexpr int kClients = 16;
  std::vector<CgiResult> results(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([this, i, &results] {
      const std::string body = "client=" + std::to_string(i) + "&pad=" + std::string(3000, 'p');
      CgiRun run = Request("action=fields", body, "application/x-www-form-urlencoded");
      run.env["REMOTE_ADDR"] = "10.0.0." + std::to_string(i);
      run.timeout = std::chrono::seconds(90);
      results[static_cast<size_t>(i)] = cgi_test::RunCgi(run);
    });
  }
  for (std::thread& client : clients) client.join();
  for (int i = 0; i < kClients; ++i) {
    const std::string& output = results[static_cast<size_t>(i)].output;
    EXPECT_NE(output.find("\r\nclient=" + std::to_string(i) + "\r\n"), std::string::npos)
        << "client " << i << ": " << output;
    EXPECT_NE(output.find("pad=" + std::string(3000, 'p') + "\r\ncount=3\r\n"), std::string::npos)
        << "client " << i;
  }
  EXPECT_EQ(SpoolNames(), std::vector<std::string>{"engine_test_cgi_s"});
}

// ---- Request bases -------------------------------------------------------------------------

struct Address {
  const char* address;
  const char* part;
};

void PrintTo(const Address& address, std::ostream* out) {
  *out << '"' << address.address << '"';
}

class RequestBaseTest : public ::testing::TestWithParam<Address> {};

TEST_P(RequestBaseTest, ClientAddressNamesTheBaseAndNeverLeavesTheFolder) {
  const std::string base = spool::NewRequestBase(GetParam().address);
  const std::string start = SpoolBase() + GetParam().part + "_";
  ASSERT_EQ(base.rfind(start, 0), 0u) << base;
  EXPECT_TRUE(std::regex_match(base.substr(start.size()), std::regex("[0-9A-F]{5,7}"))) << base;
}

INSTANTIATE_TEST_SUITE_P(Addresses, RequestBaseTest,
                         ::testing::Values(Address{"10.0.0.1", "10-0-0-1"}, Address{"::1", "::1"},
                                           Address{"", ""}, Address{"../../etc/x", "------etc-x"},
                                           Address{"a b\r\n*?", "a-b----"}));

// A spooled request holds a visitor's data: the owner's alone, whatever umask the server has.
TEST(SpoolFileTest, IsTheOwnersAloneWhateverTheUmask) {
  char dir[] = "/tmp/brevix-spool-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/request";
  const mode_t previous = umask(0);
  const int fd = spool::CreateSpoolFile(path);
  umask(previous);
  ASSERT_GE(fd, 0);
  struct stat info {};
  ASSERT_EQ(fstat(fd, &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  close(fd);
  fs::remove_all(dir);
}

}  // namespace
