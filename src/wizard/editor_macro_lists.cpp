#include "wizard/editor_macro_lists.h"

#include <utility>

TEditorMacroLists::TEditorMacroLists() = default;

void TEditorMacroLists::Clear() {
  available_.Clear();
  unused_.Clear();
  used_.Clear();
}

void TEditorMacroLists::SetAvailable(const TStringList& macros) {
  available_.Clear();
  // Added one by one so that a kept-sorted list puts each at its sorted place.
  for (const std::string& macro : macros) available_.Add(macro);
}

void TEditorMacroLists::SetUsed(const TStringList& macros) {
  used_.Assign(macros);
}

void TEditorMacroLists::AddUnused(std::string macro) {
  unused_.Add(std::move(macro));
}

void TEditorMacroLists::ToggleAvailableSorted() {
  available_.SetSorted(!available_.Sorted());
}

int TEditorMacroLists::MoveUp(int selected) {
  if (!InRange(available_, selected) || selected == 0) return selected;
  available_.Exchange(selected, selected - 1);
  return selected - 1;
}

int TEditorMacroLists::MoveDown(int selected) {
  if (!InRange(available_, selected) || selected == available_.Count() - 1) return selected;
  available_.Exchange(selected, selected + 1);
  return selected + 1;
}

int TEditorMacroLists::Remove(int selected) {
  if (!InRange(available_, selected)) return selected;
  unused_.Add(available_[selected]);
  available_.Delete(selected);
  return selected - 1;
}

std::optional<std::string> TEditorMacroLists::TakeAvailable(int index) {
  if (!InRange(available_, index)) return std::nullopt;
  std::string macro = available_[index];
  used_.Add(macro);
  available_.Delete(index);
  return macro;
}

std::optional<std::string> TEditorMacroLists::UsedEntry(int index) const {
  if (!InRange(used_, index)) return std::nullopt;
  return used_[index];
}

int TEditorMacroLists::MakeAvailable(int unused_index) {
  if (!InRange(unused_, unused_index)) return -1;
  const int at = available_.Add(unused_[unused_index]);
  unused_.Delete(unused_index);
  return at;
}
