#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "engine/template_scan.h"
#include "page_fake_host.h"

namespace {

// The scan over a fake request: REMOTE_ADDR is a server variable and also a field, "name" and
// "html" are fields, "blank" and "TIME" were sent empty.
class TemplateScanTest : public ::testing::Test {
 protected:
  TemplateScanTest() {
    host_.server["REMOTE_ADDR"] = "10.0.0.7";
    host_.server["HTTP_REFERER"] = "http://example.test/form.htm?a=1&b=\"2\"";
    host_.server["UNKNOWN_TO_SERVER"] = "#1NOT_AVAILABLE#1";
    host_.fields.Add("name=Ann");
    host_.fields.Add("REMOTE_ADDR=from-the-form");
    host_.fields.Add("html=<b onclick='x'>\"Tom\" & Jerry</b>");
    host_.fields.Add("blank=");
    host_.fields.Add("UNKNOWN_TO_SERVER=field value");
    for (TConditionLevel& level : table_.guard) level = TConditionLevel{true, false};
  }

  std::string Run(const std::string& text) {
    host_.output.clear();
    TTemplateScan scan(host_, depth_, levels_);
    scan.Reset();
    scan.Run(text);
    return host_.output;
  }

  // Guard entries right behind the level table catch a write past its end.
  struct TGuardedLevels {
    TConditionLevels levels{};
    std::array<TConditionLevel, 8> guard{};
  };

  bool GuardIntact() const {
    for (const TConditionLevel& level : table_.guard) {
      if (!level.Output || level.Pending) return false;
    }
    return true;
  }

