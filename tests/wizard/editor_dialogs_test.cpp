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
        FilterCase{"EditorOpen",
                   "Text Files|*.txt|HTML Files|*.htm|All Files|*.*",
                   {"Text Files (*.txt *.TXT)", "HTML Files (*.htm *.HTM)", "All Files (*)"}},
        FilterCase{"UpperCaseGiven", "HTM Files|*.HTM", {"HTM Files (*.htm *.HTM)"}},
        FilterCase{"SeveralPatterns", "Pages|*.htm; *.html", {"Pages (*.htm *.HTM *.html *.HTML)"}},
        FilterCase{"NoLettersOnce", "Numbered|*.1", {"Numbered (*.1)"}},
        // A description without its pattern cannot be offered.
        FilterCase{"DanglingDescription", "Text Files|*.txt|Other", {"Text Files (*.txt *.TXT)"}},
        FilterCase{"Empty", "", {}}),
    [](const testing::TestParamInfo<FilterCase>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
