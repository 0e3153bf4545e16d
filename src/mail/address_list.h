#pragma once

#include <string>
#include <string_view>
#include <vector>

// Address lists as the senders' address properties hold them: items separated by "," or ";",
// each either a bare address or a display name followed by the address ("Jane Doe <jd@x.org>").

struct MailAddress {
  std::string name;     // display name, trimmed; empty when the item has none
  std::string address;  // the address without "<", ">" and ","
};

// Splits `list` into its items, in order. An item is cut at the first "," or ";"; it is split
// into name and address at the last blank, control character or "<" (scanning from its end);
// when the name comes out empty the whole item is the address. Items whose address comes out
// empty are skipped. CR and LF never survive into an address (they are split points) and are
// turned into blanks in a name. Never throws; linear in the size of `list`.
std::vector<MailAddress> ParseAddressList(std::string_view list);

// The items of `list` joined by ",": with names each as "name <address>" (only "<address>" when
// it has no name), without names as "<address>".
std::string FormatAddressList(std::string_view list, bool with_names);

// Like FormatAddressList with names, for a header line: a display name with bytes above 127 is
// written as an RFC 2047 encoded word (EncodeHeaderWord).
std::string FormatAddressListForHeader(std::string_view list);
