#pragma once

#include <string>

#include "common/string_list.h"

// The header block of an outgoing mail, built from the sender's header template.

// The values that the header macros stand for, as the sender's properties hold them.
struct MailHeaderValues {
  std::string mail_to;
  std::string mail_cc;
  std::string mail_bcc;
  std::string mail_from;
  std::string subject;
};

struct MailHeaderText {
  std::string header;       // the message's header lines, each ended by CR LF
  std::string part_header;  // with attachments: the "Content..." lines of the text part
};

// Sorts the template lines: blank lines are skipped; with attachments every line that begins with
// "CONTENT" (any case) goes to the part header; a line that holds all of "CC:", "%MAILCC%",
// "BCC:" and "%MAILBCC%" is dropped when both copy lists are empty. Each kept line ends in CR LF.
MailHeaderText SortHeaderLines(const TStringList& header_template, bool has_attachments,
                               const MailHeaderValues& values);

// Replaces, in this order and each at its first occurrence only (found without regard to case),
// "%MAILTO%", "%MAILCC%", "%MAILBCC%", "%MAILFROM%" (address lists with names, display names
// beyond ASCII as encoded words), "%MAILSUBJECT%" and "%SUBJECT%" (the subject, as an encoded
// word when beyond ASCII). Only template text is searched, never an inserted value. Control
// characters in the values (CR, LF and NUL among them; tab excepted) become blanks, so no value
// can start a header line of its own or carry a byte no header may hold, encoded or not.
std::string ReplaceHeaderMacros(const std::string& header, const MailHeaderValues& values);

// Every control character of `text` (below 32, and 127) except tab turned into a blank.
std::string WithoutControls(std::string text);
