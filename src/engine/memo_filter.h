#pragma once

#include "common/string_list.h"
#include "engine/text_filter.h"

// A template filter over a text held in the component: Execute runs the page template language
// over the lines of Text, each followed by CR LF, into the current request's answer.
class THttpMemoFilter : public THttpTextFilterComponent {
 public:
  // The template's lines; owned by the component.
  TStringList& Text() { return text_; }
  const TStringList& Text() const { return text_; }
  // Replaces the lines with a copy of `lines`.
  void SetText(const TStringList& lines) { text_.Assign(lines); }

  void Execute() override;

 private:
  TStringList text_;
};
