#include "common/string_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "common/exception.h"

TEST(StringListTest, SortedListOrdersWithoutRegardToCase) {
  TStringList list(true);
  list.Add("b=2");
  list.Add("A=1");
  list.Add("c=3");
  EXPECT_EQ(list.Join(","), "A=1,b=2,c=3");
  EXPECT_EQ(list.Values("a"), "1");
  EXPECT_EQ(list.IndexOfName("B"), 1);
}

// A sorted list is searched by halving: it must find what a search in order finds, also for
// names that begin other names and for characters that sort before and after "=".
TEST(StringListTest, SortedLookupFindsWhatASearchInOrderFinds) {
  const char* items[] = {"a=1", "a-b=2", "a b=3", "A1=4", "ab=5", "AB c=6",
                         "abc", "ab=7",  "b=",    "=x",   "a==9", "Z[=10"};
  TStringList sorted(true);
  TStringList plain;
  for (const char* item : items) {
    sorted.Add(item);
    plain.Add(item);
  }
  for (const char* name :
       {"a", "A", "a-b", "a b", "a1", "ab", "AB C", "abc", "b", "c", "a=", "z[", "", "Z"}) {
    const int found = sorted.IndexOfName(name);
    const int expected = plain.IndexOfName(name);
    ASSERT_EQ(found < 0, expected < 0) << name;
    if (found >= 0) {
      EXPECT_EQ(sorted.ValueFromIndex(found), plain.ValueFromIndex(expected)) << name;
    }
  }
}

TEST(StringListTest, NameValueAccessUsesFirstEquals) {
  TStringList list;
  list.Add("x=1=2");
  list.Add("noequals");
  EXPECT_EQ(list.Names(0), "x");
  EXPECT_EQ(list.ValueFromIndex(0), "1=2");
  EXPECT_EQ(list.Names(1), "");
  EXPECT_EQ(list.Values("noequals"), "");
}

TEST(StringListTest, SetValueAddsReplacesAndEmptyDeletes) {
  TStringList list;
  list.SetValue("Key", "one");
  list.SetValue("KEY", "two");
  EXPECT_EQ(list.Text(), "KEY=two\r\n");
  list.SetValue("key", "");
  EXPECT_EQ(list.Count(), 0);
}

struct LineEndCase {
  const char* text;
  int count;
};

class StringListLineEnds : public testing::TestWithParam<LineEndCase> {};

TEST_P(StringListLineEnds, SplitsOnAnyLineEnd) {
  TStringList list;
  list.SetText(GetParam().text);
  EXPECT_EQ(list.Count(), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(All, StringListLineEnds,
                         testing::Values(LineEndCase{"a\r\nb\r\n", 2}, LineEndCase{"a\nb", 2},
                                         LineEndCase{"a\rb\r", 2}, LineEndCase{"a\r\n\r\nb", 3},
                                         LineEndCase{"", 0}));

TEST(StringListTest, SavesWithCrLfAndLoadsBack) {
  const std::string path = testing::TempDir() + "string_list_test.txt";
  TStringList list;
  list.Add("first");
  list.Add("");
  list.Add("last");
  list.SaveToFile(path);
  std::ifstream in(path, std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(raw, "first\r\n\r\nlast\r\n");
  TStringList loaded;
  loaded.LoadFromFile(path);
  EXPECT_EQ(loaded.Join("|"), "first||last");
  std::remove(path.c_str());
}

TEST(StringListTest, LoadingAMissingFileThrows) {
  TStringList list;
  EXPECT_THROW(list.LoadFromFile("/nonexistent/dir/file.txt"), Exception);
}
