#include "mail/mail_header.h"

#include <vector>

#include "common/text_compare.h"
#include "mail/address_list.h"
#include "mail/mime_encoding.h"

namespace {

bool Contains(std::string_view text, std::string_view word) {
  return FindText(text, word) != std::string_view::npos;
}

struct Segment {
  std::string text;
  bool from_template;
};

// Replaces the first occurrence of `macro` within template segments by the value `value_of`
// gives; a macro the header does not hold costs no value (no address list parsed for it).
template <typename ValueOf>
void ReplaceFirst(std::vector<Segment>& segments, std::string_view macro, ValueOf value_of) {
  for (size_t i = 0; i < segments.size(); ++i) {
    if (!segments[i].from_template) continue;
    const size_t at = FindText(segments[i].text, macro);
    if (at == std::string::npos) continue;
    std::string after = segments[i].text.substr(at + macro.size());
    segments[i].text.resize(at);
    segments.insert(segments.begin() + static_cast<long>(i) + 1, Segment{value_of(), false});
    segments.insert(segments.begin() + static_cast<long>(i) + 2, Segment{std::move(after), true});
    return;
  }
}

}  // namespace

std::string WithoutControls(std::string text) {
  for (char& c : text) {
    if ((static_cast<unsigned char>(c) < ' ' && c != '\t') || c == 0x7f) c = ' ';
  }
  return text;
}

MailHeaderText SortHeaderLines(const TStringList& header_template, bool has_attachments,
                               const MailHeaderValues& values) {
  MailHeaderText result;
  const bool no_copies =
      TrimmedView(values.mail_cc).empty() && TrimmedView(values.mail_bcc).empty();
  for (const std::string& line : header_template) {
    if (TrimmedView(line).empty()) continue;
    if (no_copies && Contains(line, "CC:") && Contains(line, "%MAILCC%") &&
        Contains(line, "BCC:") && Contains(line, "%MAILBCC%"))
      continue;
    std::string& target =
        has_attachments && StartsWithText(line, "CONTENT") ? result.part_header : result.header;
    // A template line never carries a line break of its own into the header.
    target += OneLine(line);
    target += "\r\n";
  }
  return result;
}

std::string ReplaceHeaderMacros(const std::string& header, const MailHeaderValues& values) {
  std::vector<Segment> segments{{header, true}};
  const auto addresses = [](const std::string& list) {
    return [&list] { return FormatAddressListForHeader(WithoutControls(list)); };
  };
  const auto subject = [&values] { return EncodeHeaderWord(WithoutControls(values.subject)); };
  ReplaceFirst(segments, "%MAILTO%", addresses(values.mail_to));
  ReplaceFirst(segments, "%MAILCC%", addresses(values.mail_cc));
  ReplaceFirst(segments, "%MAILBCC%", addresses(values.mail_bcc));
  ReplaceFirst(segments, "%MAILFROM%", addresses(values.mail_from));
  ReplaceFirst(segments, "%MAILSUBJECT%", subject);
  ReplaceFirst(segments, "%SUBJECT%", subject);
  std::string out;
  for (const Segment& s : segments) out += s.text;
  return out;
}
