#include "gateway/send_mail_form.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>

#include "common/date_time_format.h"
#include "common/guard_settings.h"
#include "common/options.h"
#include "common/profile_file.h"
#include "common/text_compare.h"
#include "engine/adapters/cgi_startup.h"
#include "engine/engine_types.h"
#include "engine/file_filter.h"
#include "engine/general_http_engine.h"
#include "engine/http_engine.h"
#include "engine/http_log.h"
#include "engine/http_master.h"
#include "engine/json_form_decoder.h"
#include "engine/memo_filter.h"
#include "engine/without_folders.h"
#include "gateway/gateway_files.h"
#include "gateway/guards/recipient_guard.h"
#include "gateway/json_answer.h"
#include "gateway/request_guards.h"
#include "gateway/resolve_path.h"
#include "mail/address_list.h"
#include "mail/greeting_name.h"
#include "mail/smtp_kept_connection.h"
#include "mail/smtp_send_mail.h"
#include "platform/file_lock.h"
#include "platform/module_path.h"

namespace {

// The text of the built-in missing-information page, sent as it stands.
const char* const kMissingInformationPage[] = {
    "<HTML>",
    "<HTML>",
    "<HEAD>",
    "<Title>Brevix BX - Missing Information/Title>",
    "</HEAD>",
    "<BODY BGCOLOR=\"#CCEECC\">",
    "You did not complete all of the required information! <br>",
    "Please click the Back button on your browser and try again.<br>",
    "Thank you!<P>",
    "",
    "",
    "</BODY>",
    "</HTML>",
    "",
};

TStringList Lines(std::initializer_list<const char*> lines) {
  TStringList list;
  for (const char* line : lines) list.Add(line);
  return list;
}

// The largest request body the site owner accepts: Max_Request_Size of the settings file beside
// the program (100000 bytes when unset). A body announcing more is refused before a byte of it
// is read. The engine's limit is off at 0, and a body is never unlimited: 0 gives the default.
// Read for each request, so that a resident server follows edits of the file.
int BodyLimit(long long max_request_size) {
  if (max_request_size <= 0) return static_cast<int>(TGuardSettings{}.MaxRequestSize);
  return static_cast<int>(std::min<long long>(max_request_size, INT_MAX));
}

TGuardSettings ConfiguredGuards() {
  TGuardSettings guards;
  guards.Load(ProgramDir() + "brevix.ini");
  return guards;
}

// The settings file and guards PrepareRequest read for a request, kept in the request's own
// state for LoadOptions: one request reads and indexes brevix.ini and parses the guards once,
// not once per stage.
struct PreparedSettings {
  std::optional<TProfileFile> ini;
  TGuardSettings guards;
};

// Before the input is read: the body limit, and the cross-origin headers (a preflight is
// answered by them alone).
void PrepareRequest() {
  auto prepared = std::make_shared<PreparedSettings>();
  prepared->ini.emplace(ProgramDir() + "brevix.ini");
  prepared->guards.Load(*prepared->ini);
  RequestContext().ReadLimit = BodyLimit(prepared->guards.MaxRequestSize);
  AddCrossOriginHeaders(prepared->guards);
  RequestContext().OwnerState = std::move(prepared);
}

// What PrepareRequest read for this request when it read `file_name`; else nothing.
std::optional<TProfileFile> TakePreparedSettings(const std::string& file_name,
                                                 TGuardSettings& guards) {
  const auto prepared =
      std::static_pointer_cast<PreparedSettings>(std::move(RequestContext().OwnerState));
  RequestContext().OwnerState.reset();
  if (!prepared || !prepared->ini || prepared->ini->FileName() != file_name) return std::nullopt;
  guards = std::move(prepared->guards);
  return std::move(prepared->ini);
}

// An error of the engine itself (a body over Max_Request_Size, a JSON body the form cannot take,
// a body that did not arrive in time or arrived cut short, an upload that could not be decoded)
// ends the request before the form runs. A body over the limit is named with its size, the
// limit and the setting that raises it, on the page and in JSON alike. A script that asked for
// JSON, or that posted JSON, gets JSON, with the cross-origin headers its page needs to read it:
// 413 for the body limit, 400 for a refused JSON body or a cut body (the request itself is
// broken), 500 otherwise. Every other request gets the engine's error page as before. Only the
// request's headers can ask here: the fields may never have been decoded.
void AnswerRequestFailure(THttpEngine* engine, const Exception& failure) {
  const bool over_limit = failure.Message().rfind(kBodyOverLimitMessage, 0) == 0;
  const Exception error(over_limit ? failure.Message() + " (Max_Request_Size)" : failure.Message());
  if (!RequestPrefersJson(HttpServerVar("HTTP_ACCEPT"), "") &&
      !IsJsonContentType(HttpServerVar("CONTENT_TYPE"))) {
    engine->HandleRequestError(error);
    return;
  }
  WriteHttpLog("Unhandled Exception: " + error.Message());
  engine->ClearResponse();
  AddCrossOriginHeaders(ConfiguredGuards());
  const bool client_fault = error.Message().rfind(kBodyIncompleteMessage, 0) == 0 ||
                            error.Message().rfind(kJsonBodyRefusedMessage, 0) == 0;
  std::string body = over_limit ? "{\"status\":\"refused\"" : "{\"status\":\"error\"";
  body += ",\"error\":";
  body += JsonString(WithoutFolders(error.Message()));
  body += '}';
  WriteJsonAnswer(over_limit ? 413 : client_fault ? 400 : 500, body);
}

// How the site runs the gateway: CGI_Mode of the settings file beside the program. "Server"
// keeps a resident request server that serves one request after the other, "ServerThread" one
// that serves each on its own thread; anything else (and no setting) is one process per request.
TCGIMode ConfiguredCGIMode(const TProfileFile& ini) {
  const std::string mode = UpperCase(Trim(ini.ReadString(kOptionsSection, "CGI_Mode", "")));
  if (mode == "SERVER") return ServerMode;
  if (mode == "SERVERTHREAD") return ServerThreadMode;
  return NormalMode;
}

}  // namespace

