#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "wizard/html_form_scanner.h"

namespace {

std::vector<std::string> Items(const TStringList& list) {
  return {list.begin(), list.end()};
}

// The macros of `form` without the three built-ins that every scan appends.
std::vector<std::string> FieldMacros(std::string_view form, bool list_all = false) {
  std::vector<std::string> all = Items(ScanFormMacros(form, list_all));
  EXPECT_GE(all.size(), 3u);
  if (all.size() < 3) return all;
  const std::vector<std::string> tail(all.end() - 3, all.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"%vorl_date%", "%vorl_time%", "%vorl_referer%"}));
  all.resize(all.size() - 3);
  return all;
}

struct MacroCase {
  const char* name;
  std::string form;
  std::vector<std::string> macros;
};

class ScanFormMacrosTest : public testing::TestWithParam<MacroCase> {};

TEST_P(ScanFormMacrosTest, FindsTheNamedFields) {
  EXPECT_EQ(FieldMacros(GetParam().form), GetParam().macros);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ScanFormMacrosTest,
    testing::Values(
        MacroCase{"NoFields", "<html><body><p>Hello</p></body></html>", {}},
        MacroCase{"DoubleQuotes", "<input type=\"text\" name=\"email\">", {"%email%"}},
        MacroCase{"NoQuotes", "<input type=text name=email>", {"%email%"}},
        // Single quotes are copied like any other character.
        MacroCase{"SingleQuotesStay", "<input type=text name='email'>", {"%'email'%"}},
        // A quoted value holding a space ends at the space.
        MacroCase{"SpaceEndsName", "<input name=\"first name\">", {"%first%"}},
        MacroCase{"SpacesAroundEqualsFindNothing", "<input name = email>", {}},
        // The key word is found in any case; the name keeps its own spelling.
        MacroCase{"CapitalKeyWord", "<TEXTAREA NAME=comments rows=4></TEXTAREA>", {"%comments%"}},
        MacroCase{"SelectAndOptions",
                  "<select name=Colour><option value=red>Red</option></select>",
                  {"%Colour%"}},
        MacroCase{"DocumentOrder",
                  "<input name=b><textarea name=a></textarea><select name=c></select>",
                  {"%b%", "%a%", "%c%"}},
        MacroCase{"SubmitAndResetSkipped",
                  "<input type=submit name=go><input type=reset name=clear><input name=keep>",
                  {"%keep%"}},
        // The skip words are searched in the whole tag text, not only in the type.
        MacroCase{"SkipWordsAnywhere",
                  "<input name=reset_code><select name=submitter></select>"
                  "<input class=Hidden-on-phone name=phone><input name=ok>",
                  {"%ok%"}},
        MacroCase{"HiddenSkipped", "<input type=hidden name=mail_to><input name=x>", {"%x%"}},
        // A plain substring search: username= also contains NAME=.
        MacroCase{"UsernameAttribute", "<input username=joe>", {"%joe%"}},
        MacroCase{"FirstNameWins", "<input name=name=x>", {"%name=x%"}},
        MacroCase{"NameAtTagEnd", "<input name=>", {"%%"}},
        MacroCase{"NameBeforeSpace", "<input name= id=x>", {"%%"}},
        // Line breaks end the name; a tag spanning lines still counts.
        MacroCase{"NameEndsAtLineBreak", "<input type=text\r\nname=city\r\nsize=20>", {"%city%"}},
        // Radio buttons of one group share a name; names compare without regard to case, and
        // the first spelling stays.
        MacroCase{"DuplicatesOnce",
                  "<input type=radio name=Size value=s><input type=radio name=size value=m>"
                  "<input name=Email><input name=email>",
                  {"%Size%", "%Email%"}},
        MacroCase{"ClosingTagsAreNotFields", "</input name=x></select name=y>", {}},
        MacroCase{"TagWithSpaceAfterBracket", "< input name=x>", {}},
        MacroCase{"NameWithoutFieldTag", "<form name=order action=x>", {}},
        MacroCase{"UnclosedTagAtEnd", "<input name=a><input name=last", {"%a%", "%last%"}},
        // A ">" inside quotes ends the tag early; the name after it is lost.
        MacroCase{"GreaterThanInValue", "<input value=\"a>b\" name=lost><input name=n>", {"%n%"}},
        MacroCase{"FieldNamedLikeBuiltIn", "<input name=vorl_date>", {"%vorl_date%"}}),
    [](const testing::TestParamInfo<MacroCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(ScanFormMacrosListAllTest, HiddenFieldsListedInDocumentOrderWhenAsked) {
  const std::string form =
      "<input type=hidden name=mail_to value=x><input name=a>"
      "<INPUT TYPE=HIDDEN NAME=subject><input type=submit name=s>";
  EXPECT_EQ(FieldMacros(form, true), (std::vector<std::string>{"%mail_to%", "%a%", "%subject%"}));
  EXPECT_EQ(FieldMacros(form, false), (std::vector<std::string>{"%a%"}));
}

TEST(ScanFormMacrosBuiltInTest, BuiltInsAppendedWithoutDuplicateTest) {
  EXPECT_EQ(
      Items(ScanFormMacros("<input name=VORL_DATE>", false)),
      (std::vector<std::string>{"%VORL_DATE%", "%vorl_date%", "%vorl_time%", "%vorl_referer%"}));
  EXPECT_FALSE(ScanFormMacros("", false).Sorted());
}

class LoadMacrosFromFormTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bx-scan-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  std::string dir_;
};

TEST_F(LoadMacrosFromFormTest, ReadsTheFormFile) {
  const std::string path = Write("form.htm",
                                 "<form>\r\n<input type=text name=\"Name\">\r\n<textarea\r\n"
                                 "name=Message></textarea>\r\n<input type=submit></form>\r\n");
  EXPECT_EQ(Items(LoadMacrosFromForm(path, false)),
            (std::vector<std::string>{"%Name%", "%Message%", "%vorl_date%", "%vorl_time%",
                                      "%vorl_referer%"}));
}

TEST_F(LoadMacrosFromFormTest, StopsAtFirstNulByte) {
  const std::string path = Write("nul.htm", std::string("<input name=a>\0<input name=b>", 29));
  EXPECT_EQ(LoadMacrosFromForm(path, false).Count(), 4);
  EXPECT_EQ(LoadMacrosFromForm(path, false)[0], "%a%");
}

TEST_F(LoadMacrosFromFormTest, EmptyMissingOrUnreadableFileGivesOnlyBuiltIns) {
  const std::vector<std::string> built_ins{"%vorl_date%", "%vorl_time%", "%vorl_referer%"};
  EXPECT_EQ(Items(LoadMacrosFromForm(Write("empty.htm", ""), false)), built_ins);
  EXPECT_EQ(Items(LoadMacrosFromForm(dir_ + "/missing.htm", false)), built_ins);
  EXPECT_EQ(Items(LoadMacrosFromForm(dir_, false)), built_ins);  // a folder
}

}  // namespace
