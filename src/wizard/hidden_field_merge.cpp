#include "wizard/hidden_field_merge.h"

#include <algorithm>
#include <regex>
#include <set>

#include "common/exception.h"
#include "common/text_compare.h"

namespace {

// Tags of form controls and of the form itself; a ">" inside a quoted value is allowed.
const std::regex kControlTag(R"re(<(input|select|textarea|form)\b(?:[^>"']|"[^"]*"|'[^']*')*>)re",
                             std::regex::icase);
const std::regex kAttribute(
    R"re(([A-Za-z_:][-A-Za-z0-9_:.]*)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'>]+)))re");

std::string DecodeReferences(std::string text) {
  const std::pair<const char*, const char*> references[] = {{"&quot;", "\""}, {"&#34;", "\""},
                                                            {"&#39;", "'"},   {"&lt;", "<"},
                                                            {"&gt;", ">"},    {"&amp;", "&"}};
  for (const auto& [reference, character] : references) {
    for (size_t at = text.find(reference); at != std::string::npos;
         at = text.find(reference, at + 1)) {
      text.replace(at, std::string_view(reference).size(), character);
    }
  }
  return text;
}

// The value of attribute `name` in `tag`, references decoded; empty when absent.
std::string AttributeOf(const std::string& tag, std::string_view name) {
  for (auto it = std::sregex_iterator(tag.begin(), tag.end(), kAttribute);
       it != std::sregex_iterator(); ++it) {
    if (!SameText((*it)[1].str(), name)) continue;
    for (int group = 2; group <= 4; ++group) {
      if ((*it)[group].matched) return DecodeReferences((*it)[group].str());
    }
  }
  return {};
}

struct Tag {
  size_t start, length;
  std::string kind, type, name;
};

std::vector<Tag> TagsOf(std::string_view page) {
  std::vector<Tag> tags;
  const std::string text(page);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kControlTag);
       it != std::sregex_iterator(); ++it) {
    const std::string whole = it->str();
    tags.push_back({static_cast<size_t>(it->position()), whole.size(), LowerCase((*it)[1].str()),
                    LowerCase(AttributeOf(whole, "type")), LowerCase(AttributeOf(whole, "name"))});
  }
  return tags;
}

}  // namespace

std::vector<std::string> HiddenFieldNames(const TStringList& lines) {
  std::vector<std::string> names;
  for (const std::string& line : lines) {
    for (const Tag& tag : TagsOf(line)) {
      if (tag.kind == "input")
        names.push_back(AttributeOf(line.substr(tag.start, tag.length), "name"));
    }
  }
  return names;
}

THiddenFieldMerge MergeHiddenFields(std::string_view page, const TStringList& lines) {
  const std::vector<Tag> tags = TagsOf(page);
  const auto form =
      std::find_if(tags.begin(), tags.end(), [](const Tag& t) { return t.kind == "form"; });
  if (form == tags.end()) throw Exception("No <form> tag in the page");

  std::set<std::string> wanted;
  for (const std::string& name : HiddenFieldNames(lines)) wanted.insert(LowerCase(name));
  std::set<std::string> visible;
  for (const Tag& tag : tags) {
    if (tag.kind != "form" && tag.type != "hidden" && !tag.name.empty()) visible.insert(tag.name);
  }

  THiddenFieldMerge merge;
  std::string html(page);
  // From the end, so that earlier positions stay valid.
  for (auto tag = tags.rbegin(); tag != tags.rend(); ++tag) {
    if (tag->kind != "input" || tag->type != "hidden" || !wanted.count(tag->name)) continue;
    size_t start = tag->start, end = tag->start + tag->length;
    const size_t line_start =
        html.rfind('\n', start) == std::string::npos ? 0 : html.rfind('\n', start) + 1;
    const size_t line_end = std::min(html.find('\n', end), html.size());
    const auto blank = [](std::string_view s) { return Trim(s).empty(); };
    if (blank(std::string_view(html).substr(line_start, start - line_start)) &&
        blank(std::string_view(html).substr(end, line_end - end))) {
      start = line_start;
      end = line_end < html.size() ? line_end + 1 : line_end;
    }
    merge.replaced.insert(merge.replaced.begin(),
                          std::string(Trim(html.substr(tag->start, tag->length))));
    html.erase(start, end - start);
  }

  // The line after the form tag shows how the form's content is indented.
  const size_t after_form = form->start + form->length;
  const size_t next_line = html.find('\n', after_form);
  std::string indent;
  if (next_line != std::string::npos) {
    const size_t text = html.find_first_not_of(" \t", next_line + 1);
    if (text != std::string::npos) indent = html.substr(next_line + 1, text - next_line - 1);
  }
  std::string inserted;
  const std::vector<std::string> names = HiddenFieldNames(lines);
  for (int i = 0; i < lines.Count(); ++i) {
    const std::string name = i < static_cast<int>(names.size())
                                 ? LowerCase(names[static_cast<size_t>(i)])
                                 : std::string();
    if (visible.count(name)) {
      merge.kept.push_back(name);
      continue;
    }
    inserted += "\n" + indent + lines[i];
  }
  html.insert(after_form, inserted);
  merge.html = std::move(html);
  return merge;
}
