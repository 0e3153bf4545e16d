// The answer pages: the page rule, the three built-in pages and the entries of page files.
#include <filesystem>

#include "common/msg_file.h"
#include "common/text_compare.h"
#include "engine/file_filter.h"
#include "engine/html_escape.h"
#include "engine/http_engine.h"
#include "engine/http_master.h"
#include "gateway/resolve_path.h"
#include "gateway/send_mail_form.h"

bool TForm1::AnswerWithPage(const std::string& setting, std::string* resolved_path) {
  if (setting.size() >= 5 && SameText(setting.substr(0, 5), "http:")) {
    // The address sits in an attribute: escaped, a quote in it cannot end the attribute.
    HttpWriteLn("<html><head>");
    HttpWriteLn("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; ");
    HttpWriteLn("URL=" + HtmlEscape(setting) + "\"></head><body></body></html>");
    return true;
  }
  const std::string path = ResolvePath(setting);
  if (resolved_path != nullptr) *resolved_path = path;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  // The form's hfile1 keeps its design-time settings; each request runs its own filter.
  THttpFileFilter page;
  page.OnHttpEntry = hfile1->OnHttpEntry;
  page.OnHttpLogicalEntry = hfile1->OnHttpLogicalEntry;
  page.SetFileName(path);
  page.Execute();
  return true;
}

void TForm1::HttpMaster1HtmlBody() {
  TGatewayRequest& request = Request();
  const TSmtpSendMail& mail = *request.SmtpSendMail1;
  const std::string error_page = request.Options ? request.Options->Error_Page : std::string();
  HttpWriteLn("Unexpected Error!");
  // A mail that a guard refused never reached the sender, which then has nothing to say.
  const std::string error = !request.MailSent && !request.LastMailError.empty()
                                ? request.LastMailError
                                : mail.GetLastErrorText();
  HttpWriteLn("Failed to send mail: " + HtmlEscape(error) + "<p>");
  HttpWriteLn("SMTP Server: " + HtmlEscape(mail.RemoteHost) +
              " Port: " + HtmlEscape(mail.RemotePort) + "<p>");
  HttpWriteLn("Error_Page: " + HtmlEscape(error_page) + " not found!");
  HttpWriteLn("Notify Your Webmaster!!!");
}

void TForm1::httpnoresponsepageHtmlBody() {
  HttpWrite("<h3>Thank You!</h3>");
  HttpWrite("Press the Back button on your browser to return...<p>");
  HttpWrite("<hr>");
  HttpWrite("Reponse Page: " + HtmlEscape(Request().ResponsePagePath) +
            " was not found. This page was automatically created by Brevix BX. <p>");
  HttpWrite(std::string("<a href=\"") + kBrevixHomePage + "\">Message sent using Brevix BX</a><p>");
}

void TForm1::hfile1HttpEntry(const std::string& entry_name, bool& handled) {
  TGatewayRequest& request = Request();
  if (SameText(entry_name, "error_desc")) {
    const TSmtpSendMail& mail = *request.SmtpSendMail1;
    // A guard's refusal is the gateway's own word, not the server's.
    if (!request.MailSent && !request.Refused && !request.MailRefused) {
      HttpWrite(request.Options->SMTP_Server + " reported this error:  ");
    }
    HttpWrite(HtmlEscape(request.LastMailError) + "<p>");
    HttpWrite("mail_to=" + HtmlEscape(mail.MailTo) + "<br>");
    HttpWrite("mail_from=" + HtmlEscape(mail.MailFrom) + "<br>");
    HttpWrite("mail_mail_subject=" + HtmlEscape(mail.MailSubject) + "<br>");
    HttpWrite("smpt_server=" + HtmlEscape(mail.RemoteHost) + "<br>");
    HttpWrite("smtp_port=" + HtmlEscape(mail.RemotePort) + "<br>");
    return;
  }
  const std::string value = MacroValue(entry_name);
  if (value == request.EmptyMark) {
    handled = false;
    return;
  }
  handled = true;
  HttpWrite(HtmlEscape(value));
}
