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
// empty are skipped, and so is every item that is not one address (IsOneAddressItem): nothing
// after a closing ">" ever becomes an address. Control characters never survive into an address
// (they are split points) and are turned into blanks in a name. Never throws; linear in the size
// of `list`.
std::vector<MailAddress> ParseAddressList(std::string_view list);

// True when the trimmed `item` (one item of a list, no "," or ";") can be one address: it holds
// at most one "<" and at most one ">", and a ">" is its last character. "<a@x.org> SIZE=1" is
// not: whatever follows the closing bracket would otherwise be read as the address.
bool IsOneAddressItem(std::string_view item);

// True when every item of `list` is one address (IsOneAddressItem). A form value for which this
// is false is refused as a whole, rather than sent with its malformed items left out.
bool IsWellFormedAddressList(std::string_view list);

// The items of `list` joined by ",": with names each as "name <address>" (only "<address>" when
// it has no name), without names as "<address>".
std::string FormatAddressList(std::string_view list, bool with_names);

// Like FormatAddressList with names, for a header line: a display name with bytes above 127 is
// written as an RFC 2047 encoded word (EncodeHeaderWord).
std::string FormatAddressListForHeader(std::string_view list);

// True for one address "local@domain": a local part of at most 64 characters of letters, digits,
// dots (not first, last or doubled) and !#$%&'*+-/=?^_`{|}~; a domain of dot-separated labels
// of letters, digits and inner hyphens, each at most 63 characters; at most 254 in all.
bool IsWellFormedMailAddress(std::string_view address);

// The bare address when `list` (an address property: "a@b.test" or "Ann <a@b.test>") names
// exactly one well-formed address, with no control character anywhere and no "@" in a display
// name; otherwise empty.
std::string SingleMailAddress(std::string_view list);
