// Feeds arbitrary server output to the reply framing, whole and in two pieces, and checks that
// every reply found lies within the bytes received and that splitting never changes the result.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "mail/smtp_data_writer.h"
#include "mail/smtp_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view received(reinterpret_cast<const char*>(data), size);
  size_t offset = 0;
  while (offset < received.size()) {
    const SmtpReplyScan scan = ScanSmtpReply(received.substr(offset));
    if (!scan.complete) break;
    if (scan.length == 0 || scan.length > received.size() - offset) abort();
    if (scan.code < -1 || scan.code > 999) abort();
    // A complete reply is complete in any longer input too, with the same code and length.
    const SmtpReplyScan again = ScanSmtpReply(received.substr(offset, scan.length));
    if (!again.complete || again.code != scan.code || again.length != scan.length) abort();
    offset += scan.length;
  }

  // The same bytes as a message body: framing never lets a lone "." line through.
  TSmtpDataWriter writer;
  writer.Add(received.substr(0, size / 2));
  writer.Add(received.substr(size / 2));
  const std::string& out = writer.Buffer();
  if (out.find("\r\n.\r\n") != std::string::npos || out.rfind(".\r\n", 0) == 0) abort();
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r')) abort();
    if (out[i] == '\r' && (i + 1 == out.size() || out[i + 1] != '\n')) abort();
  }
  return 0;
}
