// The FastCGI socket against hostile peers: slow and idle connections hold a request thread only
// until their deadline, malformed records close only their own connection, the unix socket is
// 0660 whatever the umask, and TCP peers outside the allowed clients are closed unanswered.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "gateway_site.h"
#include "support/fastcgi_client.h"

namespace gateway_test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace fastcgi_test;

// The deadlines the server under test keeps (BREVIX_TEST_FASTCGI_DEADLINE_MS).
constexpr auto kDeadline = std::chrono::seconds(2);

class FastCgiGuardTest : public GatewaySite {
 protected:
  void TearDown() override {
    process_.reset();
    GatewaySite::TearDown();
  }

  std::string Socket() const { return dir_ + "fcgi.sock"; }

  // Starts brevix.cgi on `address` (the site's unix socket when empty) with two threads.
  void StartServer(std::vector<std::string> options = {}, std::string address = "") {
    WriteIni();
    if (address.empty()) address = Socket();
    std::vector<std::string> args{"BREVIX_TEST_FASTCGI_DEADLINE_MS=2000",
                                  dir_ + "brevix.cgi",
                                  "--fastcgi",
                                  address,
                                  "--threads",
                                  "2"};
    args.insert(args.end(), options.begin(), options.end());
    process_ = std::make_unique<FastCgiProcess>();
    ASSERT_TRUE(process_->Start("/usr/bin/env", args, dir_ + "server.out"));
  }

  std::string Post() const {
    std::string params;
    auto env = Environment("POST");
    env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    env["CONTENT_LENGTH"] = "21";
    for (const auto& [name, value] : env) {
      AppendLength(params, name.size());
      AppendLength(params, value.size());
      params += name + value;
    }
    std::string out;
    AppendRecord(out, kBeginRequest, std::string("\0\1\0\0\0\0\0\0", 8));
    AppendRecord(out, kParams, params);
    AppendRecord(out, kParams, "");
    AppendRecord(out, kStdin, "mail_from=a%40b.test&");
    AppendRecord(out, kStdin, "");
    return out;
  }

  std::unique_ptr<FastCgiProcess> process_;
};

// A peer that opens with `start` and then sends one byte of `drip` every 200 ms, for ever.
struct HogCase {
  const char* name;
  std::string start;
  std::string drip;
};

class FastCgiHogTest : public FastCgiGuardTest, public ::testing::WithParamInterface<HogCase> {};

