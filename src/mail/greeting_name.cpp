#include "mail/greeting_name.h"

#include <utility>

#include "common/file_replace.h"
#include "common/file_version.h"
#include "common/string_list.h"
#include "common/text_compare.h"
#include "platform/clock.h"
#include "platform/module_path.h"
#include "platform/network_address.h"
#include "platform/whole_file.h"

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

std::string RememberedMachineName(const TMachineNameMemory& memory,
                                  const std::function<std::string()>& look_up) {
  constexpr std::int64_t kRememberedSeconds = 3600;
  const FileStamp stamp = StampOf(memory.file);
  const FileStamp hosts = StampOf(memory.hosts_file);
  const bool fresh = stamp.exists && stamp.mtime_seconds <= memory.now &&
                     memory.now - stamp.mtime_seconds < kRememberedSeconds;
  const bool after_hosts =
      !hosts.exists || std::pair(stamp.mtime_seconds, stamp.mtime_nanoseconds) >
                           std::pair(hosts.mtime_seconds, hosts.mtime_nanoseconds);
  std::string text;
  if (fresh && after_hosts && ReadWholeFile(memory.file, text)) {
    TStringList lines;
    lines.SetText(text);
    const std::string name = lines.Values("name");
    if (lines.IndexOfName("host") >= 0 && lines.Values("host") == memory.host && !name.empty() &&
        DomainCharacters(name) == name)
      return name;
  }
  std::string name = look_up();
  // A host name is the machine owner's, but one with a line break would break the file's lines.
  if (!name.empty() && memory.host.find_first_of("\r\n") == std::string::npos)
    ReplaceFileContents(memory.file, "host=" + memory.host + "\r\nname=" + name + "\r\n");
  return name;
}

std::string MachineName() {
  // One lookup per process: the server mode sends many mails, and the name does not change.
  static const std::string name = RememberedMachineName(
      {ProgramDir() + kMachineNameFile, HostName(), "/etc/hosts", WallClockSeconds()},
      LookUpMachineName);
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
