// The watchdog ending a CGI process whose client stopped sending. Takes about 30 seconds, so it
// runs only as the CTest test "engine_slow_watchdog" (label "slow"), which sets BREVIX_RUN_SLOW.

#include <gtest/gtest.h>

#include <cstdlib>

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

}  // namespace
