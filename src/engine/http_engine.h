#pragma once

#include <functional>
#include <memory>
#include <string>

#include "common/exception.h"
#include "common/streams.h"
#include "common/string_list.h"
#include "engine/engine_types.h"
#include "engine/request_context.h"
#include "engine/session_properties.h"

// The request and response engine. A server adapter derives from it, supplies the raw input
// stream, the raw output stream and the server variables, and calls ProcessRequest. The engine
// decodes the request into the field table, raises the request events, buffers everything the
// handler writes and at the end emits the status line, the headers and the body through the
// adapter (WriteServerHeader / EndServerHeaders).
//
// All per-request state lives in the calling thread's TRequestContext, so one engine can serve
// requests on several threads. Constructing an engine makes it the calling thread's current
// engine; the process's one watchdog thread starts when a read first has to wait.
//
// Published properties: writing one stores the value and applies the same write to the engine's
// mirror targets: the calling thread's current engine when that is a different engine, or, for
// the dispatching TGeneralHttpEngine, the adapters it created. That is the one way the owner's
// settings reach an adapter. Events are public std::function members; the Set... setters store
// and mirror, plain assignment only stores.
class THttpEngine {
 public:
  THttpEngine();
  virtual ~THttpEngine();
  THttpEngine(const THttpEngine&) = delete;
  THttpEngine& operator=(const THttpEngine&) = delete;

  // Called once the owner has set the properties. The base does nothing.
  virtual void Loaded() {}

  // ---- Published properties --------------------------------------------------------------
  TAllowedMethods& AllowedMethods() { return allowed_methods_; }
  const std::string& AutoContentType() const { return auto_content_type_; }
  void SetAutoContentType(const std::string& value);
  bool AutoReadInput() const { return auto_read_input_; }
  void SetAutoReadInput(bool value);
  // When above 0, the largest accepted CONTENT_LENGTH.
  int AutoReadLimit() const { return auto_read_limit_; }
  void SetAutoReadLimit(int value);
  bool AutoHttpHeader() const { return auto_http_header_; }
  void SetAutoHttpHeader(bool value);
  TCGIMode CGIMode() const { return cgi_mode_; }
  void SetCGIMode(TCGIMode value);
  TDebugMode DebugMode() const { return debug_mode_; }
  void SetDebugMode(TDebugMode value);
  bool NoCache() const { return no_cache_; }
  void SetNoCache(bool value);
  const std::string& TempDir() const { return temp_dir_; }
  void SetTempDir(const std::string& value);
  // Always "4.5.3a"; writes are ignored.
  std::string Version() const { return "4.5.3a"; }
  void SetVersion(const std::string&) {}
  TSessionProperties& CGISession() { return cgi_session_; }
  const std::string& SessionName() const { return cgi_session_.SessionName(); }
  void SetSessionName(const std::string& value);
  // The body is always buffered: reads true, and every write stores true.
  bool BufferedOutput() const { return true; }
  void SetBufferedOutput(bool value);

  // ---- Events ------------------------------------------------------------------------------
  TExecRequestEvent OnExecRequest;
  TFirstExecRequestEvent OnFirstExecRequest;        // before the first request of the process
  TLastExecRequestEvent OnLastExecRequest;          // after the request of a one-request process
  TPrepareRequestEvent OnPrepareRequest;            // before the input is decoded
  TRequestErrorEvent OnRequestError;                // an exception escaped the request
  TRemoveSessionObjectEvent OnRemoveSessionObject;  // stored and copied, never raised
  TUploadPrepareFileEvent OnUploadPrepareFile;      // null: PrepareUploadFile is used

  void SetOnExecRequest(TExecRequestEvent value);
  void SetOnFirstExecRequest(TFirstExecRequestEvent value);
  void SetOnLastExecRequest(TLastExecRequestEvent value);
  void SetOnPrepareRequest(TPrepareRequestEvent value);
  void SetOnRequestError(TRequestErrorEvent value);
  void SetOnRemoveSessionObject(TRemoveSessionObjectEvent value);
  void SetOnUploadPrepareFile(TUploadPrepareFileEvent value);

