#include "engine/field_table.h"

#include <algorithm>
#include <unordered_map>

#include "common/text_compare.h"

namespace {

constexpr char kKeyEscape = '\x01';
constexpr char kKeyEqual = '\x02';

// The entry that joins the values of one name, in arrival order.
struct TMergedName {
  std::string key;               // spelled as last received
  std::string value;             // the values joined by CR LF
  std::vector<size_t> arrivals;  // which decoded fields carry this name
};

bool HasNameAt(const TStringList& fields, int index, std::string_view key) {
  return index >= 0 && index < fields.Count() && SameText(fields.Names(index), key);
}

}  // namespace

std::string FieldKey(std::string_view name) {
  if (FindAnyOf(name, std::string_view("=\x01", 2)) == std::string_view::npos) {
    return std::string(name);
  }
  std::string key;
  key.reserve(name.size() + 8);
  for (char c : name) {
    if (c == '=') {
      key += kKeyEscape;
      key += kKeyEqual;
    } else if (c == kKeyEscape) {
      key += kKeyEscape;
      key += kKeyEscape;
    } else {
      key += c;
    }
  }
  return key;
}

std::string FieldNameOf(std::string_view key) {
  if (key.find(kKeyEscape) == std::string_view::npos) return std::string(key);
  std::string name;
  name.reserve(key.size());
  for (size_t i = 0; i < key.size(); ++i) {
    if (key[i] == kKeyEscape && i + 1 < key.size()) {
      ++i;
      name += key[i] == kKeyEqual ? '=' : key[i];
    } else {
      name += key[i];
    }
  }
  return name;
}

void MergeField(TStringList& fields, std::string_view name, std::string_view value) {
  const std::string key = FieldKey(name);
  std::string merged(value);
  const int existing = fields.IndexOfName(key);
  if (existing >= 0) {
    merged = fields.ValueFromIndex(existing) + "\r\n" + merged;
    fields.Delete(existing);
  }
  fields.Add(key + "=" + merged);
}

void MergeFields(TStringList& fields, const std::vector<TDecodedField>& decoded) {
  if (decoded.empty()) return;
  // Join the values of each name (names compared without regard to case) in arrival order.
  std::vector<TMergedName> names;
  std::unordered_map<std::string, size_t> index_of;
  for (size_t i = 0; i < decoded.size(); ++i) {
    const TDecodedField& field = decoded[i];
    std::string key = FieldKey(field.first);
    auto [slot, added] = index_of.try_emplace(UpperCase(key), names.size());
    if (added) {
      names.push_back({std::move(key), field.second, {}});
    } else {
      TMergedName& name = names[slot->second];
      name.key = std::move(key);
      name.value += "\r\n";
      name.value += field.second;
    }
    names[slot->second].arrivals.push_back(i);
  }

  // Fold in the entries the table holds already. A name the table holds twice (an upload entry
  // is added without merging) takes its values one by one, as it always did.
  std::vector<bool> replaced(static_cast<size_t>(fields.Count()), false);
  std::vector<std::string> added;
  std::vector<TMergedName*> one_by_one;
  for (TMergedName& name : names) {
    const int existing = fields.IndexOfName(name.key);
    if (existing >= 0 && HasNameAt(fields, existing + 1, name.key)) {
      one_by_one.push_back(&name);
      continue;
    }
    if (existing >= 0) {
      name.value = fields.ValueFromIndex(existing) + "\r\n" + name.value;
      replaced[static_cast<size_t>(existing)] = true;
    }
    added.push_back(name.key + "=" + name.value);
  }

  // The new entries go behind equal old ones, as a sorted Add puts them.
  std::stable_sort(added.begin(), added.end(), [](const std::string& a, const std::string& b) {
    return CompareText(a, b) < 0;
  });
  TStringList rebuilt;
  size_t next = 0;
  for (int i = 0; i < fields.Count(); ++i) {
    if (replaced[static_cast<size_t>(i)]) continue;
    while (next < added.size() && CompareText(added[next], fields[i]) < 0) {
      rebuilt.Add(std::move(added[next++]));
    }
    rebuilt.Add(fields[i]);
  }
  while (next < added.size()) rebuilt.Add(std::move(added[next++]));
  rebuilt.SetSorted(true);  // in order already: this only marks it so
  fields = std::move(rebuilt);

  for (TMergedName* name : one_by_one) {
    for (size_t i : name->arrivals) MergeField(fields, decoded[i].first, decoded[i].second);
  }
}
