#include "mail/smtp_data_writer.h"

void TSmtpDataWriter::EndLine() {
  out_ += "\r\n";
  line_start_ = true;
}

void TSmtpDataWriter::Add(std::string_view text) {
  out_.reserve(out_.size() + text.size() + 16);
  for (char c : text) {
    if (pending_cr_) {
      pending_cr_ = false;
      EndLine();
      if (c == '\n') continue;  // CR LF: already written
    }
    if (c == '\r') {
      pending_cr_ = true;
      continue;
    }
    if (c == '\n') {
      EndLine();
      continue;
    }
    if (line_start_ && c == '.') out_ += '.';
    line_start_ = false;
    out_ += c;
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
