#include "engine/field_table.h"

void MergeField(TStringList& fields, std::string_view name, std::string_view value) {
  std::string merged(value);
  const int existing = fields.IndexOfName(name);
  if (existing >= 0) {
    merged = fields.ValueFromIndex(existing) + "\r\n" + merged;
    fields.Delete(existing);
  }
  fields.Add(std::string(name) + "=" + merged);
}
