#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "common/string_list.h"

// Puts the hidden-field lines of the wizard into an existing form page so that no field is
// named twice: the gateway joins the values of a name sent twice (two mail_subject fields give
// one subject of both texts).
struct THiddenFieldMerge {
  std::string html;                   // the page with the lines in place
  std::vector<std::string> replaced;  // the form's own hidden elements that were taken out
  std::vector<std::string> kept;      // names the form asks the visitor for: no line was added
};

// The field names of `lines` (hidden-field lines as HiddenFieldLine writes them), references
// decoded and in lower case (the gateway compares names without regard to case), in order.
std::vector<std::string> HiddenFieldNames(const TStringList& lines);

// Merges `lines` into the first form of `page`:
// - every hidden input of the page named like a line (names compared without regard to case, as
//   the gateway compares them) is removed, with its line when it stood alone on it;
// - a line whose name the page's own visible controls (input, select, textarea) carry is left
//   out, as the visitor's value is the one meant (mail_from, say);
// - the remaining lines go right after the opening form tag, one per line, indented like the
//   line that follows the tag.
// Merging the same lines again gives the same page. Throws Exception("No <form> tag in the
// page") when the page has no form.
THiddenFieldMerge MergeHiddenFields(std::string_view page, const TStringList& lines);
