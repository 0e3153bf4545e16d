#include "engine/adapters/nsapi_engine.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "common/text_compare.h"
#include "engine/adapters/http_cgi_engine.h"
#include "engine/http_log.h"
#include "engine/server_header_text.h"
#include "platform/shared_library.h"

namespace {

std::atomic<TNSAPIEngine*> nsapi_engine{nullptr};

// The server's functions, found once: the five the answer needs and the three that read the
// request and write the body.
struct TNsapiServer {
  nsapi_protocol_status_fn protocol_status = nullptr;
  nsapi_pblock_remove_fn pblock_remove = nullptr;
  nsapi_param_free_fn param_free = nullptr;
  nsapi_pblock_nvinsert_fn pblock_nvinsert = nullptr;
  nsapi_protocol_start_response_fn protocol_start_response = nullptr;
  nsapi_pblock_findval_fn pblock_findval = nullptr;
  nsapi_netbuf_getbytes_fn netbuf_getbytes = nullptr;
  nsapi_net_write_fn net_write = nullptr;
  bool bound = false;
};
TNsapiServer server;
std::once_flag bind_once;

struct TNsapiCall {
  Session* session = nullptr;
  Request* request = nullptr;
};
thread_local TNsapiCall current_call;

// Servers export the functions under their names, some with the prefix "INT".
void BindServer() {
  TSharedLibrary process(nullptr);
  auto bind = [&process](auto& function, const std::string& name) {
    process.Bind(function, name.c_str(), ("INT" + name).c_str());
  };
  bind(server.protocol_status, "protocol_status");
  bind(server.pblock_remove, "pblock_remove");
  bind(server.param_free, "param_free");
  bind(server.pblock_nvinsert, "pblock_nvinsert");
  bind(server.protocol_start_response, "protocol_start_response");
  bind(server.pblock_findval, "pblock_findval");
  bind(server.netbuf_getbytes, "netbuf_getbytes");
  bind(server.net_write, "net_write");
  server.bound = process.Complete();
}

std::string ValueOf(const char* name, pblock* block) {
  if (block == nullptr) return std::string();
  const char* value = server.pblock_findval(name, block);
  return value != nullptr ? std::string(value) : std::string();
}

// HTTP_ and the header's name in capitals with "-" as "_" ("user-agent": HTTP_USER_AGENT).
std::string CgiName(const std::string& header) {
  std::string name = "HTTP_" + UpperCase(header);
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

// The request line, the client and every request header (walked in the parameter block's
// published hash table), under their CGI names.
std::unique_ptr<TStringList> BuildVariableList(Session& sn, Request& rq) {
  auto list = std::make_unique<TStringList>();
  auto add = [&](const std::string& name, const std::string& value) {
    list->Add(name + "=" + value);
  };
  add("REQUEST_METHOD", ValueOf("method", rq.reqpb));
  add("QUERY_STRING", ValueOf("query", rq.reqpb));
  add("SCRIPT_NAME", ValueOf("uri", rq.reqpb));
  add("SERVER_PROTOCOL", ValueOf("protocol", rq.reqpb));
  add("REMOTE_ADDR", ValueOf("ip", sn.client));
  add("REMOTE_HOST", ValueOf("dns", sn.client));
  add("CONTENT_LENGTH", ValueOf("content-length", rq.headers));
  add("CONTENT_TYPE", ValueOf("content-type", rq.headers));
  if (rq.headers != nullptr && rq.headers->ht != nullptr) {
    for (int i = 0; i < rq.headers->hsize; ++i) {
      for (const pb_entry* entry = rq.headers->ht[i]; entry != nullptr; entry = entry->next) {
        const pb_param* param = entry->param;
        if (param == nullptr || param->name == nullptr || param->value == nullptr) continue;
        add(CgiName(param->name), param->value);
      }
    }
  }
  return list;
}

}  // namespace

// ---- TNsapiStream --------------------------------------------------------------------------

int TNsapiStream::Read(void* buffer, int count) {
  if (count <= 0) return 0;
  int total = 0;
  while (total < count && session_ != nullptr && session_->inbuf != nullptr) {
    const int got =
        server.netbuf_getbytes(session_->inbuf, static_cast<char*>(buffer) + total, count - total);
    if (got <= 0) break;  // NETBUF_EOF or NETBUF_ERROR
    total += std::min(got, count - total);
  }
  return total > 0 ? total : -1;
}

int TNsapiStream::Write(const void* buffer, int count) {
  if (count <= 0 || session_ == nullptr) return 0;
  const int written = server.net_write(session_->csd, static_cast<const char*>(buffer), count);
  return written == IO_ERROR ? -1 : written;
}

// ---- TNSAPIEngine --------------------------------------------------------------------------

TNSAPIEngine::TNSAPIEngine() {
  nsapi_engine = this;
}

TNSAPIEngine::~TNSAPIEngine() {
  TNSAPIEngine* self = this;
  nsapi_engine.compare_exchange_strong(self, nullptr);
}

void TNSAPIEngine::WriteServerHeader(const std::string& name, const std::string& value) {
  Session* sn = current_call.session;
  Request* rq = current_call.request;
  if (sn == nullptr || rq == nullptr) return;
  if (IsStatusLine(name)) {
    std::string reason;
    const int code = StatusCodeOf(OneLine(name + " " + value), &reason);
    server.protocol_status(sn, rq, code, reason.data());
    return;
  }
  if (!IsHttpToken(name)) {
    WriteHttpLog("Header not sent (invalid name): " + OneLine(name));
    return;
  }
  // The server keys its answer headers by lower-case names; a header set twice keeps its last
  // value.
  const std::string key = LowerCase(name);
  if (pb_param* old = server.pblock_remove(key.c_str(), rq->srvhdrs)) server.param_free(old);
  server.pblock_nvinsert(key.c_str(), OneLine(value).c_str(), rq->srvhdrs);
}

void TNSAPIEngine::EndServerHeaders() {
  if (current_call.session != nullptr && current_call.request != nullptr) {
    server.protocol_start_response(current_call.session, current_call.request);
  }
}

TNSAPIEngine* NsapiEngine() {
  return nsapi_engine;
}

int NsapiService(pblock* /*pb*/, Session* sn, Request* rq) {
  TNSAPIEngine* engine = NsapiEngine();
  if (engine == nullptr || sn == nullptr || rq == nullptr) return REQ_ABORTED;
  std::call_once(bind_once, BindServer);
  if (!server.bound) {
    WriteHttpLog("brevix_service: the server's NSAPI functions were not found");
    return REQ_ABORTED;
  }
  struct Scope {
    TNsapiCall saved = current_call;
    ~Scope() { current_call = saved; }
  } scope;
  current_call = TNsapiCall{sn, rq};
  try {
    engine->ProcessRequest(std::make_unique<TNsapiStream>(sn), std::make_unique<TNsapiStream>(sn),
                           BuildVariableList(*sn, *rq));
  } catch (const std::exception& error) {
    WriteHttpLog(std::string("brevix_service: ") + error.what());
    return REQ_ABORTED;
  } catch (...) {
    WriteHttpLog("brevix_service: unknown exception");
    return REQ_ABORTED;
  }
  return REQ_PROCEED;
}
