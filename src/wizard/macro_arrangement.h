#pragma once
#include <string>

#include "common/string_list.h"

// The macro list of the arrangement page (listmacros) without its widget: the entries, the
// selected entry and whether the list keeps itself sorted. The window mirrors it into its list
// control after every change.
class MacroArrangement {
 public:
  // Replaces the entries (a new scan); a sorted list sorts them. Nothing is selected afterwards.
  void SetMacros(const TStringList& macros);
  const TStringList& Macros() const { return macros_; }

  // -1 when nothing is selected. Select() ignores an index outside the list (selects nothing).
  int Selected() const { return selected_; }
  void Select(int index);

  bool Sorted() const { return macros_.Sorted(); }
  // SpeedButton8: starts sorting (alphabetically, ignoring case) or stops it; stopping keeps the
  // present order. The selected entry stays selected wherever sorting moves it.
  void ToggleSort();
  // The text of lblsort for the present state: "Sort Macros" or "Unsort Macros".
  std::string SortCaption() const;

  // BtnUp / BtnDown: swap the selected entry with its neighbour; it stays selected. Nothing happens
  // without a selection or at the edge of the list. Returns whether the list changed. (On a
  // sorted list the swap is made, as the owner asked for it, and sorting then stays on for later
  // entries.)
  bool MoveUp();
  bool MoveDown();

  // BtnDelete: removes the selected entry and selects the one that took its place (none when the
  // removed entry was the last). Returns the removed text, or empty when nothing was selected.
  std::string RemoveSelected();

 private:
  bool Swap(int other);

  TStringList macros_;
  int selected_ = -1;
};
