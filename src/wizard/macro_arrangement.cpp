#include "wizard/macro_arrangement.h"

void MacroArrangement::SetMacros(const TStringList& macros) {
  macros_.Assign(macros);
  if (macros_.Sorted()) macros_.Sort();
  selected_ = -1;
}

void MacroArrangement::Select(int index) {
  selected_ = (index >= 0 && index < macros_.Count()) ? index : -1;
}

void MacroArrangement::ToggleSort() {
  if (macros_.Sorted()) {
    macros_.SetSorted(false);
    return;
  }
  const std::string selected_text = selected_ >= 0 ? macros_[selected_] : std::string();
  macros_.SetSorted(true);
  // Sorting moves entries; the owner's selection follows its entry (the first of equal ones).
  if (selected_ >= 0) selected_ = macros_.IndexOf(selected_text);
}

std::string MacroArrangement::SortCaption() const {
  return macros_.Sorted() ? "Unsort Macros" : "Sort Macros";
}

bool MacroArrangement::Swap(int other) {
  if (selected_ < 0 || other < 0 || other >= macros_.Count()) return false;
  macros_.Exchange(selected_, other);
  selected_ = other;
  return true;
}

bool MacroArrangement::MoveUp() {
  return Swap(selected_ - 1);
}

bool MacroArrangement::MoveDown() {
  return selected_ < 0 ? false : Swap(selected_ + 1);
}

std::string MacroArrangement::RemoveSelected() {
  if (selected_ < 0) return {};
  std::string removed = macros_[selected_];
  macros_.Delete(selected_);
  // The follower moved into the removed entry's place; past the end nothing is selected.
  if (selected_ >= macros_.Count()) selected_ = -1;
  return removed;
}
