#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/condition_eval.h"
#include "page_fake_host.h"

namespace {

class ConditionTest : public ::testing::Test {
 protected:
  ConditionTest() {
    host_.fields.Add("n=12");
    host_.fields.Add("x=ABC");
    host_.fields.Add("eq=a=b");
    host_.fields.Add("empty=");
    host_.fields.Add("which=n");
    host_.server["REMOTE_ADDR"] = "10.0.0.7";
  }

  bool Eval(const std::string& condition) { return EvaluateCondition(condition, host_); }

  TFakeTemplateHost host_;
};

struct TConditionCase {
  const char* condition;
  bool expected;
  const char* why;
};

class ConditionTableTest : public ConditionTest,
                           public ::testing::WithParamInterface<TConditionCase> {};

TEST_P(ConditionTableTest, Evaluates) {
  const TConditionCase& c = GetParam();
  EXPECT_EQ(Eval(c.condition), c.expected) << c.condition << " -- " << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    Comparisons, ConditionTableTest,
    ::testing::Values(
        TConditionCase{"10 > 9", true, "numbers compare as numbers"},
        TConditionCase{"\"10\" > \"9\"", false, "quoted texts compare as bytes"},
        TConditionCase{"VAL(FORMVAR(\"n\")) > 10", true, "VAL unquotes a field value"},
        TConditionCase{"VAL(FORMVAR(\"n\")) > 12", false, "strictly greater"},
        TConditionCase{"VAL(FORMVAR(\"n\")) >= 12", true, "greater or equal"},
        TConditionCase{"VAL(FORMVAR(\"n\")) <= 11.5", false, "fraction"},
        TConditionCase{"VAL(FORMVAR(\"n\")) < 1.3e1", true, "exponent"},
        TConditionCase{"VAL(FORMVAR(\"n\")) <> 12", false, "not equal"},
        TConditionCase{"VAL(FORMVAR(\"n\")) = 12.0", true, "numeric equality"},
        TConditionCase{"FORMVAR(\"n\") = 12", false, "a quoted field value is no number: 0"},
        TConditionCase{"FORMVAR(\"n\") = 0", true, "a quoted field value is no number: 0"},
        TConditionCase{"12abc = 0", true, "an invalid number counts as 0"},
        TConditionCase{"12abc = 12", false, "no prefix of an invalid number is read"},
        TConditionCase{"VAL(FORMVAR(\"empty\")) = 0", true, "an empty operand is 0"},
        TConditionCase{"FORMVAR(\"x\")=\"abc\"", true, "= ignores case"},
        TConditionCase{"FORMVAR(\"x\")<>\"abc\"", false, "<> ignores case"},
        TConditionCase{"FORMVAR(\"x\")<\"abc\"", true, "< compares bytes: A before a"},
        TConditionCase{"FORMVAR(\"x\")>=\"abd\"", false, ">= compares bytes"},
        TConditionCase{"\"b\" > \"a\"", true, "text order"},
        TConditionCase{"FORMVAR(\"missing\")=\"\"", true, "an absent field is empty"},
        TConditionCase{"FORMVAR(\"eq\")=\"a=b\"", true, "operators inside quotes are text"},
        TConditionCase{"FORMVAR(FORMVAR(\"which\"))=\"12\"", true, "field name from a field"},
        TConditionCase{"SERVERVAR(\"remote addr\")=\"10.0.0.7\"", true, "server variable"},
        TConditionCase{"SERVERVAR(\"nothing\")=\"\"", true, "unknown server variable"},
        TConditionCase{"formvar(\"x\")=\"abc\"", true, "keywords in any case"},
        TConditionCase{"\"a OR b\"=\"A or B\"", true, "keywords inside quotes do not split"},
        TConditionCase{"((1=1))", true, "outer parentheses removed"},
        TConditionCase{"( (1=2) )", false, "outer parentheses with blanks"},
        TConditionCase{"", false, "empty condition"},
        TConditionCase{"(", false, "lone parenthesis"},
        TConditionCase{"\"unterminated", false, "unterminated quote"}));

INSTANTIATE_TEST_SUITE_P(
    Keywords, ConditionTableTest,
    ::testing::Values(
        TConditionCase{"(1=2) OR (2=2)", true, "OR of parenthesised comparisons"},
        TConditionCase{"(1=2)OR(2=2)", true, "OR right after )"},
        TConditionCase{"(1=1) AND (2=3)", false, "AND"},
        TConditionCase{"(1=1) and (2=2)", true, "keywords in any case"},
        TConditionCase{"1=2 OR 2=2", false, "unparenthesised: 1 compared with \"2 OR 2=2\""},
        TConditionCase{"(1=1) OR (1=2) AND (1=2)", true, "no precedence: OR splits first"},
        TConditionCase{"(1=2) AND (1=1) OR (1=1)", false, "no precedence: AND splits first"},
        TConditionCase{"((1=1) AND (2=2)) OR (1=2)", true, "parentheses group"},
        TConditionCase{"(VAL(FORMVAR(\"n\"))>10) AND (FORMVAR(\"x\")=\"abc\")", true, "mixed"},
        TConditionCase{"(1=2) ORDER (2=2)", false, "ORDER is no keyword"}));

TEST_F(ConditionTest, BareWordAsksTheLogicalEntryHandler) {
  host_.on_logical = [](const std::string& name, bool& value) {
    EXPECT_FALSE(value);
    value = name == "LoggedIn";
  };
  EXPECT_TRUE(Eval("LoggedIn"));
  EXPECT_TRUE(Eval(" ( LoggedIn ) "));
  EXPECT_FALSE(Eval("Guest"));
  EXPECT_EQ(host_.logical_calls, (std::vector<std::string>{"LoggedIn", "LoggedIn", "Guest"}));
}

TEST_F(ConditionTest, BareWordWithoutHandlerOrWithQuotesIsFalse) {
  EXPECT_FALSE(Eval("LoggedIn"));
  host_.on_logical = [](const std::string&, bool& value) { value = true; };
  host_.logical_calls.clear();
  EXPECT_FALSE(Eval("f(x)"));
  EXPECT_FALSE(Eval("\"LoggedIn\""));
  EXPECT_TRUE(host_.logical_calls.empty());
}

TEST_F(ConditionTest, KeywordsSplitLogicalEntriesLeftSideUpperCase) {
  host_.on_logical = [](const std::string& name, bool& value) { value = name == "other"; };
  EXPECT_TRUE(Eval("ready OR other"));
  // The left side is taken from the upper-case form of the condition.
  EXPECT_EQ(host_.logical_calls, (std::vector<std::string>{"READY", "other"}));
}

TEST_F(ConditionTest, AndAndOrStopEarly) {
  host_.on_logical = [](const std::string&, bool& value) { value = true; };
  EXPECT_FALSE(Eval("(1=2) AND (flag)"));
  EXPECT_TRUE(Eval("(1=1) OR (flag)"));
  EXPECT_TRUE(host_.logical_calls.empty());
}

TEST_F(ConditionTest, DeepNestingNeverExhaustsTheStack) {
  const std::string deep = std::string(1000, '(') + "1=1" + std::string(1000, ')');
  EXPECT_TRUE(Eval(deep));
  std::string chain;
  for (int i = 0; i < 400; ++i) chain += "(1=1) AND ";
  chain += "(1=1)";
  EXPECT_FALSE(Eval(chain));  // beyond the nesting limit the rest evaluates as false
  std::string vals;
  for (int i = 0; i < 600; ++i) vals += "VAL(";
  vals += "7" + std::string(600, ')');
  EXPECT_FALSE(Eval(vals + " = 7"));
  EXPECT_TRUE(Eval("VAL(VAL(VAL(\"7\"))) = 7"));
  const std::string huge = std::string(50000, '(') + "1=1" + std::string(50000, ')');
  EXPECT_FALSE(Eval(huge));
}

struct TOperandCase {
  const char* operand;
  const char* value;
};

class OperandTest : public ConditionTest, public ::testing::WithParamInterface<TOperandCase> {};

TEST_P(OperandTest, Evaluates) {
  EXPECT_EQ(EvaluateOperand(GetParam().operand, host_), GetParam().value) << GetParam().operand;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OperandTest,
    ::testing::Values(TOperandCase{"12", "12"}, TOperandCase{"\"a\"", "\"a\""},
                      TOperandCase{"word", "word"}, TOperandCase{"VAL(\"5\")", "5"},
                      TOperandCase{"VAL(5)", "5"}, TOperandCase{"FORMVAR(\"n\")", "\"12\""},
                      TOperandCase{"FORMVAR(n)", "\"12\""},
                      TOperandCase{"FORMVAR( \"n\" )", "\"12\""},
                      TOperandCase{"SERVERVAR(\"REMOTE_ADDR\")", "\"10.0.0.7\""},
                      TOperandCase{"VAL(", ""}, TOperandCase{"FORMVAR(", "\"\""}));

struct TNumberCase {
  const char* text;
  double value;
};

class OperandNumberTest : public ::testing::TestWithParam<TNumberCase> {};

TEST_P(OperandNumberTest, ReadsDecimalNumbersOnly) {
  EXPECT_DOUBLE_EQ(OperandNumber(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OperandNumberTest,
    ::testing::Values(TNumberCase{"12", 12}, TNumberCase{"-3.5", -3.5}, TNumberCase{"+2", 2},
                      TNumberCase{"1e3", 1000}, TNumberCase{".5", 0.5}, TNumberCase{"5.", 5},
                      TNumberCase{"", 0}, TNumberCase{"12abc", 0}, TNumberCase{"0x10", 0},
                      TNumberCase{"inf", 0}, TNumberCase{"nan", 0}, TNumberCase{"1,5", 0},
                      TNumberCase{"+-1", 0}, TNumberCase{"--1", 0}, TNumberCase{"1e999", 0},
                      TNumberCase{"\"5\"", 0}, TNumberCase{"-", 0}, TNumberCase{"1e", 0}));

}  // namespace
