#include "wizard/editor_dialogs.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <string>

namespace {

struct FilterCase {
  const char* name;
  std::string pairs;
  QStringList filters;
};

class QtNameFiltersTest : public testing::TestWithParam<FilterCase> {};

TEST_P(QtNameFiltersTest, OffersEachTypeInBothCasesAndEveryFileForStarDotStar) {
  EXPECT_EQ(QtNameFilters(GetParam().pairs), GetParam().filters);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, QtNameFiltersTest,
    testing::Values(
        // "*.htm" shows ".html" files too, in both cases (a form.html once looked missing).
        FilterCase{"EditorOpen",
                   "Text Files|*.txt|HTML Files|*.htm|All Files|*.*",
                   {"Text Files (*.txt *.TXT)", "HTML Files (*.htm *.HTM *.html *.HTML)",
                    "All Files (*)"}},
        FilterCase{"UpperCaseGiven", "HTM Files|*.HTM", {"HTM Files (*.htm *.HTM *.html *.HTML)"}},
        FilterCase{"SeveralPatterns", "Pages|*.htm; *.html", {"Pages (*.htm *.HTM *.html *.HTML)"}},
        FilterCase{"NoLettersOnce", "Numbered|*.1", {"Numbered (*.1)"}},
        // A description without its pattern cannot be offered.
        FilterCase{"DanglingDescription", "Text Files|*.txt|Other", {"Text Files (*.txt *.TXT)"}},
        FilterCase{"Empty", "", {}}),
    [](const testing::TestParamInfo<FilterCase>& param_info) {
      return std::string(param_info.param.name);
    });

struct ExtensionCase {
  const char* name;
  int filter_index;
  const char* extension;
};

class DefaultExtensionForTest : public testing::TestWithParam<ExtensionCase> {};

// A name saved without an extension gets the chosen type's one; "HTM Files" once gave ".TXT",
// and the gateway then sent the HTML template as plain text.
TEST_P(DefaultExtensionForTest, FollowsTheChosenFileTypeInLowerCase) {
  EXPECT_EQ(DefaultExtensionFor("Text Files|*.txt|HTM Files|*.HTM|All Files|*.*|Odd|*.h?m",
                                GetParam().filter_index, "TXT"),
            GetParam().extension);
}

INSTANTIATE_TEST_SUITE_P(Types, DefaultExtensionForTest,
                         testing::Values(ExtensionCase{"Text", 1, "txt"},
                                         ExtensionCase{"Htm", 2, "htm"},
                                         ExtensionCase{"AllFilesTakesTheDefault", 3, "txt"},
                                         ExtensionCase{"WildcardTakesTheDefault", 4, "txt"},
                                         ExtensionCase{"NoSuchType", 9, "txt"},
                                         ExtensionCase{"NothingChosen", 0, "txt"}),
                         [](const testing::TestParamInfo<ExtensionCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
