#include "platform/network_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::array<unsigned char, 12> kMappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

TResolveFailure FailureOf(int eai_result) {
  switch (eai_result) {
    case EAI_NONAME:
      return TResolveFailure::kNoName;
    case EAI_AGAIN:
      return TResolveFailure::kTryAgain;
    case EAI_FAIL:
      return TResolveFailure::kFail;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return TResolveFailure::kNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return TResolveFailure::kNoData;
#endif
    case EAI_FAMILY:
      return TResolveFailure::kFamily;
    case EAI_MEMORY:
      return TResolveFailure::kMemory;
    case EAI_SYSTEM:
      return TResolveFailure::kSystem;
    default:
      return TResolveFailure::kOther;
  }
}

}  // namespace

std::optional<TIpAddress> TIpAddress::Parse(std::string_view text) {
  if (text.size() >= kMaxTextLength) return std::nullopt;
  const std::string terminated(text);
  TIpAddress address;
  unsigned char v4[4] = {};
  if (inet_pton(AF_INET, terminated.c_str(), v4) == 1) {
    std::copy(kMappedPrefix.begin(), kMappedPrefix.end(), address.bytes_.begin());
    std::memcpy(address.bytes_.data() + 12, v4, 4);
    address.ipv4_ = true;
    return address;
  }
  if (inet_pton(AF_INET6, terminated.c_str(), address.bytes_.data()) == 1) return address;
  return std::nullopt;
}

std::optional<TIpAddress> TIpAddress::Of(const sockaddr* address) {
  if (address == nullptr) return std::nullopt;
  TIpAddress ip;
  if (address->sa_family == AF_INET6) {
    std::memcpy(ip.bytes_.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
    return ip;
  }
  if (address->sa_family == AF_INET) {
    std::copy(kMappedPrefix.begin(), kMappedPrefix.end(), ip.bytes_.begin());
    std::memcpy(ip.bytes_.data() + 12, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
    ip.ipv4_ = true;
    return ip;
  }
  return std::nullopt;
}

bool TIpAddress::IsIpv4Mapped() const {
  return !ipv4_ && std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), bytes_.begin());
}

TIpAddress TIpAddress::Unmapped() const {
  TIpAddress address = *this;
  if (IsIpv4Mapped()) address.ipv4_ = true;
  return address;
}

bool TIpAddress::IsLoopback() const {
  static constexpr std::array<unsigned char, 16> kIpv6Loopback{0, 0, 0, 0, 0, 0, 0, 0,
                                                               0, 0, 0, 0, 0, 0, 0, 1};
  return bytes_ == kIpv6Loopback ||
         (std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), bytes_.begin()) &&
          bytes_[12] == 127);
}

void TIpAddress::KeepPrefix(int prefix) {
  prefix = std::clamp(prefix, 0, 128);
  for (int i = 0; i < 16; ++i) {
    const int kept = std::clamp(prefix - i * 8, 0, 8);
    bytes_[i] &= static_cast<unsigned char>(0xff00 >> kept);
  }
}

std::string TIpAddress::Text() const {
  char text[INET6_ADDRSTRLEN] = {};
  if (ipv4_) {
    inet_ntop(AF_INET, bytes_.data() + 12, text, sizeof text);
  } else {
    inet_ntop(AF_INET6, bytes_.data(), text, sizeof text);
  }
  return text;
}

void TNetworkAddress::SetPort(uint16_t port) {
  const uint16_t network_port = htons(port);
  if (storage.ss_family == AF_INET)
    reinterpret_cast<sockaddr_in*>(&storage)->sin_port = network_port;
  else if (storage.ss_family == AF_INET6)
    reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = network_port;
}

bool ResolveHost(const std::string& host, bool ipv4_only, std::vector<TNetworkAddress>& found,
                 TResolveError& error) {
  found.clear();
  error = TResolveError{};
  // An address written as one (a dotted quad, or IPv6 unless only IPv4 is wanted) is the one
  // address getaddrinfo would give, without its machinery; other forms go to getaddrinfo.
  TNetworkAddress literal;
  auto* ipv4 = reinterpret_cast<sockaddr_in*>(&literal.storage);
  auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&literal.storage);
  if (inet_pton(AF_INET, host.c_str(), &ipv4->sin_addr) == 1) {
    ipv4->sin_family = AF_INET;
    literal.length = sizeof(sockaddr_in);
  } else if (!ipv4_only && inet_pton(AF_INET6, host.c_str(), &ipv6->sin6_addr) == 1) {
    ipv6->sin6_family = AF_INET6;
    literal.length = sizeof(sockaddr_in6);
  }
  if (literal.length != 0) {
    found.push_back(literal);
    return true;
  }
  // No AI_ADDRCONFIG: it would hide ::1 on a machine whose only IPv6 address is the loopback's.
  addrinfo hints{};
  hints.ai_family = ipv4_only ? AF_INET : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  errno = 0;
  addrinfo* list = nullptr;
  const int result = host.empty() ? EAI_NONAME : getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (result != 0 || list == nullptr) {
    error.failure = FailureOf(result != 0 ? result : EAI_NONAME);
    error.system_error = errno;
    return false;
  }
  for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) ||
        a->ai_addrlen > sizeof(sockaddr_storage))
      continue;
    TNetworkAddress address;
    std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
    address.length = a->ai_addrlen;
    found.push_back(address);
  }
  freeaddrinfo(list);
  return true;
}

std::optional<in_addr> DottedIpv4(const std::string& host) {
  const in_addr_t dotted = inet_addr(host.c_str());
  if (dotted == INADDR_NONE) return std::nullopt;
  in_addr address{};
  address.s_addr = dotted;
  return address;
}

std::string ProtocolName(int protocol) {
  // The well-known numbers do without /etc/protocols, so a minimal system still resolves "smtp".
  if (protocol == IPPROTO_TCP) return "tcp";
  if (protocol == IPPROTO_UDP) return "udp";
  if (protocol == 0) return "ip";
  protoent entry{};
  protoent* result = nullptr;
  std::vector<char> buffer(1024);
  if (getprotobynumber_r(protocol, &entry, buffer.data(), buffer.size(), &result) != 0 ||
      result == nullptr)
    return "";
  return result->p_name;
}

int ServicePort(const std::string& service, const std::string& protocol) {
  servent entry{};
  servent* result = nullptr;
  std::vector<char> buffer(1024);
  if (getservbyname_r(service.c_str(), protocol.c_str(), &entry, buffer.data(), buffer.size(),
                      &result) != 0 ||
      result == nullptr)
    return -1;
  return ntohs(static_cast<uint16_t>(result->s_port));
}

std::string HostName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return std::string();
  return host;
}

TMachineNames LookUpMachineNames() {
  TMachineNames names;
  names.host = HostName();
  if (names.host.empty()) return names;
  const char* host = names.host.c_str();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) == 0 && found != nullptr) {
    if (found->ai_canonname != nullptr) names.canonical = found->ai_canonname;
    freeaddrinfo(found);
  }
  return names;
}
