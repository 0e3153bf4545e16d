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

}  // namespace
