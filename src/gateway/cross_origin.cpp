#include "gateway/cross_origin.h"

#include <string>

#include "common/guard_settings.h"
#include "common/text_compare.h"
#include "engine/http_engine.h"
#include "gateway/json_answer.h"

bool OriginAllowed(const std::vector<std::string>& allowed, std::string_view origin) {
  // A sandboxed page or a redirected request sends "null": anybody can make a page send it.
  if (origin.empty() || SameText(origin, "null")) return false;
  for (const std::string& entry : allowed) {
    if (SameText(entry, origin)) return true;
  }
  return false;
}

bool IsPreflightRequest() {
  return SameText(Trim(HttpServerVar("REQUEST_METHOD")), "OPTIONS");
}

void AddCrossOriginHeaders(const TGuardSettings& guards) {
  THttpEngine* engine = CurrentHttpEngine();
  if (engine == nullptr) return;
  const bool preflight = IsPreflightRequest();
  if (preflight) engine->AddHeader(StatusLine(204), "");
  const std::string origin = HttpServerVar("HTTP_ORIGIN");
  if (!OriginAllowed(guards.AllowedOrigins, origin)) return;
  // The origin is echoed only once it equals a listed one, so no visitor text reaches a header.
  engine->AddHeader("Access-Control-Allow-Origin", origin);
  engine->AddHeader("Vary", "Origin");
  if (!preflight) return;
  engine->AddHeader("Access-Control-Allow-Methods", "POST");
  engine->AddHeader("Access-Control-Allow-Headers", "Content-Type, Accept");
  engine->AddHeader("Access-Control-Max-Age", std::to_string(kPreflightMaxAge));
}
