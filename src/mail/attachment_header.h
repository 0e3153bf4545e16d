#pragma once

#include <string>
#include <string_view>

// The header lines of one attachment part. The file name is the visitor's (an upload's browser
// name) or the owner's: any bytes. It goes out so that a strict reader finds no defect
// (RFC 2045 quoted strings carry no encoded words and no 8-bit bytes):
//   - a name of at most kPlainFileNameLength printable ASCII characters as it is, between
//     quotes (with "\" before a quote or backslash);
//   - any other name as an RFC 2231 parameter of Content-Disposition ("filename*=utf-8''%C3%BC...";
//     iso-8859-1 when the name is not UTF-8; a long one split into continuations "filename*0*=",
//     "filename*1*=" ... on lines of their own), with an ASCII stand-in as Content-Type's
//     "name=..." for readers without RFC 2231: each other character "_", the name's last
//     kPlainFileNameLength characters. (A plain "filename" beside the extended one would give
//     one parameter twice, which strict readers report as a defect and resolve to the plain one.)
// CR, LF and other control characters never reach the header as such.
inline constexpr size_t kPlainFileNameLength = 100;

// "Content-Type: `content_type`; name=...", "Content-Transfer-Encoding: base64" and
// "Content-Disposition: attachment; filename=...", each line ended by CR LF.
std::string AttachmentPartHeader(std::string_view file_name, std::string_view content_type);
