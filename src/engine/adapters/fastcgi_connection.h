#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/adapters/fastcgi_protocol.h"
#include "platform/clock.h"
#include "platform/file_descriptor.h"

// How long a web server's connection may take over each part of a request. A peer that sends
// slowly, or nothing, holds its request thread for at most these times, however it spaces its
// bytes: every limit is an overall deadline, never restarted by a byte that arrives.
struct TFastCGILimits {
  using Duration = TMonotonicTime::duration;
  Duration Params = std::chrono::seconds(10);  // accept (or a kept connection's next byte) to
                                               // the parameters' end; also a kept connection's
                                               // longest idle wait
  Duration Body = std::chrono::seconds(60);    // the body's first read to its last record
  Duration Answer = std::chrono::seconds(60);  // the answer's first write to END_REQUEST
  Duration Stall = std::chrono::seconds(30);   // the longest single wait within any of those
  Duration Linger = std::chrono::seconds(2);   // reading what is left before a close

  // The defaults; BREVIX_TEST_FASTCGI_DEADLINE_MS (the process tests only) shortens the
  // parameters', the body's and the answer's deadline to that many milliseconds.
  static TFastCGILimits FromEnvironment();
};

// One web server connection as a request thread serves it, speaking FastCGI itself: the records
// are read into a buffer of the connection's own and checked before anything is kept of them, so
// no announced length is ever allocated. The parameters of a request are at most
// kMaxParamsBytes in all; a request that announces more, a malformed record, a record out of
// order or a missed deadline closes the connection. Management records (request id 0) are
// answered at any point; a second request on the connection while one is open is refused with
// FCGI_CANT_MPX_CONN; records of other requests are skipped.
//
// The descriptor is non-blocking; every wait is a poll bounded by the deadline in force.
class TFastCGIConnection {
 public:
  static constexpr size_t kMaxParamsBytes = 65536;

  TFastCGIConnection(const TFastCGILimits& limits, int threads)
      : limits_(limits), threads_(threads) {}
  ~TFastCGIConnection() { Close(); }
  TFastCGIConnection(const TFastCGIConnection&) = delete;
  TFastCGIConnection& operator=(const TFastCGIConnection&) = delete;

  // Takes an accepted connection (made non-blocking here); closes any connection held before.
  void Adopt(int fd);
  int Fd() const { return fd_.Get(); }
  bool IsOpen() const { return fd_.IsOpen(); }
  void Close();

  // Reads the next request's BEGIN_REQUEST and parameters by `deadline`. False when the
  // connection ended or is refused; it is closed then and `error` says why (empty when the web
  // server closed it between requests).
  bool ReadRequestStart(TMonotonicTime deadline, std::string& error);
  uint16_t Role() const { return role_; }
  const fastcgi::TPairs& Params() const { return params_; }

  // Up to `count` bytes of the request body, waiting until `deadline` at most; 0 at its end. -1
  // when the connection failed, ended before the body did or (Late) the deadline passed.
  int ReadBody(char* buffer, int count, TMonotonicTime deadline);
  bool Late() const { return late_; }

  // Queues `data` as FCGI_STDOUT, sending when enough has gathered. False once the connection
  // has failed.
  bool WriteOutput(std::string_view data);

  // Ends the request: the rest of the answer, the stream's end and END_REQUEST (`protocol_status`).
  // The connection stays open for the next request when the web server asked to keep it and
  // nothing failed; otherwise it is closed.
  void Finish(uint8_t protocol_status = fastcgi::kRequestComplete);

 private:
  enum class Fill { kOk, kEnded, kFailed, kLate };
  Fill FillBuffer(TMonotonicTime deadline);
  // The next record of the request (management records are answered and passed over); false
  // with late_/failed_ set, or on a malformed record.
  bool NextRecord(TMonotonicTime deadline, fastcgi::TRecordHeader& header,
                  std::string_view& content);
  bool Send(std::string_view bytes);
  size_t Buffered() const { return in_.size() - in_at_; }

  const TFastCGILimits& limits_;
  const int threads_;
  TFileDescriptor fd_;
  std::string in_;  // bytes read and not yet taken, from in_at_
  size_t in_at_ = 0;
  bool ended_ = false;   // the web server closed its end
  bool failed_ = false;  // a read or write failed, or the peer broke the protocol
  bool late_ = false;    // a deadline passed
  uint16_t request_id_ = 0;
  uint16_t role_ = 0;
  bool keep_ = false;
  fastcgi::TPairs params_;
  std::string body_;  // the current STDIN record's content not yet read, from body_at_
  size_t body_at_ = 0;
  bool body_ended_ = false;
  std::string out_;  // answer records not yet sent
  TMonotonicTime answer_deadline_{};
};
