// Merging the hidden form fields over "brevix.ini", and the test for a complete submission.
#include <unordered_set>

#include "common/module_path.h"
#include "common/text_compare.h"
#include "engine/general_http_engine.h"
#include "engine/http_engine.h"
#include "engine/http_log.h"
#include "gateway/guards/recipient_guard.h"
#include "gateway/page_address.h"
#include "gateway/send_mail_form.h"
#include "mail/address_list.h"

namespace {

// The switch rule of the two Boolean fields: a value other than the sentinel sets the switch
// ("yes" in any case turns it on, anything else off); the sentinel keeps the ini setting.
void ApplySwitch(const char* field, const char* sentinel, bool& setting) {
  const std::string value = HttpFormVar(field, sentinel);
  if (value != sentinel) setting = SameText(value, "yes");
}

// Replaces each "%name%" of a subject by the form field of that name (or the empty mark). An
// opening "%" without a closing one is kept as text with the rest of the subject.
std::string ExpandSubject(const std::string& subject, const std::string& empty_mark) {
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
    out += HttpFormVar(subject.substr(pos + 1, close - pos - 1), empty_mark);
    pos = close + 1;
  }
  return out;
}

// A required field: at least four characters, the last three exactly "req".
bool IsRequiredName(const std::string& name) {
  return name.size() >= 4 && name.compare(name.size() - 3, 3, "req") == 0;
}

}  // namespace

void TForm1::ResolveSettings() {
  TGatewayRequest& request = Request();
  TBXOptions& options = *request.Options;
  TSmtpSendMail& mail = *request.SmtpSendMail1;

  mail.MailTo = HttpFormVar("mail_to", options.Mail_To);
  mail.MailFrom = HttpFormVar("mail_from", options.Mail_From);
  mail.MailCC = HttpFormVar("mail_cc", options.Mail_CC);
  mail.MailBCC = HttpFormVar("mail_bcc", options.Mail_BCC);
  mail.MailSubject = HttpFormVar("mail_subject", options.Mail_Subject);
  // The mail server is the site owner's: a form may only pick one the ini allows.
  TMailServerChoice server =
      ChooseMailServer(request.Guards, *request.Configured, HttpFormVar("smtp_server", ""),
                       HttpFormVar("smtp_port", ""));
  mail.RemoteHost = std::move(server.Host);
  mail.RemotePort = std::move(server.Port);
  for (const std::string& refused : server.Refused) {
    LogError("Brevix BX Reports: Refused form field " + refused);
  }
  mail.Attachments.Clear();
  options.Receipt_Text = FormFileName("receipt_text", options.Receipt_Text);
  options.Receipt_Subject = HttpFormVar("receipt_subject", options.Receipt_Subject);
  options.Receipt_To = HttpFormVar("receipt_to", options.Receipt_To);
  options.Receipt_From = HttpFormVar("receipt_from", options.Receipt_From);
  options.Error_Page = FormPageName("error_page", options.Error_Page);
  options.Response_Page = FormPageName("response_page", options.Response_Page);
  options.Info_Missing_Page = FormPageName("info_missing_page", options.Info_Missing_Page);
  options.Entry_Log = FormFileName("entry_log", options.Entry_Log);
  options.Date_Format = HttpFormVar("date_format", options.Date_Format);
  options.Time_Format = HttpFormVar("time_format", options.Time_Format);
  options.Results_File = FormFileName("results_file", options.Results_File);
  options.Results_File_Template =
      FormFileName("results_file_template", options.Results_File_Template);

  ApplySwitch("use_asterisks", "X", options.Use_Asterisks);
  request.EmptyMark = options.Use_Asterisks ? "**" : " ";
  ApplySwitch("delete_results_file", "**", options.Delete_Results_File);

  if (mail.MailSubject.find('%') != std::string::npos) {
    mail.MailSubject = ExpandSubject(mail.MailSubject, request.EmptyMark);
  }
  // The receipt's subject takes the same macros as the main subject.
  if (options.Receipt_Subject.find('%') != std::string::npos) {
    options.Receipt_Subject = ExpandSubject(options.Receipt_Subject, request.EmptyMark);
  }
  if (mail.MailSubject.empty()) mail.MailSubject = "Response from " + HttpServerVar("http referer");
  if (mail.RemotePort.empty()) mail.RemotePort = "25";
}