  // ---- Adapter operations ------------------------------------------------------------------
  // The adapter emits one header line / ends the header block.
  virtual void WriteServerHeader(const std::string& name, const std::string& value) = 0;
  virtual void EndServerHeaders() = 0;
  // Called first in every request; the base does nothing.
  virtual void BeforeRequest() {}
  // Server variables the adapter can look up beyond the list; the base returns "".
  virtual std::string GetOtherServerVariable(const std::string& name);
  // Sends the answer and frees the request's objects; deletes the upload temporary files.
  // Never throws.
  virtual void FinishRequest();
  // Runs the request of a console process; the base does nothing.
  virtual void RunConsoleRequest() {}
  // Ends a CGI process (EndHttpProcess).
  virtual void Terminate();

  // ---- Server variable getters (GetServerVariable of the CGI names) -------------------------
  std::string ServerSoftware();
  std::string GatewayInterface();
  std::string ServerProtocol();
  std::string ServerPort();
  bool ServerPortSecure();  // the value is "1"
  std::string RequestMethod();
  std::string PathInfo();
  std::string PathTranslated();
  std::string ScriptName();
  std::string QueryString();
  std::string RemoteHost();
  std::string RemoteAddr();
  std::string AuthType();
  std::string RemoteUser();
  std::string RemoteIdent();
  std::string ContentType();
  int ContentLength();  // 0 when not a number
  std::string URL();
  std::string UserAgent();
  std::string HttpCookie();
  std::string HttpReferer();
  std::string ExecutablePath();

  // ---- The answer ----------------------------------------------------------------------------
  // Emits the header block (once per request) and the body buffered so far; the body is then
  // empty and later writes form a further part.
  virtual void SendResponse();
  // Empties the queued headers and the buffered body.
  virtual void ClearResponse();
  // Queues one header "name=value" (in queue order).
  virtual void AddHeader(const std::string& name, const std::string& value);
  // Queues Content-Type, Content-Transfer-Encoding and Content-Disposition of a file download.
  virtual void AddAttachmentHeaders(const std::string& content_type, const std::string& file_name);
  // Buffer text or bytes for the body; nothing happens outside a request.
  virtual void Write(const std::string& text);
  virtual void WriteLn(const std::string& text);
  // Copies `stream` from its position to its end.
  virtual void WriteStream(TStream& stream);
  virtual void WriteBuffer(const void* buffer, int count);

  // ---- The request ---------------------------------------------------------------------------
  // Reads up to `count` body bytes into `buffer` in chunks of at most 1032 bytes. While no byte
  // is available it waits (poll on a descriptor stream) under the watchdog, so a client that
  // stops sending ends the process 30 s after its last byte. Returns the number of bytes read
  // (fewer than `count` only when the input ended); -1 without an input stream, or when the
  // input had ended or failed before this call could read a byte.
  virtual int ReadInput(char* buffer, int count);
  // Server variable by normalised name with the alias table (see server_variables.cpp).
  virtual std::string GetServerVariable(const std::string& name);
  // The field's value, or `def` when the field is absent or empty.
  virtual std::string GetFormField(const std::string& name, const std::string& def);
  // A new list (owned by the caller) of the field names in table order.
  virtual std::unique_ptr<TStringList> GetFieldNames();

  // Critical sections: CreateLock hands out a lock that FreeLock frees; null is ignored.
  virtual TLockHandle CreateLock();
  virtual void EnterLock(TLockHandle lock);
  virtual void LeaveLock(TLockHandle lock);
  virtual void FreeLock(TLockHandle lock);