  TFakeTemplateHost host_;
  int depth_ = 0;
  TGuardedLevels table_;
  TConditionLevels& levels_ = table_.levels;
};

struct TScanCase {
  const char* label;
  const char* text;
  const char* output;
};

class TemplateScanTableTest : public TemplateScanTest,
                              public ::testing::WithParamInterface<TScanCase> {};

TEST_P(TemplateScanTableTest, Writes) {
  EXPECT_EQ(Run(GetParam().text), GetParam().output) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(
    Text, TemplateScanTableTest,
    ::testing::Values(TScanCase{"plain text", "Hello\r\nworld", "Hello\r\nworld"},
                      TScanCase{"empty text", "", ""},
                      TScanCase{"trailing percent", "Save 50%", "Save 50%"},
                      TScanCase{"lone hash", "#", "#"},
                      TScanCase{"word and blank", "Save 50% on %all items%",
                                "Save 50% on %all items%"},
                      TScanCase{"hash number", "#1 choice, #2 choice", "#1 choice, #2 choice"},
                      TScanCase{"mixed delimiters", "%name#", "%name#"},
                      TScanCase{"quote outside parentheses", "%\"name\"%", "%\"name\"%"},
                      TScanCase{"line break inside", "%na\nme%", "%na\nme%"},
                      TScanCase{"unpaired then entry", "100% for %name%!", "100% for Ann!"},
                      TScanCase{"empty entry vanishes", "a%%b", "ab"}));

INSTANTIATE_TEST_SUITE_P(
    Entries, TemplateScanTableTest,
    ::testing::Values(
        TScanCase{"field", "Dear %name%,", "Dear Ann,"},
        TScanCase{"hash delimiters", "Dear #name#,", "Dear Ann,"},
        TScanCase{"field name in any case", "%NAME%", "Ann"},
        TScanCase{"server variable wins over field", "%REMOTE_ADDR%", "10.0.0.7"},
        TScanCase{"server variable by normalised name", "%remote_addr%", "10.0.0.7"},
        TScanCase{"not-available marker falls through", "%UNKNOWN_TO_SERVER%", "field value"},
        TScanCase{"unknown entry vanishes", "[%nothing%]", "[]"},
        TScanCase{"empty field writes nothing", "[%blank%]", "[]"},
        TScanCase{"date", "%DATE%", "12/7/2026"}, TScanCase{"time", "%TIME%", "3:04:05 PM"},
        TScanCase{"lower-case time is a name only", "[%time%][%Date%]", "[][]"},
        TScanCase{"random hidden input", "%RANDOM_HIDDEN_INPUT%",
                  "<INPUT TYPE=\"HIDDEN\" NAME=\"RANDOM_HIDDEN_INPUT\" VALUE=\"54245\">"},
        TScanCase{"random hidden input is exact", "[%random_hidden_input%]", "[]"},
        // Values from the request never become markup.
        TScanCase{"field value escaped", "%html%",
                  "&lt;b onclick=&#39;x&#39;&gt;&quot;Tom&quot; &amp; Jerry&lt;/b&gt;"},
        TScanCase{"server value escaped", "%http_referer%",
                  "http://example.test/form.htm?a=1&amp;b=&quot;2&quot;"}));

INSTANTIATE_TEST_SUITE_P(
    Conditions, TemplateScanTableTest,
    ::testing::Values(
        TScanCase{"true IF", "a#IF (1=1)#b#ENDIF#c", "abc"},
        TScanCase{"false IF", "a#IF (1=2)#b#ENDIF#c", "ac"},
        TScanCase{"ELSE", "#IF (1=2)#yes#ELSE#no#ENDIF#", "no"},
        TScanCase{"ELSE after a taken branch", "#IF (1=1)#yes#ELSE#no#ENDIF#", "yes"},
        TScanCase{"ELSEIF chain first", "#IF (1=1)#1#ELSEIF (1=1)#2#ELSE#3#ENDIF#", "1"},
        TScanCase{"ELSEIF chain second", "#IF (1=2)#1#ELSEIF (2=2)#2#ELSE#3#ENDIF#", "2"},
        TScanCase{"ELSEIF chain last", "#IF (1=2)#1#ELSEIF (2=3)#2#ELSE#3#ENDIF#", "3"},
        TScanCase{"ELSEIF after taken ELSEIF",
                  "#IF (1=2)#1#ELSEIF (2=2)#2#ELSEIF (3=3)#3#ELSE#4#ENDIF#", "2"},
        TScanCase{"percent delimiters", "%IF (FORMVAR(\"name\")=\"ann\")%hi %name%%ENDIF%",
                  "hi Ann"},
        TScanCase{"IF with blank form", "#IF VAL(FORMVAR(\"name\"))=0#zero#ENDIF#", "zero"},
        TScanCase{"nested in taken branch", "#IF (1=1)#a#IF (1=2)#b#ELSE#c#ENDIF#d#ENDIF#e",
                  "acde"},
        TScanCase{"IF in hidden branch hides its ELSE",
                  "#IF (1=2)#a#IF (1=2)#b#ELSE#c#ENDIF#d#ELSE#e#ENDIF#f", "ef"},
        TScanCase{"ELSEIF in hidden branch stays hidden",
                  "#IF (1=2)#a#IF (1=2)#b#ELSEIF (1=1)#c#ENDIF#d#ENDIF#f", "f"},
        TScanCase{"IF without ENDIF stays in force", "a#IF (1=2)#b%name%c", "a"},
        // At the base level there is no IF to continue: the entries change nothing.
        TScanCase{"stray ELSE", "a#ELSE#b", "ab"},
        TScanCase{"stray ELSEIF", "a#ELSEIF (1=2)#b", "ab"},
        TScanCase{"stray ENDIF", "a#ENDIF#b#ENDIF#c", "abc"},
        TScanCase{"stray entries then IF", "#ELSE##ENDIF##IF (1=2)#x#ELSE#y#ENDIF#", "y"},
        TScanCase{"unpaired delimiter in hidden branch", "#IF (1=2)#50% off#ENDIF#done", "done"}));

TEST_F(TemplateScanTest, HandlerAnswersFirstAndCanDecline) {
  host_.on_entry = [this](const std::string& name, bool& handled) {
    EXPECT_TRUE(handled);
    if (name == "greeting") {
      host_.output += "<em>Hello</em>";  // the handler's own markup is its business
    } else {
      handled = false;
    }
  };
  EXPECT_EQ(Run("%greeting%, %name%! %nothing%"), "<em>Hello</em>, Ann! ");
  EXPECT_EQ(host_.entry_calls, (std::vector<std::string>{"greeting", "name", "nothing"}));
}

TEST_F(TemplateScanTest, HandlerGetsTheNameBeforeTheParenthesisLookupsTheWholeEntry) {
  host_.fields.Add("list(a,b)=whole");
  host_.on_entry = [](const std::string&, bool& handled) { handled = false; };
  EXPECT_EQ(Run("%list(a,b)%"), "whole");
  EXPECT_EQ(host_.entry_calls, (std::vector<std::string>{"list"}));
}

TEST_F(TemplateScanTest, HiddenBranchesCallNoHandler) {
  host_.on_entry = [](const std::string&, bool&) {};
  host_.on_logical = [](const std::string&, bool& value) { value = true; };
  EXPECT_EQ(Run("#IF (1=2)#%name%#IF Flag#x#ENDIF##ELSEIF Other#y#ENDIF#"), "y");
  EXPECT_TRUE(host_.entry_calls.empty());
  EXPECT_EQ(host_.logical_calls, (std::vector<std::string>{"Other"}));
}

TEST_F(TemplateScanTest, DeepNestingStaysInsideTheLevelTable) {
  constexpr int kDepth = 40;
  std::string open_true;
  std::string close;
  for (int i = 0; i < kDepth; ++i) {
    open_true += "#IF (1=1)#";
    close += "#ENDIF#";
  }
  EXPECT_EQ(Run(open_true + "in" + close + "out"), "inout");
  EXPECT_EQ(depth_, 0);

  // The innermost levels beyond the table still select their branch.
  std::string text =
      open_true + "#IF (1=2)#hidden#ELSEIF (2=2)#shown#ELSE#no#ENDIF#" + close + "tail";
  EXPECT_EQ(Run(text), "showntail");

  // A false IF at level 35 hides everything below it, down to its ENDIF.
  std::string outer;
  for (int i = 0; i < 35; ++i) outer += "#IF (1=1)#";
  std::string inner = "#IF (1=2)#";
  for (int i = 0; i < 10; ++i) inner += "#IF (1=1)#x#ELSE#y#ENDIF#";
  inner += "#ELSE#z#ENDIF#";
  std::string closing;
  for (int i = 0; i < 35; ++i) closing += "#ENDIF#";
  EXPECT_EQ(Run(outer + inner + closing + "end"), "zend");
  EXPECT_TRUE(GuardIntact());
}

TEST_F(TemplateScanTest, UnclosedDeepIfsLeaveTheDepthAtTheTableEnd) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "#IF (1=1)#";
  EXPECT_EQ(Run(text + "deep"), "deep");
  EXPECT_EQ(depth_, kConditionLevels - 1);
  EXPECT_TRUE(GuardIntact());
  // The next run starts from the base level again.
  EXPECT_EQ(Run("#IF (1=2)#a#ENDIF#b"), "b");
  EXPECT_EQ(depth_, 0);
}

TEST_F(TemplateScanTest, CorruptDepthIsResetNotUsedAsAnIndex) {
  TTemplateScan scan(host_, depth_, levels_);
  scan.Reset();
  depth_ = 1000;
  scan.Run("a#IF (1=1)#b#ENDIF#");
  EXPECT_EQ(host_.output, "ab");
  depth_ = -5;
  scan.Run("c");
  EXPECT_EQ(host_.output, "abc");
}

}  // namespace
