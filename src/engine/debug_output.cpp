// THttpEngine: the plain-text debug page. Once started, the real answer is text/plain and
// shows the headers the program meant to send, its body, and a trailer with the request's log
// lines, the body the client sent and the server variables.
#include "engine/http_engine.h"

namespace {

std::string TrailerBlock(const std::string& title) {
  return "\r\n(************************)\r\n" + title + "\r\n(************************)";
}

}  // namespace

void THttpEngine::StartDebugOutput() {
  TRequestContext& context = RequestContext();
  if (context.DebugActive) return;
  context.DebugActive = true;
  TStringList aside;
  if (context.Headers) {
    aside.Assign(*context.Headers);
    context.Headers->Clear();
  }
  WriteServerHeader("HTTP/1.0 200 OK", "");
  WriteServerHeader("content-type", "text/plain");
  EndServerHeaders();
  context.HeadersSent = false;
  if (context.Headers) context.Headers->Assign(aside);
}

void THttpEngine::AppendDebugTrailer() {
  TRequestContext& context = RequestContext();
  WriteLn("(*** END ***)");
  WriteLn(TrailerBlock("(***    User Log      ***)"));
  WriteLn(context.DebugLog ? context.DebugLog->AsString() : std::string());
  WriteLn(TrailerBlock("(***   Client input   ***)"));
  WriteLn(context.DebugInput ? context.DebugInput->AsString() : std::string());
  WriteLn(TrailerBlock("(*** Server variables ***)"));
  WriteLn(context.ServerVariables ? context.ServerVariables->Join("\r\n") : std::string());
}
