#include "gateway/template_macro.h"

#include "common/text_compare.h"

namespace {

std::string DoubleQuotes(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    out += c;
    if (c == '"') out += '"';
  }
  return out;
}

}  // namespace

void ReplaceTemplateMacro(const std::string& macro, TPChar& buffer, const TTemplateValues& values) {
  std::string value;
  if (FindText(macro, "VORL") != std::string::npos) {
    if (SameText(macro, "%vorl_date%")) {
      value = values.Date;
    } else if (SameText(macro, "%vorl_time%")) {
      value = values.Time;
    } else if (SameText(macro, "%vorl_referer%")) {
      value = values.Referer;
    }
    if (value.empty()) return;
  } else {
    const std::string name = macro.size() >= 2 ? macro.substr(1, macro.size() - 2) : std::string();
    if (values.FormVar) value = values.FormVar(name);
    if (value.empty()) value = values.EmptyMark;
  }
  if (values.CsvQuotes) value = DoubleQuotes(value);
  ReplaceAllPChar(buffer, macro, value);
}
