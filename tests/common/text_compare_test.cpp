#include "common/text_compare.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// FindText stands in for a search in upper-cased copies: it must find the same places.
TEST(FindTextTest, FindsWhatASearchOfUpperCasedCopiesFinds) {
  const char* texts[] = {"Content-Type: text/plain; Charset=ISO-8859-1",
                         "%mailto% and %MAILTO%",
                         "",
                         "abc",
                         "\xc3\xa4%vorl_date%\xc3\x84",
                         "aaab"};
  const char* words[] = {"CHARSET=ISO-8859-1", "%MAILTO%", "", "ABCD", "VORL", "AAB", "\xc3\x84"};
  for (const std::string text : texts) {
    for (const std::string word : words) {
      for (size_t from = 0; from <= text.size() + 1; ++from) {
        EXPECT_EQ(FindText(text, word, from), UpperCase(text).find(UpperCase(word), from))
            << '"' << text << "\" \"" << word << "\" from " << from;
      }
    }
  }
}

// CompareText orders as a comparison of upper-cased copies does, whether the first difference
// lies in the bytes it passes over eight at a time, at their end or after them.
TEST(CompareTextTest, OrdersAsUpperCasedCopiesCompare) {
  const char* texts[] = {"",
                         "a",
                         "HTTP_REFERER=x",
                         "http_referer=x",
                         "HTTP_REFERER",
                         "HTTP_REFERES",
                         "HTTP_REF",
                         "http_ref=",
                         "Content-Type: text",
                         "\xc3\xa4"
                         "bcdefgh",
                         "ABCDEFGH\xc3",
                         "abcdefgh@"};
  const auto sign = [](int value) { return (value > 0) - (value < 0); };
  for (const std::string a : texts) {
    for (const std::string b : texts) {
      EXPECT_EQ(sign(CompareText(a, b)), sign(UpperCase(a).compare(UpperCase(b))))
          << '"' << a << "\" \"" << b << '"';
      EXPECT_EQ(SameText(a, b), UpperCase(a) == UpperCase(b)) << '"' << a << "\" \"" << b << '"';
    }
  }
}

}  // namespace
