// The sender's attachment parts: each file read in pieces, typed by its first bytes and sent as
// base64, so that only one piece of a file is in memory at a time.
#include "common/exception.h"
#include "common/streams.h"
#include "common/text_compare.h"
#include "mail/attachment_header.h"
#include "mail/content_type_sniffer.h"
#include "mail/mime_encoding.h"
#include "mail/smtp_data_writer.h"
#include "mail/smtp_send_mail.h"

namespace {

// The message goes out in writes of about this size: few system calls, bounded memory.
constexpr size_t kFlushSize = 64 * 1024;
// Attachments are read in pieces that are whole base64 lines (45 bytes each).
constexpr int kFileChunk = 45 * 1024;

// The file name an attachment is shown under: its last path component, either separator.
std::string BaseName(const std::string& name) {
  const size_t slash = name.find_last_of("/\\:");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Reads up to kFileChunk bytes into `chunk`; throws when the file cannot be read.
size_t ReadChunk(TFileStream& file, std::string& chunk, const std::string& path) {
  chunk.resize(kFileChunk);
  const int n = file.Read(chunk.data(), kFileChunk);
  if (n < 0) throw Exception("Cannot read file \"" + path + "\"");
  chunk.resize(static_cast<size_t>(n));
  return chunk.size();
}

}  // namespace

bool TSmtpSendMail::AddAttachments(const std::string& boundary, TSmtpDataWriter& out) {
  TContentTypeSniffer sniffer;
  for (const std::string& raw_item : Attachments) {
    if (out.Size() >= kFlushSize && !SendText(out.Take())) return false;
    const std::string item = Trim(raw_item);
    std::string shown = item;
    std::string path = item;
    const size_t open = item.find('<');
    if (open != std::string::npos && !item.empty() && item.back() == '>') {
      shown = Trim(item.substr(0, open));
      path = Trim(item.substr(open + 1, item.size() - open - 2));
      if (shown.empty()) shown = path;  // an upload without a browser file name
    }

    // Streamed: one piece of the file in memory at a time. A file that cannot be read ends the
    // transfer without the final ".", so the server never delivers a partial mail.
    std::string encoded;
    try {
      TFileStream file(path, TFileStream::kOpenRead);
      TBase64LineEncoder encoder;
      std::string chunk;
      ReadChunk(file, chunk, path);
      // The type is the content's, from the first piece, whatever the name says.
      out.Add("--" + boundary + "\r\n");
      out.Add(AttachmentPartHeader(BaseName(shown), sniffer.TypeOf(chunk)) + "\r\n");
      while (!chunk.empty()) {
        encoder.Add(chunk, encoded);
        if (encoded.size() >= kFlushSize) {
          out.Add(encoded);
          encoded.clear();
          if (!SendText(out.Take())) return false;
        }
        ReadChunk(file, chunk, path);
      }
      encoder.Finish(encoded);
    } catch (...) {
      Fail();
      throw;
    }
    out.Add(encoded);
    out.Add("\r\n");
  }
  out.Add("\r\n--" + boundary + "--\r\n");
  return true;
}
