#pragma once

#include <memory>

#include "engine/http_engine.h"

// The common base of the CGI adapters: header lines go straight to the request's output stream.
// Run returns when its request (or the request server) is done; the program's main then ends a
// one-request process, unless CGIAutoTerminate is off.
//
// Every answer leaves in the form all CGI servers accept: a status line (a header name that
// begins with "HTTP/1.") is written as "Status: <code> <reason>", header names that are not
// valid HTTP tokens are never written, and CR or LF inside a value becomes a blank, so that no
// header can be split or injected.
class THttpCGIEngine : public THttpEngine {
 public:
  THttpCGIEngine() = default;

  // End the process after its request (default true); main asks. Mirrors to the current engine
  // when that is another CGI engine.
  bool CGIAutoTerminate() const { return cgi_auto_terminate_; }
  void SetCGIAutoTerminate(bool value);

  void WriteServerHeader(const std::string& name, const std::string& value) override;
  void EndServerHeaders() override;

  // Serves one request. With an output stream given, on those streams; without, on the
  // process's standard input and output with the process environment.
  virtual void Run(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
                   std::unique_ptr<TStringList> variables) = 0;

 private:
  bool cgi_auto_terminate_ = true;
};

// True when `name` is an HTTP token (RFC 9110: one or more of the tchar set).
bool IsHttpToken(const std::string& name);
