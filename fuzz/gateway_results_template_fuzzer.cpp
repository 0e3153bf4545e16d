// Results-file templates and form-supplied file names are the gateway's hostile inputs: the
// template scan must never read out of bounds, and a name that passes the form check must stay
// below the program directory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gateway/parse_me.h"
#include "gateway/resolve_path.h"
#include "gateway/template_macro.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  TParseMe parser;
  parser.Text = input;
  parser.Delimiter = "%";
  parser.Parse();
  TPChar buffer(input);
  TTemplateValues values;
  // A value that holds macros itself: later replacements see inserted text.
  values.FormVar = [](const std::string& name) { return name.size() % 3 ? "%" + name : ""; };
  values.Date = "2026-12-07";
  values.Referer = "\"ref\"";
  values.EmptyMark = "**";
  values.CsvQuotes = size % 2 == 0;
  for (const std::string& token : parser.Tokens) {
    if (token.size() + 2 > input.size() + 2) std::abort();
    ReplaceTemplateMacro("%" + token + "%", buffer, values);
  }
  ReplaceTemplateMacro("%vorl_date%", buffer, values);

  if (IsSafeFormFileName(input)) {
    const std::string dir = "/srv/cgi-bin/";
    const std::string path = ResolvePathIn(dir, input);
    if (path.compare(0, dir.size(), dir) != 0) std::abort();
    if (path.find("/../") != std::string::npos) std::abort();
    if (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0) std::abort();
    if (path.find('\0') != std::string::npos) std::abort();
  }
  return 0;
}