TForm1::TForm1() {
  GeneralHttpEngine1 = std::make_unique<TGeneralHttpEngine>();
  TGeneralHttpEngine& engine = *GeneralHttpEngine1;
  engine.AllowedMethods().SetGet(true);
  engine.AllowedMethods().SetPut(true);
  engine.AllowedMethods().SetPost(true);
  engine.SetAutoContentType("text/html");
  {
    // Each request reads its own limit (PrepareRequest); this one is the process's, for a
    // request handed on before it is served here.
    const TProfileFile ini(ProgramDir() + "brevix.ini");
    engine.SetAutoReadLimit(BodyLimit(TGuardSettings::LoadMaxRequestSize(ini)));
    engine.SetCGIMode(ConfiguredCGIMode(ini));
  }
  engine.SetDebugMode(NoDebug);
  engine.SetNoCache(true);
  engine.SetTempDir("Temp");
  engine.SetVersion("4.5.3a");
  engine.SetBufferedOutput(true);
  engine.SetCGIAutoTerminate(true);
  engine.CGISession().SetSessionName("DefaultSession");
  engine.SetSessionName("DefaultSession");
  engine.CGISession().SetSessionType(sPrivateCookie);
  engine.CGISession().SetFileBased(true);
  engine.CGISession().SetVisibility(AllApplications);
  engine.CGISession().SetEncryptionKey("3C91F0D27A5B6E84C0D9A1B2E7F46385");
  engine.SetOnPrepareRequest([](THttpEngine*) { PrepareRequest(); });
  engine.SetOnExecRequest([this](THttpEngine* sender) { GeneralHttpEngine1ExecRequest(sender); });
  engine.SetOnRequestError(AnswerRequestFailure);

  // Only a resident process keeps its mail server connection between submissions; a CGI process
  // ends after one, and its connection with it.
  AllowKeptSmtpConnections(RunsAsLibrary() || engine.ServesFastCGI() || IsServerProcess());

  SmtpSendMail1 = std::make_unique<TSmtpSendMail>();
  SmtpSendMail1->RemoteHost = "localhost";
  SmtpSendMail1->RemotePort = "25";
  SmtpSendMail1->SetMailHeader(
      Lines({"From: %MAILFROM%", "To: %MAILTO%", "CC: %MAILCC%", "Subject: %SUBJECT% ",
             "Mime-Version: 1.0", "Content-Type: text/plain; charset=iso-8859-1",
             "Content-Transfer-Encoding: quoted-printable"}));

  SendMailReceipt = std::make_unique<TSmtpSendMail>();
  SendMailReceipt->SetMailHeader(
      Lines({"From: %MAILFROM%", "To: %MAILTO%", "CC: %MAILCC%", "Subject: %SUBJECT% ",
             "Mime-Version: 1.0", "Content-Type: text/plain; charset=iso-8859-1",
             "Content-Transfer-Encoding: quoted-printable"}));

  // The senders' and the pages' handlers belong to a request: the request driver and the answers
  // bind them to the request they serve (CopySender, AnswerWithPage, RunPage).
  hfile1 = std::make_unique<THttpFileFilter>();

  HttpMaster1 = std::make_unique<THttpMaster>();
  HttpMaster1->Title = "Error!";
  HttpMaster1->RefreshInterval = 0;

  httpnoresponsepage = std::make_unique<THttpMaster>();
  httpnoresponsepage->Colors.BackGround = clFuchsia;
  httpnoresponsepage->Title = "Response Page Missing";
  httpnoresponsepage->RefreshInterval = 0;

  hmemoreq = std::make_unique<THttpMemoFilter>();
  for (const char* line : kMissingInformationPage) hmemoreq->Text().Add(line);

  engine.Loaded();
}

