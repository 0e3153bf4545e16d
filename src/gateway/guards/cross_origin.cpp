#include "gateway/guards/cross_origin.h"

#include <string>

#include "common/text_compare.h"
#include "gateway/json_answer.h"

namespace {

bool EndsWithText(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && SameText(text.substr(text.size() - tail.size()), tail);
}

}  // namespace

std::string NormalisedOrigin(std::string_view origin) {
  std::string_view out = TrimmedView(origin);
  // Owners copy the address bar, which shows "https://www.example.org/".
  while (!out.empty() && out.back() == '/') out.remove_suffix(1);
  // A browser never names the scheme's own port: "http://a:80" reaches the gateway as "http://a".
  if (StartsWithText(out, "http://") && EndsWithText(out, ":80")) out.remove_suffix(3);
  if (StartsWithText(out, "https://") && EndsWithText(out, ":443")) out.remove_suffix(4);
  return std::string(out);
}

bool OriginAllowed(const std::vector<std::string>& allowed, std::string_view origin) {
  // A sandboxed page or a redirected request sends "null": anybody can make a page send it.
  if (origin.empty() || SameText(origin, "null")) return false;
  for (const std::string& entry : allowed) {
    if (SameText(NormalisedOrigin(entry), origin)) return true;
  }
  return false;
}

std::string OwnOrigin(std::string_view https, std::string_view request_scheme,
                      std::string_view host, std::string_view server_port) {
  std::string authority = Trim(host);
  if (authority.empty()) return std::string();
  // The port follows the last colon, unless that colon is inside an IPv6 address ("[::1]").
  const size_t colon = authority.rfind(':');
  const size_t bracket = authority.rfind(']');
  const bool has_port =
      colon != std::string::npos && (bracket == std::string::npos || colon > bracket);
  const std::string port = Trim(server_port);
  if (!has_port && !port.empty()) {
    authority += ':';
    authority += port;
  }
  std::string scheme = "http";
  if (SameText(Trim(https), "on") || Trim(https) == "1") {
    scheme = "https";
  } else if (!Trim(request_scheme).empty()) {
    scheme = LowerCase(Trim(request_scheme));
  }
  return NormalisedOrigin(scheme + "://" + authority);
}

bool OriginRefused(const std::vector<std::string>& allowed, std::string_view origin,
                   std::string_view own) {
  if (allowed.empty() || origin.empty()) return false;
  if (!own.empty() && SameText(origin, own)) return false;
  return !OriginAllowed(allowed, origin);
}

std::string OriginForLog(std::string_view origin) {
  const bool cut = origin.size() > kMaxLoggedOrigin;
  std::string out(origin.substr(0, kMaxLoggedOrigin));
  for (char& c : out) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E) c = '?';
  }
  if (cut) out += "...";
  return out;
}

bool IsPreflight(std::string_view method) {
  return SameText(TrimmedView(method), "OPTIONS");
}

std::vector<TAnswerHeader> CrossOriginHeaders(const std::vector<std::string>& allowed,
                                              std::string_view method, std::string_view origin) {
  std::vector<TAnswerHeader> headers;
  const bool preflight = IsPreflight(method);
  if (preflight) headers.emplace_back(StatusLine(204), "");
  if (!OriginAllowed(allowed, origin)) return headers;
  // The origin is echoed only once it equals a listed one, so no visitor text reaches a header.
  headers.emplace_back("Access-Control-Allow-Origin", origin);
  headers.emplace_back("Vary", "Origin");
  if (!preflight) return headers;
  headers.emplace_back("Access-Control-Allow-Methods", "POST");
  headers.emplace_back("Access-Control-Allow-Headers", "Content-Type, Accept");
  headers.emplace_back("Access-Control-Max-Age", std::to_string(kPreflightMaxAge));
  return headers;
}
