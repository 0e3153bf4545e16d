#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "common/streams.h"
#include "common/string_list.h"

// Reading a Windows CGI profile: the web server writes the request into a profile file
// (sections in brackets, key=value lines, each line ended by CR LF), passes its path as the
// program's first parameter and reads the answer from the output file the profile names.
//
// What the profile gives the request:
//   [CGI], [System], [Extra Headers]  every key=value line is a request variable; blanks in the
//                                     key become "_" (Request Method -> Request_Method, while
//                                     Accept-Language keeps its dash)
//   [Accept]                          the keys whose value is Yes (any case), in order, joined
//                                     by "," into one HTTP_ACCEPT variable (none: no variable)
//   [Form Literal]                    key=<url-encoded value>& appended to a content buffer
//   [Form External]                   value "<path> <count>": exactly <count> bytes of that file
//                                     (at most 10 decimal digits), url-encoded, appended as
//                                     above; a file that cannot be read in full is left out
//   other sections                    ignored
// Section names compare upper-cased with blanks turned into "_". Lines end at CR; at most
// kProfileLineLimit characters of a line are taken (the rest of it, up to the CR, is dropped);
// a line is trimmed on the left, so the LF after a CR falls away; the last line of a profile
// that does not end with CR is not used.
//
// The request body is the file named by CONTENT_FILE when that file exists (the content buffer
// is then dropped), else the content buffer, else none. OUTPUT_FILE names the answer's file: it
// is created, or emptied when it exists, so that nothing of an older answer follows this one.

inline constexpr size_t kProfileLineLimit = 0x3fff;
// Bytes of a [Form External] file read per call.
inline constexpr size_t kExternalBlockSize = 2048;

struct TWinCGIRequest {
  std::unique_ptr<TStringList> Variables;  // name=value, in profile order (HTTP_ACCEPT last)
  std::unique_ptr<TStream> Input;          // positioned at its start; null without a body
  std::unique_ptr<TStream> Output;         // the output file, open for writing
  std::string OutputPath;                  // the OUTPUT_FILE value
};

// What the sections of a profile give, before any stream is opened.
struct TWinCGIProfileContent {
  std::unique_ptr<TStringList> Variables;  // name=value, in profile order (HTTP_ACCEPT last)
  bool HasFormFields = false;              // [Form Literal] or [Form External] gave a field
  std::string FormFields;                  // the url-encoded fields, each ended by "&"
};

// Reads the sections of the profile at `path` (and the [Form External] files it names; nothing
// is written). Throws Exception when the profile cannot be opened.
TWinCGIProfileContent ReadWinCGIProfileContent(const std::string& path);

// Reads the profile at `path`. Throws Exception when the profile cannot be opened, when it names
// no OUTPUT_FILE, or when the output file can be neither opened nor created; nothing is left
// open then. Never reads or allocates more of a [Form External] file than the file holds.
TWinCGIRequest ReadWinCGIProfile(const std::string& path);
