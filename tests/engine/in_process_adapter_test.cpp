// The in-process adapters (ISAPI, WSAPI, NSAPI) against played servers: how the answer's
// headers reach each server, and how the ISAPI adapter reads server variables inside a filter
// call. The WSAPI and NSAPI functions are exported from this program for the adapters to find.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/adapters/isapi_engine.h"
#include "engine/adapters/nsapi_engine.h"
#include "engine/adapters/wsapi_engine.h"
#include "engine/server_header_text.h"

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

// What a played server saw of one request.
struct Seen {
  std::map<std::string, std::string> vars;  // the server's variables
  std::string output;
  std::string redirect;
  int status = 0;
  std::string reason;
  std::map<std::string, std::string> answer;
};
thread_local Seen* seen = nullptr;

// A server that cuts a value to its buffer and still reports success.
bool CopyCut(const std::string& value, char* buffer, size_t size) {
  if (size == 0) return false;
  const size_t n = std::min(value.size(), size - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return true;
}

BOOL FilterGetServerVariable(HTTP_FILTER_CONTEXT*, char* name, void* buffer, DWORD* size) {
  const auto found = seen->vars.find(name);
  if (found == seen->vars.end()) return 0;
  CopyCut(found->second, static_cast<char*>(buffer), *size);
  *size = static_cast<DWORD>(std::strlen(static_cast<char*>(buffer)) + 1);
  return 1;
}

BOOL EcbWriteClient(HCONN, void* buffer, DWORD* bytes, DWORD) {
  seen->output.append(static_cast<const char*>(buffer), *bytes);
  return 1;
}

BOOL EcbGetServerVariable(HCONN, char* name, void* buffer, DWORD* size) {
  return FilterGetServerVariable(nullptr, name, buffer, size);
}

BOOL EcbServerSupport(HCONN, DWORD request, void* buffer, DWORD* size, DWORD*) {
  if (request == HSE_REQ_SEND_URL_REDIRECT_RESP) {
    seen->redirect.assign(static_cast<char*>(buffer), *size);
  }
  return 1;
}

}  // namespace

// The played servers' functions, found by the adapters in this process.
extern "C" {
int bind_wsapi(int, int, int) {
  return 1;
}
int nwrite(const void* buffer, int count, WSAPI_CONTEXT*) {
  seen->output.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
  return count;
}
int nread(void*, int, WSAPI_CONTEXT*) {
  return 0;
}
int nflush(WSAPI_CONTEXT*) {
  return 1;
}
int send_http_header(WSAPI_CONTEXT* context, int) {
  seen->status = context->status;
  seen->answer = {{"content-type", context->response_content_type},
                  {"content-length", std::to_string(context->content_length)},
                  {"keep-alive", std::to_string(context->keep_alive)},
                  {"content-encoding", context->response_content_encoding},
                  {"last-modified", context->last_modified},
                  {"location", context->location},
                  {"extra", std::to_string(context->response_header_count)}};
  return 1;
}
int get_server_variable(const char* name, char* buffer, int size, WSAPI_CONTEXT*) {
  const auto found = seen->vars.find(name);
  return found != seen->vars.end() && CopyCut(found->second, buffer, static_cast<size_t>(size));
}

char* pblock_findval(const char* name, pblock*) {
  static char get[] = "GET";
  return std::strcmp(name, "method") == 0 ? get : nullptr;
}
pb_param* pblock_remove(const char* name, pblock*) {
  seen->answer.erase(name);
  return nullptr;
}
int param_free(pb_param*) {
  return 1;
}
pb_param* pblock_nvinsert(const char* name, const char* value, pblock*) {
  seen->answer.emplace(name, value);  // keeps a value not removed first
  return nullptr;
}
void protocol_status(Session*, Request*, int n, char* r) {
  seen->status = n;
  seen->reason = r;
}
int protocol_start_response(Session*, Request*) {
  return REQ_PROCEED;
}
int netbuf_getbytes(netbuf*, char*, int) {
  return NETBUF_EOF;
}
int net_write(SYS_NETFD, const char* buffer, int size) {
  seen->output.append(buffer, static_cast<size_t>(size));
  return size;
}
}  // extern "C"

