#include "mail/address_list.h"

#include "common/text_compare.h"
#include "mail/mime_encoding.h"

namespace {

bool IsSplitPoint(unsigned char c) {
  return c <= ' ' || c == '<';
}

MailAddress SplitItem(std::string_view item) {
  MailAddress result;
  size_t split = std::string_view::npos;
  for (size_t i = item.size(); i-- > 0;) {
    if (IsSplitPoint(static_cast<unsigned char>(item[i]))) {
      split = i;
      break;
    }
  }
  std::string address;
  if (split != std::string_view::npos) {
    result.name = Trim(item.substr(0, split));
    address = Trim(item.substr(split + 1));
  }
  if (result.name.empty()) address = std::string(item);
  // No control character may reach a command line or a header: in an address they are dropped
  // (a blank put in their place would split the address when it is read again).
  for (char c : address) {
    const bool control = static_cast<unsigned char>(c) < ' ' || c == 0x7f;
    if (c != '<' && c != '>' && c != ',' && !control) result.address += c;
  }
  result.address = Trim(result.address);
  for (char& c : result.name) {
    if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) c = ' ';
  }
  return result;
}

// Calls `each` with every trimmed, non-empty item of `list`.
template <typename Each>
void ForEachItem(std::string_view list, Each each) {
  const std::string rest = Trim(list);
  std::string_view remaining = rest;
  while (!remaining.empty()) {
    const size_t cut = remaining.find_first_of(",;");
    const std::string item = Trim(remaining.substr(0, cut));
    if (cut == std::string_view::npos) {
      remaining = {};
    } else {
      remaining = remaining.substr(cut + 1);
    }
    if (!item.empty()) each(item);
  }
}

}  // namespace

std::vector<MailAddress> ParseAddressList(std::string_view list) {
  std::vector<MailAddress> result;
  ForEachItem(list, [&result](const std::string& item) {
    if (!IsOneAddressItem(item)) return;
    MailAddress address = SplitItem(item);
    if (!address.address.empty()) result.push_back(std::move(address));
  });
  return result;
}

bool IsOneAddressItem(std::string_view item) {
  const size_t open = item.find('<');
  const size_t close = item.find('>');
  if (open != std::string_view::npos && item.find('<', open + 1) != std::string_view::npos) {
    return false;
  }
  return close == std::string_view::npos || close + 1 == item.size();
}

bool IsWellFormedAddressList(std::string_view list) {
  bool well_formed = true;
  ForEachItem(list, [&well_formed](const std::string& item) {
    well_formed = well_formed && IsOneAddressItem(item);
  });
  return well_formed;
}

std::string FormatAddressList(std::string_view list, bool with_names) {
  std::string result;
  for (const MailAddress& a : ParseAddressList(list)) {
    if (!result.empty()) result += ',';
    if (with_names && !a.name.empty()) result += a.name + ' ';
    result += '<' + a.address + '>';
  }
  return result;
}

std::string FormatAddressListForHeader(std::string_view list) {
  std::string result;
  for (const MailAddress& a : ParseAddressList(list)) {
    if (!result.empty()) result += ',';
    if (!a.name.empty()) result += EncodeHeaderWord(a.name) + ' ';
    result += '<' + a.address + '>';
  }
  return result;
}
