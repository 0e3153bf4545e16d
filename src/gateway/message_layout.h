#pragma once

#include <functional>
#include <string>

#include "common/string_list.h"

class TSmtpSendMail;

// The rules of a mail's text that need no request: the automatic layout of a form without a
// message-text file, the HTML header switch and the values of the macros.

// The automatic message of a form: each of `names` (the form's field names, in order; null: none)
// but those `left_out` says, as a macro in the layout of `kind` (TBXOptions::FormatKind), under the
// line "Generated automatically. No message_text file found!". In the HTML layouts (kinds 2 to 4)
// the names are escaped as labels and inside macros, as the values are when the mail is written.
TStringList AutomaticMessage(const TStringList* names, int kind,
                             const std::function<bool(const std::string&)>& left_out);

// True for the kinds of layout that are HTML (2, 3 and 4).
bool IsHtmlLayout(int kind);

// The HTML header switch: the header's "content" lines give way to the HTML type and
// quoted-printable, so that no line of the markup or of a visitor's value exceeds 76 characters
// on the wire. The charset is utf-8; the sender declares Latin-1 instead for a body that is not
// UTF-8, and makes the body's <meta> tags name the declared one.
void SwitchToHtml(TSmtpSendMail& mail);

// Where the values of a mail's or a page's macros come from.
struct TMacroSources {
  // A server variable's value ("" when unset).
  std::function<std::string(const std::string& name)> server;
  // A form field's value, or `if_absent` when the form has no such field.
  std::function<std::string(const std::string& name, const std::string& if_absent)> form;
  // The next reference number of a "refnum_<key>" macro.
  std::function<std::string(const std::string& name)> ref_number;
  // The time now in a date-time pattern (common/date_time_format.h).
  std::function<std::string(const std::string& pattern)> now;
  std::string date_format;
  std::string time_format;
  std::string last_error;  // the request's LastMailError
  std::string empty_mark;  // what stands in for an empty value
};

// The value of macro `name`: vorl_date and vorl_time (now, in the date and time formats),
// vorl_error_desc, vorl_referer (the server's "http referer"), refnum_<key>, else the server
// variable `name`; when that is empty, the form field `name`, else the empty mark. Names compare
// without regard to case.
std::string MacroValue(const TMacroSources& sources, const std::string& name);
