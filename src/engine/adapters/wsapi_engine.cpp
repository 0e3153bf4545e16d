#include "engine/adapters/wsapi_engine.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "common/text_compare.h"
#include "engine/http_log.h"
#include "engine/server_header_text.h"
#include "platform/shared_library.h"

namespace {

std::atomic<TWsapiEngine*> wsapi_engine{nullptr};

// The server's functions, found once.
struct TWsapiServer {
  wsapi_nwrite_fn nwrite = nullptr;
  wsapi_nread_fn nread = nullptr;
  wsapi_nflush_fn nflush = nullptr;
  wsapi_send_http_header_fn send_http_header = nullptr;
  wsapi_get_server_variable_fn get_server_variable = nullptr;
  bool bound = false;
};
TWsapiServer server;
std::once_flag bind_once;

thread_local WSAPI_CONTEXT* current_context = nullptr;

constexpr int kVariableBufferStep = 512;
constexpr int kVariableBufferLimit = 1 << 20;

// The server's executable module and the libraries it loaded globally.
void BindServer() {
  TSharedLibrary process(nullptr);
  wsapi_bind_fn bind_wsapi = nullptr;
  process.Bind(bind_wsapi, "bind_wsapi");
  if (bind_wsapi != nullptr) bind_wsapi(1, 1, 0);
  process.Bind(server.nwrite, "nwrite");
  process.Bind(server.nread, "nread");
  process.Bind(server.nflush, "nflush");
  process.Bind(server.send_http_header, "send_http_header");
  process.Bind(server.get_server_variable, "get_server_variable");
  server.bound = process.Complete();
}

// A context field: the text up to its terminating zero, never beyond the field.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

int IntegerOf(const std::string& text) {
  const std::string trimmed = Trim(text);
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(trimmed.c_str(), &end, 10);
  if (trimmed.empty() || *end != '\0' || errno != 0 || value < 0 || value > INT32_MAX) return 0;
  return static_cast<int>(value);
}

}  // namespace

// ---- TWsapiStream --------------------------------------------------------------------------

int TWsapiStream::Read(void* buffer, int count) {
  if (count <= 0) return 0;
  int total = 0;
  while (total < count && server.nread != nullptr) {
    const int got = server.nread(static_cast<char*>(buffer) + total, count - total, context_);
    if (got <= 0) break;
    total += std::min(got, count - total);
  }
  return total > 0 ? total : -1;
}

int TWsapiStream::Write(const void* buffer, int count) {
  if (count <= 0 || server.nwrite == nullptr) return 0;
  server.nwrite(buffer, count, context_);
  return count;
}

// ---- TWsapiEngine --------------------------------------------------------------------------

TWsapiEngine::TWsapiEngine() {
  wsapi_engine = this;
}

TWsapiEngine::~TWsapiEngine() {
  TWsapiEngine* self = this;
  wsapi_engine.compare_exchange_strong(self, nullptr);
}

void TWsapiEngine::WriteServerHeader(const std::string& name, const std::string& value) {
  WSAPI_CONTEXT* context = current_context;
  if (context == nullptr) return;
  const std::string key = UpperCase(name);
  const std::string text = OneLine(value);
  if (key == "CONTENT-LENGTH") {
    context->content_length = IntegerOf(text);
  } else if (key == "CONTENT-TYPE") {
    CopyToField(context->response_content_type, WSAPI_FIELD, text);
  } else if (key == "CONNECTION") {
    context->keep_alive = UpperCase(Trim(text)) == "KEEP-ALIVE" ? 1 : 0;
  } else if (key == "CONTENT-ENCODING") {
    CopyToField(context->response_content_encoding, WSAPI_SHORT_FIELD, text);
  } else if (key == "LAST-MODIFIED") {
    CopyToField(context->last_modified, WSAPI_SHORT_FIELD, text);
  } else if (IsStatusLine(name)) {
    context->status = StatusCodeOf(name + " " + value);
  } else if (key == "LOCATION") {
    CopyToField(context->location, WSAPI_LONG_FIELD, text);
  }
}

