// The watchdog ending a CGI process whose client stopped sending, and the time limit of a whole
// request body. Each takes 30 to 60 seconds, so they run only as the CTest test
// "engine_slow_watchdog" (label "slow"), which sets BREVIX_RUN_SLOW.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "support/cgi_process.h"

namespace {

TEST(CgiSlowTest, StalledPostEndsThroughTheWatchdogWithExitCodeZeroAndNoAnswer) {
  if (std::getenv("BREVIX_RUN_SLOW") == nullptr) GTEST_SKIP() << "slow; run engine_slow_watchdog";
  cgi_test::CgiRun run;
  run.program = cgi_test::BinDir() + "engine_test_cgi";
  run.env = cgi_test::CgiEnvironment("POST");
  run.env["CGI_LOG_DIR"] = "/tmp";
  run.env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
  run.env["CONTENT_LENGTH"] = "20";
  run.input = "a=1&b=";  // part of the body, then silence with the connection open
  run.close_input = false;
  run.timeout = std::chrono::seconds(50);
  cgi_test::CgiResult result = cgi_test::RunCgi(run);
  ASSERT_FALSE(result.timed_out) << "the watchdog did not end the process";
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.error.find("request runs"), std::string::npos);
  // 30 s after the last byte; never before.
  EXPECT_GE(result.elapsed, std::chrono::seconds(29));
}

// A client that stalls in the middle of a file upload: the process ends through the watchdog,
// and the upload's temporary file goes with it.
TEST(CgiSlowTest, StalledUploadLeavesNoTemporaryFile) {
  if (std::getenv("BREVIX_RUN_SLOW") == nullptr) GTEST_SKIP() << "slow; run engine_slow_watchdog";
  namespace fs = std::filesystem;
  const std::string temp_dir = "SlowUploadTemp" + std::to_string(getpid());
  const fs::path temp_path = cgi_test::BinDir() + temp_dir;
  fs::remove_all(temp_path);
  cgi_test::CgiRun run;
  run.program = cgi_test::BinDir() + "engine_test_cgi";
  run.env = cgi_test::CgiEnvironment("POST");
  run.env["CGI_LOG_DIR"] = "/tmp";
  run.env["TEST_CGI_ACTION"] = "upload";
  run.env["TEST_CGI_TEMPDIR"] = temp_dir;
  run.env["CONTENT_TYPE"] = "multipart/form-data; boundary=XyZ";
  run.env["CONTENT_LENGTH"] = "60000";
  // More than the decoder's buffer, so the file is created and written before the stall.
  run.input = "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.bin\"\r\n\r\n" +
              std::string(30000, 'u');
  run.close_input = false;
  run.timeout = std::chrono::seconds(50);
  cgi_test::CgiResult result = cgi_test::RunCgi(run);
  ASSERT_FALSE(result.timed_out) << "the watchdog did not end the process";
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output, "");
  ASSERT_TRUE(fs::exists(temp_path)) << "the upload never started";
  EXPECT_TRUE(fs::is_empty(temp_path));
  fs::remove_all(temp_path);
}

// A client that sends a byte every few seconds keeps each wait short, but not the whole body:
// after the body's time limit the request fails with its error page, and the upload's
// temporary file is gone. The drip lasts longer than the limit, so only the limit can end it.
TEST(CgiSlowTest, DrippingUploadFailsAtTheBodyTimeLimitAndLeavesNoTemporaryFile) {
  if (std::getenv("BREVIX_RUN_SLOW") == nullptr) GTEST_SKIP() << "slow; run engine_slow_watchdog";
  namespace fs = std::filesystem;
  const std::string temp_dir = "DripUploadTemp" + std::to_string(getpid());
  const fs::path temp_path = cgi_test::BinDir() + temp_dir;
  fs::remove_all(temp_path);
  const std::string head =
      "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.bin\"\r\n\r\n";
  cgi_test::CgiRun run;
  run.program = cgi_test::BinDir() + "engine_test_cgi";
  run.env = cgi_test::CgiEnvironment("POST");
  run.env["CGI_LOG_DIR"] = "/tmp";
  run.env["TEST_CGI_ACTION"] = "upload";
  run.env["TEST_CGI_TEMPDIR"] = temp_dir;
  run.env["CONTENT_TYPE"] = "multipart/form-data; boundary=XyZ";
  run.env["CONTENT_LENGTH"] = "60000";
  // More than the decoder's buffer at once, so the file is created and written; then one byte
  // a second, for far longer than the limit.
  run.input = head + std::string(30000, 'u');
  run.drip_from = run.input.size();
  run.input += std::string(200, 'u');
  run.drip = std::chrono::milliseconds(1000);
  run.close_input = false;
  run.timeout = std::chrono::seconds(100);
  cgi_test::CgiResult result = cgi_test::RunCgi(run);
  ASSERT_FALSE(result.timed_out) << "the body's time limit did not end the request";
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.output.find("Request body not received in time"), std::string::npos)
      << result.output;
  ASSERT_TRUE(fs::exists(temp_path)) << "the upload never started";
  EXPECT_TRUE(fs::is_empty(temp_path));
  fs::remove_all(temp_path);
}

}  // namespace
