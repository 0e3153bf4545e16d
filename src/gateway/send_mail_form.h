#pragma once

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

// Makes `request` the calling thread's current request for its lifetime (the driver's scope).
class TGatewayRequestScope {
 public:
  explicit TGatewayRequestScope(TGatewayRequest& request);
  ~TGatewayRequestScope();
  TGatewayRequestScope(const TGatewayRequestScope&) = delete;
  TGatewayRequestScope& operator=(const TGatewayRequestScope&) = delete;

 private:
  TGatewayRequest* previous_;
};

// The gateway's one form. It is never shown: it owns the engine component, the two mail senders
// and the answer-page components, and its handlers and methods are the whole of the gateway's
// request logic.
//
// Constructing the form sets the components' stored settings; it serves nothing. The program's main
// then runs the engine's adapter (GeneralHttpEngine1->RunAdapter()), which serves one request, or
// many as the request server.
//
// The components hold design-time settings only. Each request works on a TGatewayRequest that
// GeneralHttpEngine1ExecRequest creates and drops; the methods below act on the calling thread's
// current request, so one form can serve requests on several threads at once. Outside a request
// the request methods must not be called.
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
  // The calling thread's current request.
  TGatewayRequest& Request() const;
  // Creates the request's Options, its untouched Configured copy and its Guards from
  // "brevix.ini", and gives both senders the ini's SMTP_Security, SMTP_User, SMTP_Password
  // and SMTP_Verify, and the greeting name of SMTP_Helo_Name, Mail_Sender and Mail_From
  // (mail/greeting_name.h). Without Mail_Sender, an SMTP_User that is one address becomes the
  // request's Guards.MailSender; one that is not is logged once, naming Mail_Sender.
  void LoadOptions();
  // Appends "<referer> <date> <time> <message>" to "brevix-error.txt"; a line that cannot be
  // written is dropped. Never throws.
  void LogError(const std::string& message);
  // The current time in the request's Date_Format + " " + Time_Format.
  std::string LogDateTime() const;

  // ---- Settings -------------------------------------------------------------------------------
  // Form fields over "brevix.ini" into SmtpSendMail1, Options and EmptyMark.
  void ResolveSettings();
  // Sets FieldsComplete; logs the first missing field.
  void CheckRequiredFields();
  // A file name that the form may override, as TSettingsResolution::FileName rules.
  std::string FormFileName(const std::string& field, const std::string& configured);
  // The guard of the file names a form may give, for the current request (form_file_guard.h).
  TFormFileGuard FileGuard() const;
  // The settings resolution of the current request, with `files` as its file guard.
  TSettingsResolution SettingsResolution(const TFormFileGuard& files);
  // Checks the current request's main mail with CheckMainMailRecipients (recipient_guard.h);
  // a refusal is logged, sets LastMailError and MailRefused, and gives false.
  bool MainMailRecipientsAllowed();

  // ---- Message composition ------------------------------------------------------------------
  void LoadMessageText();
  // The value of a macro of a mail body or page file.
  std::string MacroValue(const std::string& name);
  void SmtpSendMail1BodyEntry(const std::string& entry_name);
  void SendMailReceiptBodyEntry(const std::string& entry_name);
  void SendReceipt();
  // Sends `mail` (SendMail with `timeout_seconds`); with Mail_Sender set, as that address
  // (envelope and From) with the mail's own sender as Reply-To. The mail's MailFrom and ReplyTo
  // are the same afterwards, whatever happened.
  bool SendAsSite(TSmtpSendMail& mail, int timeout_seconds);

  // ---- Results file, logs, reference numbers -------------------------------------------------
  void ApplyAutoResultsName();
  void WriteResultsFile();
  void WriteEntryLog();
  std::string NextReferenceNumber(const std::string& name);
  // The request's reference numbers, created on first use.
  TRefNumbers& RequestRefNumbers();
  // The request's store of shared state (store/gateway_store.h), created on first use: the
  // database of brevix.ini's Database when set, else the gateway's files.
  TGatewayStore& RequestStore();
  // Answers a submission whose mail an ended request server had sent already (`detail`: what it
  // recorded, handover_journal.h): the same reference number and the answer it would have given,
  // nothing recorded, counted or sent again.
  void AnswerAlreadySent(const std::string& detail);

  // ---- Answer pages ---------------------------------------------------------------------------
  void HttpMaster1HtmlBody();
  void httpnoresponsepageHtmlBody();
  void hfile1HttpEntry(const std::string& entry_name, bool& handled);

 private:
  // Adds the upload and the attached file to the main mail's attachments.
  void AddAttachments();
  // The page rule: a redirect for an "http:" or "https:" address, else the page file, else false
  // (use the fallback).
  bool AnswerWithPage(const std::string& setting, std::string* resolved_path = nullptr);
  // The answer of each outcome: a JSON answer when the request asked for one (json_answer.h),
  // else the outcome's page by the page rule, else its built-in page.
  // Fields missing: Info_Missing_Page / hmemoreq; JSON 422 with MissingFields.
  void AnswerMissing();
  // Mail sent (or a bot answered as if): Response_Page / httpnoresponsepage, the missing page
  // logged when `log_missing_page`; JSON 200 with the number the request drew.
  void AnswerSent(bool log_missing_page);
  // Mail not sent: Error_Page / HttpMaster1; JSON 403 when a guard refused it (Refused,
  // MailRefused), else 502, with LastMailError.
  void AnswerNotSent();
  // An exception ended the request: HttpMaster1; JSON 500 without details.
  void AnswerException();
  // The database could not be used (`reason`: libpq's words, logged): before the mail went, the
  // answer replaces whatever was written, with status 503 and kStoreUnavailable (Error_Page /
  // HttpMaster1, or JSON {"status":"unavailable"}); after it went, the submission is answered as
  // sent, without a reference number.
  void AnswerStoreUnavailable(const std::string& reason);
  // Deletes the attached results file of this request after a successful send.
  void DeleteResultsAttachment();
  // Ends a request that will not keep its reference number, and the automatic results file it
  // reserved without writing.
  void DropUnusedReservations(bool keep_ref_numbers);

  // ---- Submission limits (guards/submission_limits.h) --------------------------------------
  // The limits of the current request: its guard settings, store, client and the time now.
  TSubmissionLimits Limits();
  // True when the honeypot field arrived filled; marks the request refused and logs it.
  bool HoneypotFilled();
  // Counts this submission against Max_Per_Hour for the client address. False when it is over
  // the limit: the request is then refused, LastMailError is kTooManySubmissions, and it is logged.
  bool SubmissionAllowed();
  // False when the post comes from an origin that Allowed_Origins does not list (cross_origin.h):
  // the request is then refused, LastMailError is kOriginNotAllowed, a page answer's status is
  // 403, and the origin is logged.
  bool PostFromAllowedOrigin();
  // False, with the request refused and logged, when the form came by another method than POST
  // and brevix.ini's Allowed_Methods does not let GET mail.
  bool SentByAllowedMethod();
  // True when a receipt may go to `receipt_to`: exactly one well-formed address, and
  // Max_Receipts_Per_Hour not reached for it or for the client address (one receipt is then
  // counted for both). A refusal is logged.
  bool ReceiptAllowed(const std::string& receipt_to);

  // ---- Proof of work (pow_guard.cpp, proof_of_work.h) --------------------------------------
  // True for "GET brevix.cgi?pow=challenge": the request asks for a challenge, not a send.
  bool IsPowChallengeRequest() const;
  // Answers a new challenge signed with PoW_Key as JSON (protocol 2, or 1 for "&protocol=1"),
  // never cached; 404 when PoW_Key is empty.
  void AnswerPowChallenge();
  // True when PoW_Key is empty, or the PoW_Field solution is good and used for the first time
  // (then recorded as used). Otherwise the request is refused with kPowFailed (JSON error
  // "pow", a page answer's status 403) and one log line names the reason.
  bool PowSolved();
  // True for the field that carries the solution while the guard is on: machinery, not the
  // visitor's words, so the automatic message and results layouts leave it out.
  bool IsPowField(const std::string& name) const;
};

// The error text of a submission without a good proof-of-work solution.
inline constexpr const char* kPowFailed = "The anti-spam check failed, please try again";
