#include "gateway/message_layout.h"

#include <cstdint>

#include "common/html_escape.h"
#include "common/msg_file.h"
#include "common/text_compare.h"
#include "mail/body_scan.h"
#include "mail/smtp_send_mail.h"

namespace {

// A field's macro in the automatic HTML layouts. A visitor chooses the field names, so what of
// the macro the mail's entry scan will not replace (a name with a blank or a control character
// is no entry) is escaped here, as the values of the entries are when the mail is written.
std::string HtmlSafeMacro(const std::string& macro) {
  std::string out;
  ScanBodyEntries(
      macro, [&](const std::string& name) { out += "%" + name + "%"; },
      [&](std::string_view piece) { out += HtmlEscape(piece); });
  return out;
}

}  // namespace

bool IsHtmlLayout(int kind) {
  return kind == 2 || kind == 3 || kind == 4;
}

TStringList AutomaticMessage(const TStringList* names, int kind,
                             const std::function<bool(const std::string&)>& left_out) {
  TBXMsgFile layout;
  if (names != nullptr) {
    for (const std::string& name : *names) {
      if (!left_out(name)) layout.Macros.Add("%" + name + "%");
    }
  }
  // The names stand in the HTML layouts as labels and inside macros: escaped like the values.
  layout.HtmlLabel = [](const std::string& name) { return HtmlEscape(name); };
  layout.HtmlMacro = HtmlSafeMacro;
  layout.Kind = static_cast<std::uint8_t>(kind);
  layout.Build();
  layout.Lines.Insert(0, "Generated automatically. No message_text file found!");
  return layout.Lines;
}

void SwitchToHtml(TSmtpSendMail& mail) {
  static constexpr const char* kHtmlType = "Content-Type:Text/HTML; charset=utf-8";
  static constexpr const char* kEncoding = "Content-Transfer-Encoding: quoted-printable";
  TStringList header;
  bool switched = false;
  for (const std::string& line : mail.MailHeader) {
    if (line.size() < 7 || !SameText(line.substr(0, 7), "content")) {
      header.Add(line);
    } else if (!switched) {
      header.Add(kHtmlType);
      header.Add(kEncoding);
      switched = true;
    }
  }
  if (!switched) {
    header.Add(kHtmlType);
    header.Add(kEncoding);
  }
  mail.SetMailHeader(header);
}

std::string MacroValue(const TMacroSources& sources, const std::string& name) {
  std::string value;
  const size_t underscore = name.find('_');
  if (SameText(name, "vorl_date")) {
    value = sources.now(sources.date_format);
  } else if (SameText(name, "vorl_time")) {
    value = sources.now(sources.time_format);
  } else if (SameText(name, "vorl_error_desc")) {
    value = sources.last_error;
  } else if (SameText(name, "vorl_referer")) {
    value = sources.server("http referer");
  } else if (underscore != std::string::npos && SameText(name.substr(0, underscore), "refnum")) {
    value = sources.ref_number(name);
  } else {
    value = sources.server(name);
  }
  if (value.empty()) value = sources.form(name, sources.empty_mark);
  return value;
}
