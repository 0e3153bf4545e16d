#include "wizard/html_form_scanner.h"

#include "common/file_tool.h"
#include "common/text_compare.h"

namespace {

bool IsSkippedBeforeToken(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

bool EndsTextToken(char c) {
  return c == '\n' || c == '\r' || c == '<';
}

bool EndsFieldName(char c) {
  return c == ' ' || c == '\n' || c == '\r';
}

// The name written after "NAME=" in the tag text; double quotes are left out wherever they
// stand, everything else (single quotes too) is copied.
std::string FieldNameAt(const std::string& tag_text, std::size_t start) {
  std::string name;
  for (std::size_t i = start; i < tag_text.size() && !EndsFieldName(tag_text[i]); ++i) {
    if (tag_text[i] != '"') name += tag_text[i];
  }
  return name;
}

bool IsFieldTag(const TSimpleHTMLParser& parser) {
  return parser.IsTag("input") || parser.IsTag("select") || parser.IsTag("textarea");
}

}  // namespace

TSimpleHTMLParser::TSimpleHTMLParser(std::string_view document)
    : source_(document.substr(0, document.find('\0'))) {
  NextToken();
}

void TSimpleHTMLParser::NextToken() {
  text_.clear();
  const std::size_t size = source_.size();
  while (position_ < size && IsSkippedBeforeToken(source_[position_])) ++position_;
  token_start_ = position_;

  if (position_ >= size) {
    kind_ = TTokenKind::EndOfText;
    return;
  }

  if (source_[position_] == '<') {
    const std::size_t first = position_ + 1;
    const std::size_t close = source_.find('>', first);
    if (close == std::string::npos) {
      // A tag left open: the rest of the text is its content, and the next call ends the scan.
      text_ = source_.substr(first);
      position_ = size;
    } else {
      text_ = source_.substr(first, close - first);
      position_ = close + 1;
    }
    kind_ = TTokenKind::Tag;
    return;
  }

  // The first character always belongs to the text token, so a token never comes out empty.
  std::size_t end = position_ + 1;
  while (end < size && !EndsTextToken(source_[end])) ++end;
  text_ = source_.substr(position_, end - position_);
  position_ = end;
  kind_ = TTokenKind::Text;
}

bool TSimpleHTMLParser::IsTag(std::string_view name) const {
  if (kind_ != TTokenKind::Tag) return false;
  if (SameText(text_, name)) return true;
  return UpperCase(text_).starts_with(UpperCase(name));
}

TStringList ScanFormMacros(std::string_view document, bool list_all) {
  TStringList macros;
  for (TSimpleHTMLParser parser(document); parser.TokenKind() != TTokenKind::EndOfText;
       parser.NextToken()) {
    if (!IsFieldTag(parser)) continue;
    const std::string upper = UpperCase(parser.TokenText());
    if (!list_all && upper.find("HIDDEN") != std::string::npos) continue;
    if (upper.find("SUBMIT") != std::string::npos) continue;
    if (upper.find("RESET") != std::string::npos) continue;
    const std::size_t key = upper.find("NAME=");
    if (key == std::string::npos) continue;
    // Upper-casing keeps every byte in its place, so the index holds in the original text.
    std::string macro(1, '%');
    macro += FieldNameAt(parser.TokenText(), key + 5);
    macro += '%';
    if (macros.IndexOf(macro) < 0) macros.Add(std::move(macro));
  }
  macros.Add("%vorl_date%");
  macros.Add("%vorl_time%");
  macros.Add("%vorl_referer%");
  return macros;
}

TStringList LoadMacrosFromForm(const std::string& file_name, bool list_all) {
  const TPChar document = ReadFileToPChar(file_name);
  return ScanFormMacros(document.View(), list_all);
}
