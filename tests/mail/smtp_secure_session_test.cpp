// The sender's TLS and login against real servers (aiosmtpd with STARTTLS, implicit TLS and an
// authenticator), the rules that keep a password off the wire, and connecting over IPv6.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mail/smtp_login.h"
#include "mail/smtp_send_mail.h"
#include "mail/winsock_errors.h"
#include "support/smtp_server.h"

namespace {

using brevix_test::TestSmtpServer;
using Mode = TSmtpSecurityMode;

// Two certificates made once for the whole suite: one for localhost (and its addresses) and one
// for another name, each self-signed.
class Certificates {
 public:
  static const Certificates& Get() {
    static const Certificates certificates;
    return certificates;
  }
  std::string Folder(const std::string& name) const { return root_ + "/" + name; }

 private:
  Certificates() {
    char pattern[] = "/tmp/brevix-certs-XXXXXX";
    root_ = ::mkdtemp(pattern);
    for (const char* name : {"localhost", "other.test"}) {
      std::filesystem::create_directories(Folder(name));
      brevix_test::MakeTestCertificate(Folder(name), name);
    }
  }
  ~Certificates() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  std::string root_;
};

// Trusts one certificate as OpenSSL's default store while alive (OpenSSL reads SSL_CERT_FILE
// each time a session loads the default paths).
class TrustedCertificate {
 public:
  explicit TrustedCertificate(const std::string& file) {
    if (!file.empty()) setenv("SSL_CERT_FILE", file.c_str(), 1);
  }
  ~TrustedCertificate() { unsetenv("SSL_CERT_FILE"); }
};

struct SecureCase {
  const char* name;
  // The capture server's options ("--tls starttls", "--user", ...); with --tls it gets the
  // certificate of `server_cert`.
  std::vector<std::string> server;
  Mode mode;
  const char* user;
  const char* password;
  bool verify;
  const char* host;
  // The certificate the client's store trusts for this case ("" = the system's store only).
  const char* trusted_cert;
  // Empty: the mail must arrive. Else the start of GetLastErrorText, and nothing arrives.
  const char* error_prefix;
  const char* server_cert = "localhost";
};

void PrintTo(const SecureCase& c, std::ostream* out) {
  *out << c.name;
}

class SmtpSecureSessionTest : public testing::TestWithParam<SecureCase> {
 protected:
  void StartServer(const SecureCase& c) {
    server_.options = c.server;
    for (const std::string& option : c.server) {
      if (option != "--tls") continue;
      const std::string folder = Certificates::Get().Folder(c.server_cert);
      server_.options.insert(server_.options.end(),
                             {"--cert", folder + "/cert.pem", "--key", folder + "/key.pem"});
      break;
    }
    server_.Start();
    sender_.RemoteHost = c.host;
    sender_.RemotePort = server_.PortText();
    sender_.MailFrom = "form@site.test";
    sender_.MailTo = "owner@site.test";
    sender_.MailSubject = "Order";
    sender_.MailBody.Add("Hello");
    sender_.Security.Mode = c.mode;
    sender_.Security.User = c.user;
    sender_.Security.Password = c.password;
    sender_.Security.Verify = c.verify;
  }

