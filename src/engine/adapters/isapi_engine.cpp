#include "engine/adapters/isapi_engine.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "common/text_compare.h"
#include "engine/adapters/http_cgi_engine.h"
#include "engine/http_log.h"
#include "engine/server_header_text.h"

namespace {

std::atomic<TIsapiEngine*> isapi_engine{nullptr};
std::atomic<bool> isapi_active{false};
std::atomic<bool> terminated{false};

// The server call the calling thread is inside.
struct TIsapiCall {
  EXTENSION_CONTROL_BLOCK* ecb = nullptr;
  HTTP_FILTER_CONTEXT* pfc = nullptr;
  DWORD status = HSE_STATUS_SUCCESS;
  bool redirected = false;  // the server has answered with a redirect
};
thread_local TIsapiCall current_call;

constexpr DWORD kVariableBufferStep = 2048;
// A server that keeps filling every buffer is not trusted beyond this.
constexpr DWORD kVariableBufferLimit = 1 << 20;
constexpr size_t kMaxRedirectLength = 1023;

// One read of a variable through the control block or the filter context: the value up to its
// terminating zero, trimmed; false when the server refused it.
bool ServerRead(const std::string& name, std::vector<char>& buffer, std::string& value) {
  DWORD size = static_cast<DWORD>(buffer.size());
  std::string key = name;
  BOOL ok = 0;
  if (current_call.ecb != nullptr && current_call.ecb->GetServerVariable != nullptr) {
    ok = current_call.ecb->GetServerVariable(current_call.ecb->ConnID, key.data(), buffer.data(),
                                             &size);
  } else if (current_call.pfc != nullptr && current_call.pfc->GetServerVariable != nullptr) {
    ok = current_call.pfc->GetServerVariable(current_call.pfc, key.data(), buffer.data(), &size);
  }
  if (!ok) {
    // A server that names the size it needs gets a buffer of that size.
    if (size > buffer.size() && size <= kVariableBufferLimit) buffer.resize(size);
    return false;
  }
  size = std::min<DWORD>(size, static_cast<DWORD>(buffer.size()));
  value = Trim(std::string(buffer.data(), strnlen(buffer.data(), size)));
  return true;
}

// The variable as the server has it, read again into a larger buffer while it fills the buffer.
std::string DirectRead(const std::string& name, bool* found = nullptr) {
  std::vector<char> buffer(kVariableBufferStep);
  std::string value;
  for (;;) {
    const size_t before = buffer.size();
    if (!ServerRead(name, buffer, value)) {
      if (buffer.size() > before) continue;
      if (found != nullptr) *found = false;
      return std::string();
    }
    if (value.size() + 2 < buffer.size() || buffer.size() >= kVariableBufferLimit) break;
    buffer.resize(buffer.size() + kVariableBufferStep);
  }
  if (found != nullptr) *found = true;
  return value;
}

// In a filter call: the header `name` ("HTTP_USER_AGENT") looked up in ALL_HTTP.
std::string FromAllHttp(const std::string& name) {
  const std::string all = DirectRead("ALL_HTTP");
  const std::string wanted = UpperCase(name);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    const std::string line = TrimLeft(std::string_view(all).substr(start, end - start));
    if (line.size() > wanted.size() && UpperCase(line.substr(0, wanted.size())) == wanted &&
        (line[wanted.size()] == '=' || line[wanted.size()] == ':')) {
      return Trim(line.substr(wanted.size() + 1));
    }
    start = end + 1;
  }
  return std::string();
}

void AddOnce(TStringList& list, std::string item) {
  if (list.IndexOf(item) < 0) list.Add(std::move(item));
}

// The request's server variables: the control block's fields, the server's variables of the
// CGI names, and every request header of ALL_HTTP under its HTTP_ name.
std::unique_ptr<TStringList> BuildVariableList(const EXTENSION_CONTROL_BLOCK& ecb) {
  auto list = std::make_unique<TStringList>(true);
  auto add_field = [&](const char* name, const char* value) {
    if (value != nullptr) AddOnce(*list, std::string(name) + "=" + value);
  };
  add_field("QUERY_STRING", ecb.lpszQueryString);
  add_field("REQUEST_METHOD", ecb.lpszMethod);
  add_field("PATH_INFO", ecb.lpszPathInfo);
  add_field("PATH_TRANSLATED", ecb.lpszPathTranslated);
  AddOnce(*list, "CONTENT_LENGTH=" + std::to_string(ecb.cbTotalBytes));
  for (const char* name :
       {"HTTP_COOKIE", "CONTENT_TYPE", "REMOTE_ADDR", "REMOTE_HOST", "REMOTE_USER",
        "UNMAPPED_REMOTE_USER", "SCRIPT_NAME", "SERVER_NAME", "SERVER_PORT", "SERVER_PORT_SECURE",
        "SERVER_PROTOCOL", "SERVER_SOFTWARE", "HTTP_ACCEPT", "URL", "ALL_HTTP"}) {
    std::string value = DirectRead(name);
    if (!value.empty()) AddOnce(*list, std::string(name) + "=" + value);
  }
  const std::string all = DirectRead("ALL_HTTP");
  size_t start = 0;
  while (all.size() > start + 2) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(start, end - start);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) line[colon] = '=';
    if (line.find('=') != std::string::npos) AddOnce(*list, Trim(line));
    start = end + 1;
  }
  return list;
}

