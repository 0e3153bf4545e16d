#include "mail/greeting_name.h"

#include "common/text_compare.h"
#include "platform/network_address.h"

namespace {

// `text` reduced to the characters of a domain name, without dots at either end.
std::string DomainCharacters(std::string_view text) {
  std::string clean;
  for (char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.')
      clean += c;
  }
  while (!clean.empty() && clean.front() == '.') clean.erase(0, 1);
  while (!clean.empty() && clean.back() == '.') clean.pop_back();
  return clean;
}

bool HasDot(const std::string& name) {
  return name.find('.') != std::string::npos;
}

std::string LookUpMachineName() {
  const TMachineNames names = LookUpMachineNames();
  const std::string name = DomainCharacters(names.canonical);
  return HasDot(name) ? name : DomainCharacters(names.host);
}

}  // namespace

std::string MachineName() {
  // One lookup per process: the server mode sends many mails, and the name does not change.
  static const std::string name = LookUpMachineName();
  return name;
}

std::string AddressDomain(std::string_view addresses) {
  const size_t at = addresses.rfind('@');
  if (at == std::string_view::npos) return std::string();
  std::string_view rest = addresses.substr(at + 1);
  const size_t end = rest.find_first_of(">,; \t\r\n\"");
  if (end != std::string_view::npos) rest = rest.substr(0, end);
  const std::string domain = DomainCharacters(rest);
  return HasDot(domain) ? domain : std::string();
}

std::string GreetingName(std::string_view configured, std::string_view site_sender,
                         std::string_view mail_from) {
  const std::string own = Trim(configured);
  // An address literal ("[192.0.2.1]") is a valid greeting for a machine without a name.
  if (own.size() > 2 && own.front() == '[' && own.back() == ']' &&
      own.find_first_not_of("[]0123456789abcdefABCDEF.:IPv6") == std::string::npos)
    return own;
  if (const std::string name = DomainCharacters(own); !name.empty()) return name;
  const std::string machine = MachineName();
  if (HasDot(machine)) return machine;
  if (std::string domain = AddressDomain(site_sender); !domain.empty()) return domain;
  if (std::string domain = AddressDomain(mail_from); !domain.empty()) return domain;
  return machine.empty() ? std::string("localhost") : machine;
}
