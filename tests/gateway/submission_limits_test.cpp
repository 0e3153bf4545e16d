// The site owner's limits against bots and floods: in-process, how the hourly counts decide
// (TSubmissionLimits over the gateway's files at a pinned time); as real CGI processes against a
// real SMTP server, what a refused submission costs (nothing) and what an allowed one still does.
#include "gateway/guards/submission_limits.h"

#include <stdlib.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "common/guard_settings.h"
#include "common/profile_file.h"
#include "gateway/store/file_store.h"
#include "gateway_site.h"

namespace gateway_test {
namespace {

const Fields kVisitor = {{"name", "Ann"}, {"mail_from", "ann@visitor.test"}};

constexpr std::int64_t kNow = 1700000000;

Fields With(Fields fields, const std::string& name, const std::string& value) {
  fields.emplace_back(name, value);
  return fields;
}

// The limits of one request after another, over the gateway's files in a folder of their own.
class LimitsRuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brevix-limits-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
    store_ = std::make_unique<TFileStore>(dir_ + "BX-RefNumbers.txt", dir_ + "BX-Guards.txt",
                                          dir_ + "BX-PoW.txt");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Settings(const std::string& lines) {
    guards_.Load(TProfileFile::FromText("brevix.ini", "[Options]\r\n" + lines));
  }
  TSubmissionLimits Limits(const std::string& client) {
    return TSubmissionLimits(guards_, *store_, client, kNow,
                             [this](const std::string& line) { log_.push_back(line); });
  }
  bool Submits(const std::string& client) { return Limits(client).SubmissionAllowed(); }
  bool Receipt(const std::string& client, const std::string& to) {
    return Limits(client).ReceiptAllowed(to, true);
  }
  std::string State() const { return ReadText(dir_ + "BX-Guards.txt"); }
  void WriteState(const std::string& text) const {
    std::ofstream(dir_ + "BX-Guards.txt", std::ios::binary) << text;
  }

  std::string dir_;
  TGuardSettings guards_;
  std::unique_ptr<TFileStore> store_;
  std::vector<std::string> log_;
};

TEST_F(LimitsRuleTest, OnlyTheLastHourCountsAndOlderTimesAreDropped) {
  Settings("Max_Per_Hour=2\r\n");
  const std::string recent = std::to_string(kNow - 1800);
  WriteState("submit 127.0.0.1 " + std::to_string(kNow - 7200) + " " + std::to_string(kNow - 3700) +
             " " + recent + "\r\nsubmit 10.9.9.9 " + std::to_string(kNow - 4000) + "\r\n");
  EXPECT_TRUE(Submits("127.0.0.1"));
  EXPECT_EQ(State(), "submit 127.0.0.1 " + recent + " " + std::to_string(kNow) + "\r\n");
  EXPECT_FALSE(Submits("127.0.0.1"));
}

TEST_F(LimitsRuleTest, ZeroTurnsTheSubmissionLimitOffAndKeepsNoCount) {
  Settings("Max_Per_Hour=0\r\n");
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Submits("127.0.0.1"));
  EXPECT_FALSE(fs::exists(dir_ + "BX-Guards.txt"));
}

struct NetworkLimitCase {
  const char* name;
  const char* prefix;  // Limit_IPv6_Prefix; empty: the default
  std::vector<std::string> clients;
  int allowed;  // with Max_Per_Hour=3
};

void PrintTo(const NetworkLimitCase& c, std::ostream* os) {
  *os << c.name;
}

class NetworkLimitTest : public LimitsRuleTest,
                         public ::testing::WithParamInterface<NetworkLimitCase> {};

TEST_P(NetworkLimitTest, MaxPerHourCountsTheClientNetwork) {
  Settings("Max_Per_Hour=3\r\nLimit_IPv6_Prefix=" + std::string(GetParam().prefix) + "\r\n");
  int allowed = 0;
  for (const std::string& client : GetParam().clients) allowed += Submits(client);
  EXPECT_EQ(allowed, GetParam().allowed);
}

std::vector<std::string> Numbered(const std::string& before, int count,
                                  const std::string& after = "") {
  std::vector<std::string> clients;
  for (int i = 1; i <= count; ++i) clients.push_back(before + std::to_string(i) + after);
  return clients;
}

