// Many simultaneous submissions, each its own process, sharing the gateway's data files.
#include <future>
#include <set>
#include <string>
#include <vector>

#include "gateway_site.h"

namespace gateway_test {
namespace {

class ConcurrencyTest : public GatewaySite {};

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
      const std::string body = "mail_from=a%40b.test&n=" + std::to_string(i);
      cgi_test::CgiRun run;
      run.program = dir_ + "brevix.cgi";
      run.env = Environment("POST");
      run.env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
      run.env["CONTENT_LENGTH"] = std::to_string(body.size());
      run.input = body;
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
  std::set<std::string> mail_numbers;
  for (int i = 1; i <= kSubmissions; ++i) {
    const std::string mail = smtp_.Message(i).raw;
    const size_t open = mail.find("Reference <");
    const size_t close = mail.find('>', open);
    ASSERT_TRUE(open != std::string::npos && close != std::string::npos) << mail;
    mail_numbers.insert(mail.substr(open + 11, close - open - 11));
  }
  EXPECT_EQ(mail_numbers, page_numbers);
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
  EXPECT_EQ(CountOf(log, " Brevix BX Reports: Missing Field Mail_To\r\n"), kSubmissions);
}

}  // namespace
}  // namespace gateway_test