TEST_P(FastCgiHogTest, TwoHogsOnTwoThreadsDelayAVisitorOnlyUntilTheirDeadline) {
  StartServer();
  ASSERT_TRUE(FastCgiProcess::WaitForSocket(Socket())) << FileText("server.out");
  std::atomic<bool> stop{false};
  std::vector<std::thread> hogs;
  for (int i = 0; i < 2; ++i) {
    hogs.emplace_back([&] {
      const int fd = UnixSocket(Socket());
      SendAll(fd, GetParam().start);
      for (size_t at = 0; !stop && !GetParam().drip.empty();
           at = (at + 1) % GetParam().drip.size()) {
        if (send(fd, &GetParam().drip[at], 1, MSG_NOSIGNAL) != 1) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
      while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      close(fd);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const Clock::time_point asked = Clock::now();
  const int visitor = UnixSocket(Socket());
  SendAll(visitor, Post());
  const Answer answer = ReadAnswer(visitor);
  const auto waited = Clock::now() - asked;
  stop = true;
  for (std::thread& hog : hogs) hog.join();
  ASSERT_TRUE(answer.complete) << FileText("server.out");
  EXPECT_EQ(answer.output.rfind("Status: 200 OK\r\n", 0), 0u) << answer.output;
  EXPECT_LT(waited, kDeadline + std::chrono::seconds(3));
  EXPECT_EQ(smtp_.WaitForMessages(1, std::chrono::seconds(10)), 1);
}

std::string Begin() {
  std::string out;
  AppendRecord(out, kBeginRequest, std::string("\0\1\0\0\0\0\0\0", 8));
  return out;
}

std::string DrippingBody() {
  std::string out = Begin();
  std::string params = std::string("\x0e\x03") + "CONTENT_LENGTH999";
  params += std::string("\x0e\x04") + "REQUEST_METHODPOST";
  AppendRecord(out, kParams, params);
  AppendRecord(out, kParams, "");
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Peers, FastCgiHogTest,
    ::testing::Values(HogCase{"Idle", "", ""}, HogCase{"DrippingParameters", Begin(), "\x01x"},
                      // Each drip is a whole one-byte STDIN record.
                      HogCase{"DrippingBody", DrippingBody(),
                              std::string("\x01\x05\x00\x01\x00\x01\x00\x00x", 9)}),
    [](const auto& row) { return std::string(row.param.name); });

// Records that once ended the process or took unbounded memory: each closes its connection
// unanswered, and the next visitor is served.
struct RecordCase {
  const char* name;
  std::string bytes;
};

void PrintTo(const RecordCase& c, std::ostream* os) {
  *os << c.name;
}

class FastCgiRecordTest : public FastCgiGuardTest,
                          public ::testing::WithParamInterface<RecordCase> {};

TEST_P(FastCgiRecordTest, HostileRecordsCloseTheirConnectionAndTheProcessServesOn) {
  StartServer();
  ASSERT_TRUE(FastCgiProcess::WaitForSocket(Socket())) << FileText("server.out");
  const int fd = UnixSocket(Socket());
  SendAll(fd, GetParam().bytes);
  const Answer hostile = ReadAnswer(fd);
  EXPECT_EQ(hostile.output, "");
  EXPECT_FALSE(hostile.complete);
  const int visitor = UnixSocket(Socket());
  SendAll(visitor, Post());
  const Answer answer = ReadAnswer(visitor);
  ASSERT_TRUE(answer.complete) << FileText("server.out");
  EXPECT_EQ(answer.output.rfind("Status: 200 OK\r\n", 0), 0u) << answer.output;
}

std::string WithParams(const std::string& params, unsigned char type = kParams, int id = 1) {
  std::string out = Begin();
  std::string record;
  AppendRecord(record, type, params);
  record[3] = static_cast<char>(id);
  return out + record;
}

const std::string kTwoGigabytePair("\xff\xff\xff\xff\xff\xff\xff\xff", 8);

INSTANTIATE_TEST_SUITE_P(
    Records, FastCgiRecordTest,
    ::testing::Values(RecordCase{"TwoGigabyteParameter", WithParams(kTwoGigabytePair)},
                      RecordCase{"TwoGigabyteGetValues", WithParams(kTwoGigabytePair, 9, 0)},
                      RecordCase{"ParametersBeyond64KiB", WithParams(std::string(70000, 'x'))},
                      // A value longer than what its record holds, then the parameters' end.
                      RecordCase{"ValueBeyondItsParameters",
                                 WithParams(std::string("\x01\x64Nx", 4)) +
                                     std::string("\x01\x04\x00\x01\x00\x00\x00\x00", 8)},
                      RecordCase{"NotVersion1", std::string(8, '\x02')}),
    [](const auto& row) { return std::string(row.param.name); });

// A second request on a connection that serves one is refused (FCGI_CANT_MPX_CONN), and the first
// is served as if it had not come.
TEST_F(FastCgiGuardTest, SecondRequestOnAConnectionIsRefusedAndTheFirstIsServed) {
  StartServer();
  ASSERT_TRUE(FastCgiProcess::WaitForSocket(Socket())) << FileText("server.out");
  std::string second = Begin();
  second[3] = '\2';
  const std::string post = Post();
  const int fd = UnixSocket(Socket());
  const timeval limit{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  SendAll(fd, post.substr(0, 16) + second + post.substr(16));
  std::string in;
  char block[8192];
  for (ssize_t n; (n = recv(fd, block, sizeof block, 0)) > 0;) in.append(block, n);
  close(fd);
  EXPECT_NE(in.find(std::string("\1\3\0\2\0\x08\0\0\0\0\0\0\1\0\0\0", 16)), std::string::npos);
  EXPECT_NE(in.find("Status: 200 OK\r\n"), std::string::npos) << in;
}

TEST_F(FastCgiGuardTest, UnixSocketIsCreated0660EvenUnderUmask000) {
  const mode_t saved = umask(0);
  StartServer();
  umask(saved);
  ASSERT_TRUE(FastCgiProcess::WaitForSocket(Socket())) << FileText("server.out");
  struct stat info {};
  ASSERT_EQ(lstat(Socket().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0660u);
}

// A TCP peer at `from`, with the server allowing `allow` ("" for the default): answered or not.
struct PeerCase {
  const char* name;
  const char* from;
  const char* allow;
  bool answered;
};

class FastCgiPeerTest : public FastCgiGuardTest, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(FastCgiPeerTest, OnlyAllowedClientsAreServed) {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), size), 0);
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
  close(probe);
  const std::string port = std::to_string(ntohs(address.sin_port));
  std::vector<std::string> options;
  if (*GetParam().allow != '\0') options = {"--allow-clients", GetParam().allow};
  StartServer(options, "127.0.0.1:" + port);

  int fd = -1;
  for (int round = 0; round < 500 && fd < 0; ++round) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, GetParam().from, &from.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd);
      fd = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ASSERT_GE(fd, 0) << FileText("server.out");
  const timeval limit{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  SendAll(fd, Post());
  const Answer answer = ReadAnswer(fd);
  EXPECT_EQ(answer.complete, GetParam().answered) << answer.output << FileText("server.out");
  EXPECT_EQ(smtp_.WaitForMessages(1, std::chrono::seconds(GetParam().answered ? 10 : 1)),
            GetParam().answered ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, FastCgiPeerTest,
    ::testing::Values(PeerCase{"OtherAddressNotListed", "127.0.0.2", "127.0.0.1", false},
                      PeerCase{"ListedAddress", "127.0.0.1", "127.0.0.1", true},
                      PeerCase{"LoopbackByDefault", "127.0.0.2", "", true},
                      PeerCase{"ListReplacesLoopback", "127.0.0.1", "::1", false}),
    [](const auto& row) { return std::string(row.param.name); });

struct BadOptionCase {
  const char* name;
  std::vector<std::string> options;
  const char* address;  // "" for the site's unix socket
  const char* reason;
};

class FastCgiGuardOptionTest : public FastCgiGuardTest,
                               public ::testing::WithParamInterface<BadOptionCase> {};

TEST_P(FastCgiGuardOptionTest, BadGuardOptionsEndTheStartWithTheirReason) {
  StartServer(GetParam().options, GetParam().address);
  EXPECT_EQ(process_->Wait(), 2);
  EXPECT_NE(FileText("server.out").find(GetParam().reason), std::string::npos)
      << FileText("server.out");
}

INSTANTIATE_TEST_SUITE_P(
    Options, FastCgiGuardOptionTest,
    ::testing::Values(
        BadOptionCase{"NotAnAddress",
                      {"--allow-clients", "127.0.0.1,10.0.0.300"},
                      "",
                      "--allow-clients takes IP addresses separated by commas: \"10.0.0.300\""},
        BadOptionCase{"UnknownGroup",
                      {"--socket-group", "no-such-group-here"},
                      "",
                      "no such group: no-such-group-here"},
        BadOptionCase{"GroupOnTcp",
                      {"--socket-group", "root"},
                      "127.0.0.1:1",
                      "--socket-group applies to a unix socket only"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace gateway_test
