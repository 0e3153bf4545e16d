#include "mail/smtp_reply.h"

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The code of a reply line: three digits, then the end of the line, a blank or a "-".
int LineCode(std::string_view line) {
  if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) return -1;
  if (line.size() > 3 && line[3] != ' ' && line[3] != '-' && line[3] != '\r' && line[3] != '\t')
    return -1;
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

}  // namespace

SmtpReplyScan ScanSmtpReply(std::string_view received) {
  SmtpReplyScan scan;
  size_t start = 0;
  while (start < received.size()) {
    const size_t end = received.find('\n', start);
    if (end == std::string_view::npos) break;
    const std::string_view line = received.substr(start, end - start);
    const int code = LineCode(line);
    start = end + 1;
    if (code >= 0 && line.size() > 3 && line[3] == '-') {
      if (start >= kMaxSmtpReplyBytes) break;
      continue;  // a continuation line: the reply goes on
    }
    scan.complete = true;
    scan.code = code;
    scan.length = start;
    return scan;
  }
  if (received.size() >= kMaxSmtpReplyBytes) {
    scan.complete = true;
    scan.code = -1;
    scan.length = received.size();
  }
  return scan;
}
