#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/string_list.h"

// The wizard's form field scanner: a small tokenizer that cuts an HTML text into tags and runs
// of text, and the collector that turns the named input, select and textarea fields of a form
// into macros ("%name%").
//
// The tokenizer knows nothing of attributes, quotes, comments, scripts or entities, and the
// collector searches the raw tag text for a few upper-cased key words. These rules decide which
// macros a site owner is offered, so they are kept exactly, odd corners included (a ">" inside a
// quoted value ends the tag; "username=" also contains "NAME=").

enum class TTokenKind { EndOfText, Text, Tag };

class TSimpleHTMLParser {
 public:
  // Keeps its own copy of `document` up to its first NUL character and reads the first token at
  // once, so TokenKind and TokenText describe it before any NextToken call.
  explicit TSimpleHTMLParser(std::string_view document);

  // Advances to the next token. Characters 1 to 32 before a token are skipped. A tag runs from
  // after "<" to before the next ">" (or the end of the text, for a tag left open); a text runs
  // up to the next line feed, carriage return, "<" or the end. At the end of the text the kind
  // is EndOfText and stays so on further calls. Never fails.
  void NextToken();

  // True when the current token is a tag whose text equals `name` or begins with it, ASCII
  // letters compared without regard to case ("input" matches "INPUT type=text" and "inputs",
  // not "/input").
  bool IsTag(std::string_view name) const;

  TTokenKind TokenKind() const { return kind_; }
  const std::string& TokenText() const { return text_; }
  // Index of the current token's first character in the document.
  std::size_t TokenStart() const { return token_start_; }

 private:
  std::string source_;
  std::size_t position_ = 0;
  std::size_t token_start_ = 0;
  TTokenKind kind_ = TTokenKind::EndOfText;
  std::string text_;
};

// Collects the macros of a form document: every named input, select and textarea tag in
// document order, each name once (the first spelling met wins, names compared without regard
// to case), tags whose upper-cased text contains "SUBMIT" or "RESET" left out, and those that
// contain "HIDDEN" left out unless `list_all` is set; then "%vorl_date%", "%vorl_time%" and
// "%vorl_referer%" are appended without a duplicate test. The result is an unsorted list owned
// by the caller. Never fails; a document without fields gives only the three built-ins.
TStringList ScanFormMacros(std::string_view document, bool list_all);

// Reads the whole file `file_name` and scans it with ScanFormMacros. A file that is empty or
// cannot be opened gives an empty document (only the three built-ins). An input/output error
// after the file was opened raises Exception from the whole-file read.
//
// The wizard window's own LoadMacrosFromForm step wraps this: it empties its macro list and the
// editor's three lists, then shows the result (call this one as ::LoadMacrosFromForm there).
TStringList LoadMacrosFromForm(const std::string& file_name, bool list_all);
