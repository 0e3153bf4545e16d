#include "common/pchar_lib.h"

#include <gtest/gtest.h>

namespace {

struct ReplaceCase {
  const char* name;
  const char* buffer;
  const char* pattern;
  const char* replacement;
  const char* expected;
};

class ReplaceAllPCharTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceAllPCharTest, ReplacesEveryOccurrence) {
  const ReplaceCase& c = GetParam();
  TPChar buffer(c.buffer);
  ReplaceAllPChar(buffer, c.pattern, c.replacement);
  EXPECT_EQ(buffer.Text(), c.expected);
  EXPECT_FALSE(buffer.IsNull());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceAllPCharTest,
    ::testing::Values(ReplaceCase{"WholeBufferTwice", "%a%%a%", "%a%", "xyz", "xyzxyz"},
                      ReplaceCase{"WholeBufferOnce", "%name%", "%name%", "Ann", "Ann"},
                      ReplaceCase{"AdjacentAndInside", "<%a%%a%>-%a%", "%a%", "1", "<11>-1"},
                      ReplaceCase{"EmptyReplacementNeverDeletes", "keep %a% keep", "%a%", "",
                                  "keep %a% keep"},
                      ReplaceCase{"EmptyPatternDoesNothing", "abc", "", "x", "abc"},
                      ReplaceCase{"NoOccurrence", "abc", "%z%", "x", "abc"},
                      ReplaceCase{"CaseSensitive", "%NAME%", "%name%", "x", "%NAME%"},
                      ReplaceCase{"ReplacementIsNotScannedAgain", "aXa", "a", "aa", "aaXaa"},
                      ReplaceCase{"OverlapTakesLeftmost", "aaa", "aa", "b", "ba"},
                      ReplaceCase{"PatternLongerThanBuffer", "ab", "abc", "x", "ab"}),
    [](const auto& test_param) { return std::string(test_param.param.name); });

TEST(PCharLibTest, NullAndEmptyCountAlikeAndStayPut) {
  TPChar null_buffer;
  EXPECT_TRUE(IsEmptyPChar(null_buffer));
  EXPECT_EQ(null_buffer.c_str(), nullptr);
  ReplaceAllPChar(null_buffer, "a", "b");
  EXPECT_TRUE(null_buffer.IsNull());

  TPChar empty = NewZeroPChar(64);
  EXPECT_TRUE(IsEmptyPChar(empty));
  EXPECT_FALSE(empty.IsNull());
  EXPECT_STREQ(empty.c_str(), "");
}

TEST(PCharLibTest, AppendGrowsANullBufferAndIgnoresEmptyText) {
  TPChar buffer;
  AppendPChar(buffer, "");
  EXPECT_TRUE(buffer.IsNull());  // nothing appended, nothing allocated
  AppendPChar(buffer, "ab");
  AppendPChar(buffer, "cd");
  EXPECT_STREQ(buffer.c_str(), "abcd");

  AppendPCharN(buffer, "efgh", 2);
  AppendPCharN(buffer, "ij", 10);  // shorter than the count: all of it
  AppendPCharN(buffer, "kl", 0);
  AppendPCharN(buffer, "", 5);
  EXPECT_EQ(buffer.Text(), "abcdefij");

  FreePChar(buffer);
  EXPECT_TRUE(buffer.IsNull());
  EXPECT_TRUE(IsEmptyPChar(buffer));
  FreePChar(buffer);  // freeing twice is harmless
  EXPECT_TRUE(buffer.IsNull());
}

}  // namespace