namespace {

// Queues `headers` and a short body in the request.
void QueueAnswer(THttpEngine& engine, const Headers& headers) {
  engine.OnExecRequest = [headers](THttpEngine* sender) {
    for (const auto& [name, value] : headers) sender->AddHeader(name, value);
    sender->Write("body");
  };
}

TEST(StatusCodeOf, SkipsTheProtocolAndReadsTheWholeCode) {
  const struct {
    std::string line;
    int code;
    std::string reason;
  } cases[] = {
      {"HTTP/1.0 302 Found", 302, "Found"},
      {"HTTP/1.1 200 OK", 200, "OK"},
      {"HTTP/1.0 404", 404, ""},
      {"HTTP/1.0 ", 0, ""},
      {"HTTP/1.0 1234567890123 Big", 123456789, "Big"},
  };
  for (const auto& c : cases) {
    std::string reason = "unset";
    EXPECT_EQ(StatusCodeOf(c.line, &reason), c.code) << c.line;
    EXPECT_EQ(reason, c.reason) << c.line;
  }
}

// Every adapter writes a header and reads a status line by the same rules.
TEST(HeaderLine, EmptyValueKeepsItsColonAndLineBreaksCannotAddLines) {
  EXPECT_EQ(HeaderLine("X-Empty", ""), "X-Empty:\r\n");
  EXPECT_EQ(HeaderLine("X-Value", "a\r\nSet-Cookie: b"), "X-Value: a  Set-Cookie: b\r\n");
  EXPECT_TRUE(IsStatusLine("http/1.1 200 OK"));
  EXPECT_FALSE(IsStatusLine("HTTP-Version"));
  EXPECT_EQ(StatusTextOf("HTTP/2 302 Found"), "302 Found");
  EXPECT_EQ(StatusTextOf("HTTP/1.0 404\r\nX: y"), "404  X: y");
}

// The server sends the redirect's whole answer: no header of the request's own, before the
// Location or after it, and no body follow it onto the connection.
TEST(IsapiAdapter, LocationInAnyCaseBecomesTheServersRedirectAndNothingElseIsWritten) {
  TIsapiEngine engine;
  const Headers cases[] = {{{"Location", "http://site.test/thanks.html"}},
                           {{"X-Before", "1"}, {"LOCATION", "http://site.test/thanks.html"}},
                           {{"location", "http://site.test/thanks.html"}, {"X-After", "1"}}};
  for (const Headers& headers : cases) {
    Seen request;
    seen = &request;
    QueueAnswer(engine, headers);
    std::string method = "GET";
    EXTENSION_CONTROL_BLOCK ecb{};
    ecb.lpszMethod = method.data();
    ecb.GetServerVariable = EcbGetServerVariable;
    ecb.WriteClient = EcbWriteClient;
    ecb.ServerSupportFunction = EcbServerSupport;
    EXPECT_EQ(IsapiHttpExtensionProc(&ecb), HSE_STATUS_SUCCESS);
    EXPECT_EQ(request.redirect, "http://site.test/thanks.html");
    EXPECT_EQ(request.output, "");
  }
}

TEST(IsapiAdapter, FilterCallsReadVariablesFromTheServer) {
  const std::string long_value(5000, 'v');
  const struct {
    std::map<std::string, std::string> vars;
    std::string name;
    std::string expected;
  } cases[] = {
      // Not supplied directly: found in ALL_HTTP, without regard to case.
      {{{"ALL_HTTP", "HTTP_ACCEPT:*/*\nhttp_user_agent: Probe/1.0 \n"}},
       "HTTP_USER_AGENT",
       "Probe/1.0"},
      {{{"ALL_HTTP", "HTTP_ACCEPT:*/*\n"}}, "HTTP_USER_AGENT", ""},
      {{{"HTTP_USER_AGENT", "Direct"}, {"ALL_HTTP", "HTTP_USER_AGENT:Other\n"}},
       "HTTP_USER_AGENT",
       "Direct"},
      // A value that fills the buffer is read again with a larger one.
      {{{"HTTP_LONG", long_value}}, "HTTP_LONG", long_value},
  };
  TIsapiEngine engine;
  for (const auto& c : cases) {
    Seen request;
    request.vars = c.vars;
    seen = &request;
    std::string value = "unset";
    engine.OnIsapiFilterProc = [&](HTTP_FILTER_CONTEXT&, int, void*, int&) {
      value = HttpServerVar(c.name);
    };
    HTTP_FILTER_CONTEXT pfc{};
    pfc.GetServerVariable = FilterGetServerVariable;
    EXPECT_EQ(IsapiHttpFilterProc(&pfc, SF_NOTIFY_PREPROC_HEADERS, nullptr),
              SF_STATUS_REQ_NEXT_NOTIFICATION);
    EXPECT_EQ(value, c.expected) << c.name;
  }
}

TEST(IsapiAdapter, VersionHandlersReachTheServer) {
  TIsapiEngine engine;
  engine.OnIsapiExtensionVersion = [](std::uint32_t&, std::string& description, bool&) {
    description = std::string(300, 'd');
  };
  HSE_VERSION_INFO extension{};
  EXPECT_EQ(IsapiGetExtensionVersion(&extension), 1);
  EXPECT_EQ(std::string(extension.lpszExtensionDesc), std::string(255, 'd'));
  EXPECT_TRUE(IsapiActive());

  engine.OnIsapiFilterVersion = [](int&, int&, std::string&, int&, bool& result) {
    result = false;
  };
  HTTP_FILTER_VERSION filter{};
  EXPECT_EQ(IsapiGetFilterVersion(&filter), 0);
  EXPECT_EQ(filter.dwFilterVersion, HTTP_FILTER_REVISION);
}

TEST(WsapiAdapter, OnlyTheContextsHeadersReachTheServer) {
  TWsapiEngine engine;
  Seen request;
  request.vars = {{"CONTENT_LENGTH", "0"}};
  seen = &request;
  QueueAnswer(engine, {{"HTTP/1.1 302 Found", ""},
                       {"Set-Cookie", "id=1"},
                       {"Cache-Control", "no-cache"},
                       {"Content-Type", "text/plain"},
                       {"content-encoding", "gzip"},
                       {"Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT"},
                       {"Location", "http://site.test/next"},
                       {"Connection", "keep-alive"},
                       {"Content-Length", "4"}});
  WSAPI_CONTEXT context{};
  std::strcpy(context.method, "GET");
  ASSERT_TRUE(WsapiProcess(&context));
  EXPECT_EQ(request.status, 302);
  const std::map<std::string, std::string> expected = {
      {"content-type", "text/plain"},
      {"content-length", "4"},
      {"keep-alive", "1"},
      {"content-encoding", "gzip"},
      {"last-modified", "Tue, 01 Dec 2026 10:00:00 GMT"},
      {"location", "http://site.test/next"},
      {"extra", "0"}};
  EXPECT_EQ(request.answer, expected);
  EXPECT_EQ(request.output, "body");
}

TEST(NsapiAdapter, StatusLineAndLastValueOfAHeaderReachTheServer) {
  TNSAPIEngine engine;
  Seen request;
  seen = &request;
  QueueAnswer(engine, {{"HTTP/1.0 302 Found", ""}, {"X-Note", "first"}, {"X-Note", "second"}});
  pblock block{0, nullptr};
  Session session{&block, nullptr, nullptr, 1};
  Request rq{&block, &block, 0, &block, 0, &block};
  ASSERT_EQ(NsapiService(&block, &session, &rq), REQ_PROCEED);
  EXPECT_EQ(request.status, 302);
  EXPECT_EQ(request.reason, "Found");
  EXPECT_EQ(request.answer.at("x-note"), "second");
  EXPECT_EQ(request.output, "body");
}

}  // namespace
