#include "mail/tcp_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "common/exception.h"
#include "mail/scripted_smtp_server.h"
#include "mail/winsock_errors.h"
#include "platform/message_pump.h"

namespace {

using std::chrono::steady_clock;

// Pumps the thread's messages until `done` holds or five seconds have passed.
template <typename Pred>
bool PumpUntil(Pred done) {
  const auto until = steady_clock::now() + std::chrono::seconds(5);
  while (!done() && steady_clock::now() < until) ProcessMessages(50);
  return done();
}

// A client whose send retries can be lowered, so a stalled peer is detected quickly.
class TestClient : public TTCPClient {
 public:
  void SetRetryLimit(int limit) { send_retry_limit_ = limit; }
  using TTCPClient::ConnectTo;
};

TTCPClient::TSocketAddress Ipv4Address(const char* address, const std::string& port) {
  TTCPClient::TSocketAddress a;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&a.storage);
  v4->sin_family = AF_INET;
  inet_pton(AF_INET, address, &v4->sin_addr);
  v4->sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
  a.length = sizeof(sockaddr_in);
  return a;
}

// A port on 127.0.0.1 with nobody listening.
std::string ClosedPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return std::to_string(ntohs(a.sin_port));
}

TEST(TcpClientResolveTest, PortsByNumberAndServiceName) {
  TTCPClient client;
  for (const char* port : {"25", "smtp"}) {
    sockaddr_in address{};
    ASSERT_TRUE(client.ResolveAddress("127.0.0.1", port, address)) << port;
    EXPECT_EQ(ntohs(address.sin_port), 25) << port;
    EXPECT_EQ(address.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  }
}

TEST(TcpClientResolveTest, UnknownHostRecordsHostNotFound) {
  TTCPClient client;
  int reported = 0;
  std::string reported_text;
  client.OnError = [&](TCustomCGISocket*, int code, const std::string& text) {
    reported = code;
    reported_text = text;
  };
  sockaddr_in address{};
  EXPECT_FALSE(client.ResolveAddress("no-such-host.invalid", "25", address));
  // A resolver that cannot reach its name server answers "try again" instead.
  if (client.LastError() != WSATRY_AGAIN) {
    EXPECT_EQ(client.LastError(), WSAHOST_NOT_FOUND);
    EXPECT_EQ(client.ErrorText(), "Host not found");
  }
  EXPECT_EQ(reported, client.LastError());
  EXPECT_EQ(reported_text, client.ErrorText());

  client.RemoteHost = "no-such-host.invalid";
  client.RemotePort = "25";
  client.Connect();
  EXPECT_EQ(client.State(), kSocketIdle);
}

TEST(TcpClientResolveTest, BadPortsAreClearErrors) {
  TTCPClient client;
  sockaddr_in address{};
  try {
    client.ResolveAddress("127.0.0.1", "twenty-five", address);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "'twenty-five' is not a valid integer value");
  }
  EXPECT_FALSE(client.ResolveAddress("127.0.0.1", "65536", address));
  EXPECT_EQ(client.LastError(), WSAEINVAL);
}

TEST(WinSockErrorTest, TextsAndErrnoMapping) {
  EXPECT_EQ(WinSockErrorText(0), "");
  EXPECT_EQ(WinSockErrorText(12345), "");
  EXPECT_EQ(WinSockErrorText(10061), "Connection refused");
  EXPECT_EQ(WinSockErrorText(10059), "Too many references:can't splice");
  EXPECT_EQ(WinSockErrorText(11004), "Valid name, no data record of requested type");
  EXPECT_EQ(WinSockErrorFromErrno(ECONNREFUSED), WSAECONNREFUSED);
  EXPECT_EQ(WinSockErrorFromErrno(EAGAIN), WSAEWOULDBLOCK);
  EXPECT_EQ(WinSockErrorFromErrno(ETIMEDOUT), WSAETIMEDOUT);
  EXPECT_EQ(WinSockErrorFromErrno(EPIPE), WSAECONNRESET);
  TTCPClient client;
  EXPECT_EQ(client.ErrorText(), "");
}

TEST(TcpClientConnectTest, ConnectsReceivesAndDisconnects) {
  brevix_test::ScriptedSmtpServer server;
  server.Start();
  TTCPClient client;
  client.RemoteHost = "127.0.0.1";
  client.RemotePort = server.PortText();
  int connects = 0, reads = 0;
  int nodelay = 0;
  client.OnConnect = [&](TTCPClient*, int fd) {
    ++connects;
    socklen_t len = sizeof nodelay;
    getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nodelay, &len);
  };
  client.OnRead = [&](TTCPClient* c, int fd) {
    ++reads;
    EXPECT_EQ(c->ReceiveText(fd), "220 scripted.test ready\r\n");
  };
  EXPECT_EQ(client.State(), kSocketIdle);
  client.Connect();
  EXPECT_EQ(client.State(), kSocketConnecting);
  ASSERT_TRUE(PumpUntil([&] { return reads > 0; }));
  EXPECT_EQ(client.State(), kSocketConnected);
  EXPECT_EQ(connects, 1);
  EXPECT_NE(nodelay, 0) << "small writes must not wait for the peer's acknowledgement";

  EXPECT_TRUE(client.SendText("QUIT\r\n"));
  client.Disconnect();
  EXPECT_EQ(client.State(), kSocketIdle);
  EXPECT_EQ(client.Socket(), INVALID_SOCKET);
  EXPECT_EQ(RegisteredSocketCount(), 0);
}

