#pragma once

#include <functional>
#include <string>
#include <string_view>

// Called for every ordinary entry in a branch being written, with the entry's name (the text
// before its first "(", trimmed). `handled` comes preset to true; a handler that leaves it true
// has answered the entry (usually by writing with HttpWrite); setting it false lets the filter
// answer it from the request (server variable, field, TIME, DATE).
using THttpEntryEvent = std::function<void(const std::string& entry_name, bool& handled)>;
// Called for a condition that is a bare word, e.g. #IF LoggedIn#; `value` comes preset to
// false and is the condition's result.
using THttpLogicalEntryEvent = std::function<void(const std::string& entry_name, bool& value)>;

// The base of the two template filters: runs the page template language (template_scan.h)
// over a text and writes the result into the answer of the calling thread's current request.
// Outside a request nothing is written. The IF levels are the calling thread's, reset at the
// start of every run and put back when it ends, so an entry handler may run another filter.
class THttpTextFilterComponent {
 public:
  THttpTextFilterComponent() = default;
  virtual ~THttpTextFilterComponent() = default;
  THttpTextFilterComponent(const THttpTextFilterComponent&) = delete;
  THttpTextFilterComponent& operator=(const THttpTextFilterComponent&) = delete;

  // Writes the filtered text. Throws Exception when the text cannot be had (a file filter's
  // file); handlers' exceptions pass through.
  virtual void Execute() = 0;

  THttpEntryEvent OnHttpEntry;
  THttpLogicalEntryEvent OnHttpLogicalEntry;

 protected:
  // Resets the calling thread's template state and scans `text` into the current request.
  void RunTemplate(std::string_view text);
};
