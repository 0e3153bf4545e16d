// The answers: the page rule, the JSON answers, the three built-in pages and the entries of page
// files.
#include <algorithm>
#include <functional>
#include <utility>

#include "common/html_escape.h"
#include "common/msg_file.h"
#include "common/text_compare.h"
#include "engine/file_filter.h"
#include "engine/http_engine.h"
#include "engine/http_master.h"
#include "engine/memo_filter.h"
#include "gateway/json_answer.h"
#include "gateway/page_address.h"
#include "gateway/request_guards.h"
#include "gateway/resolve_path.h"
#include "gateway/send_mail_form.h"
#include "platform/file_system.h"

namespace {

// Runs the built-in page `design` with `body` as its body: the form's page keeps its design-time
// settings, and each request runs its own copy bound to that request.
void RunPage(const THttpMaster& design, std::function<void()> body) {
  THttpMaster page;
  page.Title = design.Title;
  page.HeadOptions = design.HeadOptions;
  page.BodyOptions = design.BodyOptions;
  page.Background = design.Background;
  page.Colors = design.Colors;
  page.RefreshInterval = design.RefreshInterval;
  page.Address = design.Address;
  page.OnHtmlHead = design.OnHtmlHead;
  page.OnHtmlBody = std::move(body);
  page.Execute();
}

}  // namespace

bool TForm1::AnswerWithPage(TGatewayRequest& request, const std::string& setting,
                            std::string* resolved_path) {
  if (IsPageAddress(setting)) {
    // The address sits in an attribute: escaped, a quote in it cannot end the attribute.
    HttpWriteLn("<html><head>");
    HttpWriteLn("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; ");
    HttpWriteLn("URL=" + HtmlEscape(setting) + "\"></head><body></body></html>");
    return true;
  }
  const std::string path = ResolvePath(setting);
  if (resolved_path != nullptr) *resolved_path = path;
  if (!IsRegularFile(path)) return false;
  // The form's hfile1 keeps its design-time settings; each request runs its own filter.
  THttpFileFilter page;
  page.OnHttpEntry = [this, &request](const std::string& name, bool& handled) {
    hfile1HttpEntry(request, name, handled);
  };
  page.OnHttpLogicalEntry = hfile1->OnHttpLogicalEntry;
  page.SetFileName(path);
  page.Execute();
  return true;
}

void TForm1::AnswerMissing(TGatewayRequest& request) {
  if (request.Json) {
    // CheckRequiredFields has logged the key an owner must set.
    WriteJsonAnswer(MissingJsonAnswer(request.MissingFields));
    return;
  }
  if (!AnswerWithPage(request, request.Options->Info_Missing_Page)) hmemoreq->Execute();
}

void TForm1::AnswerSent(TGatewayRequest& request, bool log_missing_page) {
  if (request.Json) {
    // A bot draws no number; a request whose templates use none has none to show.
    WriteJsonAnswer(SentJsonAnswer(
        !request.Refused && request.RefNumbers ? request.RefNumbers->DrawnCount() : std::string()));
    return;
  }
  if (!AnswerWithPage(request, request.Options->Response_Page, &request.ResponsePagePath)) {
    if (log_missing_page) {
      LogError(request,
               "Brevix BX Reports: Response Page " + request.ResponsePagePath + " not found!");
    }
    RunPage(*httpnoresponsepage, [this, &request] { httpnoresponsepageHtmlBody(request); });
  }
}

void TForm1::AnswerNotSent(TGatewayRequest& request) {
  if (request.Json) {
    // The error log keeps the server's reply.
    WriteJsonAnswer(
        NotSentJsonAnswer({request.Refused || request.MailRefused, request.RefusalCode,
                           request.LastMailError, request.SmtpSendMail1->LastReplyCode()}));
    return;
  }
  if (!AnswerWithPage(request, request.Options->Error_Page)) {
    RunPage(*HttpMaster1, [this, &request] { HttpMaster1HtmlBody(request); });
  }
}

void TForm1::AnswerException(TGatewayRequest& request) {
  if (request.Json) {
    WriteJsonAnswer(500, "{\"status\":\"error\",\"error\":\"Unexpected error\"}");
    return;
  }
  RunPage(*HttpMaster1, [this, &request] { HttpMaster1HtmlBody(request); });
}

void TForm1::AnswerStoreUnavailable(TGatewayRequest& request, const std::string& reason) {
  LogError(request, "Brevix BX Reports: Database unavailable: " + reason);
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
    AnswerSent(request, true);
    return;
  }
  request.LastMailError = kStoreUnavailable;
  if (request.Json) {
    WriteJsonAnswer(503, std::string("{\"status\":\"unavailable\",\"error\":") +
                             JsonString(kStoreUnavailable) + "}");
    return;
  }
  if (engine != nullptr) engine->AddHeader(StatusLine(503), "");
  if (request.Options == nullptr || !AnswerWithPage(request, request.Options->Error_Page)) {
    RunPage(*HttpMaster1, [this, &request] { HttpMaster1HtmlBody(request); });
  }
}

void TForm1::HttpMaster1HtmlBody(const TGatewayRequest& request) {
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

void TForm1::httpnoresponsepageHtmlBody(const TGatewayRequest& request) {
  HttpWrite("<h3>Thank You!</h3>");
  HttpWrite("Press the Back button on your browser to return...<p>");
  HttpWrite("<hr>");
  // The log names the whole path for the owner; the visitor sees the file name alone.
  const std::string shown = request.Options ? ShownPageName(request.Options->Response_Page) : "";
  HttpWrite("Reponse Page: " + HtmlEscape(shown) +
            " was not found. This page was automatically created by Brevix BX. <p>");
  HttpWrite(std::string("<a href=\"") + kBrevixHomePage + "\">Message sent using Brevix BX</a><p>");
}

void TForm1::hfile1HttpEntry(TGatewayRequest& request, const std::string& entry_name,
                             bool& handled) {
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
  const std::string value = MacroValue(request, entry_name);
  if (value == request.EmptyMark) {
    handled = false;
    return;
  }
  handled = true;
  HttpWrite(HtmlEscape(value));
}
