// Gateway hosts sharing one PostgreSQL database (brevix.ini's Database): two gateway folders,
// each a host of its own, against a throw-away cluster started and stopped here. The hosts run
// as CGI programs (one process per submission, one connection each), which exercises the same
// store as a FastCGI gateway with more connections.
#include <atomic>
#include <future>
#include <set>
#include <thread>

#include "gateway_site.h"
#include "support/fastcgi_client.h"
#include "support/pg_cluster.h"

namespace gateway_test {
namespace {

class DatabaseStoreTest : public GatewaySite {
 protected:
  void SetUp() override {
    if (!pg_.Found()) GTEST_SKIP() << "PostgreSQL server binaries (package postgresql) missing";
    ASSERT_TRUE(pg_.Create());
    GatewaySite::SetUp();
    ini_["Database"] = pg_.ConnInfo();
    ini_["Results_File"] = "results.csv";
    ini_["Results_File_Template"] = "record.txt";
    ini_["Message_Text"] = "message.txt";
    WriteFile("record.txt", "%refnum_order% %n%");
    WriteFile("message.txt", "Submission <%n%> number %refnum_order%\r\n");
    headers_["HTTP_ACCEPT"] = "application/json";
    WriteIni();
    // The second host: its own folder, program and settings, the same database.
    other_ = dir_ + "other/";
    fs::create_directories(other_);
    for (const char* file : {"brevix.cgi", "brevix.ini", "record.txt", "message.txt"}) {
      fs::copy_file(dir_ + file, other_ + file);
    }
  }

  // Posts submission n to host n % 2 from `client`, answered within a minute.
  cgi_test::CgiResult PostTo(int n, const std::string& client) const {
    cgi_test::CgiRun run = PostRun("mail_from=a%40b.test&n=" + std::to_string(n),
                                   "application/x-www-form-urlencoded", n % 2 == 0 ? dir_ : other_);
    run.env["REMOTE_ADDR"] = client;
    run.timeout = std::chrono::seconds(60);
    return cgi_test::RunCgi(run);
  }

  // Runs submissions 0..count-1 on `workers` threads at once; `between` runs on the test's
  // thread meanwhile.
  std::vector<cgi_test::CgiResult> PostMany(int count, int workers,
                                            const std::function<std::string(int)>& client,
                                            const std::function<void()>& between = {}) {
    std::vector<cgi_test::CgiResult> results(count);
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
      threads.emplace_back([&] {
        for (int n; (n = next++) < count;) results[n] = PostTo(n, client(n));
      });
    }
    if (between) between();
    for (std::thread& thread : threads) thread.join();
    return results;
  }

  static int Status(const cgi_test::CgiResult& result) {
    const size_t at = result.output.find("Status: ");
    return at == std::string::npos ? 200 : std::stoi(result.output.substr(at + 8, 3));
  }

  // The "n" of every stored row, and the field "n" of every mail received.
  std::multiset<std::string> StoredNumbers() const {
    std::multiset<std::string> out;
    std::istringstream rows(pg_.Query("SELECT fields->>'n' FROM brevix_results"));
    for (std::string line; std::getline(rows, line);) out.insert(line);
    return out;
  }

