// The sender against a scripted peer: exact reply sequences, silence, hanging up, refusals.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "mail/scripted_smtp_server.h"
#include "mail/smtp_kept_connection.h"
#include "mail/smtp_send_mail.h"
#include "mail/winsock_errors.h"

namespace {

using brevix_test::ScriptedSmtpServer;
using std::chrono::steady_clock;

class SmtpDialogueTest : public testing::Test {
 protected:
  void StartServer(bool listen_only = false) {
    server_.Start(listen_only);
    sender_.RemoteHost = "127.0.0.1";
    sender_.RemotePort = server_.PortText();
    sender_.MailFrom = "form@site.test";
    sender_.MailTo = "owner@site.test";
    sender_.MailSubject = "Order";
    sender_.MailBody.Add("Hello");
  }

  // The command verbs the server saw, in order ("HELO", "MAIL", ...).
  std::vector<std::string> SeenVerbs() const {
    std::vector<std::string> verbs;
    for (const std::string& c : server_.Commands()) verbs.push_back(c.substr(0, 4));
    return verbs;
  }

  ScriptedSmtpServer server_;
  TSmtpSendMail sender_;
};

using VerbList = std::vector<std::string>;

TEST_F(SmtpDialogueTest, RefusedRecipientFailsWithServerReply) {
  server_.on_command = [](const std::string& c) -> std::string {
    if (c.starts_with("RCPT")) return "550 5.1.1 <owner@site.test>: no such user\r\n";
    return ScriptedSmtpServer::DefaultReply(c);
  };
  StartServer();
  EXPECT_FALSE(sender_.SendMail(5));
  EXPECT_EQ(sender_.GetLastErrorText(), "550 5.1.1 <owner@site.test>: no such user\r\n");
  EXPECT_EQ(SeenVerbs(), (VerbList{"HELO", "MAIL", "RCPT"}));
  EXPECT_EQ(sender_.State(), kSocketIdle);
}

TEST_F(SmtpDialogueTest, MultiLineRepliesKeepTheDialogueInStep) {
  // Regression: only the first line of a reply was read, so each later reply was answered by
  // the rest of the previous one.
  server_.greeting = "220-scripted.test welcome\r\n220-no spam please\r\n220 ready\r\n";
  server_.on_command = [](const std::string& c) -> std::string {
    if (c.starts_with("HELO")) return "250-scripted.test\r\n250-PIPELINING\r\n250 8BITMIME\r\n";
    // 251 (not local, will forward) accepts the recipient as 250 does.
    if (c.starts_with("RCPT")) return "251-not local\r\n251 will forward\r\n";
    return ScriptedSmtpServer::DefaultReply(c);
  };
  server_.data_reply = "250-queued\r\n250 as 12345\r\n";
  StartServer();
  EXPECT_TRUE(sender_.SendMail(5)) << sender_.GetLastErrorText();
  EXPECT_EQ(SeenVerbs(), (VerbList{"HELO", "MAIL", "RCPT", "DATA", "QUIT"}));
  ASSERT_EQ(server_.Messages().size(), 1u);
}

TEST_F(SmtpDialogueTest, GreetingCodeIsNotJudged) {
  // Only HELO decides whether the session opens; an odd greeting line is read and passed over.
  server_.greeting = "hello from a strange server\r\n";
  StartServer();
  EXPECT_TRUE(sender_.SendMail(5)) << sender_.GetLastErrorText();
  EXPECT_EQ(SeenVerbs(), (VerbList{"HELO", "MAIL", "RCPT", "DATA", "QUIT"}));
}

TEST_F(SmtpDialogueTest, HeloWithoutNameIsTriedWhenTheFirstIsRefused) {
  server_.on_command = [](const std::string& c) -> std::string {
    if (c.starts_with("HELO ")) return "501 bad name\r\n";
    return ScriptedSmtpServer::DefaultReply(c);
  };
  StartServer();
  EXPECT_TRUE(sender_.SendMail(5)) << sender_.GetLastErrorText();
  const auto commands = server_.Commands();
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ(commands[1], "HELO");
}

TEST_F(SmtpDialogueTest, StepsFailOnTheirOwnReplyCodes) {
  struct Case {
    std::string verb, reply;
    VerbList seen;
  };
  const Case cases[] = {
      {"HELO", "554 go away\r\n", {"HELO", "HELO"}},
      {"MAIL", "553 sender rejected\r\n", {"HELO", "MAIL"}},
      {"DATA", "503 need RCPT\r\n", {"HELO", "MAIL", "RCPT", "DATA"}},
  };
  for (const Case& c : cases) {
    ScriptedSmtpServer server;
    server.on_command = [&c](const std::string& command) -> std::string {
      if (command.starts_with(c.verb)) return c.reply;
      return ScriptedSmtpServer::DefaultReply(command);
    };
    server.Start();
    TSmtpSendMail sender;
    sender.RemoteHost = "127.0.0.1";
    sender.RemotePort = server.PortText();
    sender.MailFrom = "a@site.test";
    sender.MailTo = "b@site.test";
    EXPECT_FALSE(sender.SendMail(5)) << c.verb;
    EXPECT_EQ(sender.GetLastErrorText(), c.reply) << c.verb;
    VerbList seen;
    for (const std::string& command : server.Commands()) seen.push_back(command.substr(0, 4));
    EXPECT_EQ(seen, c.seen) << c.verb;
  }
}

TEST_F(SmtpDialogueTest, RejectedMessageIsAFailure) {
  server_.data_reply = "552 message too big\r\n";
  StartServer();
  EXPECT_FALSE(sender_.SendMail(5));
  EXPECT_EQ(sender_.GetLastErrorText(), "552 message too big\r\n");
}

TEST_F(SmtpDialogueTest, ServerHangingUpOnQuitStillMeansSent) {
  // Regression: a server that closes instead of answering QUIT turned a delivered mail into a
  // failure.
  server_.on_command = [](const std::string& c) -> std::string {
    if (c.starts_with("QUIT")) return ScriptedSmtpServer::kHangUp;
    return ScriptedSmtpServer::DefaultReply(c);
  };
  StartServer();
  const auto start = steady_clock::now();
  EXPECT_TRUE(sender_.SendMail(5));
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(4)) << "no wait for a reply";
  EXPECT_EQ(server_.Messages().size(), 1u);
}