TEST(TcpClientConnectTest, RefusedConnectionRecordsTheErrorAndStaysConnecting) {
  TTCPClient client;
  client.RemoteHost = "127.0.0.1";
  client.RemotePort = ClosedPort();
  client.Connect();
  ASSERT_TRUE(PumpUntil([&] { return client.LastError() != 0 || client.State() == kSocketIdle; }));
  EXPECT_EQ(client.LastError(), WSAECONNREFUSED);
  EXPECT_EQ(client.ErrorText(), "Connection refused");
  if (client.State() != kSocketIdle) {
    // Reported through FD_CONNECT: the state waits for the caller to give up.
    ProcessMessages(50);
    EXPECT_EQ(client.State(), kSocketConnecting);
    client.Disconnect();
  }
  EXPECT_EQ(client.State(), kSocketIdle);
}

TEST(TcpClientConnectTest, PeerClosingDisconnectsTheClient) {
  brevix_test::ScriptedSmtpServer server;
  server.greeting = "";
  server.on_command = [](const std::string&) {
    return std::string(brevix_test::ScriptedSmtpServer::kHangUp);
  };
  server.Start();
  TTCPClient client;
  client.RemoteHost = "127.0.0.1";
  client.RemotePort = server.PortText();
  int disconnects = 0;
  client.OnDisconnect = [&](TTCPClient*, int) { ++disconnects; };
  client.Connect();
  ASSERT_TRUE(PumpUntil([&] { return client.State() == kSocketConnected; }));
  ASSERT_TRUE(client.SendText("BYE\r\n"));
  ASSERT_TRUE(PumpUntil([&] { return disconnects > 0; }));
  EXPECT_EQ(client.State(), kSocketIdle);
  EXPECT_EQ(client.Socket(), INVALID_SOCKET);
}

// A host with several addresses: the client must reach the one that answers, whether the ones
// before it refuse (the client moves on by itself) or stay silent (the caller moves it on when
// that address's share of the connect time-out is spent).
TEST(TcpClientConnectTest, TriesEveryAddressInOrder) {
  brevix_test::ScriptedSmtpServer server;
  server.Start();
  // 198.51.100.1 is a documentation address: it never answers (or is unreachable at once).
  for (const char* first : {"127.0.0.1", "198.51.100.1"}) {
    TestClient client;
    std::vector<int> errors;
    client.OnError = [&](TCustomCGISocket*, int code, const std::string&) {
      errors.push_back(code);
    };
    const std::string port = std::string(first) == "127.0.0.1" ? ClosedPort() : "25";
    client.ConnectTo({Ipv4Address(first, port), Ipv4Address("127.0.0.1", server.PortText())});
    if (client.State() == kSocketConnecting && client.AddressesLeft() == 1 &&
        std::string(first) != "127.0.0.1") {
      EXPECT_TRUE(client.ConnectNextAddress());
    }
    ASSERT_TRUE(PumpUntil([&] { return client.State() == kSocketConnected; })) << first;
    EXPECT_EQ(client.LastError(), 0) << first;
    ASSERT_EQ(errors.size(), 1u) << first;  // the first address's failure was reported
    if (std::string(first) == "127.0.0.1") {
      EXPECT_EQ(errors[0], WSAECONNREFUSED);
    }
    client.Disconnect();
  }
}

TEST(TcpClientSendTest, StalledPeerEndsTheSendWithAnError) {
  brevix_test::ScriptedSmtpServer server;
  server.Start(/*listen_only=*/true);  // accepted by the kernel, never read
  TestClient client;
  client.SetRetryLimit(10);
  client.RemoteHost = "127.0.0.1";
  client.RemotePort = server.PortText();
  client.Connect();
  ASSERT_TRUE(PumpUntil([&] { return client.State() == kSocketConnected; }));
  const std::string big(64 * 1024 * 1024, 'x');
  const auto start = steady_clock::now();
  EXPECT_FALSE(client.SendText(big));
  EXPECT_EQ(client.LastError(), WSAETIMEDOUT);
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(client.SendText(""));
}

TEST(TcpClientSendTest, SendWithoutConnectionFails) {
  TTCPClient client;
  EXPECT_FALSE(client.SendText("x"));
  EXPECT_EQ(client.LastError(), WSAENOTCONN);
}

}  // namespace