void LogFailure(const char* where, const char* what) {
  std::string line = where;
  line += ": ";
  line += what;
  WriteHttpLog(line);
}

// Restores the thread's previous call state when a server call returns.
struct TCallScope {
  TIsapiCall saved = current_call;
  ~TCallScope() { current_call = saved; }
};

}  // namespace

// ---- TIsapiStream --------------------------------------------------------------------------

int TIsapiStream::Read(void* buffer, int count) {
  if (count <= 0) return 0;
  char* out = static_cast<char*>(buffer);
  int total = 0;
  if (ecb_ != nullptr && ecb_->lpbData != nullptr && position_ < ecb_->cbAvailable) {
    const int preloaded =
        static_cast<int>(std::min<uint32_t>(ecb_->cbAvailable - position_, count));
    std::memcpy(out, ecb_->lpbData + position_, preloaded);
    position_ += preloaded;
    total = preloaded;
  }
  while (total < count) {
    if (ecb_ == nullptr || ecb_->ReadClient == nullptr) break;
    const DWORD wanted = static_cast<DWORD>(std::min(count - total, kMaxReadClient));
    DWORD size = wanted;
    if (!ecb_->ReadClient(ecb_->ConnID, out + total, &size) || size == 0) break;
    total += static_cast<int>(std::min(size, wanted));
  }
  return total > 0 ? total : -1;
}

int TIsapiStream::Write(const void* buffer, int count) {
  if (count <= 0) return 0;
  // Once the server has answered with a redirect, the answer is complete: whatever the request
  // still writes (its buffered body, a later part) would reach the client behind it.
  if (ecb_ != nullptr && ecb_ == current_call.ecb && current_call.redirected) return count;
  DWORD bytes = static_cast<DWORD>(count);
  BOOL ok = 0;
  void* data = const_cast<void*>(buffer);
  if (ecb_ != nullptr && ecb_->WriteClient != nullptr) {
    ok = ecb_->WriteClient(ecb_->ConnID, data, &bytes, 0);
  } else if (pfc_ != nullptr && pfc_->WriteClient != nullptr) {
    ok = pfc_->WriteClient(pfc_, data, &bytes, 0);
  }
  return ok ? static_cast<int>(bytes) : -1;
}

// ---- TIsapiEngine --------------------------------------------------------------------------

TIsapiEngine::TIsapiEngine() {
  isapi_engine = this;
  terminated = false;
}

TIsapiEngine::~TIsapiEngine() {
  TIsapiEngine* self = this;
  isapi_engine.compare_exchange_strong(self, nullptr);
}

bool TIsapiEngine::Terminated() const {
  return terminated;
}

void TIsapiEngine::WriteServerHeader(const std::string& name, const std::string& value) {
  EXTENSION_CONTROL_BLOCK* ecb = current_call.ecb;
  if (ecb == nullptr) return;
  if (UpperCase(name) == "LOCATION") {
    char url[kMaxRedirectLength + 1];
    CopyToField(url, sizeof url, OneLine(value));
    DWORD length = static_cast<DWORD>(std::strlen(url));
    if (ecb->ServerSupportFunction != nullptr) {
      ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, url, &length,
                                 nullptr);
    }
    current_call.redirected = true;
    return;
  }
  // The server writes the redirect's whole header block itself: no line of the request's own
  // may precede it (a Location still queued behind this header) or follow it.
  const TStringList* queued = RequestContext().Headers.get();
  if (current_call.redirected || (queued != nullptr && queued->IndexOfName("location") >= 0)) {
    return;
  }
  const bool status_line = IsStatusLine(name);
  if (!status_line && !IsHttpToken(name)) {
    WriteHttpLog("Header not sent (invalid name): " + OneLine(name));
    return;
  }
  const std::string line = status_line ? OneLine(name) + "\r\n" : HeaderLine(name, value);
  if (TStream* output = RequestContext().OutputStream.get()) output->WriteString(line);
}

void TIsapiEngine::EndServerHeaders() {
  // After a redirect the server has sent the whole header block itself.
  if (current_call.redirected) return;
  if (TStream* output = RequestContext().OutputStream.get()) output->WriteString("\r\n");
}

std::string TIsapiEngine::GetServerVariable(const std::string& name) {
  if (current_call.ecb != nullptr) return THttpEngine::GetServerVariable(name);
  return GetOtherServerVariable(name);
}

