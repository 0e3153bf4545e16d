#include "gateway/guards/client_network.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace {

// inet_pton needs a terminated string and never reads a longer one than this as an address.
constexpr size_t kMaxAddressText = INET6_ADDRSTRLEN;

std::string IPv4Text(const unsigned char* bytes) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, bytes, text, sizeof text);
  return text;
}

}  // namespace

std::string ClientNetworkKey(std::string_view client_address, int ipv6_prefix) {
  if (client_address.empty() || client_address.size() >= kMaxAddressText) {
    return std::string(client_address);
  }
  const std::string text(client_address);
  unsigned char v4[4] = {};
  if (::inet_pton(AF_INET, text.c_str(), v4) == 1) return IPv4Text(v4);
  in6_addr v6{};
  if (::inet_pton(AF_INET6, text.c_str(), &v6) != 1) return text;
  if (IN6_IS_ADDR_V4MAPPED(&v6)) return IPv4Text(v6.s6_addr + 12);

  // Clear every bit after the prefix.
  const int prefix = std::clamp(ipv6_prefix, 0, 128);
  for (int i = 0; i < 16; ++i) {
    const int kept = std::clamp(prefix - i * 8, 0, 8);
    v6.s6_addr[i] &= static_cast<unsigned char>(0xff00 >> kept);
  }
  char network[INET6_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET6, &v6, network, sizeof network);
  return std::string(network) + "/" + std::to_string(prefix);
}
