#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wizard/html_form_scanner.h"

namespace {

// The tokens of a document as "T:" (text) or "G:" (tag) plus their text, up to the end.
std::vector<std::string> Tokens(std::string_view document) {
  std::vector<std::string> out;
  TSimpleHTMLParser parser(document);
  for (int guard = 0; parser.TokenKind() != TTokenKind::EndOfText && guard < 1000; ++guard) {
    out.push_back((parser.TokenKind() == TTokenKind::Tag ? "G:" : "T:") + parser.TokenText());
    parser.NextToken();
  }
  return out;
}

struct TokenCase {
  const char* name;
  std::string document;
  std::vector<std::string> tokens;
};

class TokenizerTest : public testing::TestWithParam<TokenCase> {};

TEST_P(TokenizerTest, CutsDocumentIntoTagsAndTexts) {
  EXPECT_EQ(Tokens(GetParam().document), GetParam().tokens);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, TokenizerTest,
    testing::Values(
        TokenCase{"Empty", "", {}}, TokenCase{"OnlyBlanksAndControls", " \t\r\n\x01\x1f ", {}},
        TokenCase{"TagsAndText", "<p>Hello world</p>", {"G:p", "T:Hello world", "G:/p"}},
        // Text runs end at line ends; leading blanks of each run are skipped, trailing ones kept.
        TokenCase{"TextLinesSplit", "  one two \r\n\tthree", {"T:one two ", "T:three"}},
        // A tag may span lines; its line breaks stay in the text.
        TokenCase{"TagSpansLines", "<input\r\n name=x>", {"G:input\r\n name=x"}},
        // A ">" inside a quoted value ends the tag there; the rest is text.
        TokenCase{"QuotedGreaterThanEndsTag",
                  "<input value=\"a>b\" name=c>",
                  {"G:input value=\"a", "T:b\" name=c>"}},
        // A tag left open takes the rest of the document, and the scan ends after it.
        TokenCase{"UnclosedTag", "x<input name=last\n", {"T:x", "G:input name=last\n"}},
        TokenCase{"EmptyTag", "<>", {"G:"}}, TokenCase{"LoneLessThanAtEnd", "a <", {"T:a ", "G:"}},
        // Comments are not special: they are cut like everything else.
        TokenCase{"CommentIsATag", "<!-- <input name=a> -->", {"G:!-- <input name=a", "T:-->"}},
        // The document ends at its first NUL character.
        TokenCase{"EndsAtNul", std::string("<a>b\0<input name=x>", 19), {"G:a", "T:b"}}),
    [](const testing::TestParamInfo<TokenCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(TokenizerEndTest, EndOfTextRepeatsOnFurtherCalls) {
  TSimpleHTMLParser parser("<b>");
  ASSERT_EQ(parser.TokenKind(), TTokenKind::Tag);
  parser.NextToken();
  EXPECT_EQ(parser.TokenKind(), TTokenKind::EndOfText);
  EXPECT_EQ(parser.TokenText(), "");
  parser.NextToken();
  EXPECT_EQ(parser.TokenKind(), TTokenKind::EndOfText);
}

TEST(TokenizerEndTest, TokenStartSkipsLeadingBlanks) {
  TSimpleHTMLParser parser("  \n<b>");
  EXPECT_EQ(parser.TokenStart(), 3u);
}

struct IsTagCase {
  std::string document;
  const char* name;
  bool expected;
};

class IsTagTest : public testing::TestWithParam<IsTagCase> {};

TEST_P(IsTagTest, MatchesTagNamePrefixWithoutRegardToCase) {
  TSimpleHTMLParser parser(GetParam().document);
  EXPECT_EQ(parser.IsTag(GetParam().name), GetParam().expected) << GetParam().document;
}

INSTANTIATE_TEST_SUITE_P(Tags, IsTagTest,
                         testing::Values(IsTagCase{"<INPUT>", "input", true},
                                         IsTagCase{"<input type=text name=x>", "input", true},
                                         IsTagCase{"<inputs>", "input", true},
                                         IsTagCase{"<Select name=a>", "SELECT", true},
                                         IsTagCase{"</input>", "input", false},
                                         IsTagCase{"< input name=x>", "input", false},
                                         IsTagCase{"<in>", "input", false},
                                         IsTagCase{"input name=x", "input", false},
                                         IsTagCase{"", "input", false}));

}  // namespace
