#include "engine/adapters/http_cgi_engine.h"

#include "common/text_compare.h"
#include "engine/http_log.h"
#include "engine/server_header_text.h"

namespace {

void WriteText(TStream& stream, const std::string& text) {
  stream.Write(text.data(), static_cast<int>(text.size()));
}

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
  ForEachMirrorTarget([&](THttpEngine& other) {
    if (auto* cgi = dynamic_cast<THttpCGIEngine*>(&other)) cgi->SetCGIAutoTerminate(value);
  });
}

void THttpCGIEngine::WriteServerHeader(const std::string& name, const std::string& value) {
  TStream* output = RequestContext().OutputStream.get();
  if (output == nullptr) return;
  if (IsStatusLine(name)) {
    // Every CGI server takes the status in the "Status:" form; a raw status line is refused
    // by some and loses its code in others.
    WriteText(*output, "Status: " + StatusTextOf(name) + "\r\n");
    return;
  }
  if (!IsHttpToken(name)) {
    // The server would refuse the whole answer for this one line.
    WriteHttpLog("Header not sent (invalid name): " + OneLine(name));
    return;
  }
  // Straight to the output stream: SendResponse gathers the block and sends it with the body.
  WriteText(*output, HeaderLine(name, value));
}

void THttpCGIEngine::EndServerHeaders() {
  if (TStream* output = RequestContext().OutputStream.get()) WriteText(*output, "\r\n");
}
