// The proof-of-work guard: in-process, each bad solution is refused naming its reason; as real CGI
// processes against a real SMTP server, a refused or used solution costs nothing, and the
// used-challenge store stays bounded. (That the ALTCHA library and widget solve the gateway's
// challenges is tests/e2e/pow.test.mjs and submit.test.mjs.)
#include "gateway/guards/pow_guard.h"

#include <functional>
#include <thread>

#include "common/guard_settings.h"
#include "common/text_compare.h"
#include "gateway/guards/proof_of_work.h"
#include "gateway/guards/used_challenges.h"
#include "gateway_site.h"
#include "mail/crypto_library.h"
#include "mail/mime_encoding.h"
#include "support/pg_cluster.h"

namespace gateway_test {
namespace {

const char kKey[] = "the site's own secret";

// The time of the in-process checks.
constexpr long long kNow = 1700000000;

const TCrypto& Crypto() {
  std::string error;
  const TCrypto* crypto = LoadCrypto(error);
  if (crypto == nullptr) throw std::runtime_error(error);
  return *crypto;
}

// The value of `name` in a flat challenge: a string's text or a number's digits.
std::string Member(const std::string& json, const std::string& name) {
  size_t at = json.find("\"" + name + "\":");
  if (at == std::string::npos) return "";
  at += name.size() + 3;
  if (json[at] == '"') return json.substr(at + 1, json.find('"', at + 1) - at - 1);
  return json.substr(at, json.find_first_of(",}", at) - at);
}

std::string Bytes(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

// The widget's payload for `challenge` (protocol 2), with the counter found plus `offset`.
std::string Solve(const std::string& challenge, unsigned offset = 0) {
  const std::string salt = Bytes(Member(challenge, "salt"));
  const std::string nonce = Bytes(Member(challenge, "nonce"));
  const std::string prefix = Member(challenge, "keyPrefix");
  for (std::uint32_t n = 0;; ++n) {
    if (HexText(PowDerivedKey(Crypto(), salt, nonce, n)).rfind(prefix, 0) != 0) continue;
    const std::string key = HexText(PowDerivedKey(Crypto(), salt, nonce, n + offset));
    return Base64Encode("{\"challenge\":" + challenge + ",\"solution\":{\"counter\":" +
                        std::to_string(n + offset) + ",\"derivedKey\":\"" + key + "\"}}");
  }
}

// A challenge of protocol 1 with the wrong number.
std::string WrongNumber(const std::string& challenge) {
  return Base64Encode("{\"algorithm\":\"SHA-256\",\"challenge\":\"" +
                      Member(challenge, "challenge") + "\",\"number\":123456789,\"salt\":\"" +
                      Member(challenge, "salt") + "\",\"signature\":\"" +
                      Member(challenge, "signature") + "\"}");
}

class PowGuardTest : public GatewaySite {
 protected:
  void SetUp() override {
    GatewaySite::SetUp();
    ini_["PoW_Key"] = kKey;
    ini_["PoW_Max_Number"] = "300";
    ini_["Error_Page"] = "sorry.htm";
    ini_["Response_Page"] = "thanks.htm";
    WriteFile("thanks.htm", "Thanks");
    WriteFile("sorry.htm", "Sorry: %vorl_error_desc% [%refnum_order%]");
  }

 public:
  // A challenge from "GET brevix.cgi?pow=challenge<query>", never to be cached.
  std::string Challenge(const std::string& query = "") const {
    WriteIni();
    cgi_test::CgiRun run;
    run.program = dir_ + "brevix.cgi";
    run.env = Environment("GET");
    run.env["QUERY_STRING"] = "pow=challenge" + query;
    const auto result = cgi_test::RunCgi(run);
    EXPECT_NE(result.output.find("Cache-Control: no-store\r\n"), std::string::npos);
    return Body(result);
  }

 protected:
  cgi_test::CgiResult Send(const std::string& solution) const {
    return Post({{"name", "Ann"}, {"mail_from", "ann@visitor.test"}, {"altcha", solution}});
  }

  int LogLines(const std::string& reason) const {
    return CountOf(ErrorLog(), " Brevix BX Reports: Anti-spam check failed (" + reason +
                                   ") from 127.0.0.1\r\n");
  }
};

class PowRuleTest : public ::testing::Test {
 public:
  PowRuleTest() {
    guards_.PoWKey = kKey;
    guards_.PoWMaxNumber = 300;
  }
  std::string Challenge(int protocol = 2) {
    return PowChallenge(guards_, protocol, kNow,
                        [this](const std::string& l) { log_.push_back(l); });
  }

 protected:
  TPowFailure Check(const std::string& solution) {
    return TPowGuard(guards_, used_, "192.0.2.7", kNow,
                     [this](const std::string& line) { log_.push_back(line); })
        .Check(solution);
  }

  TGuardSettings guards_;
  // A store that cannot be written: a bad solution is refused before it is looked up.
  TUsedChallengeFile used_{"/nonexistent/BX-PoW.txt"};
  std::vector<std::string> log_;
};

struct BadSolution {
  const char* reason;
  std::function<std::string(PowRuleTest&, const std::string& challenge)> make;
};

// A stable name in the test list (the default dump would print the function's bytes).
void PrintTo(const BadSolution& c, std::ostream* os) {
  *os << c.reason;
}

class BadSolutionTest : public PowRuleTest, public ::testing::WithParamInterface<BadSolution> {};

TEST_P(BadSolutionTest, IsRefusedWithOneLogLineNamingItsReason) {
  const std::string solution = GetParam().make(*this, Challenge());
  log_.clear();
  EXPECT_STREQ(PowFailureName(Check(solution)), GetParam().reason);
  EXPECT_EQ(log_, std::vector<std::string>{"Brevix BX Reports: Anti-spam check failed (" +
                                           std::string(GetParam().reason) + ") from 192.0.2.7"});
}

std::string Signed(const char* key, long long now) {
  return PowChallengeJson(Crypto(), TPowParams{key, 300, 600}, 2, now);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadSolutionTest,
    ::testing::Values(
        BadSolution{"missing", [](auto&, auto&) { return std::string(); }},
        BadSolution{"malformed", [](auto&, auto&) { return std::string("not base64!"); }},
        BadSolution{"malformed", [](auto&, auto&) { return Base64Encode("{\"challenge\":"); }},
        BadSolution{"bad signature",
                    [](auto&, const std::string& c) {
                      std::string json = c;
                      json[json.size() - 3] = json[json.size() - 3] == '0' ? '1' : '0';
                      return Solve(json);
                    }},
        BadSolution{"bad signature",
                    [](auto&, auto&) { return Solve(Signed("another key", kNow)); }},
        BadSolution{"wrong solution", [](auto&, const std::string& c) { return Solve(c, 1); }},
        BadSolution{"wrong solution",
                    [](PowRuleTest& rule, auto&) { return WrongNumber(rule.Challenge(1)); }},
        // Issued 601 seconds ago with PoW_Expires 600: past its expiry by one second.
        BadSolution{"expired", [](auto&, auto&) { return Solve(Signed(kKey, kNow - 601)); }}));

// As the hourly limits do: a store that cannot be written must not take the form down.
TEST_F(PowRuleTest, StoreThatCannotRecordLetsAGoodSolutionPassLogged) {
  EXPECT_EQ(Check(Solve(Challenge())), TPowFailure::kNone);
  EXPECT_EQ(log_, std::vector<std::string>{"Brevix BX Reports: Unable to update BX-PoW.txt"});
}

// Through the gateway: a refused solution is answered 403 on the error page and costs nothing.
TEST_F(PowGuardTest, RefusedSolutionIsUnsentWithItsReason) {
  const auto result = Send(WrongNumber(Challenge("&protocol=1")));
  EXPECT_EQ(Body(result), "Sorry: The anti-spam check failed, please try again []");
  EXPECT_NE(result.output.find("403 Forbidden"), std::string::npos) << result.output;
  EXPECT_EQ(smtp_.MessageCount(), 0);
  EXPECT_FALSE(Exists("BX-RefNumbers.txt"));
  EXPECT_EQ(CountOf(ErrorLog(), "\r\n"), 1) << ErrorLog();
  EXPECT_EQ(LogLines("wrong solution"), 1) << ErrorLog();
}

TEST_F(PowGuardTest, SolutionIsTakenOnceAndNeverAgain) {
  const std::string solution = Solve(Challenge());
  EXPECT_EQ(Body(Send(solution)), "Thanks");
  ASSERT_EQ(smtp_.WaitForMessages(1), 1);
  // The automatic message lists the visitor's fields, not the solution.
  EXPECT_NE(Mail(1).find("Ann"), std::string::npos);
  EXPECT_EQ(Mail(1).find("altcha"), std::string::npos);
  headers_["HTTP_ACCEPT"] = "application/json";
  EXPECT_EQ(Body(Send(solution)),
            "{\"status\":\"refused\",\"error\":\"pow\",\"message\":\"The anti-spam check failed, "
            "please try again\"}");
  EXPECT_EQ(LogLines("reused"), 1) << ErrorLog();
  EXPECT_EQ(smtp_.MessageCount(), 1);
}

// Hosts that share a database share the used challenges: a solution taken on one is refused on
// the other.
TEST_F(PowGuardTest, SolutionIsTakenOnceOverHostsSharingADatabase) {
  brevix_test::PgCluster pg;
  if (!pg.Found()) GTEST_SKIP() << "PostgreSQL server binaries (package postgresql) missing";
  ASSERT_TRUE(pg.Create());
  ini_["Database"] = pg.ConnInfo();
  const std::string solution = Solve(Challenge());
  const std::string other = dir_ + "other/";
  fs::create_directories(other);
  for (const char* file : {"brevix.cgi", "brevix.ini", "thanks.htm", "sorry.htm"}) {
    fs::copy_file(dir_ + file, other + file);
  }
  EXPECT_EQ(Body(Send(solution)), "Thanks");
  const std::string body = "name=Ann&mail_from=ann%40visitor.test&altcha=" + UrlEncode(solution);
  EXPECT_EQ(Body(cgi_test::RunCgi(PostRun(body, "application/x-www-form-urlencoded", other))),
            "Sorry: The anti-spam check failed, please try again []");
  EXPECT_EQ(pg.Query("SELECT count(*) FROM brevix_pow_used"), "1\n");
  EXPECT_EQ(smtp_.MessageCount(), 1);
}

// A page on a listed origin may read its challenge; without a key there is none to read.
TEST_F(PowGuardTest, ChallengeGoesToListedOriginsAndOnlyWithAKey) {
  ini_["Allowed_Origins"] = "https://forms.example";
  headers_["HTTP_ORIGIN"] = "https://forms.example";
  WriteIni();
  cgi_test::CgiRun run;
  run.program = dir_ + "brevix.cgi";
  run.env = Environment("GET");
  run.env["QUERY_STRING"] = "pow=challenge";
  EXPECT_NE(
      cgi_test::RunCgi(run).output.find("Access-Control-Allow-Origin: https://forms.example\r\n"),
      std::string::npos);
  ini_.erase("PoW_Key");
  EXPECT_EQ(Challenge(), "{\"status\":\"error\",\"error\":\"No anti-spam check is set up\"}");
}

TEST_F(PowGuardTest, TwoProcessesPostingOneSolutionAtOnceSendOneMail) {
  const std::string solution = Solve(Challenge());
  WriteIni();
  std::vector<std::thread> posts;
  for (int i = 0; i < 2; ++i) {
    posts.emplace_back([&] {
      cgi_test::RunCgi(
          PostRun("name=Ann&mail_from=ann%40visitor.test&altcha=" + UrlEncode(solution)));
    });
  }
  for (std::thread& post : posts) post.join();
  EXPECT_EQ(LogLines("reused"), 1) << ErrorLog();
  EXPECT_EQ(smtp_.MessageCount(), 1);
}

TEST(UsedChallengeStoreTest, StaysBoundedUnderManySolutionsAndForgetsExpiredOnes) {
  const long long now = kNow;
  TUsedChallengeTable table;
  for (int i = 0; i < 10000; ++i) table.Add("id" + std::to_string(i), now + 600 + i);
  EXPECT_EQ(table.Size(), kMaxUsedChallenges);
  // The first to expire made room; the latest are held.
  EXPECT_FALSE(table.Contains("id0"));
  EXPECT_TRUE(table.Contains("id9999"));
  TUsedChallengeTable later;
  later.Parse(table.Text(), now + 600 + 10000);
  EXPECT_EQ(later.Size(), 0u);

  // The file: lines are appended until it is full, then it is replaced by what is still held.
  char pattern[] = "/tmp/brevix-pow-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string file = std::string(pattern) + "/BX-PoW.txt";
  TUsedChallengeFile store(file);
  EXPECT_EQ(store.MarkUsed("a", now + 10, now), TUseResult::kFirstUse);
  EXPECT_EQ(store.MarkUsed("a", now + 10, now + 10), TUseResult::kReused);
  for (size_t i = 0; i < kMaxUsedChallenges; ++i) {
    ASSERT_EQ(store.MarkUsed("id" + std::to_string(i), now + 20, now + 11), TUseResult::kFirstUse);
  }
  EXPECT_LE(static_cast<size_t>(CountOf(ReadText(file), "\r\n")), kMaxUsedChallenges);
  EXPECT_EQ(ReadText(file).find("a "), std::string::npos) << "expired, so forgotten";
  EXPECT_EQ(store.MarkUsed("id4095", now + 20, now + 12), TUseResult::kReused);
  fs::remove_all(pattern);
}

}  // namespace
}  // namespace gateway_test
