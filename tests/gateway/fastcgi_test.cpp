// The gateway as a resident FastCGI application: one process, several request threads, many
// submissions, each with its own state; started with --fastcgi or with the socket on standard
// input; stopped by SIGTERM without losing the requests in hand.
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "gateway_site.h"
#include "mail/scripted_smtp_server.h"
#include "support/fastcgi_client.h"

namespace gateway_test {
namespace {

class FastCgiTest : public GatewaySite {
 protected:
  void TearDown() override {
    process_.reset();
    GatewaySite::TearDown();
  }

  std::string Socket() const { return dir_ + "fcgi.sock"; }

  // Starts the site's brevix.cgi as a FastCGI server on its unix socket with `threads` threads, or
  // (given `listener`) on that listening socket as its standard input.
  void StartServer(int threads, int listener = -1) {
    WriteIni();
    process_ = std::make_unique<fastcgi_test::FastCgiProcess>();
    std::vector<std::string> args;
    if (listener < 0) args = {"--fastcgi", Socket(), "--threads", std::to_string(threads)};
    ASSERT_TRUE(process_->Start(dir_ + "brevix.cgi", args, dir_ + "server.out", listener));
    if (listener >= 0) return;  // the socket accepts already
    ASSERT_TRUE(fastcgi_test::FastCgiProcess::WaitForSocket(Socket())) << FileText("server.out");
  }

