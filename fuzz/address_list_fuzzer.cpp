// Feeds arbitrary address lists to the parser and formatter: no line break may survive into an
// address or a formatted list, no address is empty or keeps a bracket or comma, and the list of
// addresses formatted without names parses back to the same addresses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/address_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string list(reinterpret_cast<const char*>(data), size);
  const auto parsed = ParseAddressList(list);
  for (const MailAddress& a : parsed) {
    if (a.address.empty()) abort();
    if (a.address.find_first_of("<>,\r\n") != std::string::npos) abort();
    if (a.name.find_first_of("\r\n") != std::string::npos) abort();
  }
  const std::string bare = FormatAddressList(list, false);
  const std::string named = FormatAddressList(list, true);
  const std::string header = FormatAddressListForHeader(list);
  for (const std::string* s : {&bare, &named, &header}) {
    // Encoded words fold with CR LF and a blank; anything else would start a new header line.
    for (size_t at = s->find_first_of("\r\n"); at != std::string::npos;
         at = s->find_first_of("\r\n", at + 1)) {
      if (s != &header || s->compare(at, 3, "\r\n ") != 0) abort();
      ++at;
    }
  }
  const auto reparsed = ParseAddressList(bare);
  if (reparsed.size() != parsed.size()) abort();
  for (size_t i = 0; i < parsed.size(); ++i) {
    if (reparsed[i].address != parsed[i].address) abort();
  }
  return 0;
}