  TestSmtpServer server_;
  TSmtpSendMail sender_;
};

const std::vector<std::string> kStartTlsAuth = {"--tls", "starttls",   "--user",
                                                "ann",   "--password", "secret"};
const std::vector<std::string> kImplicitAuth = {"--tls", "implicit",   "--user",
                                                "ann",   "--password", "secret"};

TEST_P(SmtpSecureSessionTest, SendsOrFailsWithAClearText) {
  const SecureCase& c = GetParam();
  StartServer(c);
  const std::string trusted =
      *c.trusted_cert ? Certificates::Get().Folder(c.trusted_cert) + "/cert.pem" : "";
  bool sent;
  {
    TrustedCertificate trust(trusted);
    sent = sender_.SendMail(10);
  }
  const std::string dialogue = server_.Dialogue();
  if (*c.error_prefix == '\0') {
    ASSERT_TRUE(sent) << sender_.GetLastErrorText();
    ASSERT_EQ(server_.WaitForMessages(1), 1);
    EXPECT_EQ(server_.Message(1).mail_from, "form@site.test");
    EXPECT_EQ(dialogue.find("HELO"), std::string::npos) << "the extended dialogue speaks EHLO";
  } else {
    EXPECT_FALSE(sent);
    EXPECT_EQ(sender_.GetLastErrorText().rfind(c.error_prefix, 0), 0u)
        << sender_.GetLastErrorText();
    EXPECT_EQ(server_.MessageCount(), 0);
  }
  // Whatever happened, a password never went out before the encryption began.
  const size_t auth = dialogue.find("AUTH");
  if (c.mode == Mode::kStartTls && auth != std::string::npos) {
    EXPECT_GT(auth, dialogue.find("STARTTLS")) << dialogue;
  }
  EXPECT_EQ(sender_.State(), kSocketIdle);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, SmtpSecureSessionTest,
    testing::Values(
        SecureCase{"StartTlsAuthPlain", kStartTlsAuth, Mode::kStartTls, "ann", "secret", false,
                   "127.0.0.1", "", ""},
        SecureCase{
            "StartTlsAuthLoginOnly",
            {"--tls", "starttls", "--user", "ann", "--password", "secret", "--mechanisms", "LOGIN"},
            Mode::kStartTls,
            "ann",
            "secret",
            false,
            "127.0.0.1",
            "",
            ""},
        SecureCase{"ImplicitTlsAuth", kImplicitAuth, Mode::kImplicitTls, "ann", "secret", false,
                   "127.0.0.1", "", ""},
        SecureCase{"VerifiedCertificateAndName", kStartTlsAuth, Mode::kStartTls, "ann", "secret",
                   true, "localhost", "localhost", ""},
        SecureCase{"StartTlsWithoutLogin",
                   {"--tls", "starttls"},
                   Mode::kStartTls,
                   "",
                   "",
                   false,
                   "127.0.0.1",
                   "",
                   ""},
        SecureCase{"PlainLoginToLoopback",
                   {"--user", "ann", "--password", "secret"},
                   Mode::kNone,
                   "ann",
                   "secret",
                   false,
                   "127.0.0.1",
                   "",
                   ""},
        SecureCase{"WrongPassword", kStartTlsAuth, Mode::kStartTls, "ann", "wrong", false,
                   "127.0.0.1", "", "535"},
        SecureCase{
            "WrongPasswordAuthLogin",
            {"--tls", "implicit", "--user", "ann", "--password", "secret", "--mechanisms", "LOGIN"},
            Mode::kImplicitTls,
            "ann",
            "wrong",
            false,
            "127.0.0.1",
            "",
            "535"},
        SecureCase{"UntrustedCertificate", kStartTlsAuth, Mode::kStartTls, "ann", "secret", true,
                   "localhost", "", "TLS handshake failed: certificate verify failed"},
        SecureCase{"UntrustedCertificateImplicit", kImplicitAuth, Mode::kImplicitTls, "ann",
                   "secret", true, "localhost", "", "TLS handshake failed: certificate verify"},
        SecureCase{"CertificateForAnotherName", kStartTlsAuth, Mode::kStartTls, "ann", "secret",
                   true, "localhost", "other.test", "TLS handshake failed: certificate verify",
                   "other.test"},
        SecureCase{"NoStartTlsOffered",
                   {"--user", "ann", "--password", "secret"},
                   Mode::kStartTls,
                   "ann",
                   "secret",
                   false,
                   "127.0.0.1",
                   "",
                   kNoStartTls},
        SecureCase{"ImplicitTlsToPlainServer",
                   {},
                   Mode::kImplicitTls,
                   "",
                   "",
                   false,
                   "127.0.0.1",
                   "",
                   kTlsHandshakeFailed},
        SecureCase{"NoLoginOffered",
                   {"--tls", "starttls", "--mechanisms", ""},
                   Mode::kStartTls,
                   "ann",
                   "secret",
                   false,
                   "127.0.0.1",
                   "",
                   kNoLoginMethod},
        SecureCase{"LoginRequiredButNotSet", kStartTlsAuth, Mode::kStartTls, "", "", false,
                   "127.0.0.1", "",
                   "Server requires authentication: 530 5.7.0 Authentication required"},
        SecureCase{"UnknownSecurityMode",
                   {},
                   Mode::kInvalid,
                   "",
                   "",
                   false,
                   "127.0.0.1",
                   "",
                   "SMTP_Security '' is not none, starttls or tls"}),
    [](const testing::TestParamInfo<SecureCase>& param) { return std::string(param.param.name); });

// The machine's first non-loopback IPv4 address that is up, or "".
std::string OwnNonLoopbackAddress() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return "";
  std::string found;
  for (const ifaddrs* a = list; a != nullptr && found.empty(); a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    if ((a->ifa_flags & IFF_UP) == 0 || (a->ifa_flags & IFF_LOOPBACK) != 0) continue;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr, text,
              sizeof text);
    found = text;
  }
  freeifaddrs(list);
  return found;
}

