#pragma once

// The WSAPI interface between a web server and brevix.so: the request context the server hands
// to the module's exported Process, and the six functions the module looks up in the server's
// own executable (dlopen(NULL) / dlsym), all with C linkage.
//
// The fields are those the module uses, named by their role; every text field is a
// zero-terminated string in a fixed array. A server builds one context per request and keeps it
// alive until Process returns.
#include <cstdint>

extern "C" {

inline constexpr int WSAPI_SHORT_FIELD = 64;
inline constexpr int WSAPI_FIELD = 256;
inline constexpr int WSAPI_LONG_FIELD = 1024;
inline constexpr int WSAPI_MAX_RESPONSE_HEADERS = 16;

// One header of the request (read by the module) or an extra one of the answer (the module
// leaves the answer's table empty).
struct WSAPI_HEADER {
  char name[WSAPI_SHORT_FIELD];
  char value[WSAPI_LONG_FIELD];
};

struct WSAPI_CONTEXT {
  // ---- The request, filled by the server ----
  char method[WSAPI_SHORT_FIELD];
  char content_type[WSAPI_FIELD];
  char content_encoding[WSAPI_SHORT_FIELD];
  char remote_host[WSAPI_FIELD];
  char remote_addr[WSAPI_SHORT_FIELD];
  char remote_name[WSAPI_FIELD];  // the authenticated user
  char user_agent[WSAPI_LONG_FIELD];
  char referer[WSAPI_LONG_FIELD];
  char accept[WSAPI_LONG_FIELD];
  char auth_type[WSAPI_SHORT_FIELD];
  std::int32_t request_header_count;
  const WSAPI_HEADER* request_headers;  // request_header_count entries; a nameless one is skipped

  // ---- The answer, filled by the module before send_http_header ----
  std::int32_t status;          // 200 unless a status line says otherwise
  std::int32_t content_length;  // 0: not given
  std::int32_t keep_alive;      // 1: Connection: Keep-Alive
  char response_content_type[WSAPI_FIELD];
  char response_content_encoding[WSAPI_SHORT_FIELD];
  char last_modified[WSAPI_SHORT_FIELD];
  char location[WSAPI_LONG_FIELD];
  std::int32_t response_header_count;
  WSAPI_HEADER response_headers[WSAPI_MAX_RESPONSE_HEADERS];

  void* server_data;  // the server's own, untouched by the module
};

// The server's functions. nread/nwrite return the byte count or -1; get_server_variable returns
// non-zero when it stored the zero-terminated value (cut to size - 1 characters) in buffer.
using wsapi_bind_fn = int (*)(int major, int minor, int flags);
using wsapi_nwrite_fn = int (*)(const void* buffer, int count, WSAPI_CONTEXT* context);
using wsapi_nread_fn = int (*)(void* buffer, int count, WSAPI_CONTEXT* context);
using wsapi_nflush_fn = int (*)(WSAPI_CONTEXT* context);
using wsapi_send_http_header_fn = int (*)(WSAPI_CONTEXT* context, int has_extra_headers);
using wsapi_get_server_variable_fn = int (*)(const char* name, char* buffer, int size,
                                             WSAPI_CONTEXT* context);

// The exported entry point (brevix.so): serves one request; returns non-zero.
int Process(WSAPI_CONTEXT* context);
}
