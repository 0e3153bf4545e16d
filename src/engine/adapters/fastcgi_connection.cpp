#include "engine/adapters/fastcgi_connection.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/socket_io.h"

namespace {

// Bytes read at once; a record is at most 8 + 65535 + 255 bytes.
constexpr size_t kReadStep = 16384;
// Answer bytes gathered before they are sent.
constexpr size_t kSendThreshold = 16384;

// Waits until `fd` is ready for `what`, until `deadline`: false when it passed or the wait failed.
bool WaitFor(int fd, TSocketWait what, TMonotonicTime deadline) {
  return WaitForSocketUntil(fd, what, deadline) == TWaitResult::kReady;
}

}  // namespace

TFastCGILimits TFastCGILimits::FromEnvironment() {
  TFastCGILimits limits;
  if (const char* text = std::getenv("BREVIX_TEST_FASTCGI_DEADLINE_MS")) {
    const long ms = std::strtol(text, nullptr, 10);
    if (ms > 0) limits.Params = limits.Body = limits.Answer = std::chrono::milliseconds(ms);
  }
  return limits;
}

void TFastCGIConnection::Adopt(int fd) {
  Close();
  fd_.Reset(fd);
  SetNonBlocking(fd);
  ended_ = failed_ = late_ = false;
}

void TFastCGIConnection::Close() {
  if (!fd_) return;
  // What the web server sent and nobody read would turn the close into a reset, which can
  // discard the answer before the web server reads it: the rest is read first, briefly.
  if (!ended_ && !failed_ && ShutdownSending(fd_.Get()) == 0) {
    const TMonotonicTime deadline = MonotonicNow() + limits_.Linger;
    char scrap[4096];
    int error = 0;
    while (WaitFor(fd_.Get(), TSocketWait::kReadable, deadline) &&
           ReceiveSome(fd_.Get(), scrap, sizeof scrap, error) > 0) {
    }
  }
  fd_.Reset();
  in_.clear();
  in_at_ = 0;
}

TFastCGIConnection::Fill TFastCGIConnection::FillBuffer(TMonotonicTime deadline) {
  if (ended_) return Fill::kEnded;
  if (failed_) return Fill::kFailed;
  if (in_at_ > 0) {
    in_.erase(0, in_at_);
    in_at_ = 0;
  }
  const TMonotonicTime wait_until = std::min(deadline, MonotonicNow() + limits_.Stall);
  for (;;) {
    const size_t had = in_.size();
    in_.resize(had + kReadStep);
    int error = 0;
    const long n = ReceiveSome(fd_.Get(), in_.data() + had, kReadStep, error);
    in_.resize(had + static_cast<size_t>(std::max<long>(n, 0)));
    if (n > 0) return Fill::kOk;
    if (n == 0) {
      ended_ = true;
      return Fill::kEnded;
    }
    if (error != EAGAIN) {
      failed_ = true;
      return Fill::kFailed;
    }
    if (!WaitFor(fd_.Get(), TSocketWait::kReadable, wait_until)) {
      late_ = true;
      return Fill::kLate;
    }
  }
}

bool TFastCGIConnection::NextRecord(TMonotonicTime deadline, fastcgi::TRecordHeader& header,
                                    std::string_view& content) {
  for (;;) {
    while (Buffered() < fastcgi::kHeaderSize) {
      if (FillBuffer(deadline) != Fill::kOk) return false;
    }
    header = fastcgi::DecodeHeader(reinterpret_cast<const unsigned char*>(in_.data() + in_at_));
    if (header.Version != 1) {
      failed_ = true;
      return false;
    }
    const size_t total = fastcgi::kHeaderSize + header.ContentLength + header.PaddingLength;
    while (Buffered() < total) {
      if (FillBuffer(deadline) != Fill::kOk) return false;
    }
    content = std::string_view(in_).substr(in_at_ + fastcgi::kHeaderSize, header.ContentLength);
    in_at_ += total;
    if (header.RequestId != 0 || header.Type == fastcgi::kBeginRequest) return true;
    const std::string answer = fastcgi::ManagementAnswer(header.Type, content, threads_);
    if (answer.empty()) {
      failed_ = true;
      return false;
    }
    if (!Send(answer)) return false;
  }
}