TEST(SmtpPlainPasswordTest, NeverSentInPlainTextBeyondTheLoopback) {
  // A server on this machine's own network address is, by its address, not the loopback: the
  // sender must stop before AUTH.
  const std::string address = OwnNonLoopbackAddress();
  if (address.empty()) GTEST_SKIP() << "no non-loopback IPv4 address";
  TestSmtpServer server;
  server.options = {"--host", address, "--user", "ann", "--password", "secret"};
  server.Start();
  TSmtpSendMail sender;
  sender.RemoteHost = address;
  sender.RemotePort = server.PortText();
  sender.MailFrom = "form@site.test";
  sender.MailTo = "owner@site.test";
  sender.Security.User = "ann";
  sender.Security.Password = "secret";
  EXPECT_FALSE(sender.SendMail(10));
  EXPECT_EQ(sender.GetLastErrorText(), kPlainPasswordRefused);
  EXPECT_NE(server.Dialogue().find("EHLO"), std::string::npos);
  EXPECT_EQ(server.Dialogue().find("AUTH"), std::string::npos) << server.Dialogue();
}

sockaddr_storage Address(const char* text) {
  sockaddr_storage storage{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
  } else if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
  }
  return storage;
}

TEST(SmtpPlainPasswordTest, OnlyLoopbackAddressesTakeAPlainPassword) {
  const struct {
    const char* address;
    bool loopback;
  } cases[] = {{"127.0.0.1", true},        {"127.200.1.9", true},      {"::1", true},
               {"::ffff:127.0.0.1", true}, {"128.0.0.1", false},       {"10.0.0.1", false},
               {"192.0.2.1", false},       {"::ffff:10.0.0.1", false}, {"::2", false},
               {"2001:db8::1", false}};
  for (const auto& c : cases) {
    const sockaddr_storage a = Address(c.address);
    const auto* peer = reinterpret_cast<const sockaddr*>(&a);
    EXPECT_EQ(PasswordMayTravel(false, peer), c.loopback) << c.address;
    EXPECT_TRUE(PasswordMayTravel(true, peer)) << c.address;
  }
  EXPECT_FALSE(PasswordMayTravel(false, nullptr));
}

TEST(SmtpEhloOfferTest, ReadsKeywordsButNotTheGreeting) {
  const struct {
    const char* reply;
    bool starttls, plain, login;
  } cases[] = {
      {"250-mx.test\r\n250-STARTTLS\r\n250 AUTH LOGIN PLAIN\r\n", true, true, true},
      {"250-mx.test\r\n250-auth=login\r\n250 8BITMIME\r\n", false, false, true},
      {"250-mx.test\r\n250 AUTH CRAM-MD5 XPLAIN\r\n", false, false, false},
      // The greeting line is the server's name, whatever it says.
      {"250-STARTTLS AUTH PLAIN\r\n250 SIZE 100\r\n", false, false, false},
      {"250 mx.test\r\n", false, false, false},
  };
  for (const auto& c : cases) {
    const TEhloOffer offer = ParseEhloOffer(c.reply);
    EXPECT_EQ(offer.StartTls, c.starttls) << c.reply;
    EXPECT_EQ(offer.AuthPlain, c.plain) << c.reply;
    EXPECT_EQ(offer.AuthLogin, c.login) << c.reply;
  }
  EXPECT_EQ(AuthPlainToken("ann", "secret"), "AGFubgBzZWNyZXQ=");
}

bool HasIpv6Loopback() {
  const int s = socket(AF_INET6, SOCK_STREAM, 0);
  if (s < 0) return false;
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  const bool ok = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// True when `host` resolves to ::1 among its addresses.
bool ResolvesToIpv6Loopback(const char* host) {
  TTCPClient resolver;
  std::vector<TTCPClient::TSocketAddress> addresses;
  if (!resolver.ResolveAddresses(host, "25", addresses)) return false;
  for (const auto& a : addresses) {
    if (a.storage.ss_family == AF_INET6 &&
        IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(&a.storage)->sin6_addr))
      return true;
  }
  return false;
}

class SmtpIpv6Test : public testing::TestWithParam<const char*> {};

TEST_P(SmtpIpv6Test, ReachesAServerListeningOnlyOnIpv6Loopback) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback";
  if (!ResolvesToIpv6Loopback(GetParam())) GTEST_SKIP() << GetParam() << " has no ::1 here";
  TestSmtpServer server;
  server.options = {"--host", "::1"};
  server.Start();
  TSmtpSendMail sender;  // the plain dialogue: IPv6 is not a matter of the security settings
  sender.RemoteHost = GetParam();
  sender.RemotePort = server.PortText();
  sender.MailFrom = "form@site.test";
  sender.MailTo = "owner@site.test";
  ASSERT_TRUE(sender.SendMail(10)) << sender.GetLastErrorText();
  EXPECT_EQ(server.WaitForMessages(1), 1);
}

INSTANTIATE_TEST_SUITE_P(Hosts, SmtpIpv6Test, testing::Values("::1", "localhost"),
                         [](const testing::TestParamInfo<const char*>& param) {
                           return std::string(param.index == 0 ? "Address" : "Localhost");
                         });

}  // namespace