  // The parameters of a form post with a body of `length` bytes.
  std::map<std::string, std::string> PostParams(size_t length) const {
    auto params = Environment("POST");
    params["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    params["CONTENT_LENGTH"] = std::to_string(length);
    return params;
  }

  // Posts `body`; a `stall_after` below its size sends only that much and then nothing more.
  fastcgi_test::Answer Submit(const std::string& body,
                              size_t stall_after = std::string::npos) const {
    const bool whole = stall_after >= body.size();
    return fastcgi_test::Request(Socket(), PostParams(body.size()),
                                 whole ? body : body.substr(0, stall_after), whole);
  }

  // Waits until `done` (60 s at most).
  static void WaitUntil(const std::function<bool()>& done) {
    for (int round = 0; round < 6000 && !done(); ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  static std::string AnswerBody(const fastcgi_test::Answer& answer) {
    const size_t end = answer.output.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.output.substr(end + 4);
  }

  std::unique_ptr<fastcgi_test::FastCgiProcess> process_;
};

TEST_F(FastCgiTest, FourThreadsServeManySubmissionsWithUniqueNumbersAndNoLostRecord) {
  constexpr int kClients = 4;
  constexpr int kPerClient = 30;
  constexpr int kSubmissions = kClients * kPerClient;
  ini_["Results_File"] = "results.csv";
  ini_["Results_File_Template"] = "record.txt";
  ini_["Entry_Log"] = "entries.log";
  ini_["Message_Text"] = "message.txt";
  ini_["Response_Page"] = "thanks.htm";
  // A long record makes torn or interleaved appends visible.
  WriteFile("record.txt", "BEGIN %n% " + std::string(3000, 'x') + " END %n%");
  WriteFile("message.txt", "Reference <%refnum_order%> for %n%\r\n");
  WriteFile("thanks.htm", "%refnum_order%");
  StartServer(4);

  std::vector<std::future<std::vector<fastcgi_test::Answer>>> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.push_back(std::async(std::launch::async, [this, c] {
      std::vector<fastcgi_test::Answer> answers;
      for (int i = 0; i < kPerClient; ++i) {
        answers.push_back(Submit("mail_from=a%40b.test&n=" + std::to_string(c * kPerClient + i)));
      }
      return answers;
    }));
  }
  std::set<std::string> page_numbers;
  for (auto& client : clients) {
    for (const auto& answer : client.get()) {
      ASSERT_TRUE(answer.complete) << answer.output << FileText("server.out");
      EXPECT_EQ(answer.output.rfind("Status: 200 OK\r\n", 0), 0u) << answer.output;
      page_numbers.insert(AnswerBody(answer));
    }
  }
  EXPECT_EQ(page_numbers.size(), static_cast<size_t>(kSubmissions));
  EXPECT_EQ(FileText("BX-RefNumbers.txt"), "order=" + std::to_string(kSubmissions) + "\r\n");
  ASSERT_EQ(smtp_.WaitForMessages(kSubmissions, std::chrono::seconds(60)), kSubmissions);
  EXPECT_EQ(smtp_.ReferenceNumbers(kSubmissions), page_numbers);
  const std::string results = FileText("results.csv");
  EXPECT_EQ(CountOf(results, "\r\n"), kSubmissions);
  for (int i = 0; i < kSubmissions; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_NE(results.find("BEGIN " + n + " " + std::string(3000, 'x') + " END " + n + "\r\n"),
              std::string::npos)
        << "record " << n;
  }
  EXPECT_EQ(CountOf(FileText("entries.log"), "\r\n"), kSubmissions);
  EXPECT_EQ(ErrorLog(), "");

  // The resident process reads brevix.ini for every request: an edit counts at once.
  ini_["Mail_Subject"] = "Edited subject";
  WriteIni();
  ASSERT_TRUE(Submit("mail_from=a%40b.test&n=last").complete);
  EXPECT_NE(Mail(kSubmissions + 1).find("Subject: Edited subject"), std::string::npos);

  process_->Signal(SIGTERM);
  EXPECT_EQ(process_->Wait(), 0) << FileText("server.out");
}

TEST_F(FastCgiTest, StopSignalLetsTheRequestInHandFinishItsMailAndAnswer) {
  // A mail server that holds the gateway at its first command until the stop has been asked
  // for: the request is then certainly in hand when SIGTERM arrives.
  brevix_test::ScriptedSmtpServer mail_server;
  std::promise<void> in_hand;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  bool first = true;
  mail_server.on_command = [&](const std::string& command) {
    if (first) {
      first = false;
      in_hand.set_value();
      released.wait();
    }
    return brevix_test::ScriptedSmtpServer::DefaultReply(command);
  };
  mail_server.Start();
  ini_["SMTP_Port"] = mail_server.PortText();
  ini_["Response_Page"] = "thanks.htm";
  WriteFile("thanks.htm", "<p>Thanks.</p>");
  StartServer(2);

  auto answer = std::async(std::launch::async, [this] { return Submit("mail_from=a%40b.test"); });
  ASSERT_EQ(in_hand.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  process_->Signal(SIGTERM);
  release.set_value();

  const fastcgi_test::Answer result = answer.get();
  ASSERT_TRUE(result.complete) << FileText("server.out");
  EXPECT_EQ(AnswerBody(result), "<p>Thanks.</p>");
  EXPECT_NE(mail_server.Received().find("DATA"), std::string::npos);
  EXPECT_EQ(process_->Wait(), 0) << FileText("server.out");
  EXPECT_EQ(ErrorLog(), "");
}

// A request thread keeps its mail server connection between submissions (RSET between the
// mails), unless the owner set SMTP_Keep_Alive=0; either way each mail arrives once.
TEST_F(FastCgiTest, ThreadKeepsItsMailConnectionUnlessTheOwnerTurnsItOff) {
  for (const char* keep : {"", "0"}) {
    SCOPED_TRACE(std::string("SMTP_Keep_Alive=") + keep);
    brevix_test::ScriptedSmtpServer mail_server;
    mail_server.Start();
    ini_["SMTP_Port"] = mail_server.PortText();
    ini_["SMTP_Keep_Alive"] = keep;
    StartServer(1);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Submit("mail_from=a%40b.test").complete);
    const std::string seen = mail_server.Received();
    EXPECT_EQ(mail_server.Connections(), *keep ? 3 : 1);
    EXPECT_EQ(CountOf(seen, "RSET\r\n"), *keep ? 0 : 2);
    EXPECT_EQ(mail_server.Messages().size(), 3u);
    process_->Signal(SIGTERM);
    EXPECT_EQ(process_->Wait(), 0) << FileText("server.out");
  }
}

TEST_F(FastCgiTest, BodyThatStopsArrivingFailsTheRequestInsteadOfSendingWhatCame) {
  // Waits out the connection's 30 s receive time-out.
  ini_["Results_File"] = "results.csv";
  StartServer(1);

  const std::string body = "mail_from=a%40b.test&comments=" + std::string(200, 'x');
  const fastcgi_test::Answer result = Submit(body, 40);

  ASSERT_TRUE(result.complete) << FileText("server.out");
  EXPECT_NE(result.output.find("Request body not received in time"), std::string::npos)
      << result.output;
  EXPECT_EQ(smtp_.MessageCount(), 0);
  EXPECT_FALSE(Exists("results.csv"));
}

// A web server that drops the connection halfway through the body: what came is never mailed as
// if it were the whole, and the thread serves on.
TEST_F(FastCgiTest, BodyCutShortByAClosedConnectionIsNeverMailed) {
  ini_["Results_File"] = "results.csv";
  StartServer(1);
  const std::string body = "mail_from=a%40b.test&n=cut" + std::string(200, 'x');
  ::close(fastcgi_test::SendRequest(Socket(), PostParams(body.size()), body.substr(0, 40), false));
  const fastcgi_test::Answer next = Submit("mail_from=a%40b.test&n=whole");
  EXPECT_EQ(next.output.rfind("Status: 200 OK\r\n", 0), 0u) << next.output;
  ASSERT_EQ(smtp_.WaitForMessages(1), 1);
  EXPECT_EQ(smtp_.Message(1).raw.find("cut"), std::string::npos);
  EXPECT_EQ(FileText("results.csv").find("cut"), std::string::npos);
}

TEST_F(FastCgiTest, StopRemovesThePathThenAnswersTheRequestsInHandAndQueued) {
  StartServer(2);
  // Slow requests, whose bodies stop after 30 bytes until the stop is under way: two are in the
  // threads' hands, three wait in the socket's queue (which a stop used to reset).
  std::vector<std::string> bodies;
  std::vector<int> connections;
  for (int i = 0; i < 5; ++i) {
    bodies.push_back("mail_from=a%40b.test&n=" + std::to_string(i) + std::string(40, '0'));
    connections.push_back(fastcgi_test::SendRequest(Socket(), PostParams(bodies[i].size()),
                                                    bodies[i].substr(0, 30), false));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // To every thread: the two reading a body must not take the signal for a broken connection.
  process_->SignalEveryThread(SIGTERM);
  WaitUntil([this] { return !Exists("fcgi.sock"); });
  ASSERT_FALSE(Exists("fcgi.sock"));
  for (int i = 0; i < 5; ++i) {
    fastcgi_test::SendBodyEnd(connections[i], bodies[i].substr(30));
    const fastcgi_test::Answer answer = fastcgi_test::ReadAnswer(connections[i]);
    EXPECT_EQ(answer.output.rfind("Status: 200 OK\r\n", 0), 0u) << i << answer.output;
  }
  EXPECT_EQ(process_->Wait(), 0) << FileText("server.out");
  EXPECT_EQ(smtp_.WaitForMessages(5), 5);
}

TEST_F(FastCgiTest, RestartsOnTheInheritedSocketLoseNoSubmission) {
  // As under systemd's socket unit: the listening socket outlives the processes, each of which
  // serves it as its standard input. A client keeps submitting across a SIGTERM (a request in
  // flight) and a SIGKILL of an idle process, after each of which a fresh process takes over.
  ini_["Response_Page"] = "thanks.htm";
  WriteFile("thanks.htm", "<p>Thanks %n%.</p>");
  const int listener = fastcgi_test::UnixSocket(Socket(), true);
  StartServer(1, listener);
  std::atomic<int> answered{0};
  std::atomic<bool> hold{false};
  std::atomic<bool> idle{false};
  auto client = std::async(std::launch::async, [&] {
    int failed = 0;
    for (int i = 0; i < 200; ++i, ++answered) {
      for (; hold.load(); idle = true) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      idle = false;
      const auto answer = Submit("mail_from=a%40b.test&n=" + std::to_string(i));
      failed += answer.output.rfind("Status: 200 OK\r\n", 0) != 0 ||
                AnswerBody(answer) != "<p>Thanks " + std::to_string(i) + ".</p>";
    }
    return failed;
  });
  WaitUntil([&] { return answered.load() >= 50; });
  process_->Signal(SIGTERM);
  EXPECT_EQ(process_->Wait(), 0) << FileText("server.out");
  StartServer(1, listener);
  WaitUntil([&] { return answered.load() >= 120; });
  hold = true;
  WaitUntil([&] { return idle.load(); });
  process_->Signal(SIGKILL);
  process_->Wait();
  hold = false;  // the next submission waits in the queue with no process at all
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  StartServer(1, listener);

  EXPECT_EQ(client.get(), 0) << FileText("server.out");
  process_->Signal(SIGTERM);
  EXPECT_EQ(process_->Wait(), 0);  // no mail can follow: each submission was mailed exactly once
  EXPECT_EQ(smtp_.WaitForMessages(200, std::chrono::seconds(60)), 200);
  // It served FastCGI, not the request server a start without parameters would have been.
  EXPECT_FALSE(Exists("Temp/brevix.cgi_s"));
  close(listener);
}

// A second start on a path another process serves is refused and leaves that process serving;
// a socket file nobody answers on (a killed run's) is taken over.
class FastCgiSecondStartTest : public FastCgiTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FastCgiSecondStartTest, LiveSocketIsRefusedStaleSocketIsTakenOver) {
  const bool first_alive = GetParam();
  StartServer(1);
  if (!first_alive) {
    process_->Signal(SIGKILL);
    process_->Wait();
  }
  auto second = std::make_unique<fastcgi_test::FastCgiProcess>();
  ASSERT_TRUE(second->Start(dir_ + "brevix.cgi", {"--fastcgi", Socket()}, dir_ + "second.out"));
  if (first_alive) {
    EXPECT_EQ(second->Wait(), 2);
    EXPECT_NE(FileText("second.out").find("another process already serves " + Socket()),
              std::string::npos);
  } else {
    ASSERT_TRUE(fastcgi_test::FastCgiProcess::WaitForSocket(Socket())) << FileText("second.out");
    process_ = std::move(second);
  }
  EXPECT_TRUE(Submit("mail_from=a%40b.test").complete);
  process_->Signal(SIGTERM);
  EXPECT_EQ(process_->Wait(), 0);
  EXPECT_FALSE(Exists("fcgi.sock"));  // the stopped process took its path with it
}

INSTANTIATE_TEST_SUITE_P(Starts, FastCgiSecondStartTest, ::testing::Bool());

struct BadStart {
  std::vector<std::string> args;
  std::string message;
};

// The options as the case's name, so that ctest's names stay the same from build to build.
void PrintTo(const BadStart& start, std::ostream* os) {
  for (const std::string& arg : start.args) *os << arg << ' ';
}

class FastCgiOptionTest : public GatewaySite, public ::testing::WithParamInterface<BadStart> {};

TEST_P(FastCgiOptionTest, BadOptionsEndTheStartWithAReasonAndExitCode2) {
  fastcgi_test::FastCgiProcess process;
  std::vector<std::string> args = GetParam().args;
  for (std::string& arg : args) {
    if (arg == "SOCKET") arg = dir_ + "fcgi.sock";
    if (arg == "FILE") arg = dir_ + "brevix.ini";
  }
  WriteIni();
  ASSERT_TRUE(process.Start(dir_ + "brevix.cgi", args, dir_ + "server.out"));
  EXPECT_EQ(process.Wait(), 2);
  EXPECT_NE(FileText("server.out").find(GetParam().message), std::string::npos)
      << FileText("server.out");
  // A file that is not a socket is never replaced by one.
  EXPECT_NE(FileText("brevix.ini"), "");
}

INSTANTIATE_TEST_SUITE_P(
    Starts, FastCgiOptionTest,
    ::testing::Values(
        BadStart{{"--threads", "0", "--fastcgi", "SOCKET"}, "--threads takes a number"},
        BadStart{{"--fastcgi", "SOCKET", "--threads", "4x"}, "--threads takes a number"},
        BadStart{{"--fastcgi"}, "missing value for --fastcgi"},
        BadStart{{"--fastcgi", "SOCKET", "--verbose"}, "unknown option: --verbose"},
        BadStart{{"--threads", "2"}, "standard input is not a listening socket"},
        BadStart{{"--fastcgi", "no-port-here"}, "expected a unix socket path or host:port"},
        BadStart{{"--fastcgi", "FILE"}, "not a socket, left alone"}));

}  // namespace
}  // namespace gateway_test
