#include "mail/mail_header.h"

#include <vector>

#include "common/text_compare.h"
#include "mail/address_list.h"
#include "mail/mime_encoding.h"

namespace {

bool Contains(const std::string& upper_text, const char* upper_word) {
  return upper_text.find(upper_word) != std::string::npos;
}

struct Segment {
  std::string text;
  bool from_template;
};

// Replaces the first occurrence of `macro` within template segments by `value`.
void ReplaceFirst(std::vector<Segment>& segments, const std::string& macro,
                  const std::string& value) {
  for (size_t i = 0; i < segments.size(); ++i) {
    if (!segments[i].from_template) continue;
    const size_t at = FindText(segments[i].text, macro);
    if (at == std::string::npos) continue;
    std::string after = segments[i].text.substr(at + macro.size());
    segments[i].text.resize(at);
    segments.insert(segments.begin() + static_cast<long>(i) + 1, Segment{value, false});
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
  const bool no_copies = Trim(values.mail_cc).empty() && Trim(values.mail_bcc).empty();
  for (const std::string& line : header_template) {
    if (Trim(line).empty()) continue;
    const std::string upper = UpperCase(line);
    if (no_copies && Contains(upper, "CC:") && Contains(upper, "%MAILCC%") &&
        Contains(upper, "BCC:") && Contains(upper, "%MAILBCC%"))
      continue;
    // A template line never carries a line break of its own into the header.
    const std::string clean = OneLine(line);
    if (has_attachments && upper.rfind("CONTENT", 0) == 0) {
      result.part_header += clean + "\r\n";
    } else {
      result.header += clean + "\r\n";
    }
  }
  return result;
}

std::string ReplaceHeaderMacros(const std::string& header, const MailHeaderValues& values) {
  const std::string subject = EncodeHeaderWord(WithoutControls(values.subject));
  std::vector<Segment> segments{{header, true}};
  ReplaceFirst(segments, "%MAILTO%", FormatAddressListForHeader(WithoutControls(values.mail_to)));
  ReplaceFirst(segments, "%MAILCC%", FormatAddressListForHeader(WithoutControls(values.mail_cc)));
  ReplaceFirst(segments, "%MAILBCC%", FormatAddressListForHeader(WithoutControls(values.mail_bcc)));
  ReplaceFirst(segments, "%MAILFROM%",
               FormatAddressListForHeader(WithoutControls(values.mail_from)));
  ReplaceFirst(segments, "%MAILSUBJECT%", subject);
  ReplaceFirst(segments, "%SUBJECT%", subject);
  std::string out;
  for (const Segment& s : segments) out += s.text;
  return out;
}
