#pragma once

#include <string>
#include <string_view>

#include "common/string_list.h"

// The request's field table is a sorted TStringList of name=value entries (names compared
// without regard to case).
//
// MergeField adds one decoded field: when the table already holds the name, that entry is
// replaced by one whose value is the old value, CR LF, the new value (arrival order) and whose
// name is spelled as last received; otherwise the entry name=value is added. Both the url-encoded
// decoder and the multipart decoder add fields this way.
void MergeField(TStringList& fields, std::string_view name, std::string_view value);
