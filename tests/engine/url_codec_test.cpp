#include "engine/url_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Codec {
  std::string input;
  std::string expected;
};

class UrlDecodeTest : public ::testing::TestWithParam<Codec> {};

TEST_P(UrlDecodeTest, DecodesPlusAndValidPercentSequencesOnly) {
  EXPECT_EQ(UrlDecode(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlDecodeTest,
    ::testing::Values(Codec{"%4a%4A%zz+%", "JJ%zz %"},       // either case, bad kept
                      Codec{"a%2", "a%2"},                   // digit beyond the end
                      Codec{"%", "%"}, Codec{"%%41", "%A"},  // "%" before a real one
                      Codec{"%00x", std::string("\0x", 2)},  // zero byte decoded
                      Codec{"%C3%A9+%e9", "\xC3\xA9 \xE9"},  // bytes, no charset
                      Codec{"", ""}, Codec{"plain", "plain"}));

class UrlEncodeTest : public ::testing::TestWithParam<Codec> {};

TEST_P(UrlEncodeTest, KeepsTheSafeSetAndEscapesTheRestInUpperCaseHex) {
  EXPECT_EQ(UrlEncode(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, UrlEncodeTest,
                         ::testing::Values(Codec{"a b", "a+b"},
                                           Codec{"C:\\dir/f.txt", "C%3A\\dir/f.txt"},
                                           Codec{"x=1&y", "x%3D1%26y"}, Codec{"\xE9\n", "%E9%0A"},
                                           Codec{"-_~", "%2D%5F%7E"}, Codec{"Az09", "Az09"}));

TEST(UrlCodecTest, EncodeThenDecodeGivesBackEveryByte) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(UrlDecode(UrlEncode(all)), all);
}

struct Decoding {
  const char* name;
  std::string buffer;
  std::vector<std::string> entries;  // the field table afterwards, in table order
};

void PrintTo(const Decoding& decoding, std::ostream* out) {
  *out << decoding.name;
}

class DecodeFieldsTest : public ::testing::TestWithParam<Decoding> {};

TEST_P(DecodeFieldsTest, FillsTheSortedFieldTable) {
  TStringList fields(true);
  DecodeUrlEncodedFields(fields, GetParam().buffer);
  EXPECT_EQ(std::vector<std::string>(fields.begin(), fields.end()), GetParam().entries);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeFieldsTest,
    ::testing::Values(
        Decoding{"RepeatedNameJoinsValuesInArrivalOrder", "a=1&a=2&b=&", {"a=1\r\n2", "b="}},
        Decoding{"NameSpelledAsLastReceived", "A=1&a=2&", {"a=1\r\n2"}},
        Decoding{"SeveralEqualSignsKeepFirstNameAndLastValue", "x=1=2&", {"x=2"}},
        Decoding{"PairWithoutEqualSignAddsNothing", "flag&y=1&", {"y=1"}},
        Decoding{"EmptyNameAddsNothing", "=v&==w&z=1&", {"z=1"}},
        Decoding{"TextAfterTheLastAmpersandIsNoPair", "a=1&b=2", {"a=1"}},
        Decoding{"WalkEndsAtAZeroByte", std::string("a=1&b=2\0&c=3&", 13), {"a=1"}},
        Decoding{"NamesAndValuesAreDecoded",
                 "first+name=J%F6rg&e%3Dm=a%26b&",
                 {"e=m=a&b", "first name=J\xF6rg"}},
        Decoding{"EqualSignOfAnEarlierPairDoesNotLeak", "a=1&bare&", {"a=1"}},
        Decoding{"EmptyBuffer", "", {}}),
    [](const ::testing::TestParamInfo<Decoding>& param_info) {
      return std::string(param_info.param.name);
    });

struct Auth {
  const char* header;
  const char* user;
  const char* password;
};

class DecodeBasicAuthTest : public ::testing::TestWithParam<Auth> {};

TEST_P(DecodeBasicAuthTest, SplitsAtTheFirstColonAndTrims) {
  std::string user = "stale";
  std::string password = "stale";
  DecodeBasicAuth(GetParam().header, user, password);
  EXPECT_EQ(user, GetParam().user);
  EXPECT_EQ(password, GetParam().password);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeBasicAuthTest,
    ::testing::Values(Auth{"Basic dXNlcjpwYXNz", "user", "pass"},           // user:pass
                      Auth{"Basic YWxpY2U6cDpx", "alice", "p:q"},           // alice:p:q
                      Auth{"Basic IGJvYiA6IHNlY3JldCA=", "bob", "secret"},  // " bob : secret "
                      Auth{"Basic bm9jb2xvbg==", "", ""},                   // nocolon
                      Auth{"Basic", "", ""}, Auth{"", "", ""},
                      Auth{"Basic dXNlcjpwYXNz!!!", "user", "pass"}));  // short tail dropped

TEST(DecodeBasicAuthTest, OverlongHeaderIsCutNotOverrun) {
  std::string header = "Basic " + std::string(100000, 'Q');
  std::string user;
  std::string password;
  DecodeBasicAuth(header, user, password);
  EXPECT_EQ(user, "");
}

}  // namespace
