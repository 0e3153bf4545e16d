// The request driver: one form submission in a fixed order, ending in exactly one answer page.

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>

#include "engine/adapters/handover_journal.h"
#include "engine/general_http_engine.h"
#include "engine/http_engine.h"
#include "engine/http_master.h"
#include "engine/json_form_decoder.h"
#include "engine/memo_filter.h"
#include "engine/request_context.h"
#include "gateway/json_answer.h"
#include "gateway/request_guards.h"
#include "gateway/resolve_path.h"
#include "gateway/send_mail_form.h"
#include "mail/smtp_send_mail.h"
#include "platform/file_system.h"
#include "platform/module_path.h"

namespace fs = std::filesystem;

namespace {

// What a later run of this request needs to give the same answer: the key and the count of the
// reference number it drew, one a line (empty without a number).
std::string DrawnNumberDetail(const TGatewayRequest& request) {
  if (!request.RefNumbers || request.RefNumbers->DrawnCount().empty()) return std::string();
  return request.RefNumbers->DrawnKey() + "\n" + request.RefNumbers->DrawnCount();
}

// A request's own sender: the form's design-time settings and header template, with message data
// that belongs to this request alone, and `body_entry` as its entry handler.
std::unique_ptr<TSmtpSendMail> CopySender(const TSmtpSendMail& design,
                                          std::function<void(const std::string&)> body_entry) {
  auto sender = std::make_unique<TSmtpSendMail>();
  sender->RemoteHost = design.RemoteHost;
  sender->RemotePort = design.RemotePort;
  sender->SetMailHeader(design.MailHeader);
  sender->SetMailBody(design.MailBody);
  sender->SetAttachments(design.Attachments);
  sender->MailFrom = design.MailFrom;
  sender->MailTo = design.MailTo;
  sender->MailCC = design.MailCC;
  sender->MailBCC = design.MailBCC;
  sender->MailSubject = design.MailSubject;
  sender->ReplyTo = design.ReplyTo;
  sender->OnBodyEntry = std::move(body_entry);
  return sender;
}

// The client's file name as the display name of an attachment line: "<" and ">" would move the
// path the sender reads, and quotes or line breaks would leave the part header.
std::string DisplayName(const std::string& client_name) {
  std::string out;
  for (char c : client_name) {
    if (c == '<' || c == '>' || c == '"' || static_cast<unsigned char>(c) < 0x20) continue;
    out += c;
  }
  return out;
}

// True when `value` names an upload file that this request's decoder created.
bool IsRequestUpload(const std::string& value) {
  const TStringList* temp_files = RequestContext().TempFiles.get();
  if (temp_files == nullptr) return false;
  const std::string wanted = CanonicalPath(value);
  for (const std::string& file : *temp_files) {
    if (file == value || CanonicalPath(file) == wanted) return true;
  }
  return false;
}

}  // namespace

void TForm1::AddAttachments(TGatewayRequest& request) {
  const TBXOptions& options = *request.Options;
  TStringList& attachments = request.SmtpSendMail1->Attachments;

  const std::string upload = HttpFormVar("FILE_FILENAME", "");
  if (!upload.empty()) {
    if (IsRequestUpload(upload)) {
      attachments.Add(DisplayName(HttpFormVar("file", "")) + "<" + upload + ">");
    } else {
      LogError(request, "Brevix BX Reports: Refused file name " + upload);
    }
  }

  const std::string from_form = HttpFormVar("attached_file", "");
  // No file named is no file attached (an empty name resolves to the program's folder).
  std::string path = options.Attached_File.empty() ? "" : ResolvePath(options.Attached_File);
  if (!from_form.empty()) {
    // This request's own automatic results file (through "%results_file%") is the one file of
    // the gateway that a form may attach.
    const bool own_results = from_form == request.AutoResultsName;
    if (own_results || FileGuard(request).MayRead(from_form)) {
      path = ResolvePath(from_form);
    } else {
      LogError(request, "Brevix BX Reports: Refused file name " + from_form);
    }
  }
  if (!path.empty() && IsRegularFile(path)) attachments.Add(path);
}

void TForm1::DeleteResultsAttachment(const TGatewayRequest& request) {
  // Only the results file that this request wrote goes: a site's own attachment (a brochure)
  // and any file a visitor names must survive.
  if (request.WrittenResultsPath.empty()) return;
  for (const std::string& line : request.SmtpSendMail1->Attachments) {
    if (line == request.WrittenResultsPath) RemoveFile(line);
  }
}

void TForm1::DropUnusedReservations(TGatewayRequest& request, bool keep_ref_numbers) {
  if (!keep_ref_numbers && request.RefNumbers) {
    try {
      request.RefNumbers->GiveBack();
    } catch (const TStoreUnavailable& error) {
      // The number stays drawn: a gap, never a number twice.
      LogError(request, "Brevix BX Reports: Database unavailable, reference number kept: " +
                            error.Message());
    }
  }
  if (!request.AutoResultsPath.empty() && request.WrittenResultsPath != request.AutoResultsPath) {
    std::error_code error;
    if (fs::file_size(request.AutoResultsPath, error) == 0 && !error) {
      fs::remove(request.AutoResultsPath, error);
    }
  }
}

