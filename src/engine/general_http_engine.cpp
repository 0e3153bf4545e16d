#include "engine/general_http_engine.h"

#include "engine/adapters/cgi_startup.h"
#include "engine/adapters/cgi_std_engine.h"
#include "engine/adapters/cgi_win_engine.h"
#include "engine/adapters/fastcgi_engine.h"
#include "engine/adapters/nsapi_engine.h"
#include "engine/adapters/wsapi_engine.h"

namespace {

THttpCGIEngine* cgi_adapter = nullptr;

enum class TAdapterKind { kInProcess, kFastCGI, kWindowsCGI, kStandardCGI };

// Which adapter serves this process, from how it was started: inside a web server (the library),
// on a FastCGI socket, with a Windows CGI profile, or as a standard CGI program. FastCGI is asked
// before the CGI kinds: a listening socket on standard input also looks like a start without
// parameters, which the other tests take for a request server.
TAdapterKind ChooseAdapter() {
  if (RunsAsLibrary()) return TAdapterKind::kInProcess;
  if (IsFastCGI()) return TAdapterKind::kFastCGI;
  if (IsWindowsCGI()) return TAdapterKind::kWindowsCGI;
  return TAdapterKind::kStandardCGI;
}

}  // namespace

bool TGeneralHttpEngine::ServesFastCGI() const {
  return dynamic_cast<const TFastCGIEngine*>(adapter_.get()) != nullptr;
}

THttpCGIEngine* CgiAdapter() {
  return cgi_adapter;
}

TGeneralHttpEngine::TGeneralHttpEngine() {
  // The adapters are made first, so every property write on this engine reaches them
  // (ForEachMirrorTarget); constructing one makes it the thread's current engine.
  switch (ChooseAdapter()) {
    case TAdapterKind::kInProcess:
      in_process_adapters_.push_back(std::make_unique<TIsapiEngine>());
      in_process_adapters_.push_back(std::make_unique<TNSAPIEngine>());
      in_process_adapters_.push_back(std::make_unique<TWsapiEngine>());
      break;
    case TAdapterKind::kFastCGI:
      adapter_ = std::make_unique<TFastCGIEngine>();
      break;
    case TAdapterKind::kWindowsCGI:
      adapter_ = std::make_unique<TCGIWinEngine>();
      break;
    case TAdapterKind::kStandardCGI:
      adapter_ = std::make_unique<TCGIStdEngine>();
      break;
  }
  if (adapter_) cgi_adapter = adapter_.get();
  SetCGIAutoTerminate(true);
}

void TGeneralHttpEngine::ForEachMirrorTarget(const std::function<void(THttpEngine&)>& apply) {
  if (adapter_) apply(*adapter_);
  for (auto& adapter : in_process_adapters_) apply(*adapter);
}

std::string TGeneralHttpEngine::GetServerVariable(const std::string& name) {
  if (RunsAsLibrary() && IsapiActive() && IsapiEngine() != nullptr) {
    return IsapiEngine()->GetServerVariable(name);
  }
  return THttpEngine::GetServerVariable(name);
}

void TGeneralHttpEngine::SetOnIsapiExtensionVersion(THttpExtensionVersionEvent value) {
  OnIsapiExtensionVersion = value;
  if (RunsAsLibrary() && IsapiEngine() != nullptr) IsapiEngine()->OnIsapiExtensionVersion = value;
}

void TGeneralHttpEngine::SetOnIsapiFilterProc(THttpFilterProcEvent value) {
  OnIsapiFilterProc = value;
  if (RunsAsLibrary() && IsapiEngine() != nullptr) IsapiEngine()->OnIsapiFilterProc = value;
}

void TGeneralHttpEngine::SetOnIsapiFilterVersion(THttpFilterVersionEvent value) {
  OnIsapiFilterVersion = value;
  if (RunsAsLibrary() && IsapiEngine() != nullptr) IsapiEngine()->OnIsapiFilterVersion = value;
}

TGeneralHttpEngine::~TGeneralHttpEngine() {
  if (cgi_adapter == adapter_.get()) cgi_adapter = nullptr;
}

void TGeneralHttpEngine::SetCGIAutoTerminate(bool value) {
  cgi_auto_terminate_ = value;
  if (adapter_) adapter_->SetCGIAutoTerminate(value);
}

void TGeneralHttpEngine::RunAdapter() {
  if (!adapter_) return;  // the library serves through its entry points
  adapter_->Run(nullptr, nullptr, nullptr);
}

void TGeneralHttpEngine::WriteServerHeader(const std::string&, const std::string&) {}

void TGeneralHttpEngine::EndServerHeaders() {}

void TGeneralHttpEngine::Terminate() {
  THttpEngine* current = CurrentHttpEngine();
  if (current != nullptr && current != this) current->Terminate();
}
