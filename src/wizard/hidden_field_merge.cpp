#include "wizard/hidden_field_merge.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "common/exception.h"
#include "common/text_compare.h"

namespace {

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

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':' ||
         c == '.';
}

// The value of attribute `name` in `tag` (the text between "<" and ">"), references decoded;
// empty when absent. Values may be double-quoted, single-quoted or bare. A plain walk, not a
// regular expression: a page is the owner's file of any size, and a recursive matcher could
// run out of stack on one long value.
std::string AttributeOf(std::string_view tag, std::string_view name) {
  size_t at = 0;
  while (at < tag.size() && IsNameChar(tag[at])) ++at;  // the tag's own name
  while (at < tag.size()) {
    while (at < tag.size() && !IsNameChar(tag[at])) ++at;
    const size_t name_start = at;
    while (at < tag.size() && IsNameChar(tag[at])) ++at;
    const std::string_view attribute = tag.substr(name_start, at - name_start);
    while (at < tag.size() && std::isspace(static_cast<unsigned char>(tag[at]))) ++at;
    if (at >= tag.size() || tag[at] != '=') continue;
    ++at;
    while (at < tag.size() && std::isspace(static_cast<unsigned char>(tag[at]))) ++at;
    size_t value_start = at, value_end;
    if (at < tag.size() && (tag[at] == '"' || tag[at] == '\'')) {
      value_start = at + 1;
      value_end = std::min(tag.find(tag[at], value_start), tag.size());
      at = value_end + 1;
    } else {
      while (at < tag.size() && !std::isspace(static_cast<unsigned char>(tag[at]))) ++at;
      value_end = at;
    }
    if (!attribute.empty() && SameText(attribute, name)) {
      return DecodeReferences(std::string(tag.substr(value_start, value_end - value_start)));
    }
  }
  return {};
}

struct Tag {
  size_t start, length;  // from "<" to ">" inclusive
  std::string kind, type, name;
};

// The input, select, textarea and form tags of `page`, in order; a ">" inside a quoted value
// does not end a tag, and a tag left open runs to the end of the page.
std::vector<Tag> TagsOf(std::string_view page) {
  std::vector<Tag> tags;
  for (size_t at = page.find('<'); at != std::string_view::npos; at = page.find('<', at + 1)) {
    size_t end = at + 1;
    while (end < page.size() && std::isalpha(static_cast<unsigned char>(page[end]))) ++end;
    const std::string kind = LowerCase(page.substr(at + 1, end - at - 1));
    if (kind != "input" && kind != "select" && kind != "textarea" && kind != "form") continue;
    char quote = 0;
    for (; end < page.size() && (quote || page[end] != '>'); ++end) {
      if (quote && page[end] == quote) {
        quote = 0;
      } else if (!quote && (page[end] == '"' || page[end] == '\'')) {
        quote = page[end];
      }
    }
    const size_t length = std::min(end + 1, page.size()) - at;
    const std::string_view inside = page.substr(at + 1, std::min(end, page.size()) - at - 1);
    tags.push_back({at, length, kind, LowerCase(AttributeOf(inside, "type")),
                    LowerCase(AttributeOf(inside, "name"))});
    at += length - 1;
  }
  return tags;
}

}  // namespace

std::vector<std::string> HiddenFieldNames(const TStringList& lines) {
  std::vector<std::string> names;
  for (const std::string& line : lines) {
    for (const Tag& tag : TagsOf(line)) {
      if (tag.kind == "input") names.push_back(tag.name);
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
