#include "common/string_list.h"

#include <algorithm>

#include "common/exception.h"
#include "common/file_tool.h"
#include "common/text_compare.h"
#include "platform/file_io.h"

namespace {

std::string_view NameOf(std::string_view item) {
  const size_t eq = item.find('=');
  return eq == std::string_view::npos ? std::string_view() : item.substr(0, eq);
}

}  // namespace

void TStringList::SetString(int index, std::string value) {
  items_.at(static_cast<size_t>(index)) = std::move(value);
  if (sorted_) Sort();
}

int TStringList::SortedInsertPosition(std::string_view item) const {
  auto it = std::upper_bound(
      items_.begin(), items_.end(), item,
      [](std::string_view a, const std::string& b) { return CompareText(a, b) < 0; });
  return static_cast<int>(it - items_.begin());
}

int TStringList::Add(std::string item) {
  if (!sorted_) {
    items_.push_back(std::move(item));
    return Count() - 1;
  }
  const int at = SortedInsertPosition(item);
  items_.insert(items_.begin() + at, std::move(item));
  return at;
}

void TStringList::Insert(int index, std::string item) {
  if (sorted_) {
    Add(std::move(item));
    return;
  }
  if (index < 0) index = 0;
  if (index > Count()) index = Count();
  items_.insert(items_.begin() + index, std::move(item));
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
}

void TStringList::AddStrings(const TStringList& other) {
  for (const std::string& item : other.items_) Add(item);
}

void TStringList::Move(int from, int to) {
  if (from == to || from < 0 || to < 0 || from >= Count() || to >= Count()) return;
  std::string item = std::move(items_[static_cast<size_t>(from)]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(item));
}

void TStringList::Exchange(int a, int b) {
  if (a < 0 || b < 0 || a >= Count() || b >= Count()) return;
  std::swap(items_[static_cast<size_t>(a)], items_[static_cast<size_t>(b)]);
}

void TStringList::SetSorted(bool sorted) {
  if (sorted && !sorted_) Sort();
  sorted_ = sorted;
}

void TStringList::Sort() {
  std::stable_sort(items_.begin(), items_.end(), [](const std::string& a, const std::string& b) {
    return CompareText(a, b) < 0;
  });
}

int TStringList::IndexOf(std::string_view item) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (SameText(items_[i], item)) return static_cast<int>(i);
  return -1;
}

namespace {

// CompareText(item, name + "=") without building that key: the order of a sorted list's items
// against the first item a lookup of `name` may find.
int CompareWithNameKey(std::string_view item, std::string_view name) {
  const size_t common = std::min(item.size(), name.size());
  if (const int order = CompareText(item.substr(0, common), name.substr(0, common)); order != 0)
    return order;
  if (item.size() <= name.size()) return -1;  // shorter than the key
  const auto next = static_cast<unsigned char>(AsciiUpper(item[name.size()]));
  if (next != '=') return next < '=' ? -1 : 1;
  return item.size() == name.size() + 1 ? 0 : 1;
}

}  // namespace

int TStringList::IndexOfName(std::string_view name) const {
  // In a sorted list the items named `name` are exactly those that begin with `name` and "=",
  // and those stand together: the first of them is found by halving, so a field table of many
  // thousand entries is searched in a few steps. An empty name also matches items without any
  // "=", which do not stand together: that case, like an unsorted list, is searched in order.
  if (sorted_ && !name.empty()) {
    if (name.find('=') != std::string_view::npos) return -1;  // no item's name holds "="
    auto it = std::lower_bound(items_.begin(), items_.end(), name,
                               [](const std::string& item, std::string_view key_name) {
                                 return CompareWithNameKey(item, key_name) < 0;
                               });
    if (it == items_.end() || it->size() <= name.size() || (*it)[name.size()] != '=' ||
        !SameText(std::string_view(*it).substr(0, name.size()), name))
      return -1;
    return static_cast<int>(it - items_.begin());
  }
  // An item is named `name` when "=" follows that many bytes that match it: those bytes hold no
  // "=" when `name` holds none, so the "=" after them is the item's first. No search for the
  // "=" of every item, the lookup a request makes most.
  if (name.find('=') != std::string_view::npos) return -1;
  const size_t n = name.size();
  for (size_t i = 0; i < items_.size(); ++i) {
    const std::string& item = items_[i];
    if (item.size() > n && item[n] == '=' && SameText(std::string_view(item).substr(0, n), name))
      return static_cast<int>(i);
  }
  return -1;
}

std::string TStringList::Names(int index) const {
  return std::string(NameOf((*this)[index]));
}

std::string TStringList::ValueFromIndex(int index) const {
  const std::string& item = (*this)[index];
  const size_t eq = item.find('=');
  return eq == std::string::npos ? std::string() : item.substr(eq + 1);
}

std::string TStringList::Values(std::string_view name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
  const int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string item = std::string(name) + "=" + std::string(value);
  if (i < 0)
    Add(std::move(item));
  else
    SetString(i, std::move(item));
}

std::string TStringList::Text() const {
  std::string out;
  for (const std::string& item : items_) {
    out += item;
    out += "\r\n";
  }
  return out;
}

std::string TStringList::Join(std::string_view separator) const {
  std::string out;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (i) out += separator;
    out += items_[i];
  }
  return out;
}

void TStringList::SetText(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
    ++i;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  items_.clear();
  if (sorted_) {
    for (std::string& line : lines) Add(std::move(line));
  } else {
    items_ = std::move(lines);
  }
}

void TStringList::LoadFromFile(const std::string& file_name) {
  // Plain reads rather than a file stream: a stream sets up the C++ locale machinery, which
  // would cost each gateway process more than reading its message template.
  std::string text;
  if (!ReadWholeFile(file_name, text)) throw Exception("Cannot open file \"" + file_name + "\"");
  SetText(text);
}

void TStringList::SaveToFile(const std::string& file_name) const {
  TFileDescriptor file = OpenFile(
      file_name, open_flags::kWriteOnly | open_flags::kCreate | open_flags::kTruncate, 0666);
  if (!file) throw Exception("Cannot create file \"" + file_name + "\"");
  bool ok = WriteAll(file.Get(), Text());
  if (!CloseFile(file.Release())) ok = false;
  if (!ok) throw Exception("Cannot create file \"" + file_name + "\"");
}
