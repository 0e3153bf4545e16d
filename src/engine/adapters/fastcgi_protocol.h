#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The FastCGI record layout (version 1): what the adapter decodes from a web server's records
// and how it encodes its own. Nothing here reads or writes a socket
// (engine/adapters/fastcgi_connection.h does), so every function is safe on any bytes: a length
// that runs past its data is an error, never a read beyond it or an allocation of the announced
// size.
namespace fastcgi {

enum RecordType : uint8_t {
  kBeginRequest = 1,
  kAbortRequest = 2,
  kEndRequest = 3,
  kParams = 4,
  kStdin = 5,
  kStdout = 6,
  kStderr = 7,
  kData = 8,
  kGetValues = 9,
  kGetValuesResult = 10,
  kUnknownType = 11,
};

// END_REQUEST's protocol status.
enum ProtocolStatus : uint8_t {
  kRequestComplete = 0,
  kCantMultiplex = 1,
  kOverloaded = 2,
  kUnknownRole = 3,
};

inline constexpr uint16_t kResponder = 1;
inline constexpr uint8_t kKeepConnection = 1;  // BEGIN_REQUEST's flags
inline constexpr size_t kHeaderSize = 8;
inline constexpr size_t kMaxContent = 65535;

struct TRecordHeader {
  uint8_t Version = 0;
  uint8_t Type = 0;
  uint16_t RequestId = 0;
  uint16_t ContentLength = 0;
  uint8_t PaddingLength = 0;
};

// The header in the first kHeaderSize bytes of `bytes`.
TRecordHeader DecodeHeader(const unsigned char* bytes);

using TPairs = std::vector<std::pair<std::string, std::string>>;

// Appends the name-value pairs of a PARAMS stream or a GET_VALUES record to `pairs`. False when
// a length (one byte, or four with the top bit set) runs past the end of `data`: a pair is taken
// only when all of its bytes are there.
bool DecodePairs(std::string_view data, TPairs& pairs);

// Appends `content` to `out` as records of `type` for `request_id`, at most kMaxContent bytes
// each, padded to a multiple of 8. An empty `content` appends one empty record (a stream's end).
void AppendRecords(std::string& out, uint8_t type, uint16_t request_id, std::string_view content);

// Appends an END_REQUEST record.
void AppendEndRequest(std::string& out, uint16_t request_id, uint32_t app_status,
                      uint8_t protocol_status);

// The answer to a management record (request id 0) of `type` with `content`: GET_VALUES_RESULT
// naming the connection and request limits this process keeps (one request per connection, no
// multiplexing) for a GET_VALUES, UNKNOWN_TYPE for any other type. Empty when a GET_VALUES's
// content is malformed (the connection is then closed).
std::string ManagementAnswer(uint8_t type, std::string_view content, int threads);

}  // namespace fastcgi