INSTANTIATE_TEST_SUITE_P(Cases, NetworkLimitTest,
                         ::testing::Values(NetworkLimitCase{"OneSlash64", "",
                                                            Numbered("2001:db8:1:2::", 20), 3},
                                           NetworkLimitCase{"Slash56Setting", "56",
                                                            Numbered("2001:db8:1:", 6, "::1"), 3},
                                           NetworkLimitCase{"IPv4Mapped",
                                                            "",
                                                            {"192.0.2.7", "::ffff:192.0.2.7",
                                                             "::ffff:c000:207", "192.0.2.7"},
                                                            3}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// With a receipt: the receipts to one victim; without: the submissions of one client.
class FloodTest : public LimitsRuleTest, public ::testing::WithParamInterface<bool> {};

// A visitor at a limit stays there however many other networks or addresses are counted since:
// the file holds 1,000 others' lines, as many posts leave it, and one more newcomer posts.
TEST_P(FloodTest, FullLimitStaysFullAfterManyOtherKeys) {
  const bool receipt = GetParam();
  Settings(std::string(receipt ? "Max_Receipts_Per_Hour" : "Max_Per_Hour") + "=3\r\n");
  auto post = [&](const std::string& client, const std::string& receipt_to) {
    return receipt ? Receipt(client, receipt_to) : Submits(client);
  };
  // The victim's receipts are asked for from other networks each.
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(post(receipt ? "10.0.0." + std::to_string(i) : "10.0.0.1", "VICTIM@visitor.test"),
              i <= 3);
  }
  std::string flood = State();
  for (int i = 0; i < 1000; ++i) {
    flood += std::string(receipt ? "receipt-to" : "submit") + " other" + std::to_string(i) + " " +
             std::to_string(kNow) + "\r\n";
  }
  WriteState(flood);
  EXPECT_TRUE(post("2001:db8:8::1", "stranger@other.test"));
  EXPECT_FALSE(post(receipt ? "2001:db8:9::1" : "10.0.0.1", "victim@visitor.test"));
}

INSTANTIATE_TEST_SUITE_P(Cases, FloodTest, ::testing::Bool(), [](const auto& param_info) {
  return std::string(param_info.param ? "ReceiptVictim" : "Submissions");
});

class HostileClientTest : public LimitsRuleTest,
                          public ::testing::WithParamInterface<std::string> {};

TEST_P(HostileClientTest, ClientAddressCannotBreakTheStateFile) {
  Settings("Max_Per_Hour=1\r\n");
  EXPECT_TRUE(Submits(GetParam()));
  // The same address is found again: its line was written as one line with one key.
  EXPECT_FALSE(Submits(GetParam()));
  EXPECT_TRUE(Submits("10.0.0.3"));
  const std::string state = State();
  EXPECT_EQ(CountOf(state, "\r\n"), 2) << state;
  EXPECT_EQ(CountOf(state, "\n"), 2) << state;
  EXPECT_LT(state.size(), 1000u);
  EXPECT_EQ(state.find("submit 10.0.0.3 "), state.find("\r\n") + 2) << state;
}

INSTANTIATE_TEST_SUITE_P(Addresses, HostileClientTest,
                         ::testing::Values(std::string("1.2.3.4\r\nsubmit 10.0.0.3 1"),
                                           std::string("a b  c"), std::string(5000, '9'),
                                           std::string("%20"), std::string("")),
                         [](const auto& param_info) {
                           return "Address" + std::to_string(param_info.index);
                         });

struct ReceiptLimitCase {
  const char* name;
  const char* setting;   // Max_Receipts_Per_Hour; empty: the default
  bool vary_client;      // each submission from its own client address
  bool vary_address;     // each receipt to its own address
  int receipts;          // of 7 asked for
  const char* log_part;  // in the log line of each refusal
};

void PrintTo(const ReceiptLimitCase& c, std::ostream* os) {
  *os << c.name;
}

class ReceiptLimitTest : public LimitsRuleTest,
                         public ::testing::WithParamInterface<ReceiptLimitCase> {};

TEST_P(ReceiptLimitTest, ReceiptsPerAddressAndPerClientAreLimited) {
  const ReceiptLimitCase& c = GetParam();
  if (*c.setting) Settings("Max_Receipts_Per_Hour=" + std::string(c.setting) + "\r\n");
  int receipts = 0;
  for (int i = 0; i < 7; ++i) {
    // The same address in another case is the same mailbox.
    receipts += Receipt(c.vary_client ? "10.0.1." + std::to_string(i) : "10.0.0.1",
                        c.vary_address ? "v" + std::to_string(i) + "@visitor.test"
                                       : (i % 2 ? "ANN@Visitor.test" : "ann@visitor.test"));
  }
  EXPECT_EQ(receipts, c.receipts);
  ASSERT_EQ(log_.size(), static_cast<size_t>(7 - c.receipts));
  for (const std::string& line : log_) {
    EXPECT_NE(line.find(std::string(" reached for ") + c.log_part), std::string::npos) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReceiptLimitTest,
    ::testing::Values(ReceiptLimitCase{"PerAddress", "3", true, false, 3, "ann@visitor.test"},
                      ReceiptLimitCase{"PerClient", "3", false, true, 3, "client 10.0.0.1"},
                      ReceiptLimitCase{"DefaultFive", "", false, false, 5, ""},
                      ReceiptLimitCase{"ZeroTurnsItOff", "0", false, false, 7, ""}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

class SubmissionLimitsTest : public GatewaySite {
 protected:
  void SetUp() override {
    GatewaySite::SetUp();
    ini_["Results_File"] = "results.txt";
    ini_["Results_File_Template"] = "record.txt";
    ini_["Entry_Log"] = "entries.log";
    ini_["Message_Text"] = "message.txt";
    ini_["Response_Page"] = "thanks.htm";
    ini_["Error_Page"] = "sorry.htm";
    WriteFile("record.txt", "%name%");
    WriteFile("message.txt", "Order %refnum_order% from %name%\r\n");
    WriteFile("thanks.htm", "Thanks %name%, number %refnum_order%.");
    WriteFile("sorry.htm", "Sorry: %vorl_error_desc% [%refnum_order%]");
  }

  // Lines of the error log that contain `part`.
  int LogLines(const std::string& part) const { return CountOf(ErrorLog(), part); }
  int Records() const { return CountOf(FileText("results.txt"), "\r\n"); }
  int Entries() const { return CountOf(FileText("entries.log"), "\r\n"); }
  // Mails the server holds once every process has ended (each sends before it answers).
  int Mails() const { return smtp_.MessageCount(); }
};

struct HoneypotCase {
  const char* setting;  // Honeypot_Field in brevix.ini; empty: none
  const char* value;    // the submitted "website" field
  bool sent;
};

void PrintTo(const HoneypotCase& c, std::ostream* os) {
  *os << "Honeypot_Field=\"" << c.setting << "\" website=\"" << c.value << '"';
}

class HoneypotTest : public SubmissionLimitsTest,
                     public ::testing::WithParamInterface<HoneypotCase> {};

TEST_P(HoneypotTest, FilledHoneypotLooksSentButCostsNothing) {
  if (*GetParam().setting) ini_["Honeypot_Field"] = GetParam().setting;
  ini_["Receipt_Text"] = "receipt.txt";
  ini_["Results_File"] = "data\\auto.csv";
  WriteFile("receipt.txt", "Thank you.\r\n");
  fs::create_directories(dir_ + "data");
  const auto result = Post(With(kVisitor, "website", GetParam().value));
  ASSERT_EQ(result.exit_code, 0) << result.error;
  if (GetParam().sent) {
    EXPECT_EQ(Body(result), "Thanks Ann, number 1.");
    ASSERT_EQ(smtp_.WaitForMessages(2), 2);  // mail and receipt
    EXPECT_EQ(FileText("BX-RefNumbers.txt"), "order=1\r\n");
    EXPECT_EQ(LogLines("Honeypot"), 0);
    return;
  }
  // The bot sees the response page; no number was drawn for it.
  EXPECT_EQ(Body(result), "Thanks Ann, number .");
  EXPECT_EQ(Mails(), 0);
  EXPECT_FALSE(Exists("BX-RefNumbers.txt"));
  EXPECT_FALSE(Exists("entries.log"));
  EXPECT_TRUE(fs::is_empty(dir_ + "data")) << "no automatic results file";
  EXPECT_EQ(CountOf(ErrorLog(), "\r\n"), 1) << ErrorLog();
  EXPECT_EQ(LogLines(std::string(" Brevix BX Reports: Honeypot field ") + GetParam().setting +
                     " filled by 127.0.0.1, nothing sent\r\n"),
            1)
      << ErrorLog();
}

INSTANTIATE_TEST_SUITE_P(Cases, HoneypotTest,
                         ::testing::Values(HoneypotCase{"website", "http://spam.test", false},
                                           HoneypotCase{"WEBSITE", " ", false},
                                           HoneypotCase{"website", "", true},
                                           HoneypotCase{"", "http://spam.test", true}));

TEST_F(SubmissionLimitsTest, SubmissionOverMaxPerHourGetsErrorPageAndCostsNothing) {
  ini_["Max_Per_Hour"] = "2";
  // Incomplete submissions do not count against the limit.
  Post({{"name", "no sender"}});
  EXPECT_EQ(Body(Post(kVisitor)), "Thanks Ann, number 1.");
  EXPECT_EQ(Body(Post(kVisitor)), "Thanks Ann, number 2.");
  EXPECT_EQ(Body(Post(kVisitor)), "Sorry: Too many submissions []");
  EXPECT_EQ(
      LogLines(" Brevix BX Reports: Too many submissions from 127.0.0.1 (Max_Per_Hour 2)\r\n"), 1)
      << ErrorLog();
  EXPECT_EQ(Mails(), 2);
  EXPECT_EQ(Records(), 2);
  EXPECT_EQ(Entries(), 2);
  EXPECT_EQ(FileText("BX-RefNumbers.txt"), "order=2\r\n");

  // The limit is per client address, and the built-in error page names the reason.
  ini_.erase("Error_Page");
  const auto refused = Post(kVisitor);
  EXPECT_NE(Body(refused).find("Failed to send mail: Too many submissions<p>"), std::string::npos)
      << Body(refused);
  remote_addr_ = "10.0.0.2";
  EXPECT_EQ(Body(Post(kVisitor)), "Thanks Ann, number 3.");
  EXPECT_EQ(Mails(), 3);
}

struct ReceiptAddressCase {
  const char* receipt_to;  // the form field; empty: the receipt goes to mail_from
  const char* mail_from;
  const char* envelope;  // the receipt's recipient; empty: no receipt
};

void PrintTo(const ReceiptAddressCase& c, std::ostream* os) {
  *os << "receipt_to=\"" << c.receipt_to << "\" mail_from=\"" << c.mail_from << '"';
}

class ReceiptAddressTest : public SubmissionLimitsTest,
                           public ::testing::WithParamInterface<ReceiptAddressCase> {};

TEST_P(ReceiptAddressTest, ReceiptGoesToExactlyOneAddressOrNowhere) {
  ini_["Receipt_Text"] = "receipt.txt";
  WriteFile("receipt.txt", "Thank you.\r\n");
  const auto result = Post({{"name", "Ann"},
                            {"mail_from", GetParam().mail_from},
                            {"receipt_to", GetParam().receipt_to}});
  // The main mail and the answer do not depend on the receipt.
  EXPECT_EQ(Body(result), "Thanks Ann, number 1.");
  const bool sent = *GetParam().envelope != '\0';
  ASSERT_EQ(smtp_.WaitForMessages(sent ? 2 : 1), sent ? 2 : 1);
  EXPECT_EQ(Mails(), sent ? 2 : 1);
  if (sent) {
    EXPECT_EQ(smtp_.Message(2).recipients, std::vector<std::string>{GetParam().envelope});
    EXPECT_EQ(ErrorLog(), "");
  } else {
    const std::string shown = *GetParam().receipt_to ? GetParam().receipt_to : GetParam().mail_from;
    std::string logged;
    for (char c : shown) logged += (c == '\r' || c == '\n') ? ' ' : c;
    EXPECT_EQ(LogLines(" Brevix BX Reports: Receipt not sent, not one address: " + logged + "\r\n"),
              1)
        << ErrorLog();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, ReceiptAddressTest,
    // Every address the rule refuses is guard_state_test.cpp.
    ::testing::Values(ReceiptAddressCase{"Ann <ann@visitor.test>", "a@b.test", "ann@visitor.test"},
                      ReceiptAddressCase{"", "ann@visitor.test", "ann@visitor.test"},
                      ReceiptAddressCase{"ann@visitor.test\r\nBcc: bob@other.test", "a@b.test",
                                         ""}));

}  // namespace
}  // namespace gateway_test
