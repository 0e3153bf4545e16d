#pragma once

#include <memory>
#include <vector>

#include "engine/adapters/http_cgi_engine.h"
#include "engine/adapters/isapi_engine.h"

// The engine component the gateway's form holds. It chooses the adapter for the server
// interface in use (a TFastCGIEngine when IsFastCGI() holds, a TCGIWinEngine when
// IsWindowsCGI() holds, else a TCGIStdEngine) and runs the request. Its property writes mirror
// to the adapters it created, so the owner's settings reach them as they are made.
//
// Typical use: the owner builds its components, then the program runs the adapter.
//   engine_ = std::make_unique<TGeneralHttpEngine>();   // creates the adapter
//   engine_->SetNoCache(true); engine_->SetOnExecRequest(...); ...
//   engine_->RunAdapter();       // in main: one request, the request server, or a hand-over
//
// RunAdapter returns when the adapter is done; it never ends the process. The adapter lives as
// long as this object. Requests are served on the calling thread (the request server may add
// threads of its own).
//
// In the shared library (RunsAsLibrary()) it creates the in-process adapters instead (ISAPI,
// NSAPI, WSAPI), which its property writes reach alike; the web server's calls of the library's
// entry points serve the requests, on the server's threads.
class TGeneralHttpEngine : public THttpEngine {
 public:
  TGeneralHttpEngine();
  ~TGeneralHttpEngine() override;

  // Also sets the CGI adapter's CGIAutoTerminate.
  bool CGIAutoTerminate() const { return cgi_auto_terminate_; }
  void SetCGIAutoTerminate(bool value);

  // The CGI adapter's Run with no streams.
  void RunAdapter();

  // The adapters this engine created: the CGI one, or the library's ISAPI, NSAPI and WSAPI ones.
  void ForEachMirrorTarget(const std::function<void(THttpEngine&)>& apply) override;
  // In the library, once the server has started ISAPI, the ISAPI adapter's lookup.
  std::string GetServerVariable(const std::string& name) override;

  // Stored; in the library also set on the ISAPI adapter.
  THttpExtensionVersionEvent OnIsapiExtensionVersion;
  THttpFilterProcEvent OnIsapiFilterProc;
  THttpFilterVersionEvent OnIsapiFilterVersion;
  void SetOnIsapiExtensionVersion(THttpExtensionVersionEvent value);
  void SetOnIsapiFilterProc(THttpFilterProcEvent value);
  void SetOnIsapiFilterVersion(THttpFilterVersionEvent value);

  // The headers are the adapter's business; this engine never emits any itself.
  void WriteServerHeader(const std::string& name, const std::string& value) override;
  void EndServerHeaders() override;
  // Terminates through the current engine when that is another engine; otherwise nothing.
  void Terminate() override;

  // The CGI adapter created by the constructor (also reachable as CgiAdapter()); null in the
  // library.
  THttpCGIEngine* Adapter() const { return adapter_.get(); }
  // True when the adapter is the FastCGI responder's.
  bool ServesFastCGI() const;

 private:
  std::unique_ptr<THttpCGIEngine> adapter_;
  std::vector<std::unique_ptr<THttpEngine>> in_process_adapters_;  // the library's three
  bool cgi_auto_terminate_ = true;
};

// The process's CGI adapter (set by the TGeneralHttpEngine constructor), or null.
THttpCGIEngine* CgiAdapter();
