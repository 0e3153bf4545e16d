// The request's settings (brevix.ini under the hidden fields, settings_resolution.h) and the test
// for a complete submission.
#include <unordered_set>

#include "common/text_compare.h"
#include "engine/general_http_engine.h"
#include "engine/http_engine.h"
#include "engine/http_log.h"
#include "gateway/send_mail_form.h"
#include "gateway/settings_resolution.h"
#include "mail/address_list.h"
#include "platform/module_path.h"

namespace {

// A required field: at least four characters, the last three exactly "req".
bool IsRequiredName(const std::string& name) {
  return name.size() >= 4 && name.compare(name.size() - 3, 3, "req") == 0;
}

}  // namespace

TSettingsResolution TForm1::SettingsResolution(const TGatewayRequest& request,
                                               const TFormFileGuard& files) const {
  return TSettingsResolution({[](const std::string& name, const std::string& if_absent) {
                                return HttpFormVar(name, if_absent);
                              },
                              request.Guards, *request.Configured, files,
                              HttpServerVar("http referer"), HttpServerVar("HTTP_HOST"),
                              Logger(request)});
}

void TForm1::ResolveSettings(TGatewayRequest& request) {
  const TFormFileGuard files = FileGuard(request);
  SettingsResolution(request, files)
      .Resolve(*request.Options, *request.SmtpSendMail1, request.EmptyMark);
}

void TForm1::CheckRequiredFields(TGatewayRequest& request) {
  const TSmtpSendMail& mail = *request.SmtpSendMail1;
  std::vector<std::string>& missing = request.MissingFields;
  missing.clear();
  request.FieldsComplete = true;
  if (mail.MailTo.empty()) {
    request.FieldsComplete = false;
    missing.push_back("mail_to");
    LogError(request, "Brevix BX Reports: Missing Field Mail_To: set Mail_To in brevix.ini");
  }
  if (mail.RemoteHost.empty()) {
    request.FieldsComplete = false;
    missing.push_back("smtp_server");
    LogError(request,
             "Brevix BX Reports: Missing Field SMTP_server: set SMTP_Server in brevix.ini");
  }
  if (mail.MailFrom.empty()) {
    request.FieldsComplete = false;
    missing.push_back("mail_from");
    LogError(request, "Brevix BX Reports: Missing Field Mail_From");
  } else if (SingleMailAddress(mail.MailFrom).empty()) {
    // "a@x, b@y" would make an invalid MAIL FROM, and "bob" one the server refuses: the sender
    // is one well-formed address, by the same rule as a receipt's address.
    request.FieldsComplete = false;
    missing.push_back("mail_from");
    LogError(request, "Brevix BX Reports: Mail_From is not one address: " + mail.MailFrom);
  }
  const std::unique_ptr<TStringList> names = HttpFieldNames();
  if (!names) return;
  // The log names the first empty required field of an otherwise complete request, as it always
  // has; a script's answer lists every gap, so the visitor can fill them all at once.
  std::unordered_set<std::string> listed(missing.begin(), missing.end());
  for (const std::string& name : *names) {
    if (!IsRequiredName(name) || !HttpFormVar(name, "").empty()) continue;
    if (!listed.insert(name).second) continue;
    if (request.FieldsComplete) LogError(request, "Brevix BX Reports: Missing Field " + name);
    request.FieldsComplete = false;
    missing.push_back(name);
  }
}

TFormFileGuard TForm1::FileGuard(const TGatewayRequest& request) const {
  return TFormFileGuard(
      *request.Configured, *request.Options, request.Guards.AllowedFormFiles,
      {ProgramDir(), ModuleFileName(), GeneralHttpEngine1->TempDir(), ConfiguredLogFolder()});
}

std::string TForm1::FormFileName(TGatewayRequest& request, const std::string& field,
                                 const std::string& configured) {
  const TFormFileGuard files = FileGuard(request);
  return SettingsResolution(request, files).FileName(field, configured);
}
