#include "gateway/parse_me.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "gateway/template_macro.h"

namespace {

std::vector<std::string> Tokens(const std::string& text, const std::string& delimiter = "%") {
  TParseMe parser;
  parser.Text = text;
  parser.Delimiter = delimiter;
  parser.Parse();
  return {parser.Tokens.begin(), parser.Tokens.end()};
}

using V = std::vector<std::string>;

TEST(ParseMeTest, FindsNamesBetweenDelimiters) {
  EXPECT_EQ(Tokens("Name: %a%, mail: %b%\r\n"), (V{"a", "b"}));
  EXPECT_EQ(Tokens("%a%%b%"), (V{"a", "b"}));
  EXPECT_EQ(Tokens("%a% %a%"), (V{"a", "a"}));
}

TEST(ParseMeTest, TokensMayHoldBlanksAndLineBreaks) {
  EXPECT_EQ(Tokens("50% off, see %x%"), (V{" off, see "}));
  EXPECT_EQ(Tokens("a%b\r\nc%d"), (V{"b\r\nc"}));
}

TEST(ParseMeTest, CharacterAfterOpeningDelimiterAlwaysBelongsToToken) {
  EXPECT_EQ(Tokens("%%x%"), (V{"%x"}));
  EXPECT_EQ(Tokens("%%%"), (V{"%"}));
}

TEST(ParseMeTest, UnfinishedTokenIsDropped) {
  EXPECT_EQ(Tokens("%a% and %b"), (V{"a"}));
  EXPECT_EQ(Tokens("text%"), V{});
  EXPECT_EQ(Tokens("no macros"), V{});
  EXPECT_EQ(Tokens(""), V{});
}

TEST(ParseMeTest, OtherDelimiterAndReuse) {
  TParseMe parser;
  parser.Text = "#a# %b%";
  parser.Delimiter = "#";
  parser.Parse();
  parser.Parse();  // a second run starts from an empty list
  EXPECT_EQ((V{parser.Tokens.begin(), parser.Tokens.end()}), (V{"a"}));
  parser.Delimiter.clear();
  parser.Parse();
  EXPECT_TRUE(parser.Tokens.Empty());
}

class ReplaceTemplateMacroTest : public ::testing::Test {
 protected:
  ReplaceTemplateMacroTest() {
    values_.FormVar = [this](const std::string& name) {
      auto it = fields_.find(name);
      return it == fields_.end() ? std::string() : it->second;
    };
    values_.Date = "12-07-26";
    values_.Time = "10:15 AM";
    values_.EmptyMark = "**";
  }

  std::string Expand(const std::string& text, const std::vector<std::string>& macros) {
    TPChar buffer(text);
    for (const std::string& m : macros) ReplaceTemplateMacro(m, buffer, values_);
    return buffer.Text();
  }

  std::map<std::string, std::string> fields_{{"name", "Ann"}, {"mail", "ann@example.org"}};
  TTemplateValues values_;
};

TEST_F(ReplaceTemplateMacroTest, ReplacesEveryOccurrenceWithFieldValue) {
  EXPECT_EQ(Expand("%name%;%mail%;%name%", {"%name%", "%mail%"}), "Ann;ann@example.org;Ann");
}

TEST_F(ReplaceTemplateMacroTest, MatchesMacroWithRegardToCase) {
  EXPECT_EQ(Expand("%NAME% %name%", {"%name%"}), "%NAME% Ann");
}

TEST_F(ReplaceTemplateMacroTest, MissingOrEmptyFieldGivesEmptyMark) {
  fields_["empty"] = "";
  EXPECT_EQ(Expand("[%phone%][%empty%]", {"%phone%", "%empty%"}), "[**][**]");
  values_.EmptyMark = " ";
  EXPECT_EQ(Expand("[%phone%]", {"%phone%"}), "[ ]");
}

TEST_F(ReplaceTemplateMacroTest, LonePercentPairsWithNextOne) {
  // "50% off %name%" parses to the token " off "; the whole span becomes the empty mark.
  TParseMe parser;
  parser.Text = "50% off %name%";
  parser.Delimiter = "%";
  parser.Parse();
  std::vector<std::string> macros;
  for (const std::string& t : parser.Tokens) macros.push_back("%" + t + "%");
  EXPECT_EQ(Expand(parser.Text, macros), "50**name%");
}

TEST_F(ReplaceTemplateMacroTest, BuiltInsGiveDateTimeAndReferer) {
  values_.Referer = "http://site.example/form.html";
  EXPECT_EQ(Expand("%vorl_date% %VORL_TIME% %vorl_referer%",
                   {"%vorl_date%", "%VORL_TIME%", "%vorl_referer%"}),
            "12-07-26 10:15 AM http://site.example/form.html");
}

TEST_F(ReplaceTemplateMacroTest, EmptyOrUnknownBuiltInStaysAsWritten) {
  fields_["vorl_other"] = "field";
  EXPECT_EQ(Expand("%vorl_referer% %vorl_other%", {"%vorl_referer%", "%vorl_other%"}),
            "%vorl_referer% %vorl_other%");
}

TEST_F(ReplaceTemplateMacroTest, LaterCallsSeeInsertedText) {
  fields_["a"] = "%b%";
  fields_["b"] = "B";
  EXPECT_EQ(Expand("%a%", {"%a%"}), "%b%");
  EXPECT_EQ(Expand("%a%", {"%a%", "%b%"}), "B");
}

TEST_F(ReplaceTemplateMacroTest, CsvRecordDoublesQuotesInsideValues) {
  // A visitor's quote must not end the CSV cell early and shift every later column.
  fields_["name"] = "Ann \"the\" Visitor";
  values_.CsvQuotes = true;
  EXPECT_EQ(Expand("\"%name%\",\"%mail%\"", {"%name%", "%mail%"}),
            "\"Ann \"\"the\"\" Visitor\",\"ann@example.org\"");
}

TEST_F(ReplaceTemplateMacroTest, PlainRecordKeepsRawValue) {
  fields_["name"] = "<b>\"x\"</b>";
  EXPECT_EQ(Expand("%name%", {"%name%"}), "<b>\"x\"</b>");
}

}  // namespace
