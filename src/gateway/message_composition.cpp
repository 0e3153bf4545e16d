// The mail body: the message-text template or the automatic layout, the macro values, and the
// receipt to the visitor.
#include <chrono>
#include <filesystem>

#include "common/date_time_format.h"
#include "common/html_escape.h"
#include "common/msg_file.h"
#include "common/text_compare.h"
#include "engine/http_engine.h"
#include "gateway/guards/recipient_guard.h"
#include "gateway/resolve_path.h"
#include "gateway/send_mail_form.h"
#include "mail/address_list.h"
#include "mail/body_scan.h"

namespace {

bool IsFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// The HTML header switch: the header's "content" lines give way to the HTML type and
// quoted-printable, so that no line of the markup or of a visitor's value exceeds 76 characters
// on the wire. The charset is utf-8; the sender declares Latin-1 instead for a body that is not
// UTF-8, and makes the body's <meta> tags name the declared one.
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

void TForm1::LoadMessageText() {
  TGatewayRequest& request = Request();
  TBXOptions& options = *request.Options;
  TSmtpSendMail& mail = *request.SmtpSendMail1;

  options.Message_Text = ResolvePath(FormFileName("message_text", options.Message_Text));
  if (HasHtmExtension(options.Message_Text)) {
    SwitchToHtml(mail);
    request.MainMailHtml = true;
  }
  if (IsFile(options.Message_Text)) {
    TStringList body;
    body.LoadFromFile(options.Message_Text);
    mail.SetMailBody(body);
    return;
  }

  const std::unique_ptr<TStringList> names = HttpFieldNames();
  TBXMsgFile layout;
  if (names) {
    for (const std::string& name : *names) {
      if (!IsPowField(name)) layout.Macros.Add("%" + name + "%");
    }
  }
  // The names stand in the HTML layouts as labels and inside macros: escaped like the values.
  layout.HtmlLabel = [](const std::string& name) { return HtmlEscape(name); };
  layout.HtmlMacro = HtmlSafeMacro;
  const int kind = options.FormatKind();
  layout.Kind = static_cast<std::uint8_t>(kind);
  layout.Build();
  const bool html = kind == 2 || kind == 3 || kind == 4;
  layout.Lines.Insert(0, "Generated automatically. No message_text file found!");
  mail.SetMailBody(layout.Lines);
  if (html) {
    SwitchToHtml(mail);
    request.MainMailHtml = true;
  }
}

std::string TForm1::MacroValue(const std::string& name) {
  TGatewayRequest& request = Request();
  const TBXOptions& options = *request.Options;
  std::string value;
  const size_t underscore = name.find('_');
  if (SameText(name, "vorl_date")) {
    value = FormatDateTime(options.Date_Format, std::chrono::system_clock::now());
  } else if (SameText(name, "vorl_time")) {
    value = FormatDateTime(options.Time_Format, std::chrono::system_clock::now());
  } else if (SameText(name, "vorl_error_desc")) {
    value = request.LastMailError;
  } else if (SameText(name, "vorl_referer")) {
    value = HttpServerVar("http referer");
  } else if (underscore != std::string::npos && SameText(name.substr(0, underscore), "refnum")) {
    value = NextReferenceNumber(name);
  } else {
    value = HttpServerVar(name);
  }
  if (value.empty()) value = HttpFormVar(name, request.EmptyMark);
  return value;
}

void TForm1::SmtpSendMail1BodyEntry(const std::string& entry_name) {
  TGatewayRequest& request = Request();
  const std::string value = MacroValue(entry_name);
  request.SmtpSendMail1->WriteBody(request.MainMailHtml ? HtmlEscape(value) : value);
}

void TForm1::SendMailReceiptBodyEntry(const std::string& entry_name) {
  TGatewayRequest& request = Request();
  const std::string value = MacroValue(entry_name);
  request.SendMailReceipt->WriteBody(request.ReceiptHtml ? HtmlEscape(value) : value);
}

bool TForm1::SendAsSite(TSmtpSendMail& mail, int timeout_seconds) {
  const std::string& site_sender = Request().Guards.MailSender;
  if (site_sender.empty()) return mail.SendMail(timeout_seconds);
  if (SingleMailAddress(site_sender).empty()) {
    // A broken setting must not make an invalid MAIL FROM: the mail goes as it would without it.
    LogError("Brevix BX Reports: Mail_Sender is not one address: " + site_sender);
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

void TForm1::SendReceipt() {
  TGatewayRequest& request = Request();
  const TBXOptions& options = *request.Options;
  const TSmtpSendMail& main = *request.SmtpSendMail1;
  TSmtpSendMail& receipt = *request.SendMailReceipt;

  const std::string receipt_to = !options.Receipt_To.empty() ? options.Receipt_To : main.MailFrom;
  if (!ReceiptAllowed(receipt_to)) return;
  receipt.RemoteHost = main.RemoteHost;
  receipt.RemotePort = main.RemotePort;
  receipt.MailBody.Clear();
  const std::string referer = HttpServerVar("http referer");
  const std::string path = ResolvePath(options.Receipt_Text);
  if (IsFile(path)) {
    if (HasHtmExtension(path)) {
      SwitchToHtml(receipt);
      request.ReceiptHtml = true;
    }
    TStringList body;
    body.LoadFromFile(path);
    receipt.SetMailBody(body);
  } else {
    LogError("Brevix BX Reports: Missing Receipt Text file " + options.Receipt_Text);
    receipt.MailBody.Add("Your request on " + referer + " has been sent");
  }
  receipt.MailTo = receipt_to;
  receipt.MailSubject =
      !options.Receipt_Subject.empty() ? options.Receipt_Subject : "Receipt: " + referer;
  receipt.MailFrom = !options.Receipt_From.empty() ? options.Receipt_From : main.MailTo;
  receipt.MailCC.clear();
  receipt.MailBCC.clear();
  receipt.Attachments.Clear();
  if (!SendAsSite(receipt, 60)) {
    request.LastMailError = receipt.GetLastErrorText();
    LogError("Receipt Message: " + options.SMTP_Server +
             " reported this error:  " + request.LastMailError);
  }
}
