#pragma once

#include <functional>
#include <string>

#include "common/pchar_lib.h"

// Expansion of the macros of a results-file template ("%name%" pairs found by TParseMe).

// What a results record can show. The caller fills it once per record.
struct TTemplateValues {
  // The submitted value of a form field, or empty when it is absent or empty.
  std::function<std::string(const std::string& name)> FormVar;
  std::string Date;       // the current date in the request's Date_Format
  std::string Time;       // the current time in the request's Time_Format
  std::string Referer;    // the referring page, empty when the browser sent none
  std::string EmptyMark;  // "**" or one blank
  // The record is a comma-separated line (the generated "BXCSV" layout, or any template of a
  // ".csv" results file): every double quote inside an inserted value is doubled so that the
  // record stays one well-formed row.
  bool CsvQuotes = false;
};

// Replaces every occurrence of `macro` (a name with its two "%" signs, matched exactly, case
// included) in `buffer`, left to right; text inserted by this call is not scanned again.
//  - A macro that holds "VORL" in any case is a built-in: "%vorl_date%", "%vorl_time%" and
//    "%vorl_referer%" (any case) give Date, Time and Referer; any other such name, and a
//    built-in whose value is empty, leaves the buffer unchanged.
//  - Any other macro gives the form field of the name between the signs, or EmptyMark.
// An empty value never deletes the macro (the buffer rules). Never throws (beyond allocation
// failure).
void ReplaceTemplateMacro(const std::string& macro, TPChar& buffer, const TTemplateValues& values);
