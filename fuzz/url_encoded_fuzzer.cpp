// Hostile request bodies and query strings through the url-encoded field decoder, the url
// codec and the Basic authorization decoder.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/string_list.h"
#include "engine/url_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);

  TStringList fields(true);
  DecodeUrlEncodedFields(fields, input);
  for (int i = 0; i < fields.Count(); ++i) {
    // Every decoded entry carries a name; the table stays sorted.
    if (fields[i].empty() || fields[i][0] == '=') std::abort();
    if (i > 0 && fields.Names(i - 1).empty()) std::abort();
  }

  std::string decoded = UrlDecode(input);
  if (decoded.size() > input.size()) std::abort();
  if (UrlDecode(UrlEncode(input)) != input) std::abort();

  std::string user;
  std::string password;
  DecodeBasicAuth(input, user, password);
  return 0;
}
