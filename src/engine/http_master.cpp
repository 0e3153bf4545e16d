#include "engine/http_master.h"

#include <utility>

#include "common/html_escape.h"
#include "engine/http_engine.h"
#include "engine/http_utils.h"

namespace {

std::string BodyTag(const std::string& background, const TBodyColors& colors,
                    const std::string& body_options) {
  std::string tag = "<BODY";
  if (!background.empty()) tag += " BACKGROUND=\"" + background + "\"";
  const std::pair<const char*, TColor> attributes[] = {
      {" BGCOLOR=", colors.BackGround}, {" TEXT=", colors.Text},        {" LINK=", colors.Link},
      {" VLINK=", colors.VisitedLink},  {" ALINK=", colors.ActiveLink},
  };
  for (const auto& [name, color] : attributes) {
    if (color != clNone) tag += name + ColorToHtml(color);
  }
  if (!body_options.empty()) tag += " " + body_options;
  return tag + ">";
}

}  // namespace

void THttpMaster::Execute() {
  HttpWriteLn("<HTML>");
  HttpWriteLn(HeadOptions.empty() ? "<HEAD>" : "<HEAD " + HeadOptions + ">");
  if (RefreshInterval > 0) {
    // The program's path and the query string come from the request: a raw request may carry a
    // double quote that would otherwise end the attribute. Browsers decode the entities of an
    // attribute value, so the address itself is unchanged.
    std::string url = HttpServerVar("EXECUTABLE_PATH");
    const std::string query = HttpServerVar("QUERY_STRING");
    if (!query.empty()) url += "?" + query;
    HttpWrite("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"" + std::to_string(RefreshInterval) +
              "; URL=" + HtmlEscape(url) + "\">");
  }
  HttpWriteLn("<TITLE>" + Title + "</TITLE>");
  if (OnHtmlHead) OnHtmlHead();
  HttpWriteLn("</HEAD>");
  HttpWriteLn(BodyTag(Background, Colors, BodyOptions));
  if (OnHtmlBody) OnHtmlBody();
  HttpWriteLn("</BODY>");
  HttpWriteLn("</HTML>");
  if (!Address.empty()) HttpWriteLn("<ADDRESS>" + Address + "</ADDRESS>");
}
