#pragma once

#include <string>

#include "common/streams.h"
#include "engine/adapters/server_interfaces/wsapi.h"
#include "engine/http_engine.h"

// The WSAPI adapter: inside brevix.so a web server calls the exported Process with its request
// context, and WsapiProcess serves that request. The server's six functions are looked up once
// in the hosting process (dlopen(NULL) / dlsym, after bind_wsapi(1, 1, 0)). The answer's headers
// go into the context's fields (content type, length, encoding, location, last-modified,
// connection mode and the status) and reach the client through send_http_header; the body goes
// through nwrite and the answer ends with nflush. Other headers are not passed on.
//
// Every server thread has its own context; the one TWsapiEngine is shared.

// The body through nread, the answer through nwrite; Seek always answers 0.
class TWsapiStream : public TStream {
 public:
  explicit TWsapiStream(WSAPI_CONTEXT* context) : context_(context) {}
  // Fills `count` bytes unless the server reports the end first; then the bytes read so far,
  // or -1 when there were none.
  int Read(void* buffer, int count) override;
  int Write(const void* buffer, int count) override;
  int64_t Seek(int64_t, SeekOrigin) override { return 0; }

 private:
  WSAPI_CONTEXT* context_;
};

class TWsapiEngine : public THttpEngine {
 public:
  // Becomes the process's WSAPI engine.
  TWsapiEngine();
  ~TWsapiEngine() override;

  void WriteServerHeader(const std::string& name, const std::string& value) override;
  void EndServerHeaders() override;
  // get_server_variable, read again into a buffer 512 bytes larger while the value fills it.
  std::string GetOtherServerVariable(const std::string& name) override;
  // The base SendResponse, then nflush.
  void SendResponse() override;
};

// The process's WSAPI engine, or null.
TWsapiEngine* WsapiEngine();

// Binds the server's functions on the first call, then serves the request of `context`.
// False when the server's functions cannot be found (written to the engine log) or no WSAPI
// engine exists.
bool WsapiProcess(WSAPI_CONTEXT* context);