TEST_F(SmtpDialogueTest, QuitAnsweredWithAnErrorStillMeansSent) {
  server_.on_command = [](const std::string& c) -> std::string {
    if (c.starts_with("QUIT")) return "500 what\r\n";
    return ScriptedSmtpServer::DefaultReply(c);
  };
  StartServer();
  EXPECT_TRUE(sender_.SendMail(5));
  EXPECT_EQ(sender_.State(), kSocketIdle);
}

TEST_F(SmtpDialogueTest, SilentServerTimesOut) {
  server_.greeting = ScriptedSmtpServer::kNoReply;
  StartServer();
  const auto start = steady_clock::now();
  EXPECT_FALSE(sender_.SendMail(1));
  EXPECT_GE(steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_EQ(sender_.GetLastErrorText(), "SendMessage timeout");
  EXPECT_EQ(sender_.State(), kSocketIdle);
}

TEST_F(SmtpDialogueTest, TimeOutBoundsTheWholeDialogue) {
  // Each reply comes after 600 ms: less than the time-out per reply, more than it in total. A
  // clock that every reply restarted would let such a server hold the caller indefinitely.
  server_.on_command = [](const std::string& c) -> std::string {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    return ScriptedSmtpServer::DefaultReply(c);
  };
  StartServer();
  const auto start = steady_clock::now();
  EXPECT_FALSE(sender_.SendMail(1));
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(sender_.GetLastErrorText(), "SendMessage timeout");
  EXPECT_EQ(server_.Messages().size(), 0u);
}

TEST_F(SmtpDialogueTest, StalledMessageTransferEndsAtTheTimeOut) {
  // The server stops reading in the middle of the message; the send's own retry budget (about
  // 30 seconds) must not outlast the dialogue's limit.
  server_.stall_in_data = true;
  StartServer();
  sender_.MailBody.Clear();
  sender_.MailBody.Add(std::string(16 * 1024 * 1024, 'x'));
  const auto start = steady_clock::now();
  EXPECT_FALSE(sender_.SendMail(2));
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(sender_.GetLastErrorText(), "Connection timed out");
}

TEST_F(SmtpDialogueTest, ServerHangingUpMidDialogueFailsAtOnce) {
  server_.on_command = [](const std::string& c) -> std::string {
    if (c.starts_with("MAIL")) return ScriptedSmtpServer::kHangUp;
    return ScriptedSmtpServer::DefaultReply(c);
  };
  StartServer();
  const auto start = steady_clock::now();
  EXPECT_FALSE(sender_.SendMail(10));
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(sender_.GetLastErrorText(), "Connection reset by peer");
}

TEST_F(SmtpDialogueTest, RefusedPortFailsWithConnectionRefused) {
  StartServer();
  server_.Stop();  // nobody listens on the port any more
  const auto start = steady_clock::now();
  EXPECT_FALSE(sender_.SendMail(30));
  EXPECT_EQ(sender_.GetLastErrorText(), "Connection refused");
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5)) << "a refusal is final";
}

