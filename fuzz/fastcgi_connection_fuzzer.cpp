// Hostile FastCGI peers: the input is everything a web server's connection sends, read by the
// adapter's own record reader (engine/adapters/fastcgi_connection.h) through a socket pair:
// requests on a kept connection, their parameters and bodies, management records, answers written
// back. Nothing may crash, hang or keep more than the parameters' bound.

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/adapters/fastcgi_connection.h"
#include "engine/adapters/fastcgi_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  fastcgi::TPairs pairs;
  if (fastcgi::DecodePairs(input, pairs)) {
    size_t total = 0;
    for (const auto& [name, value] : pairs) total += name.size() + value.size();
    if (total > size) std::abort();
  }

  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return 0;
  // The fuzzer's inputs fit the socket's buffer: the peer's side is written whole, then ended.
  if (write(ends[0], data, size) != static_cast<ssize_t>(size)) {
    close(ends[0]);
    close(ends[1]);
    return 0;
  }
  shutdown(ends[0], SHUT_WR);
  TFastCGILimits limits;
  limits.Params = limits.Body = limits.Answer = limits.Stall = limits.Linger =
      std::chrono::milliseconds(100);
  {
    TFastCGIConnection connection(limits, 2);
    connection.Adopt(ends[1]);
    std::string error;
    for (int request = 0; request < 64 && connection.IsOpen(); ++request) {
      const auto deadline = std::chrono::steady_clock::now() + limits.Params;
      if (!connection.ReadRequestStart(deadline, error)) break;
      size_t kept = 0;
      for (const auto& [name, value] : connection.Params()) kept += name.size() + value.size();
      if (kept > TFastCGIConnection::kMaxParamsBytes) std::abort();
      char buffer[512];
      int n = 0;
      while ((n = connection.ReadBody(buffer, sizeof buffer,
                                      std::chrono::steady_clock::now() + limits.Body)) > 0) {
        connection.WriteOutput(std::string_view(buffer, static_cast<size_t>(n)));
      }
      connection.Finish();
    }
  }
  close(ends[0]);
  return 0;
}