bool TFastCGIConnection::ReadRequestStart(TMonotonicTime deadline, std::string& error) {
  request_id_ = role_ = 0;
  keep_ = body_ended_ = false;
  params_.clear();
  body_.clear();
  body_at_ = 0;
  out_.clear();
  answer_deadline_ = {};
  std::string params;
  fastcgi::TRecordHeader header;
  std::string_view content;
  error.clear();
  for (;;) {
    if (!NextRecord(deadline, header, content)) {
      // An orderly close before a new request's first byte is the web server's to make.
      const bool quiet = ended_ && request_id_ == 0 && Buffered() == 0;
      if (!quiet) {
        error = late_    ? "parameters not received in time"
                : ended_ ? "connection ended within a request's parameters"
                         : "malformed record or connection failure before the parameters' end";
      }
      Close();
      return false;
    }
    if (header.Type == fastcgi::kBeginRequest) {
      if (request_id_ == 0 && header.RequestId != 0 && content.size() == 8) {
        request_id_ = header.RequestId;
        role_ = static_cast<uint16_t>((static_cast<unsigned char>(content[0]) << 8) |
                                      static_cast<unsigned char>(content[1]));
        keep_ = (static_cast<unsigned char>(content[2]) & fastcgi::kKeepConnection) != 0;
        continue;
      }
      if (request_id_ != 0 && header.RequestId != request_id_) {
        std::string refusal;
        fastcgi::AppendEndRequest(refusal, header.RequestId, 0, fastcgi::kCantMultiplex);
        if (Send(refusal)) continue;
      }
      error = "malformed BEGIN_REQUEST record";
      Close();
      return false;
    }
    // Records of requests this connection is not serving (the rest of one that ended early).
    if (request_id_ == 0 || header.RequestId != request_id_) continue;
    if (header.Type != fastcgi::kParams) {
      error = header.Type == fastcgi::kAbortRequest
                  ? "request aborted by the web server"
                  : "record out of order before the parameters' end";
      Close();
      return false;
    }
    if (!content.empty()) {
      if (params.size() + content.size() > kMaxParamsBytes) {
        error = "parameters larger than " + std::to_string(kMaxParamsBytes / 1024) + " KiB refused";
        Close();
        return false;
      }
      params.append(content);
      continue;
    }
    if (!fastcgi::DecodePairs(params, params_)) {
      error = "malformed parameters refused";
      Close();
      return false;
    }
    return true;
  }
}

int TFastCGIConnection::ReadBody(char* buffer, int count, TMonotonicTime deadline) {
  while (body_at_ >= body_.size()) {
    if (body_ended_) return 0;
    if (MonotonicNow() >= deadline) {
      late_ = true;
      return -1;
    }
    fastcgi::TRecordHeader header;
    std::string_view content;
    if (!NextRecord(deadline, header, content)) return -1;
    if (header.Type == fastcgi::kBeginRequest && header.RequestId != request_id_) {
      std::string refusal;
      fastcgi::AppendEndRequest(refusal, header.RequestId, 0, fastcgi::kCantMultiplex);
      if (!Send(refusal)) return -1;
      continue;
    }
    if (header.RequestId != request_id_) continue;
    if (header.Type != fastcgi::kStdin) {
      // An abort, or a record that has no place in the body: the request cannot go on.
      failed_ = true;
      return -1;
    }
    body_.assign(content);
    body_at_ = 0;
    body_ended_ = content.empty();
  }
  const size_t n = std::min(body_.size() - body_at_, static_cast<size_t>(std::max(count, 0)));
  std::memcpy(buffer, body_.data() + body_at_, n);
  body_at_ += n;
  return static_cast<int>(n);
}

bool TFastCGIConnection::Send(std::string_view bytes) {
  if (failed_ || !fd_) return false;
  if (answer_deadline_ == TMonotonicTime{}) answer_deadline_ = MonotonicNow() + limits_.Answer;
  while (!bytes.empty()) {
    int error = 0;
    const long n = SendSome(fd_.Get(), bytes.data(), bytes.size(), error);
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    const bool wait = n < 0 && error == EAGAIN;
    if (!wait || !WaitFor(fd_.Get(), TSocketWait::kWritable,
                          std::min(answer_deadline_, MonotonicNow() + limits_.Stall))) {
      failed_ = true;
      return false;
    }
  }
  return true;
}

bool TFastCGIConnection::WriteOutput(std::string_view data) {
  if (failed_) return false;
  fastcgi::AppendRecords(out_, fastcgi::kStdout, request_id_, data);
  if (out_.size() < kSendThreshold) return true;
  const bool sent = Send(out_);
  out_.clear();
  return sent;
}

void TFastCGIConnection::Finish(uint8_t protocol_status) {
  if (!fd_) return;
  if (protocol_status == fastcgi::kRequestComplete) {
    fastcgi::AppendRecords(out_, fastcgi::kStdout, request_id_, {});
  }
  fastcgi::AppendEndRequest(out_, request_id_, 0, protocol_status);
  Send(out_);
  out_.clear();
  // A body left unread belongs to this request; its records are skipped before the next one.
  if (!keep_ || failed_ || late_ || ended_) Close();
}
