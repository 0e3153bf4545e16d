#include "engine/adapters/fastcgi_protocol.h"

#include <algorithm>

namespace fastcgi {

namespace {

// Reads one pair length at `at`; false when its bytes are not all there.
bool DecodeLength(std::string_view data, size_t& at, size_t& length) {
  if (at >= data.size()) return false;
  const auto first = static_cast<unsigned char>(data[at]);
  if ((first & 0x80) == 0) {
    length = first;
    ++at;
    return true;
  }
  if (data.size() - at < 4) return false;
  length = (static_cast<size_t>(first & 0x7f) << 24) |
           (static_cast<size_t>(static_cast<unsigned char>(data[at + 1])) << 16) |
           (static_cast<size_t>(static_cast<unsigned char>(data[at + 2])) << 8) |
           static_cast<size_t>(static_cast<unsigned char>(data[at + 3]));
  at += 4;
  return true;
}

void AppendLength(std::string& out, size_t length) {
  if (length < 0x80) {
    out += static_cast<char>(length);
    return;
  }
  out += static_cast<char>(0x80 | ((length >> 24) & 0x7f));
  out += static_cast<char>((length >> 16) & 0xff);
  out += static_cast<char>((length >> 8) & 0xff);
  out += static_cast<char>(length & 0xff);
}

void AppendHeader(std::string& out, uint8_t type, uint16_t request_id, size_t length,
                  size_t padding) {
  const char header[kHeaderSize] = {1,
                                    static_cast<char>(type),
                                    static_cast<char>(request_id >> 8),
                                    static_cast<char>(request_id & 0xff),
                                    static_cast<char>(length >> 8),
                                    static_cast<char>(length & 0xff),
                                    static_cast<char>(padding),
                                    0};
  out.append(header, kHeaderSize);
}

}  // namespace

TRecordHeader DecodeHeader(const unsigned char* bytes) {
  TRecordHeader header;
  header.Version = bytes[0];
  header.Type = bytes[1];
  header.RequestId = static_cast<uint16_t>((bytes[2] << 8) | bytes[3]);
  header.ContentLength = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  header.PaddingLength = bytes[6];
  return header;
}

bool DecodePairs(std::string_view data, TPairs& pairs) {
  size_t at = 0;
  while (at < data.size()) {
    size_t name_length = 0;
    size_t value_length = 0;
    if (!DecodeLength(data, at, name_length) || !DecodeLength(data, at, value_length)) {
      return false;
    }
    // Compared one at a time: their sum could wrap on a 32-bit size_t.
    if (name_length > data.size() - at || value_length > data.size() - at - name_length) {
      return false;
    }
    pairs.emplace_back(data.substr(at, name_length), data.substr(at + name_length, value_length));
    at += name_length + value_length;
  }
  return true;
}

void AppendRecords(std::string& out, uint8_t type, uint16_t request_id, std::string_view content) {
  size_t at = 0;
  do {
    const size_t length = std::min(content.size() - at, kMaxContent);
    const size_t padding = (8 - length % 8) % 8;
    AppendHeader(out, type, request_id, length, padding);
    out.append(content.substr(at, length));
    out.append(padding, '\0');
    at += length;
  } while (at < content.size());
}

void AppendEndRequest(std::string& out, uint16_t request_id, uint32_t app_status,
                      uint8_t protocol_status) {
  AppendHeader(out, kEndRequest, request_id, 8, 0);
  const char body[8] = {static_cast<char>(app_status >> 24),
                        static_cast<char>((app_status >> 16) & 0xff),
                        static_cast<char>((app_status >> 8) & 0xff),
                        static_cast<char>(app_status & 0xff),
                        static_cast<char>(protocol_status),
                        0,
                        0,
                        0};
  out.append(body, sizeof body);
}

std::string ManagementAnswer(uint8_t type, std::string_view content, int threads) {
  std::string out;
  if (type != kGetValues) {
    const char body[8] = {static_cast<char>(type), 0, 0, 0, 0, 0, 0, 0};
    AppendRecords(out, kUnknownType, 0, std::string_view(body, sizeof body));
    return out;
  }
  TPairs asked;
  if (!DecodePairs(content, asked)) return out;
  // Each known name is answered once, however often it is asked for.
  const std::pair<const char*, std::string> known[] = {{"FCGI_MAX_CONNS", std::to_string(threads)},
                                                       {"FCGI_MAX_REQS", std::to_string(threads)},
                                                       {"FCGI_MPXS_CONNS", "0"}};
  std::string values;
  for (const auto& [name, value] : known) {
    for (const auto& pair : asked) {
      if (pair.first != name) continue;
      AppendLength(values, pair.first.size());
      AppendLength(values, value.size());
      values += pair.first + value;
      break;
    }
  }
  AppendRecords(out, kGetValuesResult, 0, values);
  return out;
}

}  // namespace fastcgi
