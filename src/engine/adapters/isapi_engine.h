#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/streams.h"
#include "engine/adapters/server_interfaces/isapi.h"
#include "engine/http_engine.h"

// The ISAPI adapter: inside brevix.so a web server calls the ISAPI entry points, and the
// functions below turn each call into the engine's request model. The server variables come
// from the control block and its GetServerVariable, the body from the preloaded data and
// ReadClient, the answer goes out through WriteClient, and a Location header becomes the
// server's own redirect (HSE_REQ_SEND_URL_REDIRECT_RESP).
//
// Several server threads may be inside HttpExtensionProc at once: each thread's control block,
// filter context and request state are its own; the one TIsapiEngine is shared.

using THttpExtensionVersionEvent = std::function<void(
    std::uint32_t& request_version, std::string& request_desc, bool& result_value)>;
using THttpFilterProcEvent = std::function<void(HTTP_FILTER_CONTEXT& pfc, int notification_type,
                                                void* pv_notification, int& result_value)>;
using THttpFilterVersionEvent =
    std::function<void(int& server_filter_version, int& filter_version, std::string& filter_desc,
                       int& flags, bool& result_value)>;

// The request body: first the control block's preloaded bytes, then ReadClient calls of at most
// kMaxReadClient bytes. Writes go to WriteClient (of the control block, else of the filter
// context). Seek always answers 0.
class TIsapiStream : public TStream {
 public:
  static constexpr int kMaxReadClient = 32386;

  TIsapiStream(EXTENSION_CONTROL_BLOCK* ecb, HTTP_FILTER_CONTEXT* pfc) : ecb_(ecb), pfc_(pfc) {}
  // Fills `count` bytes unless the server reports the end or a failure first; then the bytes
  // read so far, or -1 when there were none.
  int Read(void* buffer, int count) override;
  // The byte count the server reports; -1 when it refused the write.
  int Write(const void* buffer, int count) override;
  int64_t Seek(int64_t, SeekOrigin) override { return 0; }

 private:
  EXTENSION_CONTROL_BLOCK* ecb_;
  HTTP_FILTER_CONTEXT* pfc_;
  uint32_t position_ = 0;  // into the preloaded data
};

class TIsapiEngine : public THttpEngine {
 public:
  // Becomes the process's ISAPI engine and clears the terminated flag.
  TIsapiEngine();
  ~TIsapiEngine() override;

  THttpExtensionVersionEvent OnIsapiExtensionVersion;
  THttpFilterProcEvent OnIsapiFilterProc;
  THttpFilterVersionEvent OnIsapiFilterVersion;

  // Location: the server's redirect; every other header: a line on the answer stream.
  void WriteServerHeader(const std::string& name, const std::string& value) override;
  void EndServerHeaders() override;
  // Inside HttpExtensionProc the request's list (as the base engine); inside a filter call
  // straight from the server, with ALL_HTTP as the fallback for HTTP_ names.
  std::string GetServerVariable(const std::string& name) override;
  // Straight from the server.
  std::string GetOtherServerVariable(const std::string& name) override;
  // Sends what is buffered (inside a request) and sets the terminated flag.
  void Terminate() override;

  bool Terminated() const;
};

// The process's ISAPI engine, or null.
TIsapiEngine* IsapiEngine();
// True once the server has called GetExtensionVersion or GetFilterVersion.
bool IsapiActive();

// The ISAPI entry points; brevix.so exports them under their published names. Each catches
// every exception, writes it to the engine log and answers the failure value.
BOOL IsapiGetExtensionVersion(HSE_VERSION_INFO* version);
DWORD IsapiHttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb);
BOOL IsapiTerminateExtension(DWORD flags);
BOOL IsapiGetFilterVersion(HTTP_FILTER_VERSION* version);
DWORD IsapiHttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD notification_type, void* notification);
