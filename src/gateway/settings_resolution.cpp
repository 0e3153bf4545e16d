#include "gateway/settings_resolution.h"

#include "common/text_compare.h"
#include "gateway/guards/recipient_guard.h"
#include "gateway/page_address.h"
#include "mail/smtp_send_mail.h"

namespace {

// The switch rule of the two Boolean fields: a value other than the sentinel sets the switch
// ("yes" in any case turns it on, anything else off); the sentinel keeps the ini setting.
void ApplySwitch(const TSettingsResolution::TFormValue& form, const char* field,
                 const char* sentinel, bool& setting) {
  const std::string value = form(field, sentinel);
  if (value != sentinel) setting = SameText(value, "yes");
}

// Replaces each "%name%" of a subject by the form field of that name (or the empty mark). An
// opening "%" without a closing one is kept as text with the rest of the subject.
std::string ExpandSubject(const TSettingsResolution::TFormValue& form, const std::string& subject,
                          const std::string& empty_mark) {
  std::string out;
  size_t pos = 0;
  while (pos < subject.size()) {
    if (subject[pos] != '%') {
      out += subject[pos++];
      continue;
    }
    const size_t close = subject.find('%', pos + 1);
    if (close == std::string::npos) {
      out.append(subject, pos, std::string::npos);
      break;
    }
    out += form(subject.substr(pos + 1, close - pos - 1), empty_mark);
    pos = close + 1;
  }
  return out;
}

}  // namespace

void TSettingsResolution::Resolve(TBXOptions& options, TSmtpSendMail& mail,
                                  std::string& empty_mark) const {
  const TFormValue& form = in_.form;
  mail.MailTo = form("mail_to", options.Mail_To);
  mail.MailFrom = form("mail_from", options.Mail_From);
  mail.MailCC = form("mail_cc", options.Mail_CC);
  mail.MailBCC = form("mail_bcc", options.Mail_BCC);
  mail.MailSubject = form("mail_subject", options.Mail_Subject);
  // The mail server is the site owner's: a form may only pick one the ini allows.
  TMailServerChoice server =
      ChooseMailServer(in_.guards, in_.configured, form("smtp_server", ""), form("smtp_port", ""));
  mail.RemoteHost = std::move(server.Host);
  mail.RemotePort = std::move(server.Port);
  for (const std::string& refused : server.Refused) {
    in_.log("Brevix BX Reports: Refused form field " + refused);
  }
  mail.Attachments.Clear();
  options.Receipt_Text = FileName("receipt_text", options.Receipt_Text);
  options.Receipt_Subject = form("receipt_subject", options.Receipt_Subject);
  options.Receipt_To = form("receipt_to", options.Receipt_To);
  options.Receipt_From = form("receipt_from", options.Receipt_From);
  options.Error_Page = PageName("error_page", options.Error_Page);
  options.Response_Page = PageName("response_page", options.Response_Page);
  options.Info_Missing_Page = PageName("info_missing_page", options.Info_Missing_Page);
  options.Entry_Log = FileName("entry_log", options.Entry_Log);
  options.Date_Format = form("date_format", options.Date_Format);
  options.Time_Format = form("time_format", options.Time_Format);
  options.Results_File = FileName("results_file", options.Results_File);
  options.Results_File_Template = FileName("results_file_template", options.Results_File_Template);

  ApplySwitch(form, "use_asterisks", "X", options.Use_Asterisks);
  empty_mark = options.Use_Asterisks ? "**" : " ";
  ApplySwitch(form, "delete_results_file", "**", options.Delete_Results_File);

  if (mail.MailSubject.find('%') != std::string::npos) {
    mail.MailSubject = ExpandSubject(form, mail.MailSubject, empty_mark);
  }
  // The receipt's subject takes the same macros as the main subject.
  if (options.Receipt_Subject.find('%') != std::string::npos) {
    options.Receipt_Subject = ExpandSubject(form, options.Receipt_Subject, empty_mark);
  }
  if (mail.MailSubject.empty()) mail.MailSubject = "Response from " + in_.referer;
  if (mail.RemotePort.empty()) mail.RemotePort = "25";
}

std::string TSettingsResolution::FileName(const std::string& field,
                                          const std::string& configured) const {
  const std::string value = in_.form(field, "");
  if (value.empty()) return configured;
  const bool writes = field == "results_file" || field == "entry_log";
  if (writes ? in_.files.MayWrite(field, value) : in_.files.MayRead(value)) return value;
  in_.log("Brevix BX Reports: Refused file name " + value);
  return configured;
}

std::string TSettingsResolution::PageName(const std::string& field,
                                          const std::string& configured) const {
  // An "http:" or "https:" address is a redirect, not a file name; a form may send the visitor
  // only to this site or to a host the owner listed. The ini's own addresses are never checked.
  const std::string value = in_.form(field, "");
  if (!IsPageAddress(value)) return FileName(field, configured);
  if (IsAllowedRedirect(value, in_.host, in_.guards.AllowedRedirects)) return value;
  in_.log("Brevix BX Reports: Refused form field " + field + " " + value +
          " (add its host to Allowed_Redirects in brevix.ini)");
  return configured;
}
