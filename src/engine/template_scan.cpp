#include "engine/template_scan.h"

#include "common/date_time_format.h"
#include "common/html_escape.h"
#include "common/text_compare.h"
#include "engine/template_entry.h"

namespace {

// Some servers hand this marker out for a variable they do not know.
constexpr std::string_view kNotAvailable = "#1NOT_AVAILABLE#1";

}  // namespace

void TTemplateScan::Reset() {
  depth_ = 0;
  overflow_.clear();
  levels_[0].Output = true;
  levels_[0].Pending = true;
}

TConditionLevel& TTemplateScan::Current() {
  if (!overflow_.empty()) return overflow_.back();
  return levels_[static_cast<size_t>(depth_)];
}

TConditionLevel* TTemplateScan::Parent() {
  if (overflow_.size() >= 2) return &overflow_[overflow_.size() - 2];
  if (overflow_.size() == 1) return &levels_[static_cast<size_t>(depth_)];
  if (depth_ == 0) return nullptr;
  return &levels_[static_cast<size_t>(depth_ - 1)];
}

void TTemplateScan::Push() {
  if (depth_ < kConditionLevels - 1) {
    ++depth_;
    levels_[static_cast<size_t>(depth_)] = TConditionLevel{};
  } else {
    overflow_.emplace_back();
  }
}

void TTemplateScan::Pop() {
  if (!overflow_.empty()) {
    overflow_.pop_back();
  } else if (depth_ > 0) {
    --depth_;
  }
}

void TTemplateScan::Run(std::string_view text) {
  // The depth lives in per-thread state that anyone could have touched; never index with a
  // value outside the table.
  if (depth_ < 0 || depth_ >= kConditionLevels) Reset();

  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = FindAnyOf(text, "%#", pos);
    if (open == std::string_view::npos) break;
    if (Current().Output && open > pos) host_.Write(text.substr(pos, open - pos));

    const std::optional<size_t> close = FindEntryEnd(text, open + 1, text[open]);
    if (!close) {
      if (Current().Output) host_.Write(text.substr(open, 1));
      pos = open + 1;
      continue;
    }
    const std::string entry = Trim(text.substr(open + 1, *close - open - 1));
    pos = *close + 1;
    switch (ClassifyEntry(entry)) {
      case TEntryKind::kIf:
        DoIf(entry);
        break;
      case TEntryKind::kElseIf:
        DoElseIf(entry);
        break;
      case TEntryKind::kElse:
        DoElse();
        break;
      case TEntryKind::kEndIf:
        DoEndIf();
        break;
      case TEntryKind::kOrdinary:
        if (Current().Output) DoOrdinary(entry);
        break;
    }
  }
  if (Current().Output && pos < text.size()) host_.Write(text.substr(pos));
}

void TTemplateScan::DoIf(std::string_view entry) {
  const bool parent_output = Current().Output;
  Push();
  TConditionLevel& level = Current();
  level.Pending = true;
  if (parent_output) {
    level.Output = EvaluateCondition(EntryCondition(entry, TEntryKind::kIf), host_);
    level.Pending = !level.Output;
  } else {
    level.Output = false;
  }
}

// ELSEIF and ELSE at the base level have no IF to continue and change nothing: the page goes
// on being written as before.
void TTemplateScan::DoElseIf(std::string_view entry) {
  TConditionLevel* parent = Parent();
  if (parent == nullptr) return;
  TConditionLevel& level = Current();
  if (level.Pending && parent->Output) {
    if (level.Output) {
      level.Output = false;
    } else {
      level.Output = EvaluateCondition(EntryCondition(entry, TEntryKind::kElseIf), host_);
    }
    level.Pending = !level.Output;
  } else {
    level.Output = false;
  }
}

void TTemplateScan::DoElse() {
  TConditionLevel* parent = Parent();
  if (parent == nullptr) return;
  TConditionLevel& level = Current();
  if (level.Pending && parent->Output) {
    level.Output = true;
    level.Pending = false;
  } else {
    level.Output = false;
  }
}

// At the base level this leaves the level writing, which it always is.
void TTemplateScan::DoEndIf() {
  TConditionLevel& level = Current();
  level.Output = true;
  level.Pending = true;
  Pop();
}

void TTemplateScan::DoOrdinary(const std::string& entry) {
  if (host_.HandleEntry(EntryHandlerName(entry))) return;

  const std::string server_value = host_.ServerVariable(entry);
  if (!server_value.empty() && server_value != kNotAvailable) {
    host_.Write(HtmlEscape(server_value));
    return;
  }
  if (entry == "RANDOM_HIDDEN_INPUT") {
    const std::tm now = host_.LocalNow();
    const int seconds = now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec;
    host_.Write("<INPUT TYPE=\"HIDDEN\" NAME=\"RANDOM_HIDDEN_INPUT\" VALUE=\"" +
                std::to_string(seconds) + "\">");
    return;
  }
  std::string field_value;
  if (host_.FindField(entry, field_value)) {
    if (!field_value.empty()) host_.Write(HtmlEscape(field_value));
    return;
  }
  if (entry == "TIME") {
    host_.Write(FormatDateTime("tt", host_.LocalNow()));
  } else if (entry == "DATE") {
    host_.Write(FormatDateTime("ddddd", host_.LocalNow()));
  }
}
