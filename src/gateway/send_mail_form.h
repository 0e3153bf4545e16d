#pragma once

#include <functional>
#include <memory>
#include <string>

#include "gateway/gateway_request.h"
#include "gateway/guards/form_file_guard.h"
#include "gateway/guards/submission_limits.h"
#include "gateway/settings_resolution.h"

class TGeneralHttpEngine;
class THttpEngine;
class THttpFileFilter;
class THttpMaster;
class THttpMemoFilter;
class TSmtpSendMail;

// The gateway's one form. It is never shown: it owns the engine component, the two mail senders
// and the answer-page components, and its handlers and methods are the whole of the gateway's
// request logic.
//
// Constructing the form sets the components' stored settings; it serves nothing. The program's main
// then runs the engine's adapter (GeneralHttpEngine1->RunAdapter()), which serves one request, or
// many as the request server.
//
// The components hold design-time settings only. Each request works on a TGatewayRequest that
// GeneralHttpEngine1ExecRequest creates and drops and hands to every step below, so one form can
// serve requests on several threads at once. The rules themselves live in classes and functions
// given what they check (guards/, settings_resolution.h, json_answer.h, message_layout.h); the
// form wires them to the request's values and runs the steps in order.
class TForm1 {
 public:
  TForm1();
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // ---- Components -----------------------------------------------------------------------------
  std::unique_ptr<TGeneralHttpEngine> GeneralHttpEngine1;
  std::unique_ptr<TSmtpSendMail> SmtpSendMail1;     // main mail: host "localhost", port "25"
  std::unique_ptr<TSmtpSendMail> SendMailReceipt;   // receipt: host and port copied before use
  std::unique_ptr<THttpFileFilter> hfile1;          // a page file of the site owner
  std::unique_ptr<THttpMaster> HttpMaster1;         // built-in "Error!" page
  std::unique_ptr<THttpMaster> httpnoresponsepage;  // built-in "Response Page Missing" page
  std::unique_ptr<THttpMemoFilter> hmemoreq;        // built-in missing-information page

  // ---- Request driver -----------------------------------------------------------------------
  // The engine's OnExecRequest: one whole form submission, ending in exactly one answer page.
  void GeneralHttpEngine1ExecRequest(THttpEngine* sender);

  // ---- Request state and small operations ---------------------------------------------------
  // Creates the request's Options, its untouched Configured copy and its Guards from
  // "brevix.ini", and gives both senders the ini's SMTP_Security, SMTP_User, SMTP_Password
  // and SMTP_Verify, and the greeting name of SMTP_Helo_Name, Mail_Sender and Mail_From
  // (mail/greeting_name.h). Without Mail_Sender, an SMTP_User that is one address becomes the
  // request's Guards.MailSender; one that is not is logged once, naming Mail_Sender.
  void LoadOptions(TGatewayRequest& request);
  // Appends "<referer> <date> <time> <message>" to "brevix-error.txt"; a line that cannot be
  // written is dropped. Never throws.
  void LogError(const TGatewayRequest& request, const std::string& message) const;
  // The current time in the request's Date_Format + " " + Time_Format ("mm-dd-yy t" before its
  // options are read).
  std::string LogDateTime(const TGatewayRequest& request) const;
  // LogError for `request`, as a rule's log callback.
  std::function<void(const std::string&)> Logger(const TGatewayRequest& request) const;

  // ---- Settings -------------------------------------------------------------------------------
  // Form fields over "brevix.ini" into SmtpSendMail1, Options and EmptyMark.
  void ResolveSettings(TGatewayRequest& request);
  // Sets FieldsComplete; logs the first missing field.
  void CheckRequiredFields(TGatewayRequest& request);
  // A file name that the form may override, as TSettingsResolution::FileName rules.
  std::string FormFileName(TGatewayRequest& request, const std::string& field,
                           const std::string& configured);
  // The guard of the file names a form may give, for `request` (form_file_guard.h).
  TFormFileGuard FileGuard(const TGatewayRequest& request) const;
  // The settings resolution of `request`, with `files` as its file guard.
  TSettingsResolution SettingsResolution(const TGatewayRequest& request,
                                         const TFormFileGuard& files) const;
  // Checks the request's main mail with CheckMainMailRecipients (recipient_guard.h);
  // a refusal is logged, sets LastMailError and MailRefused, and gives false.
  bool MainMailRecipientsAllowed(TGatewayRequest& request);

  // ---- Message composition ------------------------------------------------------------------
  void LoadMessageText(TGatewayRequest& request);
  // The value of a macro of a mail body or page file (message_layout.h).
  std::string MacroValue(TGatewayRequest& request, const std::string& name);
  // The entry handlers of the request's two senders (bound to it by the request driver).
  void SmtpSendMail1BodyEntry(TGatewayRequest& request, const std::string& entry_name);
  void SendMailReceiptBodyEntry(TGatewayRequest& request, const std::string& entry_name);
  void SendReceipt(TGatewayRequest& request);
  // Sends `mail` (SendMail with `timeout_seconds`); with Mail_Sender set, as that address
  // (envelope and From) with the mail's own sender as Reply-To. The mail's MailFrom and ReplyTo
  // are the same afterwards, whatever happened.
  bool SendAsSite(const TGatewayRequest& request, TSmtpSendMail& mail, int timeout_seconds);

