#pragma once

#include <optional>
#include <string>

#include "common/string_list.h"

// The message text editor's three macro lists, without widgets:
// - Available(): the macros the owner may insert; in the order given until the owner switches
//   sorting on (alphabetical, ASCII case ignored), arranged with MoveUp, MoveDown and Remove;
// - Unused(): macros taken out of the auto-format; always sorted alphabetically;
// - Used(): macros already inserted, in the order of insertion.
//
// A selection is an index into Available(), or -1 for none. Operations on an index that is out
// of range do nothing and return the selection unchanged, so a stale selection cannot corrupt
// a list. Values are copied in; nothing is shared with the caller.
class TEditorMacroLists {
 public:
  TEditorMacroLists();

  const TStringList& Available() const { return available_; }
  const TStringList& Unused() const { return unused_; }
  const TStringList& Used() const { return used_; }

  // Empties all three lists (a new form scan); the available list's sorting stays as it was.
  void Clear();
  // Replaces the available list's content (sorted at once while sorting is on).
  void SetAvailable(const TStringList& macros);
  // Replaces the used list's content.
  void SetUsed(const TStringList& macros);
  // Adds a macro to the unused list at its sorted place.
  void AddUnused(std::string macro);

  bool AvailableSorted() const { return available_.Sorted(); }
  // Switches the available list between kept-sorted and not sorted. Switching it off leaves the
  // entries in their sorted order; only later additions go to the end again.
  void ToggleAvailableSorted();

  // Swaps the selected entry with the one above; returns the new selection (the moved entry).
  int MoveUp(int selected);
  // Swaps the selected entry with the one below; returns the new selection (the moved entry).
  int MoveDown(int selected);
  // Moves the selected entry to the unused list; returns the new selection: the entry above
  // it, or -1 when the first entry was removed.
  int Remove(int selected);

  // The owner inserts available entry `index` into the text: it moves to the end of the used
  // list. Returns its text, or nothing for an index out of range.
  std::optional<std::string> TakeAvailable(int index);
  // The text of used entry `index` for inserting once more; the lists do not change.
  std::optional<std::string> UsedEntry(int index) const;
  // Unused entry `index` becomes available again (at the end, or at its sorted place while
  // sorting is on). Returns its index in the available list, or -1 for an index out of range.
  int MakeAvailable(int unused_index);

 private:
  static bool InRange(const TStringList& list, int index) {
    return index >= 0 && index < list.Count();
  }

  TStringList available_;
  TStringList unused_{true};
  TStringList used_;
};
