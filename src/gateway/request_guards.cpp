// The guards' steps of a submission: each builds its rule (guards/) from the request's settings
// and values, and records a refusal on the request.
#include "gateway/request_guards.h"

#include "common/guard_settings.h"
#include "common/text_compare.h"
#include "engine/http_engine.h"
#include "gateway/guards/cross_origin.h"
#include "gateway/guards/pow_guard.h"
#include "gateway/guards/recipient_guard.h"
#include "gateway/guards/submission_limits.h"
#include "gateway/json_answer.h"
#include "gateway/send_mail_form.h"
#include "platform/clock.h"

namespace {

// A page answer to a refusal gets the status a JSON answer sets itself.
void AnswerForbidden(const TGatewayRequest& request) {
  THttpEngine* engine = CurrentHttpEngine();
  if (!request.Json && engine != nullptr) engine->AddHeader(StatusLine(403), "");
}

}  // namespace

bool IsPreflightRequest() {
  return IsPreflight(HttpServerVar("REQUEST_METHOD"));
}

void AddCrossOriginHeaders(const TGuardSettings& guards) {
  THttpEngine* engine = CurrentHttpEngine();
  if (engine == nullptr) return;
  for (const auto& [name, value] : CrossOriginHeaders(
           guards.AllowedOrigins, HttpServerVar("REQUEST_METHOD"), HttpServerVar("HTTP_ORIGIN"))) {
    engine->AddHeader(name, value);
  }
}

bool TForm1::PostFromAllowedOrigin(TGatewayRequest& request) {
  const std::string origin = HttpServerVar("HTTP_ORIGIN");
  const std::string own = OwnOrigin(HttpServerVar("HTTPS"), HttpServerVar("REQUEST_SCHEME"),
                                    HttpServerVar("HTTP_HOST"), HttpServerVar("SERVER_PORT"));
  if (!OriginRefused(request.Guards.AllowedOrigins, origin, own)) return true;
  return RefuseForbidden(request, kOriginNotAllowed, origin);
}

bool TForm1::SentByAllowedMethod(TGatewayRequest& request) {
  const std::string method = UpperCase(HttpServerVar("REQUEST_METHOD"));
  if (method == "POST" || (request.Guards.MailOnGet && (method == "GET" || method == "HEAD"))) {
    return true;
  }
  return RefuseForbidden(request, kMethodNotAllowed, method);
}

bool TForm1::RefuseForbidden(TGatewayRequest& request, const char* error,
                             const std::string& value) {
  request.Refused = true;
  request.LastMailError = error;
  LogError(request, "Brevix BX Reports: " + std::string(error) + ": " + OriginForLog(value));
  AnswerForbidden(request);
  return false;
}

bool TForm1::IsPowChallengeRequest() const {
  const std::string method = UpperCase(HttpServerVar("REQUEST_METHOD"));
  return (method == "GET" || method == "HEAD") && HttpFormVar("pow", "") == "challenge";
}

void TForm1::AnswerPowChallenge(TGatewayRequest& request) {
  THttpEngine* engine = CurrentHttpEngine();
  // A challenge is good for one submission: no cache may hand it to a second visitor.
  if (engine != nullptr) engine->AddHeader("Cache-Control", "no-store");
  if (request.Guards.PoWKey.empty()) {
    WriteJsonAnswer(404, "{\"status\":\"error\",\"error\":\"No anti-spam check is set up\"}");
    return;
  }
  const std::string challenge =
      PowChallenge(request.Guards, HttpFormVar("protocol", "") == "1" ? 1 : 2, WallClockSeconds(),
                   Logger(request));
  if (challenge.empty()) {
    WriteJsonAnswer(500, "{\"status\":\"error\",\"error\":\"Unexpected error\"}");
    return;
  }
  WriteJsonAnswer(200, challenge);
}

bool TForm1::IsPowField(const TGatewayRequest& request, const std::string& name) const {
  return ::IsPowField(request.Guards, name);
}

bool TForm1::PowSolved(TGatewayRequest& request) {
  const TGuardSettings& guards = request.Guards;
  if (guards.PoWKey.empty()) return true;
  const TPowGuard guard(guards, RequestStore(request), HttpServerVar("remote addr"),
                        WallClockSeconds(), Logger(request));
  if (guard.Check(HttpFormVar(guards.PoWField, "")) == TPowFailure::kNone) return true;
  request.Refused = true;
  request.RefusalCode = "pow";
  request.LastMailError = kPowFailed;
  AnswerForbidden(request);
  return false;
}

bool TForm1::MainMailRecipientsAllowed(TGatewayRequest& request) {
  const TSmtpSendMail& mail = *request.SmtpSendMail1;
  const std::string form_to = HttpFormVar("mail_to", "");
  const std::string form_cc = HttpFormVar("mail_cc", "");
  const std::string form_bcc = HttpFormVar("mail_bcc", "");
  const std::optional<TRecipientRefusal> refusal =
      CheckMainMailRecipients(request.Guards, *request.Configured,
                              {mail.MailTo, mail.MailCC, mail.MailBCC, form_to, form_cc, form_bcc});
  if (!refusal) return true;
  LogError(request, refusal->LogLine);
  request.LastMailError = refusal->Error;
  request.MailRefused = true;
  return false;
}

TSubmissionLimits TForm1::Limits(TGatewayRequest& request) {
  return TSubmissionLimits(request.Guards, RequestStore(request), HttpServerVar("remote addr"),
                           WallClockSeconds(), Logger(request));
}

bool TForm1::HoneypotFilled(TGatewayRequest& request) {
  const std::string& field = request.Guards.HoneypotField;
  if (field.empty() || !Limits(request).HoneypotFilled(HttpFormVar(field, ""))) return false;
  // Nothing may be numbered, not even by the answer page's macros.
  request.Refused = true;
  return true;
}

bool TForm1::SubmissionAllowed(TGatewayRequest& request) {
  if (Limits(request).SubmissionAllowed()) return true;
  request.Refused = true;
  request.LastMailError = kTooManySubmissions;
  return false;
}

bool TForm1::ReceiptAllowed(TGatewayRequest& request, const std::string& receipt_to) {
  return Limits(request).ReceiptAllowed(receipt_to, request.MailSent);
}