std::string TForm1::FormPageName(const std::string& field, const std::string& configured) {
  // An "http:" or "https:" address is a redirect, not a file name; a form may send the visitor
  // only to this site or to a host the owner listed. The ini's own addresses are never checked.
  const std::string value = HttpFormVar(field, "");
  if (!IsPageAddress(value)) return FormFileName(field, configured);
  if (IsAllowedRedirect(value, HttpServerVar("HTTP_HOST"), Request().Guards.AllowedRedirects)) {
    return value;
  }
  LogError("Brevix BX Reports: Refused form field " + field + " " + value +
           " (add its host to Allowed_Redirects in brevix.ini)");
  return configured;
}

void TForm1::CheckRequiredFields() {
  TGatewayRequest& request = Request();
  const TSmtpSendMail& mail = *request.SmtpSendMail1;
  std::vector<std::string>& missing = request.MissingFields;
  missing.clear();
  request.FieldsComplete = true;
  if (mail.MailTo.empty()) {
    request.FieldsComplete = false;
    missing.push_back("mail_to");
    LogError("Brevix BX Reports: Missing Field Mail_To: set Mail_To in brevix.ini");
  }
  if (mail.RemoteHost.empty()) {
    request.FieldsComplete = false;
    missing.push_back("smtp_server");
    LogError("Brevix BX Reports: Missing Field SMTP_server: set SMTP_Server in brevix.ini");
  }
  if (mail.MailFrom.empty()) {
    request.FieldsComplete = false;
    missing.push_back("mail_from");
    LogError("Brevix BX Reports: Missing Field Mail_From");
  } else if (SingleMailAddress(mail.MailFrom).empty()) {
    // "a@x, b@y" would make an invalid MAIL FROM, and "bob" one the server refuses: the sender
    // is one well-formed address, by the same rule as a receipt's address.
    request.FieldsComplete = false;
    missing.push_back("mail_from");
    LogError("Brevix BX Reports: Mail_From is not one address: " + mail.MailFrom);
  }
  const std::unique_ptr<TStringList> names = HttpFieldNames();
  if (!names) return;
  // The log names the first empty required field of an otherwise complete request, as it always
  // has; a script's answer lists every gap, so the visitor can fill them all at once.
  std::unordered_set<std::string> listed(missing.begin(), missing.end());
  for (const std::string& name : *names) {
    if (!IsRequiredName(name) || !HttpFormVar(name, "").empty()) continue;
    if (!listed.insert(name).second) continue;
    if (request.FieldsComplete) LogError("Brevix BX Reports: Missing Field " + name);
    request.FieldsComplete = false;
    missing.push_back(name);
  }
}

TFormFileGuard TForm1::FileGuard() const {
  const TGatewayRequest& request = Request();
  return TFormFileGuard(
      *request.Configured, *request.Options, request.Guards.AllowedFormFiles,
      {ProgramDir(), ModuleFileName(), GeneralHttpEngine1->TempDir(), ConfiguredLogFolder()});
}

std::string TForm1::FormFileName(const std::string& field, const std::string& configured) {
  const std::string value = HttpFormVar(field, "");
  if (value.empty()) return configured;
  const bool writes = field == "results_file" || field == "entry_log";
  const TFormFileGuard guard = FileGuard();
  if (writes ? guard.MayWrite(field, value) : guard.MayRead(value)) return value;
  LogError("Brevix BX Reports: Refused file name " + value);
  return configured;
}
