#include "common/msg_file.h"

namespace {

// The field name of a macro: the macro without its first and last character.
std::string FieldName(const std::string& macro) {
  return macro.size() < 2 ? std::string() : macro.substr(1, macro.size() - 2);
}

}  // namespace

std::string TBXMsgFile::LabelLine(const std::string& macro) {
  return FieldName(macro) + ": " + macro;
}

void TBXMsgFile::AddHtmlHead() {
  Lines.Add("<html>");
  Lines.Add("<head>");
  Lines.Add("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">");
  Lines.Add(std::string("<meta name=\"GENERATOR\" content=\"Brevix BX ") + kBrevixHomePage + "\">");
  Lines.Add("<title>Brevix BX Message</title>");
  Lines.Add("</head>");
  Lines.Add("<body>");
  Lines.Add("<h1>Your Title Here</h1>");
  Lines.Add("<table border=\"1\">");
}

void TBXMsgFile::AddHtmlFoot() {
  Lines.Add("</table>");
  Lines.Add("</body>");
  Lines.Add("</html>");
}

std::string TBXMsgFile::HtmlLabelText(const std::string& macro) const {
  return HtmlLabel ? HtmlLabel(FieldName(macro)) : FieldName(macro);
}

std::string TBXMsgFile::HtmlMacroText(const std::string& macro) const {
  return HtmlMacro ? HtmlMacro(macro) : macro;
}

void TBXMsgFile::Build() {
  Lines.Clear();
  const int count = Macros.Count();
  switch (Kind) {
    case 0:
      for (const std::string& macro : Macros) Lines.Add(macro);
      break;
    case 1:
      for (const std::string& macro : Macros) Lines.Add(LabelLine(macro));
      break;
    case 2:
      AddHtmlHead();
      for (const std::string& macro : Macros) {
        Lines.Add("<tr>");
        Lines.Add("<td> " + HtmlMacroText(macro) + "</td>");
        Lines.Add("</tr>");
      }
      AddHtmlFoot();
      break;
    case 3:
      AddHtmlHead();
      for (int i = 0; i < count; i += 2) {
        Lines.Add("<tr>");
        Lines.Add("<td> " + HtmlMacroText(Macros[i]) + "</td>");
        if (i + 1 < count) Lines.Add("<td> " + HtmlMacroText(Macros[i + 1]) + "</td>");
        Lines.Add("</tr>");
      }
      AddHtmlFoot();
      break;
    case 4:
      AddHtmlHead();
      for (const std::string& macro : Macros) {
        Lines.Add("<tr>");
        Lines.Add("<td>" + HtmlLabelText(macro) + "</td>");
        Lines.Add("<td>" + HtmlMacroText(macro) + "</td>");
        Lines.Add("</tr>");
      }
      AddHtmlFoot();
      break;
    case 5: {
      // No macros, no line: an empty line would make an empty record in a results file.
      if (count == 0) break;
      std::string line;
      for (int i = 0; i < count; ++i) {
        if (i > 0) line += ',';
        line += '"' + Macros[i] + '"';
      }
      Lines.Add(std::move(line));
      break;
    }
    default:
      break;
  }
}
