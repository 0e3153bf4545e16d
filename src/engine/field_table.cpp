#include "engine/field_table.h"

#include <algorithm>
#include <unordered_map>

#include "common/text_compare.h"

namespace {

constexpr char kKeyEscape = '\x01';
constexpr char kKeyEqual = '\x02';

constexpr size_t kNoArrival = static_cast<size_t>(-1);

// The entry that joins the values of one name, in arrival order.
struct TMergedName {
  std::string key;    // spelled as last received
  std::string value;  // the values joined by CR LF
  // The decoded fields that carry this name: the first and the last, and between them the
  // chain of MergeFields' next_arrival (one table for all names, not a vector for each).
  size_t first_arrival;
  size_t last_arrival;
};

// Up to this many fields a form's names are matched by a search of those seen so far: a hash
// table costs a small form more (an allocation per name) than the search it saves.
constexpr size_t kSearchedNames = 16;

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
  names.reserve(decoded.size());
  std::vector<size_t> next_arrival(decoded.size(), kNoArrival);
  std::unordered_map<std::string, size_t> index_of;
  const bool searched = decoded.size() <= kSearchedNames;
  for (size_t i = 0; i < decoded.size(); ++i) {
    const TDecodedField& field = decoded[i];
    std::string key = FieldKey(field.first);
    size_t slot = names.size();
    if (searched) {
      for (size_t seen = 0; seen < names.size(); ++seen) {
        if (SameText(names[seen].key, key)) {
          slot = seen;
          break;
        }
      }
    } else {
      slot = index_of.try_emplace(UpperCase(key), names.size()).first->second;
    }
    if (slot == names.size()) {
      names.push_back({std::move(key), field.second, i, i});
      continue;
    }
    TMergedName& name = names[slot];
    name.key = std::move(key);
    name.value += "\r\n";
    name.value += field.second;
    next_arrival[name.last_arrival] = i;
    name.last_arrival = i;
  }

  // Fold in the entries the table holds already. A name the table holds twice (an upload entry
  // is added without merging) takes its values one by one, as it always did.
  std::vector<bool> replaced(static_cast<size_t>(fields.Count()), false);
  std::vector<std::string> added;
  added.reserve(names.size());
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
  rebuilt.Reserve(fields.Count() + static_cast<int>(added.size()));
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
    for (size_t i = name->first_arrival; i != kNoArrival; i = next_arrival[i]) {
      MergeField(fields, decoded[i].first, decoded[i].second);
    }
  }
}
