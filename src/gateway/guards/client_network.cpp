#include "gateway/guards/client_network.h"

#include <algorithm>
#include <optional>

#include "platform/network_address.h"

std::string ClientNetworkKey(std::string_view client_address, int ipv6_prefix) {
  if (client_address.empty()) return std::string(client_address);
  std::optional<TIpAddress> address = TIpAddress::Parse(client_address);
  if (!address) return std::string(client_address);
  if (address->IsIpv4() || address->IsIpv4Mapped()) return address->Unmapped().Text();
  address->KeepPrefix(ipv6_prefix);
  return address->Text() + "/" + std::to_string(std::clamp(ipv6_prefix, 0, 128));
}