  // ---- Results file, logs, reference numbers -------------------------------------------------
  void ApplyAutoResultsName(TGatewayRequest& request);
  void WriteResultsFile(TGatewayRequest& request);
  void WriteEntryLog(const TGatewayRequest& request);
  std::string NextReferenceNumber(TGatewayRequest& request, const std::string& name);
  // The request's reference numbers, created on first use.
  TRefNumbers& RequestRefNumbers(TGatewayRequest& request);
  // The request's store of shared state (store/gateway_store.h), created on first use: the
  // database of brevix.ini's Database when set, else the gateway's files.
  TGatewayStore& RequestStore(TGatewayRequest& request);
  // Answers a submission whose mail an ended request server had sent already (`detail`: what it
  // recorded, handover_journal.h): the same reference number and the answer it would have given,
  // nothing recorded, counted or sent again.
  void AnswerAlreadySent(TGatewayRequest& request, const std::string& detail);

  // ---- Answer pages ---------------------------------------------------------------------------
  // The bodies of the built-in pages and the entries of a page file, for `request` (the answers
  // bind them to it).
  void HttpMaster1HtmlBody(const TGatewayRequest& request);
  void httpnoresponsepageHtmlBody(const TGatewayRequest& request);
  void hfile1HttpEntry(TGatewayRequest& request, const std::string& entry_name, bool& handled);

 private:
  // Adds the upload and the attached file to the main mail's attachments.
  void AddAttachments(TGatewayRequest& request);
  // The page rule: a redirect for an "http:" or "https:" address, else the page file, else false
  // (use the fallback).
  bool AnswerWithPage(TGatewayRequest& request, const std::string& setting,
                      std::string* resolved_path = nullptr);
  // The answer of each outcome: a JSON answer when the request asked for one (json_answer.h),
  // else the outcome's page by the page rule, else its built-in page.
  // Fields missing: Info_Missing_Page / hmemoreq; JSON 422 with MissingFields.
  void AnswerMissing(TGatewayRequest& request);
  // Mail sent (or a bot answered as if): Response_Page / httpnoresponsepage, the missing page
  // logged when `log_missing_page`; JSON 200 with the number the request drew.
  void AnswerSent(TGatewayRequest& request, bool log_missing_page);
  // Mail not sent: Error_Page / HttpMaster1; JSON 403 when a guard refused it (Refused,
  // MailRefused), else 502, with LastMailError.
  void AnswerNotSent(TGatewayRequest& request);
  // An exception ended the request: HttpMaster1; JSON 500 without details.
  void AnswerException(TGatewayRequest& request);
  // The database could not be used (`reason`: libpq's words, logged): before the mail went, the
  // answer replaces whatever was written, with status 503 and kStoreUnavailable (Error_Page /
  // HttpMaster1, or JSON {"status":"unavailable"}); after it went, the submission is answered as
  // sent, without a reference number.
  void AnswerStoreUnavailable(TGatewayRequest& request, const std::string& reason);
  // Deletes the attached results file of this request after a successful send.
  void DeleteResultsAttachment(const TGatewayRequest& request);
  // Ends a request that will not keep its reference number, and the automatic results file it
  // reserved without writing.
  void DropUnusedReservations(TGatewayRequest& request, bool keep_ref_numbers);

  // ---- Submission limits (guards/submission_limits.h) --------------------------------------
  // The limits of `request`: its guard settings, store, client and the time now.
  TSubmissionLimits Limits(TGatewayRequest& request);
  // True when the honeypot field arrived filled; marks the request refused and logs it.
  bool HoneypotFilled(TGatewayRequest& request);
  // Counts this submission against Max_Per_Hour for the client address. False when it is over
  // the limit: the request is then refused, LastMailError is kTooManySubmissions, and it is logged.
  bool SubmissionAllowed(TGatewayRequest& request);
  // False when the post comes from an origin that Allowed_Origins does not list (cross_origin.h):
  // the request is then refused, LastMailError is kOriginNotAllowed, a page answer's status is
  // 403, and the origin is logged.
  bool PostFromAllowedOrigin(TGatewayRequest& request);
  // False, with the request refused and logged, when the form came by another method than POST
  // and brevix.ini's Allowed_Methods does not let GET mail.
  bool SentByAllowedMethod(TGatewayRequest& request);
  // Both refusals above: the request is refused with 403, `error` its reason, and one log line
  // names `error` and the offending `value`. Returns false.
  bool RefuseForbidden(TGatewayRequest& request, const char* error, const std::string& value);
  // True when a receipt may go to `receipt_to`: exactly one well-formed address, and
  // Max_Receipts_Per_Hour not reached for it or for the client address (one receipt is then
  // counted for both). A refusal is logged.
  bool ReceiptAllowed(TGatewayRequest& request, const std::string& receipt_to);

  // ---- Proof of work (guards/pow_guard.h) --------------------------------------------------
  // True for "GET brevix.cgi?pow=challenge": the request asks for a challenge, not a send.
  bool IsPowChallengeRequest() const;
  // Answers a new challenge signed with PoW_Key as JSON (protocol 2, or 1 for "&protocol=1"),
  // never cached; 404 when PoW_Key is empty.
  void AnswerPowChallenge(TGatewayRequest& request);
  // True when PoW_Key is empty, or the PoW_Field solution is good and used for the first time
  // (then recorded as used). Otherwise the request is refused with kPowFailed (JSON error
  // "pow", a page answer's status 403) and one log line names the reason.
  bool PowSolved(TGatewayRequest& request);
  // True for the field that carries the solution while the guard is on: machinery, not the
  // visitor's words, so the automatic message and results layouts leave it out.
  bool IsPowField(const TGatewayRequest& request, const std::string& name) const;
};
