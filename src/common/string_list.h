#pragma once

#include <string>
#include <string_view>
#include <vector>

// An ordered list of text lines with name=value access: the common container of settings,
// form fields, queued headers, mail bodies and attachment lists.
//
// Names (the text before the first "=") and, in a sorted list, whole items are compared
// without regard to ASCII case. A sorted list keeps its items in CompareText order; Add puts
// a new item at its sorted place (equal items are kept, after the existing ones). An unsorted
// list keeps insertion order.
//
// Text() joins the items with CR LF and ends the last one with CR LF; SetText() and
// LoadFromFile() accept CR LF, LF or a lone CR as line ends.
class TStringList {
 public:
  TStringList() = default;
  explicit TStringList(bool sorted) : sorted_(sorted) {}

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  const std::string& operator[](int index) const { return items_.at(static_cast<size_t>(index)); }
  const std::string& Strings(int index) const { return (*this)[index]; }
  // Replaces an item in place (an unsorted list only keeps its order; a sorted list re-sorts).
  void SetString(int index, std::string value);

  // Adds an item; returns its index.
  int Add(std::string item);
  // Inserts at an index; not allowed on a sorted list (it is added at its sorted place then).
  void Insert(int index, std::string item);
  void Delete(int index);
  void Clear() { items_.clear(); }
  // Room for `count` items, for a list whose size is known before it is filled.
  void Reserve(int count) { items_.reserve(static_cast<size_t>(count)); }
  void Assign(const TStringList& other) { items_ = other.items_; }
  void AddStrings(const TStringList& other);
  void Move(int from, int to);
  void Exchange(int a, int b);

  bool Sorted() const { return sorted_; }
  // Turning sorting on sorts the items.
  void SetSorted(bool sorted);
  void Sort();

  // Index of the first item equal to `item` (ASCII case ignored), or -1.
  int IndexOf(std::string_view item) const;
  // Index of the first item whose name (text before the first "=") equals `name`, or -1.
  // Logarithmic in a sorted list (which Move and Exchange must not put out of order).
  int IndexOfName(std::string_view name) const;

  // The name of item i (the text before its first "="; empty when it has none).
  std::string Names(int index) const;
  // The value of item i (the text after its first "="; empty when it has none).
  std::string ValueFromIndex(int index) const;
  // The value of the first item named `name`, or empty.
  std::string Values(std::string_view name) const;
  // Sets the value of the first item named `name` (adding "name=value" when absent). As in the
  // original toolkit, an empty value deletes the item.
  void SetValue(std::string_view name, std::string_view value);

  // Items joined by CR LF, each line ended by CR LF.
  std::string Text() const;
  // Replaces the items with the lines of `text`.
  void SetText(std::string_view text);
  // Items joined by `separator` with nothing behind the last one.
  std::string Join(std::string_view separator) const;

  // Loads the lines of a file; throws Exception("Cannot open file \"<name>\"") when it cannot be
  // read.
  void LoadFromFile(const std::string& file_name);
  // Writes Text() to a file, replacing it; throws Exception("Cannot create file \"<name>\"") on
  // failure.
  void SaveToFile(const std::string& file_name) const;

  std::vector<std::string>::const_iterator begin() const { return items_.begin(); }
  std::vector<std::string>::const_iterator end() const { return items_.end(); }

 private:
  int SortedInsertPosition(std::string_view item) const;

  std::vector<std::string> items_;
  bool sorted_ = false;
};
