#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/string_list.h"

// The request's field table is a sorted TStringList of name=value entries (names compared
// without regard to case).
//
// A field name may hold any byte, "=" included, while an entry's name ends at its first "=".
// The entry therefore holds the name's key: each "=" of the name written as the two bytes
// 0x01 0x02 and each 0x01 as 0x01 0x01; every other byte stands as it is, so an ordinary name
// is its own key. Whoever looks a name up in the table or reads names out of it goes through
// FieldKey and FieldNameOf (GetFormField, GetFieldNames and the page filters do).
std::string FieldKey(std::string_view name);
// The name a key stands for (the reverse of FieldKey).
std::string FieldNameOf(std::string_view key);

// MergeField adds one decoded field: when the table already holds the name, that entry is
// replaced by one whose value is the old value, CR LF, the new value (arrival order) and whose
// name is spelled as last received; otherwise the entry name=value is added. Both the url-encoded
// decoder and the multipart decoder add fields this way.
void MergeField(TStringList& fields, std::string_view name, std::string_view value);

// One decoded field: its name (not its key) and its value.
using TDecodedField = std::pair<std::string, std::string>;

// The table MergeField would leave after adding `decoded` one after the other, built at once:
// the time grows with n log n of the fields, where adding them one by one moves the whole
// table on every insert.
void MergeFields(TStringList& fields, const std::vector<TDecodedField>& decoded);
