#include "engine/adapters/fastcgi_socket.h"

bool TFastCGISocket::Open(const std::string& address, const std::string& group,
                          std::string& error) {
  if (address.find('/') != std::string::npos) return socket_.OpenUnix(address, group, error);
  if (!group.empty()) {
    error = "--socket-group applies to a unix socket only: " + address;
    return false;
  }
  if (address.find(':') == std::string::npos) {
    error = "expected a unix socket path or host:port: " + address;
    return false;
  }
  const size_t colon = address.rfind(':');
  std::string host = address.substr(0, colon);
  const std::string port = address.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty() || port.empty()) {
    error = "expected a unix socket path or host:port: " + address;
    return false;
  }
  return socket_.OpenTcp(host, port, address, error);
}

bool TClientFilter::Parse(const std::string& list, std::string& error) {
  listed_.clear();
  // Split at the commas by hand: a string stream here would link the C++ library's locale and
  // stream machinery into the program, whose start-up every CGI submission pays for. An empty
  // piece is an error, except after a final comma.
  for (size_t start = 0; start < list.size();) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string entry = list.substr(start, comma - start);
    start = comma + 1;
    const size_t first = entry.find_first_not_of(" \t");
    const size_t last = entry.find_last_not_of(" \t");
    entry = first == std::string::npos ? std::string() : entry.substr(first, last - first + 1);
    const std::optional<TIpAddress> address = TIpAddress::Parse(entry);
    if (!address) {
      error = "--allow-clients takes IP addresses separated by commas: \"" + entry + "\"";
      return false;
    }
    listed_.push_back(address->Bytes());
  }
  if (listed_.empty()) {
    error = "--allow-clients names no address";
    return false;
  }
  return true;
}

bool TClientFilter::Allows(const TNetworkAddress& peer) const {
  const std::optional<TIpAddress> address = TIpAddress::Of(peer.Get());
  if (!address) return true;
  if (listed_.empty()) return address->IsLoopback();
  for (const auto& allowed : listed_) {
    if (allowed == address->Bytes()) return true;
  }
  return false;
}

std::string TClientFilter::Describe(const TNetworkAddress& peer) {
  const std::optional<TIpAddress> address = TIpAddress::Of(peer.Get());
  return address ? address->Text() : "?";
}
