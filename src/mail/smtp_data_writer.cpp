#include "mail/smtp_data_writer.h"

#include "common/text_compare.h"

void TSmtpDataWriter::EndLine() {
  out_ += "\r\n";
  line_start_ = true;
}

void TSmtpDataWriter::Add(std::string_view text) {
  out_.reserve(out_.size() + text.size() + 16);
  size_t at = 0;
  while (at < text.size()) {
    if (pending_cr_) {
      pending_cr_ = false;
      EndLine();
      if (text[at] == '\n') {  // CR LF: already written
        ++at;
        continue;
      }
    }
    // The text up to the next line end is copied as one piece.
    const size_t end = FindAnyOf(text, "\r\n", at);
    const std::string_view piece = text.substr(at, end - at);
    if (!piece.empty()) {
      if (line_start_ && piece.front() == '.') out_ += '.';
      line_start_ = false;
      out_ += piece;
    }
    if (end == std::string_view::npos) break;
    if (text[end] == '\r') {
      pending_cr_ = true;
    } else {
      EndLine();
    }
    at = end + 1;
  }
}

void TSmtpDataWriter::Finish() {
  if (pending_cr_) {
    pending_cr_ = false;
    EndLine();
  }
  out_ += "\r\n.\r\n";
  line_start_ = true;
}

std::string TSmtpDataWriter::Take() {
  std::string taken;
  taken.swap(out_);
  return taken;
}
