// The mail body: the message-text template or the automatic layout (message_layout.h), the macro
// values of the request, and the receipt to the visitor.
#include <chrono>

#include "common/date_time_format.h"
#include "common/html_escape.h"
#include "engine/http_engine.h"
#include "gateway/message_layout.h"
#include "gateway/resolve_path.h"
#include "gateway/send_mail_form.h"
#include "mail/address_list.h"
#include "platform/file_system.h"

void TForm1::LoadMessageText(TGatewayRequest& request) {
  TBXOptions& options = *request.Options;
  TSmtpSendMail& mail = *request.SmtpSendMail1;

  options.Message_Text = ResolvePath(FormFileName(request, "message_text", options.Message_Text));
  if (HasHtmExtension(options.Message_Text)) {
    SwitchToHtml(mail);
    request.MainMailHtml = true;
  }
  if (IsRegularFile(options.Message_Text)) {
    // Straight into the sender's body, not through a copy (the load throws before it changes
    // the body).
    mail.MailBody.LoadFromFile(options.Message_Text);
    return;
  }

  const std::unique_ptr<TStringList> names = HttpFieldNames();
  const int kind = request.Options->FormatKind();
  mail.SetMailBody(AutomaticMessage(names.get(), kind, [this, &request](const std::string& name) {
    return IsPowField(request, name);
  }));
  if (IsHtmlLayout(kind)) {
    SwitchToHtml(mail);
    request.MainMailHtml = true;
  }
}

std::string TForm1::MacroValue(TGatewayRequest& request, const std::string& name) {
  const TBXOptions& options = *request.Options;
  TMacroSources sources;
  sources.server = [](const std::string& variable) { return HttpServerVar(variable); };
  sources.form = [](const std::string& field, const std::string& if_absent) {
    return HttpFormVar(field, if_absent);
  };
  sources.ref_number = [this, &request](const std::string& macro) {
    return NextReferenceNumber(request, macro);
  };
  sources.now = [](const std::string& pattern) { return FormatDateTimeNow(pattern); };
  sources.date_format = options.Date_Format;
  sources.time_format = options.Time_Format;
  sources.last_error = request.LastMailError;
  sources.empty_mark = request.EmptyMark;
  return ::MacroValue(sources, name);
}

void TForm1::SmtpSendMail1BodyEntry(TGatewayRequest& request, const std::string& entry_name) {
  const std::string value = MacroValue(request, entry_name);
  request.SmtpSendMail1->WriteBody(request.MainMailHtml ? HtmlEscape(value) : value);
}

void TForm1::SendMailReceiptBodyEntry(TGatewayRequest& request, const std::string& entry_name) {
  const std::string value = MacroValue(request, entry_name);
  request.SendMailReceipt->WriteBody(request.ReceiptHtml ? HtmlEscape(value) : value);
}

bool TForm1::SendAsSite(const TGatewayRequest& request, TSmtpSendMail& mail, int timeout_seconds) {
  const std::string& site_sender = request.Guards.MailSender;
  if (site_sender.empty()) return mail.SendMail(timeout_seconds);
  if (SingleMailAddress(site_sender).empty()) {
    // A broken setting must not make an invalid MAIL FROM: the mail goes as it would without it.
    LogError(request, "Brevix BX Reports: Mail_Sender is not one address: " + site_sender);
    return mail.SendMail(timeout_seconds);
  }
  // The visitor's (or the receipt's) sender stays where the rest of the request reads it.
  const std::string own_from = mail.MailFrom;
  const std::string own_reply_to = mail.ReplyTo;
  mail.ReplyTo = own_from;
  mail.MailFrom = site_sender;
  bool sent = false;
  try {
    sent = mail.SendMail(timeout_seconds);
  } catch (...) {
    mail.MailFrom = own_from;
    mail.ReplyTo = own_reply_to;
    throw;
  }
  mail.MailFrom = own_from;
  mail.ReplyTo = own_reply_to;
  return sent;
}

void TForm1::SendReceipt(TGatewayRequest& request) {
  const TBXOptions& options = *request.Options;
  const TSmtpSendMail& main = *request.SmtpSendMail1;
  TSmtpSendMail& receipt = *request.SendMailReceipt;

  const std::string receipt_to = !options.Receipt_To.empty() ? options.Receipt_To : main.MailFrom;
  if (!ReceiptAllowed(request, receipt_to)) return;
  receipt.RemoteHost = main.RemoteHost;
  receipt.RemotePort = main.RemotePort;
  receipt.MailBody.Clear();
  const std::string referer = HttpServerVar("http referer");
  const std::string path = ResolvePath(options.Receipt_Text);
  if (IsRegularFile(path)) {
    if (HasHtmExtension(path)) {
      SwitchToHtml(receipt);
      request.ReceiptHtml = true;
    }
    receipt.MailBody.LoadFromFile(path);
  } else {
    LogError(request, "Brevix BX Reports: Missing Receipt Text file " + options.Receipt_Text);
    receipt.MailBody.Add("Your request on " + referer + " has been sent");
  }
  receipt.MailTo = receipt_to;
  receipt.MailSubject =
      !options.Receipt_Subject.empty() ? options.Receipt_Subject : "Receipt: " + referer;
  receipt.MailFrom = !options.Receipt_From.empty() ? options.Receipt_From : main.MailTo;
  receipt.MailCC.clear();
  receipt.MailBCC.clear();
  receipt.Attachments.Clear();
  if (!SendAsSite(request, receipt, 60)) {
    request.LastMailError = receipt.GetLastErrorText();
    LogError(request, "Receipt Message: " + options.SMTP_Server +
                          " reported this error:  " + request.LastMailError);
  }
}
