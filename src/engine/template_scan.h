#pragma once

#include <array>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "engine/condition_eval.h"
#include "engine/request_context.h"

// The scan of the page template language: plain text is copied, entries between "%" or "#"
// delimiters (see template_entry.h) are replaced, and IF / ELSEIF / ELSE / ENDIF entries select
// which text is copied.
//
// An ordinary entry, in a branch being written, is answered by the first of:
//   1. the entry handler (called with the text before the first "(");
//   2. a non-empty server variable of that name;
//   3. for "RANDOM_HIDDEN_INPUT": a hidden input holding the seconds since midnight;
//   4. a request field of that name -- a field sent empty writes nothing and ends the search;
//   5. for "TIME" / "DATE" (exactly so written): the current time / date, US English style.
// Anything else vanishes. Values from the request (2 and 4) are HTML-escaped; the hidden input
// is the scan's own markup and is written as it is.

// What the scan writes to and looks up in: the current request in production, a recorder in
// tests.
class TTemplateHost : public TConditionLookups {
 public:
  // Appends text to the answer.
  virtual void Write(std::string_view text) = 0;
  // True when the request holds a field named `name` (ASCII case ignored); `value` receives its
  // value, which may be empty.
  virtual bool FindField(const std::string& name, std::string& value) = 0;
  // Offers an ordinary entry to the entry handler with Handled preset to true. Returns whether
  // the handler answered it; false when no handler is assigned.
  virtual bool HandleEntry(const std::string& entry_name) = 0;
  // The current local time.
  virtual std::tm LocalNow() = 0;
};

inline constexpr int kConditionLevels = 32;
using TConditionLevels = std::array<TConditionLevel, kConditionLevels>;

// Runs templates against a host, keeping the IF levels in a table it does not own (the
// per-thread table of the request in production). The table holds the base level and 31
// nested IF levels; IFs nested deeper are kept by the scan object itself, so that deep nesting
// never writes outside the table and still selects text correctly.
//
// `depth` and `levels` must outlive the scan. Not copyable.
class TTemplateScan {
 public:
  TTemplateScan(TTemplateHost& host, int& depth, TConditionLevels& levels)
      : host_(host), depth_(depth), levels_(levels) {}
  TTemplateScan(const TTemplateScan&) = delete;
  TTemplateScan& operator=(const TTemplateScan&) = delete;

  // Back to the base level, writing.
  void Reset();
  // Scans `text` from the current state. An IF left open at the end keeps its level in force.
  void Run(std::string_view text);

 private:
  TConditionLevel& Current();
  // The level above the current one; nullptr at the base level.
  TConditionLevel* Parent();
  void Push();
  void Pop();

  void DoIf(std::string_view entry);
  void DoElseIf(std::string_view entry);
  void DoElse();
  void DoEndIf();
  void DoOrdinary(const std::string& entry);

  TTemplateHost& host_;
  int& depth_;
  TConditionLevels& levels_;
  std::vector<TConditionLevel> overflow_;  // IF levels nested beyond the table
};
