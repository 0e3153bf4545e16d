#pragma once

#include <cstdint>
#include <functional>
#include <string>

// A colour as 0x00BBGGRR (blue in the high byte, red in the low one).
using TColor = uint32_t;
// "No colour": the attribute is left out.
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clGray = 0x808080;

// The five colours of a page body; each left out of the body tag while clNone.
struct TBodyColors {
  TColor BackGround = clNone;   // BGCOLOR
  TColor Text = clNone;         // TEXT
  TColor Link = clNone;         // LINK
  TColor VisitedLink = clNone;  // VLINK
  TColor ActiveLink = clNone;   // ALINK
};

using THtmlHeadEvent = std::function<void()>;
using THtmlBodyEvent = std::function<void()>;

// Writes a complete HTML page skeleton into the answer of the calling thread's current request
// and lets its owner fill the head and the body through OnHtmlHead and OnHtmlBody (which write
// with HttpWrite / HttpWriteLn). Outside a request nothing is written.
//
// Execute writes, one line each unless said otherwise:
//   <HTML>
//   <HEAD[ HeadOptions]>
//   [<META HTTP-EQUIV="Refresh" CONTENT="n; URL=<script>[?<query>]">]   (no line end)
//   <TITLE>Title</TITLE>
//   ... OnHtmlHead ...
//   </HEAD>
//   <BODY[ BACKGROUND="..."][ BGCOLOR="#RRGGBB"][ TEXT=..][ LINK=..][ VLINK=..][ ALINK=..][
//   BodyOptions]>
//   ... OnHtmlBody ...
//   </BODY>
//   </HTML>
//   [<ADDRESS>Address</ADDRESS>]
// The refresh line appears when RefreshInterval is above 0 and points back at the program with
// the request's query string; the request's values in it are HTML-escaped. The other texts are
// the owner's and are written as they are. Exceptions of the handlers pass through.
class THttpMaster {
 public:
  THttpMaster() = default;
  THttpMaster(const THttpMaster&) = delete;
  THttpMaster& operator=(const THttpMaster&) = delete;

  std::string Title;
  std::string HeadOptions;
  std::string BodyOptions;
  std::string Background;
  TBodyColors Colors;
  int RefreshInterval = 0;
  std::string Address;

  THtmlHeadEvent OnHtmlHead;
  THtmlBodyEvent OnHtmlBody;

  void Execute();
};
