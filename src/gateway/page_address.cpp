#include "gateway/page_address.h"

#include "common/text_compare.h"

bool IsPageAddress(std::string_view setting) {
  const auto starts = [&](std::string_view scheme) {
    return setting.size() >= scheme.size() && SameText(setting.substr(0, scheme.size()), scheme);
  };
  return starts("http:") || starts("https:");
}

std::string ShownPageName(std::string_view setting) {
  if (IsPageAddress(setting)) return std::string(setting);
  // Names come in Windows style from brevix.ini as well as in the server's own.
  const size_t separator = setting.find_last_of("/\\");
  return std::string(separator == std::string_view::npos ? setting : setting.substr(separator + 1));
}

namespace {

// "Host:port", "[v6]:port" or a bare host, without the port, in lower case.
std::string HostWithoutPort(std::string_view authority) {
  size_t end = authority.size();
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    end = close == std::string_view::npos ? authority.size() : close + 1;
  } else if (const size_t colon = authority.find(':'); colon != std::string_view::npos) {
    end = colon;
  }
  return LowerCase(authority.substr(0, end));
}

}  // namespace

std::string RedirectHost(std::string_view address) {
  const size_t colon = address.find(':');
  if (!IsPageAddress(address) || address.substr(colon + 1, 2) != "//") return std::string();
  for (char c : address) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f || c == '\\') return std::string();
  }
  const std::string_view rest = address.substr(colon + 3);
  const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  if (authority.find('@') != std::string_view::npos) return std::string();
  return HostWithoutPort(authority);
}

bool IsAllowedRedirect(std::string_view address, std::string_view own_host,
                       const std::vector<std::string>& allowed_hosts) {
  const std::string host = RedirectHost(address);
  if (host.empty()) return false;
  if (host == HostWithoutPort(Trim(own_host))) return true;
  for (const std::string& allowed : allowed_hosts) {
    if (SameText(allowed, host)) return true;
  }
  return false;
}
