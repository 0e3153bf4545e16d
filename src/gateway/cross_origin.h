#pragma once

#include <string_view>
#include <vector>

struct TGuardSettings;

// Cross-origin posts. A page on another origin (a static site on another host) may post to the
// gateway, but its browser lets the page read the answer only when the answer names the page's
// origin. The site owner lists those origins in Allowed_Origins; nothing else does.
//
// For a request whose Origin is listed, every answer carries Access-Control-Allow-Origin (that
// origin) and Vary: Origin. A preflight (method OPTIONS) is answered 204 without running the form;
// for a listed origin it also says that POST with the headers Content-Type and Accept may follow
// (Access-Control-Allow-Methods, -Allow-Headers, -Max-Age). Any other origin gets none of these
// headers: the browser then keeps the answer from the page. Without an Origin (a plain form post
// of older browsers, a shell client) nothing changes.

// How long a browser may keep a preflight's answer, in seconds.
inline constexpr int kPreflightMaxAge = 600;

// True when `origin` is one of `allowed`: the whole text, without regard to ASCII case (scheme
// and host are case-insensitive; browsers send both in lower case). "null" and an empty origin
// never match.
bool OriginAllowed(const std::vector<std::string>& allowed, std::string_view origin);

// True when the calling thread's current request is a preflight (method OPTIONS). The gateway
// answers it before any field is decoded and never runs the form for it.
bool IsPreflightRequest();

// Queues the cross-origin headers of the calling thread's current request (above), and for a
// preflight its 204 status. Called before the request's input is read.
void AddCrossOriginHeaders(const TGuardSettings& guards);
