#pragma once

#include <string>

#include "common/streams.h"
#include "engine/adapters/server_interfaces/nsapi.h"
#include "engine/http_engine.h"

// The NSAPI adapter: inside brevix.so a web server calls the service function brevix_service
// (server_interfaces/nsapi.h gives its signature and an obj.conf example), and NsapiService
// serves that request. The server's functions are looked up once in the hosting process. The
// answer's status line becomes protocol_status, every other header replaces its namesake in
// rq->srvhdrs (lower-case name), the header block ends with protocol_start_response, and the body
// goes through net_write. The body is read with netbuf_getbytes from sn->inbuf.
//
// Every server thread has its own session and request; the one TNSAPIEngine is shared.

// The body from the session's input buffer, the answer to the session's connection; Seek always
// answers 0.
class TNsapiStream : public TStream {
 public:
  explicit TNsapiStream(Session* session) : session_(session) {}
  int Read(void* buffer, int count) override;
  int Write(const void* buffer, int count) override;
  int64_t Seek(int64_t, SeekOrigin) override { return 0; }

 private:
  Session* session_;
};

class TNSAPIEngine : public THttpEngine {
 public:
  // Becomes the process's NSAPI engine.
  TNSAPIEngine();
  ~TNSAPIEngine() override;

  void WriteServerHeader(const std::string& name, const std::string& value) override;
  void EndServerHeaders() override;
};

// The process's NSAPI engine, or null.
TNSAPIEngine* NsapiEngine();

// Binds the server's functions on the first call, then serves the request. REQ_PROCEED, or
// REQ_ABORTED when a function is missing (written to the engine log) or no NSAPI engine exists.
int NsapiService(pblock* pb, Session* sn, Request* rq);
