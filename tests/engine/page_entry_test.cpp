#include <gtest/gtest.h>

#include <string>

#include "engine/template_entry.h"

namespace {

struct TRecognitionCase {
  const char* label;
  std::string text;  // starts with the opening delimiter
  // The entry text between the delimiters, or nullptr when the text is no entry.
  const char* entry;
};

class EntryRecognitionTest : public ::testing::TestWithParam<TRecognitionCase> {};

TEST_P(EntryRecognitionTest, FindsTheClosingDelimiterOnlyForValidEntries) {
  const TRecognitionCase& c = GetParam();
  const std::optional<size_t> end = FindEntryEnd(c.text, 1, c.text[0]);
  if (c.entry == nullptr) {
    EXPECT_FALSE(end.has_value()) << c.label << " ended at " << end.value_or(0);
  } else {
    ASSERT_TRUE(end.has_value()) << c.label;
    EXPECT_EQ(c.text.substr(1, *end - 1), c.entry) << c.label;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EntryRecognitionTest,
    ::testing::Values(TRecognitionCase{"name", "%name% rest", "name"},
                      TRecognitionCase{"hash name", "#name# rest", "name"},
                      TRecognitionCase{"empty entry", "%%", ""},
                      TRecognitionCase{"other delimiter ends nothing", "%name#", nullptr},
                      TRecognitionCase{"unterminated", "%name", nullptr},
                      TRecognitionCase{"blank ends the search", "%50 off%", nullptr},
                      TRecognitionCase{"line break", "%na\r\nme%", nullptr},
                      TRecognitionCase{"tab", "%na\tme%", nullptr},
                      TRecognitionCase{"quote outside parentheses", "%\"name\"%", nullptr},
                      TRecognitionCase{"dot outside parentheses", "%a.b%", nullptr},
                      TRecognitionCase{"comma outside parentheses", "%a,b%", nullptr},
                      TRecognitionCase{"ampersand", "%a&b%", nullptr},
                      TRecognitionCase{"exclamation", "%a!%", nullptr},
                      TRecognitionCase{"close without open", "%a)%", nullptr},
                      TRecognitionCase{"unbalanced open", "%f(a%", nullptr},
                      TRecognitionCase{"unbalanced close", "%f(a))%", nullptr},
                      TRecognitionCase{"function call", "%f(a, b.c)%", "f(a, b.c)"},
                      TRecognitionCase{"blank after IF", "#IF a=1#", "IF a=1"},
                      TRecognitionCase{"blank after if, any case", "#if a=1#", "if a=1"},
                      TRecognitionCase{"blank after ELSEIF", "#ELSEIF b#", "ELSEIF b"},
                      TRecognitionCase{"IF joined to a word", "#IFa b#", nullptr},
                      TRecognitionCase{"quoted delimiter and blank",
                                       "#IF (FORMVAR(\"p\")=\"50% # off!\")# x",
                                       "IF (FORMVAR(\"p\")=\"50% # off!\")"},
                      TRecognitionCase{"quoted parenthesis", "%f(\")\")%", "f(\")\")"},
                      TRecognitionCase{"byte above 127 is a letter", "%caf\xe9%", "caf\xe9"}));

TEST(EntryLengthTest, HoldsAtMost255Characters) {
  const std::string longest = "%" + std::string(255, 'a') + "%";
  EXPECT_EQ(FindEntryEnd(longest, 1, '%'), std::optional<size_t>(256));
  const std::string too_long = "%" + std::string(256, 'a') + "%";
  EXPECT_FALSE(FindEntryEnd(too_long, 1, '%').has_value());
  // The limit counts from the opening delimiter, not from the start of the text.
  const std::string later = std::string(1000, 'x') + longest;
  EXPECT_EQ(FindEntryEnd(later, 1001, '%'), std::optional<size_t>(1256));
}

struct TKindCase {
  const char* entry;
  TEntryKind kind;
  const char* condition;  // for IF / ELSEIF
};

class EntryKindTest : public ::testing::TestWithParam<TKindCase> {};

TEST_P(EntryKindTest, ClassifiesByTheUpperCaseForm) {
  const TKindCase& c = GetParam();
  EXPECT_EQ(ClassifyEntry(c.entry), c.kind) << c.entry;
  if (c.condition != nullptr) {
    EXPECT_EQ(EntryCondition(c.entry, c.kind), c.condition) << c.entry;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EntryKindTest,
                         ::testing::Values(TKindCase{"IF a=1", TEntryKind::kIf, "a=1"},
                                           TKindCase{"if(a=1)", TEntryKind::kIf, "(a=1)"},
                                           TKindCase{"IF", TEntryKind::kOrdinary, nullptr},
                                           TKindCase{"IFFY", TEntryKind::kOrdinary, nullptr},
                                           TKindCase{"ElseIf  b ", TEntryKind::kElseIf, "b"},
                                           TKindCase{"ELSEIF(b)", TEntryKind::kElseIf, "(b)"},
                                           TKindCase{"ELSE", TEntryKind::kElse, nullptr},
                                           TKindCase{"else", TEntryKind::kElse, nullptr},
                                           TKindCase{"ELSEIF", TEntryKind::kElse, nullptr},
                                           TKindCase{"ENDIF", TEntryKind::kEndIf, nullptr},
                                           TKindCase{"endif", TEntryKind::kEndIf, nullptr},
                                           TKindCase{"ENDIFS", TEntryKind::kOrdinary, nullptr},
                                           TKindCase{"name", TEntryKind::kOrdinary, nullptr}));

TEST(EntryHandlerNameTest, IsTheTextBeforeTheFirstParenthesis) {
  EXPECT_EQ(EntryHandlerName("error_desc"), "error_desc");
  EXPECT_EQ(EntryHandlerName("list (a, b)"), "list");
  EXPECT_EQ(EntryHandlerName("f(g(x))"), "f");
}

}  // namespace
