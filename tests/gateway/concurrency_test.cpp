// Many simultaneous submissions, each its own process, sharing the gateway's data files.
#include <atomic>
#include <fstream>
#include <future>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gateway_site.h"

namespace gateway_test {
namespace {

class ConcurrencyTest : public GatewaySite {
 protected:
  // Starts `count` submissions at once, submission i from client address client(i), and
  // collects their answers.
  template <typename ClientOf>
  std::vector<cgi_test::CgiResult> PostAtOnce(int count, ClientOf client) {
    std::vector<std::future<cgi_test::CgiResult>> runs;
    for (int i = 0; i < count; ++i) {
      runs.push_back(std::async(std::launch::async, [this, i, &client] {
        cgi_test::CgiRun run = PostRun("mail_from=a%40b.test&n=" + std::to_string(i));
        run.env["REMOTE_ADDR"] = client(i);
        run.timeout = std::chrono::seconds(60);
        return cgi_test::RunCgi(run);
      }));
    }
    std::vector<cgi_test::CgiResult> results;
    for (auto& run : runs) results.push_back(run.get());
    return results;
  }

  // The state file's lines: kind, key and the number of times, each line whole.
  std::map<std::string, int> GuardLines() const {
    std::map<std::string, int> lines;
    std::istringstream in(FileText("BX-Guards.txt"));
    for (std::string line; std::getline(in, line);) {
      EXPECT_FALSE(line.empty() || line.back() != '\r') << "torn line " << line;
      std::istringstream fields(line);
      std::string kind, key, time;
      fields >> kind >> key;
      int times = 0;
      while (fields >> time) {
        EXPECT_EQ(time.find_first_not_of("0123456789"), std::string::npos) << line;
        ++times;
      }
      lines[kind + " " + key] = times;
    }
    return lines;
  }
};

TEST_F(ConcurrencyTest, SimultaneousSubmissionsLoseNoRecordAndShareNoNumber) {
  constexpr int kSubmissions = 16;
  ini_["Results_File"] = "results.csv";
  ini_["Results_File_Template"] = "record.txt";
  ini_["Entry_Log"] = "entries.log";
  ini_["Message_Text"] = "message.txt";
  ini_["Response_Page"] = "thanks.htm";
  // A long record makes torn or interleaved appends visible.
  WriteFile("record.txt", "BEGIN %n% " + std::string(3000, 'x') + " END %n%");
  WriteFile("message.txt", "Reference <%refnum_order%> for %n%\r\n");
  WriteFile("thanks.htm", "%refnum_order%");
  WriteIni();

  std::vector<std::future<cgi_test::CgiResult>> runs;
  for (int i = 0; i < kSubmissions; ++i) {
    runs.push_back(std::async(std::launch::async, [this, i] {
      cgi_test::CgiRun run = PostRun("mail_from=a%40b.test&n=" + std::to_string(i));
      run.timeout = std::chrono::seconds(60);
      return cgi_test::RunCgi(run);
    }));
  }
  std::set<std::string> page_numbers;
  for (auto& run : runs) {
    const auto result = run.get();
    ASSERT_EQ(result.exit_code, 0) << result.error;
    page_numbers.insert(Body(result));
  }

  // Every submission drew its own number, and its mail and page agree.
  EXPECT_EQ(page_numbers.size(), static_cast<size_t>(kSubmissions));
  ASSERT_EQ(smtp_.WaitForMessages(kSubmissions), kSubmissions);
  EXPECT_EQ(smtp_.ReferenceNumbers(kSubmissions), page_numbers);
  EXPECT_EQ(*page_numbers.begin(), "1");
  EXPECT_EQ(FileText("BX-RefNumbers.txt"), "order=" + std::to_string(kSubmissions) + "\r\n");

  // Every record arrived whole.
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
}

TEST_F(ConcurrencyTest, SimultaneousErrorLinesStayWhole) {
  constexpr int kSubmissions = 12;
  ini_["Mail_To"] = "";
  ini_["Allowed_Methods"] = "GET,POST";
  WriteIni();
  std::vector<std::future<cgi_test::CgiResult>> runs;
  for (int i = 0; i < kSubmissions; ++i) {
    runs.push_back(std::async(std::launch::async, [this] {
      cgi_test::CgiRun run;
      run.program = dir_ + "brevix.cgi";
      run.env = Environment("GET");
      run.env["QUERY_STRING"] = "mail_from=a%40b.test";
      return cgi_test::RunCgi(run);
    }));
  }
  for (auto& run : runs) EXPECT_EQ(run.get().exit_code, 0);
  const std::string log = ErrorLog();
  EXPECT_EQ(CountOf(log, "\r\n"), kSubmissions);
  EXPECT_EQ(
      CountOf(log, " Brevix BX Reports: Missing Field Mail_To: set Mail_To in brevix.ini\r\n"),
      kSubmissions);
}

// An editor that rewrites brevix.ini in place (truncate, then write) again and again while
// submissions run: each submission reads one whole version of it, never a "missing" setting.
TEST_F(ConcurrencyTest, SettingsRewrittenInPlaceAreReadWhole) {
  constexpr int kSubmissions = 500;
  headers_["HTTP_ACCEPT"] = "application/json";
  WriteIni();
  const std::string text = FileText("brevix.ini");
  std::atomic<bool> done = false;
  int rewrites = 0;
  std::thread editor([&] {
    while (!done || rewrites < kSubmissions) {
      std::ofstream(dir_ + "brevix.ini", std::ios::binary | std::ios::trunc) << text;
      ++rewrites;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  // Four submissions at a time: a reader that waits out a rewrite waits while others run.
  constexpr int kLanes = 4;
  std::atomic<int> sent = 0;
  std::vector<std::future<void>> lanes;
  for (int lane = 0; lane < kLanes; ++lane) {
    lanes.push_back(std::async(std::launch::async, [&, lane] {
      for (int i = lane; i < kSubmissions; i += kLanes) {
        const cgi_test::CgiResult result =
            cgi_test::RunCgi(PostRun("mail_from=a%40b.test&n=" + std::to_string(i)));
        const bool ok = Body(result).starts_with(R"({"status":"sent")");
        EXPECT_TRUE(ok) << "submission " << i << ": " << Body(result);
        sent += ok;
      }
    }));
  }
  for (auto& lane : lanes) lane.get();
  done = true;
  editor.join();
  EXPECT_EQ(sent, kSubmissions);
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(ConcurrencyTest, MaxPerHourAdmitsExactlyItsLimitAmongSimultaneousSubmissions) {
  constexpr int kSubmissions = 32;
  constexpr int kLimit = 10;
  ini_["Max_Per_Hour"] = std::to_string(kLimit);
  ini_["Results_File"] = "results.csv";
  ini_["Results_File_Template"] = "record.txt";
  ini_["Response_Page"] = "thanks.htm";
  ini_["Error_Page"] = "sorry.htm";
  WriteFile("record.txt", "%n%");
  WriteFile("thanks.htm", "sent %refnum_order%");
  WriteFile("sorry.htm", "refused %vorl_error_desc%");
  WriteIni();

  std::set<std::string> numbers;
  int refused = 0;
  for (const auto& result : PostAtOnce(kSubmissions, [](int) { return "10.0.0.1"; })) {
    ASSERT_EQ(result.exit_code, 0) << result.error;
    const std::string body = Body(result);
    if (body == "refused Too many submissions") {
      ++refused;
    } else {
      numbers.insert(body);
    }
  }
  EXPECT_EQ(refused, kSubmissions - kLimit);
  // Every admitted submission drew its own number, 1 to the limit, and no refused one drew any.
  ASSERT_EQ(numbers.size(), static_cast<size_t>(kLimit));
  EXPECT_EQ(*numbers.begin(), "sent 1");
  EXPECT_EQ(FileText("BX-RefNumbers.txt"), "order=" + std::to_string(kLimit) + "\r\n");
  EXPECT_EQ(smtp_.WaitForMessages(kLimit), kLimit);
  EXPECT_EQ(CountOf(FileText("results.csv"), "\r\n"), kLimit);
  EXPECT_EQ(CountOf(ErrorLog(), " Too many submissions from 10.0.0.1 "), kSubmissions - kLimit);
  EXPECT_EQ(GuardLines(), (std::map<std::string, int>{{"submit 10.0.0.1", kLimit}}));
}

TEST_F(ConcurrencyTest, ReceiptLimitHoldsAmongSimultaneousSubmissions) {
  constexpr int kSubmissions = 32;
  constexpr int kLimit = 10;
  ini_["Max_Receipts_Per_Hour"] = std::to_string(kLimit);
  ini_["Receipt_Text"] = "receipt.txt";
  ini_["Receipt_To"] = "visitor@site.test";
  ini_["Response_Page"] = "thanks.htm";
  WriteFile("receipt.txt", "Thank you.\r\n");
  WriteFile("thanks.htm", "sent");
  WriteIni();

  // Each from its own client: only the one receipt address runs full.
  for (const auto& result :
       PostAtOnce(kSubmissions, [](int i) { return "10.0.2." + std::to_string(i); })) {
    ASSERT_EQ(result.exit_code, 0) << result.error;
    EXPECT_EQ(Body(result), "sent");
  }
  ASSERT_EQ(smtp_.WaitForMessages(kSubmissions + kLimit), kSubmissions + kLimit);
  int receipts = 0;
  for (int i = 1; i <= kSubmissions + kLimit; ++i) {
    if (smtp_.Message(i).recipients == std::vector<std::string>{"visitor@site.test"}) ++receipts;
  }
  EXPECT_EQ(receipts, kLimit);
  EXPECT_EQ(CountOf(ErrorLog(), " reached for visitor@site.test\r\n"), kSubmissions - kLimit);
  const auto lines = GuardLines();
  EXPECT_EQ(lines.at("receipt-to visitor@site.test"), kLimit);
  EXPECT_EQ(lines.size(), static_cast<size_t>(1 + kLimit));  // and one line per admitted client
}

}  // namespace
}  // namespace gateway_test
