// The answers: the page rule, the JSON answers, the three built-in pages and the entries of page
// files.
#include <algorithm>
#include <filesystem>

#include "common/html_escape.h"
#include "common/msg_file.h"
#include "common/text_compare.h"
#include "engine/file_filter.h"
#include "engine/http_engine.h"
#include "engine/http_master.h"
#include "engine/memo_filter.h"
#include "gateway/guards/cross_origin.h"
#include "gateway/json_answer.h"
#include "gateway/page_address.h"
#include "gateway/resolve_path.h"
#include "gateway/send_mail_form.h"

bool TForm1::AnswerWithPage(const std::string& setting, std::string* resolved_path) {
  if (IsPageAddress(setting)) {
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

void TForm1::AnswerMissing() {
  TGatewayRequest& request = Request();
  if (request.Json) {
    // A recipient or a mail server that neither brevix.ini nor an allowed field gave is the
    // owner's to set, not the visitor's to fill in: the answer says so, naming nothing the
    // visitor sent (CheckRequiredFields has logged the key to set).
    const std::vector<std::string>& missing = request.MissingFields;
    for (const auto& [field, text] :
         {std::pair{"mail_to", "The form's recipient is not configured"},
          std::pair{"smtp_server", "The mail server is not configured"}}) {
      if (std::find(missing.begin(), missing.end(), field) == missing.end()) continue;
      WriteJsonAnswer(500, "{\"status\":\"not_configured\",\"error\":" + JsonString(text) + "}");
      return;
    }
    std::string body = "{\"status\":\"missing\",\"missing\":";
    body += JsonStringArray(request.MissingFields);
    body += '}';
    WriteJsonAnswer(422, body);
    return;
  }
  if (!AnswerWithPage(request.Options->Info_Missing_Page)) hmemoreq->Execute();
}

void TForm1::AnswerSent(bool log_missing_page) {
  TGatewayRequest& request = Request();
  if (request.Json) {
    // A bot draws no number; a request whose templates use none has none to show.
    std::string body = "{\"status\":\"sent\",\"refnum\":";
    if (!request.Refused && request.RefNumbers && !request.RefNumbers->DrawnCount().empty()) {
      body += request.RefNumbers->DrawnCount();
    } else {
      body += "null";
    }
    body += '}';
    WriteJsonAnswer(200, body);
    return;
  }
  if (!AnswerWithPage(request.Options->Response_Page, &request.ResponsePagePath)) {
    if (log_missing_page) {
      LogError("Brevix BX Reports: Response Page " + request.ResponsePagePath + " not found!");
    }
    httpnoresponsepage->Execute();
  }
}

void TForm1::AnswerNotSent() {
  TGatewayRequest& request = Request();
  if (request.Json) {
    // A guard's refusal is the gateway's own fixed text; a failed send is named by its kind
    // alone. The server's reply, port and addresses stay out of an answer that any allowed page
    // may read (the error log keeps the reply).
    const bool refused = request.Refused || request.MailRefused;
    if (!request.RefusalCode.empty()) {
      WriteJsonAnswer(403, "{\"status\":\"refused\",\"error\":" + JsonString(request.RefusalCode) +
                               ",\"message\":" + JsonString(request.LastMailError) + "}");
      return;
    }
    std::string body = "{\"status\":";
    body += refused ? "\"refused\"" : "\"failed\"";
    body += ",\"error\":";
    body += JsonString(refused ? Trim(request.LastMailError)
                               : MailFailureKind(request.SmtpSendMail1->LastReplyCode()));
    body += '}';
    WriteJsonAnswer(refused ? 403 : 502, body);
    return;
  }
  if (!AnswerWithPage(request.Options->Error_Page)) HttpMaster1->Execute();
}

void TForm1::AnswerException() {
  if (Request().Json) {
    WriteJsonAnswer(500, "{\"status\":\"error\",\"error\":\"Unexpected error\"}");
    return;
  }
  HttpMaster1->Execute();
}

void TForm1::AnswerStoreUnavailable(const std::string& reason) {
  TGatewayRequest& request = Request();
  LogError("Brevix BX Reports: Database unavailable: " + reason);
  // Nothing more may be numbered: the answer below must not reach for the database again.
  const bool sent = request.MailSent;
  request.Refused = true;
  THttpEngine* engine = CurrentHttpEngine();
  if (engine != nullptr) {
    engine->ClearResponse();
    // A page of another allowed site must still read the answer.
    AddCrossOriginHeaders(request.Guards);
  }
  if (sent) {
    AnswerSent(true);
    return;
  }
  request.LastMailError = kStoreUnavailable;
  if (request.Json) {
    WriteJsonAnswer(503, std::string("{\"status\":\"unavailable\",\"error\":") +
                             JsonString(kStoreUnavailable) + "}");
    return;
  }
  if (engine != nullptr) engine->AddHeader(StatusLine(503), "");
  if (request.Options == nullptr || !AnswerWithPage(request.Options->Error_Page)) {
    HttpMaster1->Execute();
  }
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
  HttpWriteLn("Error_Page: " + HtmlEscape(ShownPageName(error_page)) + " not found!");
  HttpWriteLn("Notify Your Webmaster!!!");
}

void TForm1::httpnoresponsepageHtmlBody() {
  HttpWrite("<h3>Thank You!</h3>");
  HttpWrite("Press the Back button on your browser to return...<p>");
  HttpWrite("<hr>");
  // The log names the whole path for the owner; the visitor sees the file name alone.
  const TGatewayRequest& request = Request();
  const std::string shown = request.Options ? ShownPageName(request.Options->Response_Page) : "";
  HttpWrite("Reponse Page: " + HtmlEscape(shown) +
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