  brevix_test::PgCluster pg_;
  std::string other_;
};

TEST_F(DatabaseStoreTest, TwoHostsDrawDistinctNumbersAndKeepEveryRecordOnce) {
  constexpr int kSubmissions = 400;
  const auto results = PostMany(kSubmissions, 24, [](int) { return "192.0.2.1"; });
  std::set<std::string> numbers;
  for (const auto& result : results) {
    ASSERT_EQ(Status(result), 200) << result.output;
    numbers.insert(Body(result));
  }
  EXPECT_EQ(numbers.size(), size_t{kSubmissions});
  EXPECT_EQ(pg_.Query("SELECT count(*), count(DISTINCT ref_number), max(ref_number),"
                      " count(DISTINCT fields->>'n') FROM brevix_results"),
            "400|400|400|400\n");
  EXPECT_EQ(smtp_.WaitForMessages(kSubmissions), kSubmissions);
  // Neither host kept a file of its own.
  EXPECT_FALSE(Exists("results.csv") || Exists("BX-RefNumbers.txt"));
  EXPECT_FALSE(fs::exists(other_ + "results.csv"));
}

TEST_F(DatabaseStoreTest, HourlyLimitHoldsOverBothHosts) {
  ini_["Max_Per_Hour"] = "10";
  WriteIni();
  fs::copy_file(dir_ + "brevix.ini", other_ + "brevix.ini", fs::copy_options::overwrite_existing);
  const auto results = PostMany(30, 6, [](int) { return "198.51.100.7"; });
  int sent = 0;
  for (const auto& result : results) sent += Status(result) == 200;
  EXPECT_EQ(sent, 10);
  EXPECT_EQ(smtp_.WaitForMessages(11, std::chrono::seconds(2)), 10);
}

// Every submission is either answered as sent, stored and mailed once, or answered 503 with
// nothing sent and nothing stored; a number is never drawn twice.
TEST_F(DatabaseStoreTest, DatabaseStoppedMidRunLosesOrDoublesNothing) {
  // The submissions after the 40th wait for the database to go down, and it stays down until
  // one of them has met it: on a machine where stopping takes longer than the rest of the run,
  // the stop still falls amid the submissions.
  std::atomic<bool> stopped{false};
  const auto results = PostMany(
      120, 8,
      [&stopped](int n) {
        while (n >= 40 && !stopped) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return "203.0.113." + std::to_string(n % 200);
      },
      [this, &stopped] {
        while (StoredNumbers().size() < 30)
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const bool down = pg_.Stop();
        stopped = true;
        ASSERT_TRUE(down);
        for (int i = 0; i < 2000 && ErrorLog().find("Database unavailable: ") == std::string::npos;
             ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(pg_.Start());
      });
  std::multiset<std::string> answered_sent;
  int unavailable = 0;
  for (size_t n = 0; n < results.size(); ++n) {
    const int status = Status(results[n]);
    if (status == 503) {
      EXPECT_NE(Body(results[n]).find("Submissions cannot be stored right now"), std::string::npos);
      ++unavailable;
    } else {
      ASSERT_EQ(status, 200) << results[n].output;
      answered_sent.insert(std::to_string(n));
    }
  }
  EXPECT_GT(unavailable, 0);
  EXPECT_EQ(StoredNumbers(), answered_sent);
  std::multiset<std::string> mailed;
  smtp_.WaitForMessages(static_cast<int>(answered_sent.size()));
  for (int m = 1; m <= smtp_.MessageCount(); ++m) {
    const std::string raw = smtp_.Message(m).raw;
    const size_t at = raw.find("Submission <") + 12;
    mailed.insert(raw.substr(at, raw.find('>', at) - at));
  }
  EXPECT_EQ(mailed, answered_sent);
  EXPECT_EQ(pg_.Query("SELECT count(*) = count(DISTINCT ref_number) FROM brevix_results"), "t\n");
  EXPECT_NE(ErrorLog().find("Database unavailable: "), std::string::npos);
}

// A database that takes the connection but never answers fails the submission after the 5 s
// connect time-out, with libpq's reason in the log and nothing sent.
TEST_F(DatabaseStoreTest, UnansweringDatabaseFailsTheSubmissionInsteadOfHoldingIt) {
  ASSERT_TRUE(pg_.Hold(true));
  const auto result = PostTo(0, "192.0.2.9");
  ASSERT_TRUE(pg_.Hold(false));
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(Status(result), 503);
  const std::string log = ErrorLog();
  EXPECT_EQ(CountOf(log, "Database unavailable: "), 1) << log;
  EXPECT_NE(log.find("failed: timeout expired"), std::string::npos) << log;
  EXPECT_EQ(smtp_.WaitForMessages(1, std::chrono::seconds(1)), 0);
}

// A resident FastCGI gateway keeps one connection per thread, answers 503 while the database is
// down, and connects again once it is back.
TEST_F(DatabaseStoreTest, FastCgiKeepsOneConnectionPerThreadAndReconnects) {
  fastcgi_test::FastCgiProcess process;
  const std::string socket = dir_ + "fcgi.sock";
  ASSERT_TRUE(process.Start(dir_ + "brevix.cgi", {"--fastcgi", socket, "--threads", "2"},
                            dir_ + "server.out", -1));
  ASSERT_TRUE(fastcgi_test::FastCgiProcess::WaitForSocket(socket));
  auto submit = [&](int n) {
    const std::string body = "mail_from=a%40b.test&n=" + std::to_string(n);
    auto params = Environment("POST");
    params["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    params["CONTENT_LENGTH"] = std::to_string(body.size());
    const std::string out = fastcgi_test::Request(socket, params, body).output;
    const size_t at = out.find("Status: ");
    return at == std::string::npos ? 200 : std::stoi(out.substr(at + 8, 3));
  };
  for (int n = 0; n < 20; ++n) ASSERT_EQ(submit(n), 200);
  EXPECT_EQ(pg_.Query("SELECT count(*) <= 2 FROM pg_stat_activity WHERE application_name = "
                      "'brevix'"),
            "t\n");
  ASSERT_TRUE(pg_.Stop());
  for (int n = 20; n < 24; ++n) EXPECT_EQ(submit(n), 503);
  ASSERT_TRUE(pg_.Start());
  for (int n = 24; n < 30; ++n) EXPECT_EQ(submit(n), 200);
  EXPECT_EQ(pg_.Query("SELECT count(*), max(ref_number) FROM brevix_results"), "26|26\n");
  EXPECT_EQ(smtp_.WaitForMessages(26), 26);
}

// brevix-site export gives back the very file that the file store writes for the same
// submissions, for each generated layout and an owner's template.
TEST_F(DatabaseStoreTest, ExportEqualsTheFileStoresResultsFile) {
  // Only the year: both runs see the same date and time texts.
  ini_["Date_Format"] = "yyyy";
  ini_["Time_Format"] = "yyyy";
  const Fields fields = {{"mail_from", "a@b.test"},
                         {"name", "Zoë \"Z\", de Vries"},
                         {"note", "line one\r\nline two; <b>bold</b> 100%"}};
  for (const std::string format : {"BX1ColTextNoLabel", "BX1ColTextLabel", "BX1ColHTMLNoLabel",
                                   "BX2ColHTMLNoLabel", "BX2ColHTMLLabel", "BXCSV", "template"}) {
    SCOPED_TRACE(format);
    const std::string results = "results-" + format + (format == "BXCSV" ? ".csv" : ".txt");
    ini_["Results_File"] = results;
    ini_["Default_Format"] = format;
    ini_["Results_File_Template"] = format == "template" ? "record.txt" : "";
    for (const bool database : {false, true}) {
      if (database)
        ini_["Database"] = pg_.ConnInfo();
      else
        ini_.erase("Database");
      for (int i = 0; i < 2; ++i) ASSERT_EQ(Status(Post(fields)), 200);
    }
    const std::string file = FileText(results);
    ASSERT_FALSE(file.empty());
    cgi_test::CgiRun run;
    run.program = "/bin/bash";
    run.args = {std::string(BREVIX_SOURCE_DIR) + "/deploy/brevix-site", "export", dir_, "--results",
                results};
    run.env["PATH"] = "/usr/bin:/bin";
    const auto exported = cgi_test::RunCgi(run);
    EXPECT_EQ(exported.output, file);
  }
}

}  // namespace
}  // namespace gateway_test
