// The wizard's logic without windows: the page graph, the settings mapping and the macro list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/options.h"
#include "wizard/macro_arrangement.h"
#include "wizard/page_graph.h"
#include "wizard/wizard_settings.h"
#include "wizard/wizard_test_support.h"

namespace {

std::vector<WizardChoices> AllChoices() {
  std::vector<WizardChoices> all;
  for (int task = 0; task < 3; ++task) {
    for (int receipt = 0; receipt < 2; ++receipt) {
      for (int results = 0; results < 2; ++results) {
        WizardChoices c;
        c.rdhidden = task == 0;
        c.RdDefaults = task == 1;
        c.rdoTemplate = task == 2;
        c.rdoSendReceipt = receipt == 1;
        c.RDOSaveResults = results == 1;
        all.push_back(c);
      }
    }
  }
  return all;
}

// Previous retraces Next from every page reached on every path, except the one documented
// short cut: without a receipt, Previous from PGSMTP skips the question page too.
TEST(PageGraphTest, PreviousRetracesNextExceptTheReceiptShortCut) {
  for (const WizardChoices& c : AllChoices()) {
    WizardPage page = WizardPage::pgstart;
    for (int steps = 0; steps < kWizardPageCount; ++steps) {
      const WizardPage next = NextStepFrom(page, c).target;
      if (next == WizardPage::pgstart) break;
      const WizardPage back = PreviousPage(next, c);
      if (page == WizardPage::PgAskRcpt && next == WizardPage::PGSMTP) {
        EXPECT_EQ(back, WizardPage::pgmailfiles);
      } else {
        EXPECT_EQ(back, page) << PageName(page) << " -> " << PageName(next);
      }
      page = next;
    }
    EXPECT_EQ(page, WizardPage::pgfinisheditor) << "every path ends on the closing page";
  }
}

TEST(PageGraphTest, OnlyTheOutsideStepsCarryAnAction) {
  WizardChoices defaults;
  defaults.rdhidden = false;
  defaults.RdDefaults = true;
  WizardChoices hidden;
  EXPECT_EQ(NextStepFrom(WizardPage::PgDefaultFormat, defaults).action, NextAction::kSaveDefaults);
  EXPECT_EQ(NextStepFrom(WizardPage::PgDefaultFormat, hidden).action,
            NextAction::kShowHiddenFields);
  EXPECT_EQ(NextStepFrom(WizardPage::pgfinisheditor, defaults).action, NextAction::kRemindIniCopy);
  EXPECT_EQ(NextStepFrom(WizardPage::pgfinisheditor, hidden).action, NextAction::kNone);
  EXPECT_EQ(NextStepFrom(WizardPage::pgselecthtml, hidden).action, NextAction::kScanForm);
  EXPECT_EQ(NextStepFrom(WizardPage::pgautoformat, hidden).action, NextAction::kOpenEditor);
  EXPECT_EQ(PreviousPage(WizardPage::pgstart, hidden), WizardPage::pgstart);
}

TEST(WizardSettingsTest, ControlsToOptionsKeepsTheSettingsTheWizardDoesNotShow) {
  TempFolder folder;
  const std::string ini = folder.Write(
      "brevix.ini",
      "[Options]\r\nMacro_Delimiter=%\r\nMail_To=old@example.org\r\nDefault_Format=BXCSV\r\n");
  TBXOptions options(ini);
  options.Load();
  WizardSettings settings = SettingsFromOptions(options);
  EXPECT_EQ(settings.Mail_To, "old@example.org");
  EXPECT_EQ(settings.DefaultFormatIndex, 5);
  EXPECT_EQ(settings.Date_Format, "mm-dd-yy");
  EXPECT_TRUE(settings.Use_Asterisks);

  settings.Mail_To = "new@example.org";
  settings.DefaultFormatIndex = -1;  // nothing selected gives format 1
  SettingsToOptions(settings, options);
  options.Save();
  TBXOptions reread(ini);
  reread.Load();
  EXPECT_EQ(reread.Mail_To, "new@example.org");
  EXPECT_EQ(reread.Macro_Delimiter, "%");
  EXPECT_EQ(reread.Default_Format, "BX1ColTextLabel");
}

struct ArrangeCase {
  const char* name;
  std::vector<std::string> start;
  int select;
  void (*act)(MacroArrangement&);
  std::vector<std::string> expected;
  int expected_selected;
};

void PrintTo(const ArrangeCase& c, std::ostream* os) {
  *os << c.name;
}

class MacroArrangementTest : public testing::TestWithParam<ArrangeCase> {};

TEST_P(MacroArrangementTest, ChangesListAndSelection) {
  const ArrangeCase& c = GetParam();
  TStringList start;
  for (const std::string& item : c.start) start.Add(item);
  MacroArrangement macros;
  macros.SetMacros(start);
  macros.Select(c.select);
  c.act(macros);
  EXPECT_EQ(std::vector<std::string>(macros.Macros().begin(), macros.Macros().end()), c.expected);
  EXPECT_EQ(macros.Selected(), c.expected_selected);
}

const std::vector<std::string> kAbc = {"%b%", "%a%", "%C%"};

INSTANTIATE_TEST_SUITE_P(
    Buttons, MacroArrangementTest,
    testing::Values(ArrangeCase{"UpMovesAndKeepsSelection",
                                kAbc,
                                1,
                                [](MacroArrangement& m) { m.MoveUp(); },
                                {"%a%", "%b%", "%C%"},
                                0},
                    ArrangeCase{"UpOnFirstDoesNothing", kAbc, 0,
                                [](MacroArrangement& m) { m.MoveUp(); }, kAbc, 0},
                    ArrangeCase{"DownMovesAndKeepsSelection",
                                kAbc,
                                0,
                                [](MacroArrangement& m) { m.MoveDown(); },
                                {"%a%", "%b%", "%C%"},
                                1},
                    ArrangeCase{"DownOnLastDoesNothing", kAbc, 2,
                                [](MacroArrangement& m) { m.MoveDown(); }, kAbc, 2},
                    ArrangeCase{"MovesWithoutSelectionDoNothing", kAbc, -1,
                                [](MacroArrangement& m) {
                                  m.MoveUp();
                                  m.MoveDown();
                                  m.RemoveSelected();
                                },
                                kAbc, -1},
                    ArrangeCase{"DeleteSelectsTheFollower",
                                kAbc,
                                0,
                                [](MacroArrangement& m) { m.RemoveSelected(); },
                                {"%a%", "%C%"},
                                0},
                    ArrangeCase{"DeleteOfTheLastSelectsNothing",
                                kAbc,
                                2,
                                [](MacroArrangement& m) { m.RemoveSelected(); },
                                {"%b%", "%a%"},
                                -1},
                    ArrangeCase{"SortIgnoresCaseAndFollowsTheSelection",
                                {"%c%", "%B%", "%a%"},
                                0,
                                [](MacroArrangement& m) { m.ToggleSort(); },
                                {"%a%", "%B%", "%c%"},
                                2},
                    ArrangeCase{"UnsortKeepsTheSortedOrder",
                                {"%c%", "%B%", "%a%"},
                                -1,
                                [](MacroArrangement& m) {
                                  m.ToggleSort();
                                  m.ToggleSort();
                                },
                                {"%a%", "%B%", "%c%"},
                                -1},
                    ArrangeCase{"NewScanIntoASortedListIsSorted",
                                {"%c%", "%a%"},
                                -1,
                                [](MacroArrangement& m) {
                                  m.ToggleSort();
                                  TStringList scan;
                                  scan.Add("%z%");
                                  scan.Add("%y%");
                                  m.SetMacros(scan);
                                },
                                {"%y%", "%z%"},
                                -1}),
    [](const testing::TestParamInfo<ArrangeCase>& param_info) { return param_info.param.name; });

TEST(MacroArrangementCaptionTest, SortCaptionFollowsTheState) {
  MacroArrangement macros;
  EXPECT_EQ(macros.SortCaption(), "Sort Macros");
  macros.ToggleSort();
  EXPECT_EQ(macros.SortCaption(), "Unsort Macros");
  macros.ToggleSort();
  EXPECT_EQ(macros.SortCaption(), "Sort Macros");
}

}  // namespace
