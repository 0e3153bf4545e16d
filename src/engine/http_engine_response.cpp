// THttpEngine: the buffered answer and how it leaves (status line, header queue, body).
#include <algorithm>
#include <chrono>
#include <optional>

#include "common/text_compare.h"
#include "engine/http_engine.h"
#include "engine/http_utils.h"
#include "engine/server_header_text.h"
#include "platform/message_pump.h"

namespace {

constexpr int kChunkSize = 1032;
// A body up to this size leaves in one write with the header block; a larger one (a download)
// is not copied for it.
constexpr int64_t kJoinedBodyLimit = 64 * 1024;

void Output(TStream& stream, const std::string& bytes) {
  stream.Write(bytes.data(), static_cast<int>(bytes.size()));
}

// While it lives, what the adapter writes to the request's output stream (the header block) is
// kept in memory, for SendResponse to write with the body.
class TGatheredOutput {
 public:
  explicit TGatheredOutput(TRequestContext& context)
      : context_(context), output_(std::move(context.OutputStream)) {
    auto gathered = std::make_unique<TMemoryStream>();
    gathered_ = gathered.get();
    context_.OutputStream = std::move(gathered);
  }
  ~TGatheredOutput() { context_.OutputStream = std::move(output_); }
  TGatheredOutput(const TGatheredOutput&) = delete;
  TGatheredOutput& operator=(const TGatheredOutput&) = delete;

  std::string Text() const {
    return std::string(gathered_->Memory(), static_cast<size_t>(gathered_->DataSize()));
  }

 private:
  TRequestContext& context_;
  std::unique_ptr<TStream> output_;
  const TMemoryStream* gathered_;
};

bool HasHeader(const TStringList& headers, std::string_view name) {
  return headers.IndexOfName(name) >= 0;
}

// A queued header whose name is a status line replaces the engine's own status line.
bool HasStatusLine(const TStringList& headers) {
  for (const std::string& entry : headers) {
    if (IsStatusLine(entry)) return true;
  }
  return false;
}

}  // namespace

void THttpEngine::Write(const std::string& text) {
  if (!text.empty()) WriteBuffer(text.data(), static_cast<int>(text.size()));
}

void THttpEngine::WriteLn(const std::string& text) {
  Write(text + "\r\n");
}

void THttpEngine::WriteBuffer(const void* buffer, int count) {
  TRequestContext& context = RequestContext();
  if (context.Body && count > 0) context.Body->Write(buffer, count);
}

void THttpEngine::WriteStream(TStream& stream) {
  char chunk[kChunkSize];
  for (;;) {
    int got = stream.Read(chunk, kChunkSize);
    if (got <= 0) break;
    WriteBuffer(chunk, got);
    ProcessMessages(0);
  }
}

void THttpEngine::AddHeader(const std::string& name, const std::string& value) {
  TRequestContext& context = RequestContext();
  if (context.Headers) context.Headers->Add(name + "=" + value);
}

void THttpEngine::AddAttachmentHeaders(const std::string& content_type,
                                       const std::string& file_name) {
  std::string type = Trim(content_type);
  if (type.empty()) type = "application/binary";
  // The client's path is none of the receiver's business; Windows and POSIX separators both
  // end a folder name.
  std::string name = file_name;
  size_t separator = name.find_last_of("\\/");
  if (separator != std::string::npos) name.erase(0, separator + 1);
  AddHeader("Content-Type", type + "; name=" + name);
  AddHeader("Content-Transfer-Encoding", "8bit");
  AddHeader("Content-Disposition", "attachment; filename=" + name);
}

void THttpEngine::ClearResponse() {
  TRequestContext& context = RequestContext();
  if (context.Headers) context.Headers->Clear();
  if (context.Body) context.Body->Clear();
}

void THttpEngine::QueueContentLength() {
  TRequestContext& context = RequestContext();
  if (!context.Headers || !context.Body) return;
  if (auto_http_header_ && !context.BodySent && context.Body->DataSize() > 0 &&
      !HasHeader(*context.Headers, "content-length")) {
    AddHeader("content-length", std::to_string(context.Body->DataSize()));
    AddHeader("Connection", "Keep-Alive");
  }
}

void THttpEngine::SendResponse() {
  TRequestContext& context = RequestContext();
  if (!context.Headers || !context.Body) return;
  TStringList& headers = *context.Headers;

  // The header block and the body leave in one write: one wake-up of the web server for the
  // answer, not two. The debug page writes its header text itself, as it always did.
  std::string header_block;
  {
    std::optional<TGatheredOutput> gathering;
    if (!context.HeadersSent && !context.DebugActive && context.OutputStream) {
      gathering.emplace(context);
    }
    if (auto_http_header_ && !context.HeadersSent && !context.BodySent &&
        !HasHeader(headers, "location")) {
      if (!HasStatusLine(headers)) WriteHeaderLine("HTTP/1.0 200 OK", "");
      if (!HasHeader(headers, "content-type")) WriteHeaderLine("content-type", auto_content_type_);
      if (no_cache_) {
        // Only headers with token names: a name with a blank makes servers refuse the answer.
        std::string expired = HttpDate(WallClockNow() - std::chrono::hours(24000));
        AddHeader("Pragma", "no-cache");
        AddHeader("Cache-Control", "no-cache");
        AddHeader("Expires", expired);
      }
    }
    if (!context.HeadersSent && (!headers.Empty() || auto_http_header_)) SendHeaders();
    if (gathering) header_block = gathering->Text();
  }
  if (context.DebugActive) {
    AppendDebugTrailer();
    context.DebugActive = false;
  }
  const int64_t body_size = context.Body->DataSize();
  if (context.OutputStream) {
    TStream& output = *context.OutputStream;
    const bool joined = body_size <= kJoinedBodyLimit;
    if (joined && body_size > 0) {
      header_block.append(context.Body->Memory(), static_cast<size_t>(body_size));
    }
    if (!header_block.empty()) Output(output, header_block);
    if (!joined) output.Write(context.Body->Memory(), static_cast<int>(body_size));
    if (body_size > 0) context.BodySent = true;
  }
  headers.Clear();
  context.Body->Clear();
}

void THttpEngine::SendHeaders() {
  TRequestContext& context = RequestContext();
  if (context.Headers) {
    while (!context.Headers->Empty()) {
      std::string name = context.Headers->Names(0);
      std::string value = context.Headers->ValueFromIndex(0);
      // An entry without "=" (a status line queued through the list itself) is all name.
      if (context.Headers->Strings(0).find('=') == std::string::npos) {
        name = context.Headers->Strings(0);
      }
      context.Headers->Delete(0);
      WriteHeaderLine(name, value);
    }
  }
  context.HeadersSent = true;
  EndServerHeaders();
}

void THttpEngine::WriteHeaderLine(const std::string& name, const std::string& value) {
  TRequestContext& context = RequestContext();
  if (!context.DebugActive) {
    WriteServerHeader(name, value);
    return;
  }
  // The debug page shows the headers the program meant to send, as text.
  if (context.OutputStream) {
    const std::string line = IsStatusLine(name) ? OneLine(name) + "\r\n" : HeaderLine(name, value);
    context.OutputStream->Write(line.data(), static_cast<int>(line.size()));
  }
}