void TWsapiEngine::EndServerHeaders() {
  if (current_context != nullptr && server.send_http_header != nullptr) {
    server.send_http_header(current_context, 0);
  }
}

std::string TWsapiEngine::GetOtherServerVariable(const std::string& name) {
  if (current_context == nullptr || server.get_server_variable == nullptr) return std::string();
  std::vector<char> buffer(kVariableBufferStep - 1);
  for (;;) {
    buffer[0] = '\0';
    if (!server.get_server_variable(name.c_str(), buffer.data(), static_cast<int>(buffer.size()),
                                    current_context)) {
      return std::string();
    }
    const size_t length = strnlen(buffer.data(), buffer.size());
    // A value that fills the buffer may have been cut: read it again with more room.
    if (length + 1 < buffer.size() || buffer.size() >= kVariableBufferLimit) {
      return std::string(buffer.data(), length);
    }
    buffer.resize(buffer.size() + kVariableBufferStep);
  }
}

void TWsapiEngine::SendResponse() {
  THttpEngine::SendResponse();
  if (current_context != nullptr && server.nflush != nullptr) server.nflush(current_context);
}

TWsapiEngine* WsapiEngine() {
  return wsapi_engine;
}

bool WsapiProcess(WSAPI_CONTEXT* context) {
  TWsapiEngine* engine = WsapiEngine();
  if (engine == nullptr || context == nullptr) return false;
  std::call_once(bind_once, BindServer);
  if (!server.bound) {
    WriteHttpLog("Process: the server's WSAPI functions were not found");
    return false;
  }
  struct Scope {
    WSAPI_CONTEXT* saved = current_context;
    ~Scope() { current_context = saved; }
  } scope;
  current_context = context;
  try {
    context->response_header_count = 0;
    context->status = 200;
    auto variables = std::make_unique<TStringList>();
    auto add = [&](const char* name, const std::string& value) {
      variables->Add(std::string(name) + "=" + value);
    };
    add("QUERY_STRING", engine->GetOtherServerVariable("QUERY_STRING"));
    add("SCRIPT_NAME", engine->GetOtherServerVariable("SCRIPT_NAME"));
    add("REQUEST_METHOD", FieldText(context->method));
    add("CONTENT_LENGTH",
        std::to_string(IntegerOf(engine->GetOtherServerVariable("CONTENT_LENGTH"))));
    add("CONTENT_TYPE", FieldText(context->content_type));
    add("CONTENT_ENCODING", FieldText(context->content_encoding));
    add("REMOTE_HOST", FieldText(context->remote_host));
    add("REMOTE_ADDR", FieldText(context->remote_addr));
    add("REMOTE_NAME", FieldText(context->remote_name));
    add("USER_AGENT", FieldText(context->user_agent));
    add("HTTP_REFERER", FieldText(context->referer));
    add("HTTP_ACCEPT", FieldText(context->accept));
    add("AUTH_TYPE", FieldText(context->auth_type));
    add("AUTH_USER", engine->GetOtherServerVariable("AUTH_USER"));
    add("AUTH_PASSWORD", engine->GetOtherServerVariable("AUTH_PASSWORD"));
    for (int i = 0; i < context->request_header_count && context->request_headers != nullptr; ++i) {
      const WSAPI_HEADER& header = context->request_headers[i];
      const std::string header_name = FieldText(header.name);
      if (header_name.empty()) continue;
      variables->Add(UpperCase(header_name) + "=" + FieldText(header.value));
    }
    engine->ProcessRequest(std::make_unique<TWsapiStream>(context),
                           std::make_unique<TWsapiStream>(context), std::move(variables));
  } catch (const std::exception& error) {
    WriteHttpLog(std::string("Process: ") + error.what());
  } catch (...) {
    WriteHttpLog("Process: unknown exception");
  }
  return true;
}