TForm1::~TForm1() = default;

void TForm1::LoadOptions(TGatewayRequest& request) {
  request.Options = std::make_unique<TBXOptions>();
  // One read of the file serves the options, the guards and the mail security.
  std::optional<TProfileFile> prepared =
      TakePreparedSettings(request.Options->IniFileName, request.Guards);
  const bool guards_read = prepared.has_value();
  const TProfileFile ini =
      prepared ? std::move(*prepared) : TProfileFile(request.Options->IniFileName);
  request.Options->Load(ini);
  // Read as empty, the file would only show as missing fields: say why it was not read.
  if (!ini.UnreadableReason().empty())
    LogError(request, "Cannot read brevix.ini: " + ini.UnreadableReason());
  request.Configured = std::make_unique<const TBXOptions>(*request.Options);
  if (!guards_read) request.Guards.Load(ini);
  // The owner's alone: no form field names a database.
  request.Database = Trim(ini.ReadString(kOptionsSection, "Database", ""));
  // TLS and the login come from the ini alone (no form field names them) and serve the main
  // mail and the receipt alike.
  request.SmtpSendMail1->Security.Load(ini);
  request.SendMailReceipt->Security = request.SmtpSendMail1->Security;
  // Providers let a login send only from its own address: without a Mail_Sender, a login that
  // is an address sends as itself; one that is not cannot, and the owner is told what to set.
  const std::string login = Trim(request.SmtpSendMail1->Security.User);
  if (request.Guards.MailSender.empty() && !login.empty()) {
    if (!SingleMailAddress(login).empty()) {
      request.Guards.MailSender = login;
    } else {
      LogError(
          request,
          "Brevix BX Reports: SMTP_User is not an address: set Mail_Sender to the address your "
          "provider lets this login send from");
    }
  }
  // The greeting name and the Message-IDs' domain: the owner's settings alone, never a field.
  const std::string helo_name =
      GreetingName(ini.ReadString(kOptionsSection, "SMTP_Helo_Name", ""), request.Guards.MailSender,
                   request.Configured->Mail_From);
  request.SmtpSendMail1->HeloName = helo_name;
  request.SendMailReceipt->HeloName = helo_name;
}

std::string TForm1::LogDateTime(const TGatewayRequest& request) const {
  const TBXOptions* options = request.Options.get();
  const std::string pattern =
      options ? options->Date_Format + " " + options->Time_Format : std::string("mm-dd-yy t");
  return FormatDateTimeNow(pattern);
}

void TForm1::LogError(const TGatewayRequest& request, const std::string& message) const {
  try {
    const std::string line =
        OneLine(HttpServerVar("http referer") + " " + LogDateTime(request) + " " + message) +
        "\r\n";
    AppendToFileLocked(ResolvePath(kErrorLogFile), line);
  } catch (...) {
    // The error log is best effort: a line that cannot be written is dropped.
  }
}

std::function<void(const std::string&)> TForm1::Logger(const TGatewayRequest& request) const {
  return [this, &request](const std::string& line) { LogError(request, line); };
}
