#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/string_list.h"

// The product's home page, named in the generator line of the HTML layouts.
inline constexpr const char* kBrevixHomePage = "http://www.brevix.example/";

// Lays out a list of field macros ("%name%") as a ready-made message-text template in one of
// six numbered formats (the names are those of the Default_Format setting):
//   0 "BX1ColTextNoLabel"  plain text, one macro per line
//   1 "BX1ColTextLabel"    plain text, "name: %name%" per macro
//   2 "BX1ColHTMLNoLabel"  HTML page, one-column table, one macro per row
//   3 "BX2ColHTMLNoLabel"  HTML page, two-column table, two macros per row
//   4 "BX2ColHTMLLabel"    HTML page, two-column table of label and macro
//   5 "BXCSV"              one line of quoted macros separated by commas
// The object owns both lists; it is a plain value with no failure modes.
class TBXMsgFile {
 public:
  TBXMsgFile() = default;

  // Clears Lines, then fills it from Macros in the format Kind. For a Kind above 5 Lines stays
  // empty; format 5 with no macros gives no line at all.
  void Build();

  // The macro without its first and last character (the field name), ": " and the macro.
  // A macro shorter than two characters has an empty field name.
  static std::string LabelLine(const std::string& macro);

  // Append the fixed HTML head (up to and including the opening of the table) and foot.
  void AddHtmlHead();
  void AddHtmlFoot();

  // How a field name standing as a label (format 4) and a macro are written into the HTML
  // formats (2, 3 and 4); unset, they go in as they are. The gateway escapes them, since a
  // visitor chooses the field names.
  std::function<std::string(const std::string& name)> HtmlLabel;
  std::function<std::string(const std::string& macro)> HtmlMacro;

  TStringList Lines;   // the output
  TStringList Macros;  // the input: one macro per item; callers fill it or assign their own
  std::uint8_t Kind = 1;

 private:
  std::string HtmlLabelText(const std::string& macro) const;
  std::string HtmlMacroText(const std::string& macro) const;
};
