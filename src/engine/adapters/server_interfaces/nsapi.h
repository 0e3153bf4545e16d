#pragma once

// The NSAPI types the gateway's service function uses, with the layouts servers publish
// (nsapi.h): parameter blocks, the session and the request. Only the leading fields that the
// gateway reads are declared; a server's structures continue after them.
//
// The service entry point of brevix.so (C linkage, the shape of every NSAPI service function):
//
//   int brevix_service(pblock* pb, Session* sn, Request* rq);
//
// A server's obj.conf routes the form's address to it, e.g.
//   Init fn="load-modules" shlib="/srv/www/brevix/brevix.so" funcs="brevix_service"
//   Service fn="brevix_service" method="(GET|POST)"
// It binds the server's NSAPI functions on first use (looked up in the server's process by
// their names, also with the "INT" prefix some servers export them under), reads the request
// line from rq->reqpb ("method", "query", "uri", "protocol"), the headers from rq->headers and
// the client from sn->client ("ip", "dns"), reads the body with netbuf_getbytes from sn->inbuf,
// sets the answer's status and headers in rq->srvhdrs, and writes the body with net_write.
// It returns REQ_PROCEED, or REQ_ABORTED when the server's functions are not there.
#include <cstdint>

extern "C" {

inline constexpr int REQ_PROCEED = 0;
inline constexpr int REQ_ABORTED = -1;
inline constexpr int REQ_NOACTION = -2;
inline constexpr int REQ_EXIT = -3;

inline constexpr int NETBUF_EOF = -1;
inline constexpr int NETBUF_ERROR = -2;
inline constexpr int IO_ERROR = -1;

using SYS_NETFD = void*;

struct pb_param {
  char* name;
  char* value;
};

struct pb_entry {
  pb_param* param;
  pb_entry* next;
};

struct pblock {
  int hsize;
  pb_entry** ht;
};

struct netbuf;

struct Session {
  pblock* client;  // "ip", "dns"
  SYS_NETFD csd;   // the client's connection
  netbuf* inbuf;   // what the server has read from it beyond the request's head
  int csd_open;
};

struct Request {
  pblock* vars;
  pblock* reqpb;  // "method", "uri", "query", "protocol", "clf-request"
  int loadhdrs;
  pblock* headers;  // the request's headers, lower-case names
  int senthdrs;
  pblock* srvhdrs;  // the answer's headers, lower-case names
};

// The server functions the service function binds.
using nsapi_protocol_status_fn = void (*)(Session* sn, Request* rq, int n, char* r);
using nsapi_pblock_remove_fn = pb_param* (*)(const char* name, pblock* pb);
using nsapi_param_free_fn = int (*)(pb_param* pp);
using nsapi_pblock_nvinsert_fn = pb_param* (*)(const char* name, const char* value, pblock* pb);
using nsapi_protocol_start_response_fn = int (*)(Session* sn, Request* rq);
using nsapi_pblock_findval_fn = char* (*)(const char* name, pblock* pb);
using nsapi_netbuf_getbytes_fn = int (*)(netbuf* buf, char* buffer, int size);
using nsapi_net_write_fn = int (*)(SYS_NETFD sd, const char* buffer, int size);

int brevix_service(pblock* pb, Session* sn, Request* rq);
}