TEST_F(SmtpDialogueTest, UnknownHostFailsWithHostNotFound) {
  StartServer();
  sender_.RemoteHost = "no-such-host.invalid";
  EXPECT_FALSE(sender_.SendMail(5));
  const std::string text = sender_.GetLastErrorText();
  EXPECT_TRUE(text == "Host not found" || text == "Non authoritative - host not found") << text;
  EXPECT_EQ(server_.Connections(), 0);
}

TEST_F(SmtpDialogueTest, ConnectThatNeverCompletesEndsWithTheTimeOut) {
  // A listener whose backlog is full drops further connection attempts without answering.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  socklen_t len = sizeof a;
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(s);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  sender_.RemoteHost = "127.0.0.1";
  sender_.RemotePort = std::to_string(ntohs(a.sin_port));
  const auto start = steady_clock::now();
  EXPECT_FALSE(sender_.SendMail(2));
  const auto took = steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(1900));
  EXPECT_LT(took, std::chrono::seconds(6));
  EXPECT_EQ(sender_.GetLastErrorText(), "Connection timed out");
  for (int s : fillers) close(s);
  close(listener);
}

TEST_F(SmtpDialogueTest, ConnectionSendsWithoutNagleDelay) {
  // A short last write (the end of the data, a command) must not wait for the server's delayed
  // acknowledgement.
  StartServer();
  int nodelay = -1;
  sender_.OnConnect = [&nodelay](TTCPClient*, int fd) {
    socklen_t len = sizeof nodelay;
    getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nodelay, &len);
  };
  EXPECT_TRUE(sender_.SendMail(5));
  EXPECT_GT(nodelay, 0);
  ASSERT_EQ(server_.Messages().size(), 1u);
  EXPECT_NE(server_.Messages()[0].find("\r\nFrom: <form@site.test>\r\n"), std::string::npos);
}

TEST_F(SmtpDialogueTest, EmptyRecipientListSendsNoRcpt) {
  StartServer();
  sender_.MailTo = "";
  EXPECT_TRUE(sender_.SendMail(5));
  EXPECT_EQ(SeenVerbs(), (VerbList{"HELO", "MAIL", "DATA", "QUIT"}));
}

TEST_F(SmtpDialogueTest, SenderCanSendAgainAfterAFailure) {
  int rcpt_calls = 0;
  server_.on_command = [&rcpt_calls](const std::string& c) -> std::string {
    if (c.starts_with("RCPT") && rcpt_calls++ == 0) return "451 try later\r\n";
    return ScriptedSmtpServer::DefaultReply(c);
  };
  StartServer();
  EXPECT_FALSE(sender_.SendMail(5));
  EXPECT_TRUE(sender_.SendMail(5)) << sender_.GetLastErrorText();
  EXPECT_EQ(server_.Connections(), 2);
  EXPECT_EQ(server_.Messages().size(), 1u);
}

