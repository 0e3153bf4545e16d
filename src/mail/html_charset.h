#pragma once

#include <string>
#include <string_view>

// The charset an HTML body names in its own <meta> tags must be the one its mail header (or its
// results file) declares: a reader that trusts the tag over the header, or a browser that opens
// the saved page, would otherwise show every character beyond ASCII wrongly. Pure functions on
// text; none of them throws.

// The value of the "charset" parameter of the first Content-Type field in `header` (lines ended
// by CR LF; quotes removed), or "" when there is none.
std::string DeclaredCharset(std::string_view header);

// True when the first Content-Type field in `header` is text/html (any case).
bool DeclaresHtml(std::string_view header);

// `html` with the charset of every <meta charset="..."> tag and of every <meta http-equiv=
// "Content-Type" content="...; charset=..."> tag replaced by `charset`; the rest unchanged. Only
// real tags are touched: a visitor's value in an HTML body is escaped ("&lt;meta"), so it holds
// none.
std::string WithMetaCharset(std::string_view html, std::string_view charset);

// The charset of text the gateway wrote from a template and a visitor's values: "utf-8" when
// it reads as UTF-8 (or is ASCII), else "iso-8859-1" (every byte is a Latin-1 character).
std::string CharsetOfText(std::string_view text);
