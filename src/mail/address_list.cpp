#include "mail/address_list.h"

#include <cstring>

#include "common/text_compare.h"
#include "mail/mime_encoding.h"

namespace {

constexpr size_t kMaxLocalPart = 64;
constexpr size_t kMaxLabel = 63;
constexpr size_t kMaxAddress = 254;

bool IsLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsLocalPartChar(char c) {
  return IsLetterOrDigit(c) || (c != '\0' && std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr);
}

bool IsDotSeparated(std::string_view text, size_t max_part, bool (*part_ok)(std::string_view)) {
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find('.', start);
    const std::string_view part =
        text.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (part.empty() || part.size() > max_part || !part_ok(part)) return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

bool IsLocalAtom(std::string_view atom) {
  for (char c : atom) {
    if (!IsLocalPartChar(c)) return false;
  }
  return true;
}

bool IsDomainLabel(std::string_view label) {
  if (label.front() == '-' || label.back() == '-') return false;
  for (char c : label) {
    if (!IsLetterOrDigit(c) && c != '-') return false;
  }
  return true;
}

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

bool IsWellFormedMailAddress(std::string_view address) {
  if (address.size() > kMaxAddress) return false;
  const size_t at = address.rfind('@');
  if (at == std::string_view::npos || at > kMaxLocalPart) return false;
  return IsDotSeparated(address.substr(0, at), kMaxLocalPart, IsLocalAtom) &&
         IsDotSeparated(address.substr(at + 1), kMaxLabel, IsDomainLabel);
}

std::string SingleMailAddress(std::string_view list) {
  for (char c : list) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::string();
  }
  const std::vector<MailAddress> items = ParseAddressList(list);
  if (items.size() != 1 || !IsWellFormedAddressList(list) ||
      items[0].name.find('@') != std::string::npos || !IsWellFormedMailAddress(items[0].address)) {
    return std::string();
  }
  return items[0].address;
}