// Two mails in a row from one thread of a resident process: the kept connection, and a fresh
// one whenever the kept one cannot carry the mail. No message may ever arrive twice.
TEST_F(SmtpDialogueTest, KeptConnectionCarriesTheNextMailOnce) {
  struct Case {
    const char* name;
    bool keep_alive;
    std::function<std::string(const std::string&)> on_command;
    int hang_up_at_message;  // hang up after the reply to this message (-1: never)
    bool change_greeting;    // another greeting name for the second mail
    int connections;
    VerbList second;  // the verbs of the second mail's first connection
  };
  int mail_calls = 0;
  const auto refuse_second_mail_from = [&mail_calls](const std::string& c) -> std::string {
    if (c.starts_with("MAIL") && mail_calls++ == 1) return "421 idle too long, closing\r\n";
    return ScriptedSmtpServer::DefaultReply(c);
  };
  const auto hang_up_on_rset = [](const std::string& c) -> std::string {
    return c.starts_with("RSET") ? ScriptedSmtpServer::kHangUp
                                 : ScriptedSmtpServer::DefaultReply(c);
  };
  const Case cases[] = {
      {"rset between mails",
       true,
       ScriptedSmtpServer::DefaultReply,
       -1,
       false,
       1,
       {"RSET", "MAIL", "RCPT", "DATA"}},
      {"keep alive off",
       false,
       ScriptedSmtpServer::DefaultReply,
       -1,
       false,
       2,
       {"HELO", "MAIL", "RCPT", "DATA", "QUIT"}},
      {"closed after the first mail",
       true,
       ScriptedSmtpServer::DefaultReply,
       0,
       false,
       2,
       {"HELO", "MAIL", "RCPT", "DATA"}},
      {"hang-up on rset", true, hang_up_on_rset, -1, false, 2, {"RSET"}},
      {"421 to the next mail from", true, refuse_second_mail_from, -1, false, 2, {"RSET", "MAIL"}},
      {"another greeting name",
       true,
       ScriptedSmtpServer::DefaultReply,
       -1,
       true,
       2,
       {"HELO", "MAIL", "RCPT", "DATA"}},
  };
  AllowKeptSmtpConnections(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mail_calls = 0;
    ScriptedSmtpServer server;
    server.on_command = c.on_command;
    server.hang_up_at_message = c.hang_up_at_message;
    server.hang_up_after_reply = true;
    server.Start();
    TSmtpSendMail sender;
    sender.RemoteHost = "127.0.0.1";
    sender.RemotePort = server.PortText();
    sender.MailFrom = "form@site.test";
    sender.MailTo = "owner@site.test";
    sender.MailBody.Add("Hello");
    sender.HeloName = "site.test";
    sender.Security.KeepAlive = c.keep_alive;
    ASSERT_TRUE(sender.SendMail(5)) << sender.GetLastErrorText();
    const size_t first = server.Commands().size();
    // The server's close reaches the client on the loopback at once; a moment is plenty.
    if (c.hang_up_at_message == 0) usleep(100000);
    if (c.change_greeting) sender.HeloName = "other.test";
    EXPECT_TRUE(sender.SendMail(5)) << sender.GetLastErrorText();
    std::vector<std::string> verbs;
    for (size_t i = first; i < server.Commands().size() && verbs.size() < c.second.size(); ++i)
      verbs.push_back(server.Commands()[i].substr(0, 4));
    EXPECT_EQ(verbs, c.second);
    EXPECT_EQ(server.Connections(), c.connections);
    EXPECT_EQ(server.Messages().size(), 2u);
    TakeKeptSmtpConnection("");  // closes this thread's kept connection
  }
  AllowKeptSmtpConnections(false);
}

// A kept connection never changes what a failure says, nor sends a message twice: a mail the
// fresh connection refuses reports that refusal, not the kept connection's end; a server that
// hangs up after the message was sent is a failure, never a second delivery.
TEST_F(SmtpDialogueTest, KeptConnectionFailuresReadAsAFreshConnectionsAndNeverResend) {
  AllowKeptSmtpConnections(true);
  for (const bool hang_up_in_message : {false, true}) {
    SCOPED_TRACE(hang_up_in_message ? "hang-up before the message's reply" : "refused");
    int rcpt_calls = 0;
    ScriptedSmtpServer server;
    server.on_command = [&rcpt_calls, hang_up_in_message](const std::string& c) -> std::string {
      if (c.starts_with("RSET")) return ScriptedSmtpServer::kHangUp;
      if (!hang_up_in_message && c.starts_with("RCPT") && rcpt_calls++ == 1)
        return "550 5.1.1 <owner@site.test>: no such user\r\n";
      return ScriptedSmtpServer::DefaultReply(c);
    };
    if (hang_up_in_message) server.on_command = ScriptedSmtpServer::DefaultReply;
    if (hang_up_in_message) server.hang_up_at_message = 1;
    server.Start();
    TSmtpSendMail sender;
    sender.RemoteHost = "127.0.0.1";
    sender.RemotePort = server.PortText();
    sender.MailFrom = "form@site.test";
    sender.MailTo = "owner@site.test";
    sender.MailBody.Add("Hello");
    ASSERT_TRUE(sender.SendMail(5)) << sender.GetLastErrorText();
    EXPECT_FALSE(sender.SendMail(5));
    if (hang_up_in_message) {
      EXPECT_EQ(server.Connections(), 1);
      EXPECT_EQ(sender.LastError(), WSAECONNRESET);
    } else {
      EXPECT_EQ(sender.GetLastErrorText(), "550 5.1.1 <owner@site.test>: no such user\r\n");
      EXPECT_EQ(server.Connections(), 2);
    }
    TakeKeptSmtpConnection("");
  }
  AllowKeptSmtpConnections(false);
}

}  // namespace
