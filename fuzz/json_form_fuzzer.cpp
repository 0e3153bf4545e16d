// Hostile JSON request bodies through the JSON form decoder. An accepted body gives named fields
// whose values are valid UTF-8: written back as a JSON object (one member per field) they decode
// to the same fields. A refused body gives a reason and no field.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/json_form_decoder.h"
#include "gateway/json_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<TDecodedField> fields;
  const std::string refusal = DecodeJsonFormBody(input, fields);
  if (!refusal.empty()) {
    if (!fields.empty()) std::abort();
    return 0;
  }
  std::string again = "{";
  for (const auto& [name, value] : fields) {
    if (name.empty()) std::abort();
    if (again.size() > 1) again += ',';
    again += JsonString(name) + ":" + JsonString(value);
  }
  again += '}';
  std::vector<TDecodedField> decoded_again;
  if (!DecodeJsonFormBody(again, decoded_again).empty()) std::abort();
  if (decoded_again != fields) std::abort();
  return 0;
}