  // Runs one whole request and takes ownership of the streams and the variables list. Request
  // failures (Exception) end in OnRequestError / HandleRequestError, never escape.
  void ProcessRequest(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
                      std::unique_ptr<TStringList> server_variables);
  // Decodes the query string and the body (url-encoded, JSON or multipart) into Fields; an
  // OPTIONS request is left undecoded (nothing of its input is read). Throws Exception with
  // kBodyOverLimitMessage (with the size and the limit) or "Method not allowed (POST|PUT|GET)"
  // before the concerned input is read, with kBodyTimeoutMessage or kBodyIncompleteMessage
  // (ReadBody) while it is read, kJsonBodyRefusedMessage for a JSON body the form cannot take,
  // and the upload decoder's errors.
  void ReadFormInput();
  // Emits and removes every queued header, then ends the header block.
  void SendHeaders();
  // One header line: to the adapter, or as text into the debug page while it is active.
  void WriteHeaderLine(const std::string& name, const std::string& value);
  // Switches the answer to the plain-text debug page (once per request).
  void StartDebugOutput();
  // The log line and the error page of an exception that escaped the request; a CGI engine in
  // NormalMode then sends the page and ends the process. Never throws.
  void HandleRequestError(const Exception& error);
  // The request's field table / server variables (null outside a request). Not owned.
  TStringList* Fields();
  TStringList* ServerVariables();
  // Makes `engine` the calling thread's current engine.
  static void BindThread(THttpEngine* engine);
  // The default upload preparation: a new file <TempDir>/<random>.tmp below the program
  // folder, registered in TempFiles and in the fields <Name>_FILENAME and <Name>_CONTENT_TYPE.
  void PrepareUploadFile(TKestrinFileUpload* sender, TStringList& content_info,
                         TStream*& out_stream, bool& free_out_stream, bool& cancel_upload);

  // Calls `apply` for each engine a property write on this one reaches as well (never this
  // engine itself): the calling thread's current engine when that is another one. Also used by
  // the CGISession and AllowedMethods sub-objects for their own writes.
  virtual void ForEachMirrorTarget(const std::function<void(THttpEngine&)>& apply);

 private:
  // The one reader of the request body, for url-encoded and multipart bodies alike: ReadInput,
  // asked only for bytes the client announced (`count` > 0). An input that ends or fails while
  // they are owed throws Exception(kBodyIncompleteMessage + ": <received> of <length> bytes
  // arrived"), so no adapter lets the front part of a form pass for the whole of it.
  // `received` counts the body bytes read so far.
  int ReadBody(char* buffer, int count, int64_t& received);
  // The whole announced body (ReadBody), collected as it arrives.
  std::string ReadWholeBody();
  void DecodeMultipartBody();
  void AppendDebugTrailer();
  void QueueContentLength();
  void DeleteTempFiles();
  // Deletes this engine's upload files older than an hour from its upload folder: what a
  // process that was killed in the middle of a request left. Run once per process.
  void SweepUploadLeftovers();

  TAllowedMethods allowed_methods_{this};
  TSessionProperties cgi_session_{this};
  std::string auto_content_type_ = "text/html";
  bool auto_read_input_ = true;
  int auto_read_limit_ = -1;
  bool auto_http_header_ = true;
  TCGIMode cgi_mode_ = NormalMode;
  TDebugMode debug_mode_ = NoDebug;
  bool no_cache_ = false;
  std::string temp_dir_ = "Temp";
};

// ---- Global request functions: act on the calling thread's current engine -------------------
// Each does nothing (or returns "" / null) when the thread has no current engine.
THttpEngine* CurrentHttpEngine();
void HttpWrite(const std::string& text);
void HttpWriteLn(const std::string& text);
std::string HttpServerVar(const std::string& name);
// The field's value, or `def` when the field is absent or empty.
std::string HttpFormVar(const std::string& name, const std::string& def);
// A new list of the field names; owned by the caller.
std::unique_ptr<TStringList> HttpFieldNames();
// The field table itself (not a copy); null outside a request.
TStringList* HttpFields();
