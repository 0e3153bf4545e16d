#include "wizard/editor_macro_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

TStringList ListOf(const Names& names) {
  TStringList list;
  for (const std::string& name : names) list.Add(name);
  return list;
}

Names Items(const TStringList& list) {
  return {list.begin(), list.end()};
}

enum class Op { Up, Down, Remove };

struct ArrangeCase {
  const char* name;
  Op op;
  int selected;
  Names available;
  int new_selection;
  Names unused;
};

class ArrangeAvailableTest : public testing::TestWithParam<ArrangeCase> {};

TEST_P(ArrangeAvailableTest, MovesTheSelectedEntry) {
  const ArrangeCase& c = GetParam();
  TEditorMacroLists lists;
  lists.SetAvailable(ListOf({"%a%", "%b%", "%c%"}));
  lists.AddUnused("%z%");
  int selection = -2;
  switch (c.op) {
    case Op::Up:
      selection = lists.MoveUp(c.selected);
      break;
    case Op::Down:
      selection = lists.MoveDown(c.selected);
      break;
    case Op::Remove:
      selection = lists.Remove(c.selected);
      break;
  }
  EXPECT_EQ(Items(lists.Available()), c.available);
  EXPECT_EQ(selection, c.new_selection);
  EXPECT_EQ(Items(lists.Unused()), c.unused);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ArrangeAvailableTest,
    testing::Values(
        ArrangeCase{"UpMiddle", Op::Up, 1, {"%b%", "%a%", "%c%"}, 0, {"%z%"}},
        ArrangeCase{"UpLast", Op::Up, 2, {"%a%", "%c%", "%b%"}, 1, {"%z%"}},
        ArrangeCase{"UpFirstStays", Op::Up, 0, {"%a%", "%b%", "%c%"}, 0, {"%z%"}},
        ArrangeCase{"UpNoSelection", Op::Up, -1, {"%a%", "%b%", "%c%"}, -1, {"%z%"}},
        ArrangeCase{"DownFirst", Op::Down, 0, {"%b%", "%a%", "%c%"}, 1, {"%z%"}},
        ArrangeCase{"DownLastStays", Op::Down, 2, {"%a%", "%b%", "%c%"}, 2, {"%z%"}},
        ArrangeCase{"DownStaleIndex", Op::Down, 7, {"%a%", "%b%", "%c%"}, 7, {"%z%"}},
        // Removing the first entry leaves nothing selected; any other selects the one above.
        ArrangeCase{"RemoveFirst", Op::Remove, 0, {"%b%", "%c%"}, -1, {"%a%", "%z%"}},
        ArrangeCase{"RemoveLast", Op::Remove, 2, {"%a%", "%b%"}, 1, {"%c%", "%z%"}},
        ArrangeCase{"RemoveNothing", Op::Remove, -1, {"%a%", "%b%", "%c%"}, -1, {"%z%"}}),
    [](const testing::TestParamInfo<ArrangeCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(EditorMacroListsTest, TakingEveryAvailableEntryFillsUsedInTheSameOrder) {
  TEditorMacroLists lists;
  lists.SetAvailable(ListOf({"%b%", "%a%", "%c%"}));
  Names taken;
  while (lists.Available().Count() > 0) taken.push_back(*lists.TakeAvailable(0));
  EXPECT_EQ(taken, (Names{"%b%", "%a%", "%c%"}));
  EXPECT_EQ(Items(lists.Used()), (Names{"%b%", "%a%", "%c%"}));
  EXPECT_FALSE(lists.TakeAvailable(0).has_value());
}

TEST(EditorMacroListsTest, UsedEntryLeavesListsUnchanged) {
  TEditorMacroLists lists;
  lists.SetUsed(ListOf({"%x%", "%y%"}));
  EXPECT_EQ(lists.UsedEntry(1), "%y%");
  EXPECT_FALSE(lists.UsedEntry(2).has_value());
  EXPECT_FALSE(lists.UsedEntry(-1).has_value());
  EXPECT_EQ(Items(lists.Used()), (Names{"%x%", "%y%"}));
}

TEST(EditorMacroListsTest, UnusedListIsAlwaysSortedIgnoringCase) {
  TEditorMacroLists lists;
  for (const char* macro : {"%b%", "%C%", "%a%", "%B%"}) lists.AddUnused(macro);
  EXPECT_EQ(Items(lists.Unused()), (Names{"%a%", "%b%", "%B%", "%C%"}));
}

TEST(EditorMacroListsTest, MadeAvailableGoesToTheEndOrToItsSortedPlace) {
  TEditorMacroLists lists;
  lists.SetAvailable(ListOf({"%m%", "%c%"}));
  lists.AddUnused("%a%");
  lists.AddUnused("%d%");
  EXPECT_EQ(lists.MakeAvailable(0), 2);  // %a% at the end while unsorted
  EXPECT_EQ(Items(lists.Available()), (Names{"%m%", "%c%", "%a%"}));

  lists.ToggleAvailableSorted();
  EXPECT_EQ(Items(lists.Available()), (Names{"%a%", "%c%", "%m%"}));
  EXPECT_EQ(lists.MakeAvailable(0), 2);  // %d% at its sorted place
  EXPECT_EQ(Items(lists.Available()), (Names{"%a%", "%c%", "%d%", "%m%"}));
  EXPECT_TRUE(lists.Unused().Empty());
  EXPECT_EQ(lists.MakeAvailable(0), -1);
}

TEST(EditorMacroListsTest, UnsortingKeepsTheSortedOrderButLaterAdditionsGoToTheEnd) {
  TEditorMacroLists lists;
  lists.SetAvailable(ListOf({"%b%", "%a%"}));
  lists.ToggleAvailableSorted();
  EXPECT_TRUE(lists.AvailableSorted());
  lists.ToggleAvailableSorted();
  EXPECT_FALSE(lists.AvailableSorted());
  EXPECT_EQ(Items(lists.Available()), (Names{"%a%", "%b%"}));
  lists.AddUnused("%0%");
  lists.MakeAvailable(0);
  EXPECT_EQ(Items(lists.Available()), (Names{"%a%", "%b%", "%0%"}));
}

TEST(EditorMacroListsTest, ReplacingAvailableWhileSortedSortsAndClearKeepsSorting) {
  TEditorMacroLists lists;
  lists.ToggleAvailableSorted();
  lists.SetAvailable(ListOf({"%z%", "%y%"}));
  EXPECT_EQ(Items(lists.Available()), (Names{"%y%", "%z%"}));
  lists.SetUsed(ListOf({"%u%"}));
  lists.AddUnused("%n%");
  lists.Clear();
  EXPECT_TRUE(lists.Available().Empty());
  EXPECT_TRUE(lists.Unused().Empty());
  EXPECT_TRUE(lists.Used().Empty());
  EXPECT_TRUE(lists.AvailableSorted());
}

}  // namespace
