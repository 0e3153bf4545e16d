#include "engine/http_cgi_engine.h"

#include "common/text_compare.h"
#include "engine/http_log.h"

namespace {

constexpr size_t kMaxStatusLength = 1032;

void WriteText(TStream& stream, const std::string& text) {
  stream.Write(text.data(), static_cast<int>(text.size()));
}

// The header lines of the answer being sent on this thread. They go out in one write with the
// blank line that ends them (EndServerHeaders, which always follows them), rather than one small
// write, and one wake-up of the web server, per line.
thread_local std::string pending_headers;

}  // namespace

bool IsHttpToken(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!alnum && std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

void THttpCGIEngine::SetCGIAutoTerminate(bool value) {
  cgi_auto_terminate_ = value;
  Mirror([&](THttpEngine& other) {
    if (auto* cgi = dynamic_cast<THttpCGIEngine*>(&other)) cgi->SetCGIAutoTerminate(value);
  });
}

void THttpCGIEngine::WriteServerHeader(const std::string& name, const std::string& value) {
  TStream* output = RequestContext().OutputStream.get();
  if (output == nullptr) return;
  if (UpperCase(name.substr(0, 7)) == "HTTP/1.") {
    // Every CGI server takes the status in the "Status:" form; a raw status line is refused
    // by some and loses its code in others.
    std::string status = name.size() > 8 ? name.substr(8, kMaxStatusLength) : std::string();
    pending_headers += "Status: ";
    pending_headers += Trim(OneLine(status));
    pending_headers += "\r\n";
    return;
  }
  if (!IsHttpToken(name)) {
    // The server would refuse the whole answer for this one line.
    WriteHttpLog("Header not sent (invalid name): " + OneLine(name));
    return;
  }
  // An empty value still gets its colon: a line without one is a malformed header to servers.
  pending_headers += name;
  pending_headers += value.empty() ? ":" : ": ";
  pending_headers += OneLine(value);
  pending_headers += "\r\n";
}

void THttpCGIEngine::EndServerHeaders() {
  std::string block;
  block.swap(pending_headers);
  block += "\r\n";
  if (TStream* output = RequestContext().OutputStream.get()) WriteText(*output, block);
}
