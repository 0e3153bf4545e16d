// THttpEngine: construction, published properties and their mirroring, locks and the global
// request functions.
#include "engine/http_engine.h"

#include <mutex>

#include "engine/end_http_process.h"
#include "engine/field_table.h"

struct TEngineLock {
  std::mutex mutex;
};

THttpEngine::THttpEngine() {
  RequestContext().Engine = this;
  // The session and method settings start at their defaults (their constructors); so do the
  // other properties (member initialisers). The watchdog thread starts when a read first has
  // to wait for the client (watchdog::Arm), not with every process, and never in a library,
  // whose input is never a descriptor.
}

void THttpEngine::ForEachMirrorTarget(const std::function<void(THttpEngine&)>& apply) {
  THttpEngine* current = RequestContext().Engine;
  if (current != nullptr && current != this) apply(*current);
}

THttpEngine::~THttpEngine() {
  TRequestContext& context = RequestContext();
  if (context.Engine == this) context.Engine = nullptr;
}

void THttpEngine::SetAutoContentType(const std::string& value) {
  auto_content_type_ = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetAutoContentType(value); });
}

void THttpEngine::SetAutoReadInput(bool value) {
  auto_read_input_ = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetAutoReadInput(value); });
}

void THttpEngine::SetAutoReadLimit(int value) {
  auto_read_limit_ = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetAutoReadLimit(value); });
}

void THttpEngine::SetAutoHttpHeader(bool value) {
  auto_http_header_ = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetAutoHttpHeader(value); });
}

void THttpEngine::SetCGIMode(TCGIMode value) {
  cgi_mode_ = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetCGIMode(value); });
}

void THttpEngine::SetDebugMode(TDebugMode value) {
  debug_mode_ = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetDebugMode(value); });
}

void THttpEngine::SetNoCache(bool value) {
  no_cache_ = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetNoCache(value); });
}

void THttpEngine::SetTempDir(const std::string& value) {
  temp_dir_ = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetTempDir(value); });
}

void THttpEngine::SetSessionName(const std::string& value) {
  // The session settings mirror themselves to the current engine.
  cgi_session_.SetSessionName(value);
}

void THttpEngine::SetBufferedOutput(bool value) {
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetBufferedOutput(value); });
}

void THttpEngine::SetOnExecRequest(TExecRequestEvent value) {
  OnExecRequest = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetOnExecRequest(value); });
}

void THttpEngine::SetOnFirstExecRequest(TFirstExecRequestEvent value) {
  OnFirstExecRequest = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetOnFirstExecRequest(value); });
}

void THttpEngine::SetOnLastExecRequest(TLastExecRequestEvent value) {
  OnLastExecRequest = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetOnLastExecRequest(value); });
}

void THttpEngine::SetOnPrepareRequest(TPrepareRequestEvent value) {
  OnPrepareRequest = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetOnPrepareRequest(value); });
}

void THttpEngine::SetOnRequestError(TRequestErrorEvent value) {
  OnRequestError = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetOnRequestError(value); });
}

void THttpEngine::SetOnRemoveSessionObject(TRemoveSessionObjectEvent value) {
  OnRemoveSessionObject = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetOnRemoveSessionObject(value); });
}

void THttpEngine::SetOnUploadPrepareFile(TUploadPrepareFileEvent value) {
  OnUploadPrepareFile = value;
  ForEachMirrorTarget([&](THttpEngine& other) { other.SetOnUploadPrepareFile(value); });
}

std::string THttpEngine::GetOtherServerVariable(const std::string&) {
  return "";
}

void THttpEngine::Terminate() {
  // Inside a web server the process is the server's: only the open request is finished.
  if (RunsAsLibrary()) {
    TRequestContext& context = RequestContext();
    if (context.Engine != nullptr && context.OutputStream) context.Engine->FinishRequest();
    return;
  }
  EndHttpProcess();
}

TLockHandle THttpEngine::CreateLock() {
  return new TEngineLock;
}

void THttpEngine::EnterLock(TLockHandle lock) {
  if (lock != nullptr) lock->mutex.lock();
}

void THttpEngine::LeaveLock(TLockHandle lock) {
  if (lock != nullptr) lock->mutex.unlock();
}

void THttpEngine::FreeLock(TLockHandle lock) {
  delete lock;
}

std::unique_ptr<TStringList> THttpEngine::GetFieldNames() {
  auto names = std::make_unique<TStringList>();
  if (TStringList* fields = Fields()) {
    for (int i = 0; i < fields->Count(); ++i) names->Add(FieldNameOf(fields->Names(i)));
  }
  return names;
}

TStringList* THttpEngine::Fields() {
  return RequestContext().Fields.get();
}

TStringList* THttpEngine::ServerVariables() {
  return RequestContext().ServerVariables.get();
}

void THttpEngine::BindThread(THttpEngine* engine) {
  RequestContext().Engine = engine;
}

THttpEngine* CurrentHttpEngine() {
  return RequestContext().Engine;
}

void HttpWrite(const std::string& text) {
  if (THttpEngine* engine = CurrentHttpEngine()) engine->Write(text);
}

void HttpWriteLn(const std::string& text) {
  if (THttpEngine* engine = CurrentHttpEngine()) engine->WriteLn(text);
}

std::string HttpServerVar(const std::string& name) {
  THttpEngine* engine = CurrentHttpEngine();
  return engine != nullptr ? engine->GetServerVariable(name) : std::string();
}

std::string HttpFormVar(const std::string& name, const std::string& def) {
  THttpEngine* engine = CurrentHttpEngine();
  return engine != nullptr ? engine->GetFormField(name, def) : def;
}

std::unique_ptr<TStringList> HttpFieldNames() {
  THttpEngine* engine = CurrentHttpEngine();
  return engine != nullptr ? engine->GetFieldNames() : std::make_unique<TStringList>();
}

TStringList* HttpFields() {
  THttpEngine* engine = CurrentHttpEngine();
  return engine != nullptr ? engine->Fields() : nullptr;
}
