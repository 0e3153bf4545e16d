#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/guard_settings.h"
#include "common/options.h"
#include "gateway/ref_numbers.h"
#include "gateway/store/gateway_store.h"
#include "mail/smtp_send_mail.h"

// Everything one form submission owns while the gateway serves it. The request driver creates
// it at the start of GeneralHttpEngine1ExecRequest and drops it when the handler returns, so no
// request ever sees another's settings, flags, mail data or reference numbers, even when one form
// serves several requests at once on several threads.
struct TGatewayRequest {
  TGatewayRequest() = default;
  TGatewayRequest(const TGatewayRequest&) = delete;
  TGatewayRequest& operator=(const TGatewayRequest&) = delete;

  // "brevix.ini" overwritten field by field by the form's hidden fields.
  std::unique_ptr<TBXOptions> Options;
  // "brevix.ini" as the site owner wrote it: every guard compares against these names, never
  // against the ones the same form just overrode.
  std::unique_ptr<const TBXOptions> Configured;
  // The site owner's guards against hostile forms.
  TGuardSettings Guards;
  // The request asked for a JSON answer (json_answer.h) instead of an answer page.
  bool Json = false;
  // Recipient, mail server, sender and every required field are present.
  bool FieldsComplete = false;
  // What was missing when FieldsComplete is false, as form field names ("mail_to",
  // "smtp_server", "mail_from", each required field left empty), each once, in that order.
  std::vector<std::string> MissingFields;
  // The main mail was accepted by the server.
  bool MailSent = false;
  // A guard refused the submission (honeypot, Max_Per_Hour): nothing may be sent, recorded or
  // numbered, not even by the answer page's macros.
  bool Refused = false;
  // A guard kept the main mail from the server (a recipient not allowed, too many recipients):
  // LastMailError says why, and no server reported anything.
  bool MailRefused = false;
  // A short code for a refusal a script tells apart ("pow": the anti-spam check); empty for
  // the others. A JSON answer then gives it as "error" and LastMailError as "message".
  std::string RefusalCode;
  // The last error text of a sender in this request.
  std::string LastMailError;
  // What stands in for an empty field: "**" or one blank.
  std::string EmptyMark = "**";
  // The response page's file name after ResolvePath.
  std::string ResponsePagePath;
  // brevix.ini's Database (a libpq connection string): empty keeps the shared state in files.
  std::string Database;
  // Where the reference numbers, the results records and the hourly counts are kept; created on
  // first use (TForm1::RequestStore). Declared before RefNumbers, which uses it.
  std::unique_ptr<TGatewayStore> Store;
  // The reference-number counters; created on first use.
  std::unique_ptr<TRefNumbers> RefNumbers;

  // This request's copies of the form's two senders: addresses, body and attachments belong to
  // the request; host, port, header template and entry handler come from the form.
  std::unique_ptr<TSmtpSendMail> SmtpSendMail1;
  std::unique_ptr<TSmtpSendMail> SendMailReceipt;
  // The HTML header switch was applied: values inserted into that mail are HTML-escaped.
  bool MainMailHtml = false;
  bool ReceiptHtml = false;

  // Results_File as configured, before an automatic name replaced it.
  std::string ConfiguredResultsFile;
  // The automatic results-file name drawn for this request (as a Results_File value) and the
  // file it names, created empty for this request; empty when none.
  std::string AutoResultsName;
  std::string AutoResultsPath;
  bool AutoResultsTaken = false;  // every automatic name drawn was taken: no results file
  // The results file this request appended its record to (resolved); empty when none.
  std::string WrittenResultsPath;
};
