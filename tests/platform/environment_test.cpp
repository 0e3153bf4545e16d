#include "platform/environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

namespace {

struct EnvCase {
  const char* name;
  const char* value;  // null: unset
  const char* expected;
};

class GetEnvVarTest : public ::testing::TestWithParam<EnvCase> {};

TEST_P(GetEnvVarTest, ReadsTheVariable) {
  const EnvCase& c = GetParam();
  if (c.value == nullptr) {
    unsetenv(c.name);
  } else {
    setenv(c.name, c.value, 1);
  }
  EXPECT_EQ(GetEnvVar(c.name), c.expected);
  unsetenv(c.name);
}

INSTANTIATE_TEST_SUITE_P(Cases, GetEnvVarTest,
                         ::testing::Values(EnvCase{"BREVIX_TEST_VAR", "value", "value"},
                                           EnvCase{"BREVIX_TEST_VAR", nullptr, ""},
                                           // A development host is no CGI server.
                                           EnvCase{"SERVER_SOFTWARE", "ZB-Server/2", ""},
                                           EnvCase{"SERVER_SOFTWARE", "lighttpd/1.4",
                                                   "lighttpd/1.4"},
                                           // Only SERVER_SOFTWARE gets that treatment.
                                           EnvCase{"BREVIX_TEST_VAR", "ZB", "ZB"}));

TEST(EnvironmentTest, EnvironmentStringsHoldEveryVariable) {
  setenv("BREVIX_TEST_LISTED", "a=b", 1);
  std::vector<std::string> strings = EnvironmentStrings();
  EXPECT_NE(std::find(strings.begin(), strings.end(), "BREVIX_TEST_LISTED=a=b"), strings.end());
  unsetenv("BREVIX_TEST_LISTED");
}

}  // namespace
