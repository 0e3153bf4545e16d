#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "common/streams.h"
#include "common/string_list.h"
#include "engine/adapters/cgi_std_engine.h"

// Runs one real request through the standard CGI engine in this process, with in-memory
// streams, and returns what the page components wrote: the answer body after the header block.
namespace page_test {

// An output stream that appends to a string the caller keeps (the engine frees the stream
// itself when the request ends).
class TStringSink : public TStream {
 public:
  explicit TStringSink(std::string& sink) : sink_(sink) {}
  int Read(void*, int) override { return -1; }
  int Write(const void* buffer, int count) override {
    sink_.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
    return count;
  }
  int64_t Seek(int64_t, SeekOrigin) override { return -1; }

 private:
  std::string& sink_;
};

struct TAnswer {
  std::string raw;   // status line, headers and body as the engine sent them
  std::string body;  // the part after the empty line
};

// A GET request with `query` as its query string (so the fields are decoded by the engine) and
// the given server variables on top of the usual ones; `handler` runs as OnExecRequest.
inline TAnswer ServeGet(const std::string& query, const std::map<std::string, std::string>& vars,
                        const std::function<void()>& handler) {
  TCGIStdEngine engine;
  engine.SetCGIAutoTerminate(false);
  engine.OnExecRequest = [&](THttpEngine*) { handler(); };
  auto variables = std::make_unique<TStringList>();
  std::map<std::string, std::string> all = {
      {"REQUEST_METHOD", "GET"},        {"SERVER_SOFTWARE", "lighttpd/1.4"},
      {"GATEWAY_INTERFACE", "CGI/1.1"}, {"SCRIPT_NAME", "/cgi-bin/brevix.cgi"},
      {"REMOTE_ADDR", "192.0.2.10"},    {"QUERY_STRING", query}};
  for (const auto& [name, value] : vars) all[name] = value;
  for (const auto& [name, value] : all) variables->Add(name + "=" + value);
  TAnswer answer;
  engine.Run(std::make_unique<TMemoryStream>(), std::make_unique<TStringSink>(answer.raw),
             std::move(variables));
  const size_t end = answer.raw.find("\r\n\r\n");
  answer.body = end == std::string::npos ? "" : answer.raw.substr(end + 4);
  return answer;
}

}  // namespace page_test