void TForm1::AnswerAlreadySent(TGatewayRequest& request, const std::string& detail) {
  LogError(request,
           "Brevix BX Reports: The request server ended after this submission's mail was sent; "
           "answered without sending it again");
  const size_t newline = detail.find('\n');
  if (newline != std::string::npos) {
    RequestRefNumbers(request).Resume(std::string_view(detail).substr(0, newline),
                                      detail.substr(newline + 1));
  }
  request.MailSent = true;
  AnswerSent(request, true);
}

void TForm1::GeneralHttpEngine1ExecRequest(THttpEngine* /*sender*/) {
  // A preflight was answered before its input was read (cross_origin.h): it runs no form.
  if (IsPreflightRequest()) return;
  TGatewayRequest request;
  // A script that posts JSON reads JSON back, whatever its Accept header says.
  request.Json = RequestPrefersJson(HttpServerVar("HTTP_ACCEPT"), HttpFormVar("_format", "")) ||
                 IsJsonContentType(HttpServerVar("CONTENT_TYPE"));
  request.SmtpSendMail1 = CopySender(*SmtpSendMail1, [this, &request](const std::string& name) {
    SmtpSendMail1BodyEntry(request, name);
  });
  request.SendMailReceipt = CopySender(*SendMailReceipt, [this, &request](const std::string& name) {
    SendMailReceiptBodyEntry(request, name);
  });
  bool keep_ref_numbers = false;
  try {
    try {
      LoadOptions(request);
      // A post from a page the owner never listed, or a form that came by GET (an image on any
      // page makes a visiting browser send one), is refused before any of its fields is used.
      // A challenge for the proof-of-work widget is answered before anything of a form is used.
      const bool challenge = IsPowChallengeRequest();
      const bool source_allowed =
          !challenge && PostFromAllowedOrigin(request) && SentByAllowedMethod(request);
      if (source_allowed) {
        ResolveSettings(request);
        ApplyAutoResultsName(request);
        LoadMessageText(request);
        CheckRequiredFields(request);
      }
      const TBXOptions& options = *request.Options;
      if (challenge) {
        AnswerPowChallenge(request);
      } else if (!source_allowed) {
        AnswerNotSent(request);
      } else if (!request.FieldsComplete) {
        AnswerMissing(request);
      } else if (const std::optional<std::string> earlier = MailAcceptedEarlier()) {
        AnswerAlreadySent(request, *earlier);
        keep_ref_numbers = true;
      } else if (HoneypotFilled(request)) {
        // A bot is answered as if its mail had gone, so the answer tells it nothing.
        request.MailSent = true;
        AnswerSent(request, false);
      } else if (!PowSolved(request)) {
        // Before the hourly count: a bot without the work costs nothing, not even a count.
        AnswerNotSent(request);
      } else if (RequestStore(request).Open(); !SubmissionAllowed(request)) {
        // Refused before the results file, the reference numbers and the send: it costs nothing.
        AnswerNotSent(request);
      } else {
        if (!options.Results_File.empty()) WriteResultsFile(request);
        AddAttachments(request);
        // A refused recipient list ends like a failed send, without a word to the server.
        const bool recipients_allowed = MainMailRecipientsAllowed(request);
        if (recipients_allowed) {
          try {
            // From the mail server's acceptance on, the submission must never be sent again,
            // whatever ends this run.
            request.SmtpSendMail1->OnMessageAccepted = [&request] {
              RecordMailAccepted(DrawnNumberDetail(request));
            };
            request.MailSent = SendAsSite(request, *request.SmtpSendMail1, 60);
          } catch (const TStoreUnavailable&) {
            throw;  // a number drawn for the body: the mail's data was never ended
          } catch (const std::exception& error) {
            LogError(request,
                     std::string("Brevix BX Reports: Failed Send Exception: ") + error.what());
            request.MailSent = false;
          }
        }
        if (request.MailSent) {
          if (!options.Entry_Log.empty()) WriteEntryLog(request);
          if (!options.Receipt_Text.empty()) SendReceipt(request);
          if (options.Delete_Results_File) DeleteResultsAttachment(request);
          AnswerSent(request, true);
          keep_ref_numbers = true;
        } else {
          if (recipients_allowed) {
            request.LastMailError = request.SmtpSendMail1->GetLastErrorText();
            LogError(request, request.SmtpSendMail1->RemoteHost +
                                  " reported this error:  " + request.LastMailError);
          }
          AnswerNotSent(request);
        }
      }
    } catch (const TStoreUnavailable& error) {
      keep_ref_numbers = request.MailSent;
      AnswerStoreUnavailable(request, error.Message());
    } catch (const std::exception& error) {
      // Whatever was written so far stays ahead of the error page.
      LogError(request, std::string("Brevix BX Reports: ") + error.what());
      keep_ref_numbers = true;
      AnswerException(request);
    }
  } catch (...) {
    DropUnusedReservations(request, keep_ref_numbers);
    throw;
  }
  DropUnusedReservations(request, keep_ref_numbers);
}