std::string TIsapiEngine::GetOtherServerVariable(const std::string& name) {
  bool found = false;
  std::string value = DirectRead(name, &found);
  if (!found && current_call.ecb == nullptr && current_call.pfc != nullptr &&
      UpperCase(name.substr(0, 5)) == "HTTP_") {
    value = FromAllHttp(name);
  }
  return value;
}

void TIsapiEngine::Terminate() {
  if (current_call.ecb != nullptr) THttpEngine::Terminate();
  terminated = true;
}

TIsapiEngine* IsapiEngine() {
  return isapi_engine;
}

bool IsapiActive() {
  return isapi_active;
}

// ---- Entry points --------------------------------------------------------------------------

BOOL IsapiGetExtensionVersion(HSE_VERSION_INFO* version) {
  isapi_active = true;
  if (version == nullptr) return 0;
  try {
    version->dwExtensionVersion = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
    version->lpszExtensionDesc[0] = '\0';
    TIsapiEngine* engine = IsapiEngine();
    bool result = true;
    if (engine != nullptr && engine->OnIsapiExtensionVersion) {
      std::uint32_t requested = version->dwExtensionVersion;
      std::string description;
      engine->OnIsapiExtensionVersion(requested, description, result);
      version->dwExtensionVersion = requested;
      CopyToField(version->lpszExtensionDesc, HSE_MAX_EXT_DLL_NAME_LEN, description);
    }
    return result ? 1 : 0;
  } catch (const std::exception& error) {
    LogFailure("GetExtensionVersion", error.what());
  } catch (...) {
    LogFailure("GetExtensionVersion", "unknown exception");
  }
  return 0;
}

DWORD IsapiHttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  TIsapiEngine* engine = IsapiEngine();
  if (engine == nullptr || ecb == nullptr) return HSE_STATUS_ERROR;
  TCallScope scope;
  current_call = TIsapiCall{ecb, nullptr, HSE_STATUS_SUCCESS, false};
  try {
    std::unique_ptr<TStringList> variables = BuildVariableList(*ecb);
    engine->ProcessRequest(std::make_unique<TIsapiStream>(ecb, nullptr),
                           std::make_unique<TIsapiStream>(ecb, nullptr), std::move(variables));
  } catch (const std::exception& error) {
    LogFailure("HttpExtensionProc", error.what());
    current_call.status = HSE_STATUS_ERROR;
  } catch (...) {
    LogFailure("HttpExtensionProc", "unknown exception");
    current_call.status = HSE_STATUS_ERROR;
  }
  return current_call.status;
}

BOOL IsapiTerminateExtension(DWORD /*flags*/) {
  TIsapiEngine* engine = IsapiEngine();
  try {
    if (engine != nullptr && engine->OnLastExecRequest) engine->OnLastExecRequest(engine);
  } catch (const std::exception& error) {
    LogFailure("TerminateExtension", error.what());
    return 1;
  } catch (...) {
    LogFailure("TerminateExtension", "unknown exception");
    return 1;
  }
  return terminated ? 1 : 0;
}

BOOL IsapiGetFilterVersion(HTTP_FILTER_VERSION* version) {
  isapi_active = true;
  TIsapiEngine* engine = IsapiEngine();
  THttpEngine::BindThread(engine);
  if (version == nullptr) return 0;
  try {
    version->dwFlags = 0;
    version->dwFilterVersion = HTTP_FILTER_REVISION;
    bool result = true;
    if (engine != nullptr && engine->OnIsapiFilterVersion) {
      int server_version = static_cast<int>(version->dwServerFilterVersion);
      int filter_version = static_cast<int>(version->dwFilterVersion);
      int flags = static_cast<int>(version->dwFlags);
      std::string description;
      engine->OnIsapiFilterVersion(server_version, filter_version, description, flags, result);
      version->dwFilterVersion = static_cast<DWORD>(filter_version);
      version->dwFlags = static_cast<DWORD>(flags);
      CopyToField(version->lpszFilterDesc, SF_MAX_FILTER_DESC_LEN, description);
    }
    return result ? 1 : 0;
  } catch (const std::exception& error) {
    LogFailure("GetFilterVersion", error.what());
  } catch (...) {
    LogFailure("GetFilterVersion", "unknown exception");
  }
  return 0;
}

DWORD IsapiHttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD notification_type, void* notification) {
  TIsapiEngine* engine = IsapiEngine();
  TCallScope scope;
  current_call = TIsapiCall{nullptr, pfc, HSE_STATUS_SUCCESS, false};
  THttpEngine::BindThread(engine);
  int result = static_cast<int>(SF_STATUS_REQ_NEXT_NOTIFICATION);
  try {
    if (engine != nullptr && pfc != nullptr && engine->OnIsapiFilterProc) {
      engine->OnIsapiFilterProc(*pfc, static_cast<int>(notification_type), notification, result);
    }
  } catch (const std::exception& error) {
    LogFailure("HttpFilterProc", error.what());
  } catch (...) {
    LogFailure("HttpFilterProc", "unknown exception");
  }
  return static_cast<DWORD>(result);
}
