#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
//
// Posts, too, come only from listed origins once Allowed_Origins is set: a post whose Origin is
// neither listed nor the gateway's own is refused before anything is sent, recorded or numbered
// (403, "Form posted from a site that is not allowed", one error-log line naming the origin).
// Otherwise any page on the web could send mail through the gateway from its visitors' browsers.
// A request without an Origin and a post from the gateway's own site are served as ever.

// The error text of a post refused for its origin.
inline constexpr const char* kOriginNotAllowed = "Form posted from a site that is not allowed";
// The error text of a form that came by GET while brevix.ini lets only POST mail (the default):
// an image or link on any page makes each visiting browser send a GET.
inline constexpr const char* kMethodNotAllowed = "Form not sent with POST";

// The longest origin written to the error log; a longer one is cut and ends in "...".
inline constexpr size_t kMaxLoggedOrigin = 200;

// How long a browser may keep a preflight's answer, in seconds.
inline constexpr int kPreflightMaxAge = 600;

// An origin as a browser sends it: an entry of Allowed_Origins (or scheme and Host) without a
// trailing "/" and without the scheme's default port (":80" for http, ":443" for https), so
// "https://www.example.org:443/" lists "https://www.example.org".
std::string NormalisedOrigin(std::string_view origin);

// True when `origin` is one of `allowed` (each normalised): the whole text, without regard to
// ASCII case (scheme and host are case-insensitive; browsers send both in lower case). "null" and
// an empty origin never match.
bool OriginAllowed(const std::vector<std::string>& allowed, std::string_view origin);

// The gateway's own origin as the browser of a page on the gateway's own site sends it: the
// request's scheme ("https" when `https` is "on" or "1", else `request_scheme`, else "http"),
// "://" and the Host header `host`, normalised. A host without a port gets `server_port` (the
// port the request came in on): some servers (Debian's nginx) hand the Host header on without
// its port. Empty without a host.
std::string OwnOrigin(std::string_view https, std::string_view request_scheme,
                      std::string_view host, std::string_view server_port);

// True when a post with Origin `origin` must be refused: `allowed` is not empty, `origin` is
// present (not empty), and it is neither listed nor `own` (the gateway's own origin).
bool OriginRefused(const std::vector<std::string>& allowed, std::string_view origin,
                   std::string_view own);

// `origin` for one line of the error log: every byte that is not printable ASCII becomes "?",
// and it is cut at kMaxLoggedOrigin.
std::string OriginForLog(std::string_view origin);

// True for a preflight: `method` is OPTIONS (blanks and case aside). The gateway answers it
// before any field is decoded and never runs the form for it.
bool IsPreflight(std::string_view method);

// One header of an answer: name and value; a status line has the line as its name and an empty
// value.
using TAnswerHeader = std::pair<std::string, std::string>;

// The cross-origin headers of the answer to a request with `method` and Origin `origin` (empty:
// none), as above and in the order they are queued: for a preflight first its 204 status line.
std::vector<TAnswerHeader> CrossOriginHeaders(const std::vector<std::string>& allowed,
                                              std::string_view method, std::string_view origin);
