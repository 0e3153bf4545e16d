#include "engine/url_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/field_table.h"

namespace {

struct Codec {
  std::string input;
  std::string expected;
};

void PrintTo(const Codec& c, std::ostream* os) {
  *os << ::testing::PrintToString(c.input);
}

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
  std::vector<std::string> entries;  // name "|" value of each entry afterwards, in table order
};

void PrintTo(const Decoding& decoding, std::ostream* out) {
  *out << decoding.name;
}

class DecodeFieldsTest : public ::testing::TestWithParam<Decoding> {};

// The table as the gateway sees it: each entry's name (through its key) and value, kept apart.
std::vector<std::string> DecodedView(const TStringList& fields) {
  std::vector<std::string> view;
  for (int i = 0; i < fields.Count(); ++i) {
    view.push_back(FieldNameOf(fields.Names(i)) + "|" + fields.ValueFromIndex(i));
  }
  return view;
}

TEST_P(DecodeFieldsTest, FillsTheSortedFieldTable) {
  TStringList fields(true);
  DecodeUrlEncodedFields(fields, GetParam().buffer);
  EXPECT_EQ(DecodedView(fields), GetParam().entries);
  for (int i = 0; i < fields.Count(); ++i) {
    EXPECT_EQ(fields.IndexOfName(fields.Names(i)), i) << "lookup of entry " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeFieldsTest,
    ::testing::Values(
        Decoding{"RepeatedNameJoinsValuesInArrivalOrder", "a=1&a=2&b=&", {"a|1\r\n2", "b|"}},
        Decoding{"NameSpelledAsLastReceived", "A=1&a=2&", {"a|1\r\n2"}},
        Decoding{"SeveralEqualSignsKeepFirstNameAndLastValue", "x=1=2&", {"x|2"}},
        Decoding{"PairWithoutEqualSignAddsNothing", "flag&y=1&", {"y|1"}},
        Decoding{"EmptyNameAddsNothing", "=v&==w&z=1&", {"z|1"}},
        Decoding{"TextAfterTheLastAmpersandIsNoPair", "a=1&b=2", {"a|1"}},
        Decoding{"WalkEndsAtAZeroByte", std::string("a=1&b=2\0&c=3&", 13), {"a|1"}},
        Decoding{"NamesAndValuesAreDecoded",
                 "first+name=J%F6rg&e%3Dm=a%26b&",
                 {"e=m|a&b", "first name|J\xF6rg"}},
        // A decoded "=" belongs to the name; it never moves the value's start.
        Decoding{"EqualSignNameKeepsItsValue", "%3D=v&%3d=w&x%3D=&", {"=|v\r\nw", "x=|"}},
        Decoding{"EscapeByteInANameStaysAsSent", "%01%02=a&%3D=b&", {"\x01\x02|a", "=|b"}},
        Decoding{"EqualSignOfAnEarlierPairDoesNotLeak", "a=1&bare&", {"a|1"}},
        Decoding{"EmptyBuffer", "", {}}),
    [](const ::testing::TestParamInfo<Decoding>& param_info) {
      return std::string(param_info.param.name);
    });

// Many fields at once give the very table that adding them one by one gives: names in every
// case, repeated and new, some already in the table, one held there twice (upload entries are
// added without merging). A small form (its names searched) and a large one (hashed) alike.
struct MergeShape {
  int fields;
  int distinct;       // names f0, F1, f2, ... repeat after this many
  int special_every;  // every so many fields a name the table holds ("HELD", "Twice")
  int equal_every;    // every so many fields a name with "=" in it
};

class MergeFieldsTest : public ::testing::TestWithParam<MergeShape> {};

TEST_P(MergeFieldsTest, GiveTheTableOfMergingOneByOne) {
  const MergeShape shape = GetParam();
  TStringList at_once(true);
  at_once.Add("held=1");
  at_once.Add("twice=b");
  at_once.Add("twice=a");
  TStringList one_by_one = at_once;
  std::vector<TDecodedField> decoded;
  for (int i = 0; i < shape.fields; ++i) {
    std::string name(1, i % 3 == 0 ? 'F' : 'f');
    name += std::to_string(i % shape.distinct);
    if (i % shape.special_every == 0) name = i % (2 * shape.special_every) == 0 ? "HELD" : "Twice";
    if (i % shape.equal_every == 0) name += "=";
    decoded.emplace_back(name, 'v' + std::to_string(i));
  }
  for (const TDecodedField& field : decoded) MergeField(one_by_one, field.first, field.second);
  MergeFields(at_once, decoded);
  ASSERT_EQ(at_once.Count(), one_by_one.Count());
  EXPECT_TRUE(std::equal(at_once.begin(), at_once.end(), one_by_one.begin()));
  EXPECT_TRUE(at_once.Sorted());
}

INSTANTIATE_TEST_SUITE_P(SmallAndLargeForms, MergeFieldsTest,
                         ::testing::Values(MergeShape{16, 5, 6, 7},
                                           MergeShape{20000, 7000, 1000, 4999}));

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
