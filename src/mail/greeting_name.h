#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The name the sender greets the mail server with (HELO / EHLO) and the domain of its
// Message-IDs. Mail servers refuse, and filters score, a greeting that is no fully qualified
// domain name, so the name is, in this order:
//   - `configured` (brevix.ini's SMTP_Helo_Name), when it holds a usable name;
//   - the machine's fully qualified name (the canonical name of its host name);
//   - the domain of `site_sender` (brevix.ini's Mail_Sender), else of `mail_from` (brevix.ini's
//     Mail_From), when that holds a dot;
//   - the machine's host name as it is.
// Every argument is the owner's setting: a value a form sent must never get here. The result
// holds only letters, digits, "-" and "." (an address literal "[...]" stays as written when
// configured) and is never empty.
std::string GreetingName(std::string_view configured, std::string_view site_sender,
                         std::string_view mail_from);

// The machine's fully qualified name: getaddrinfo's canonical name (AI_CANONNAME) of
// gethostname's name when that holds a dot, else the host name itself. Found once per process,
// and looked up at most once an hour per program folder (see RememberedMachineName).
std::string MachineName();

// Where a CGI process finds the machine's name that an earlier process looked up: the lookup
// costs a process more than the rest of its start (the resolver reads its configuration and
// /etc/hosts, and may ask a name server), and the name seldom changes.
inline constexpr const char* kMachineNameFile = "BX-MachineName.txt";

struct TMachineNameMemory {
  std::string file;        // the remembered name ("host=...", "name=..." lines)
  std::string host;        // this machine's host name now
  std::string hosts_file;  // a lookup made before this file last changed is looked up again
  std::int64_t now = 0;    // wall-clock seconds
};

// The name `file` remembers when it was written within the last hour (and not in the future),
// after `hosts_file` last changed, for the host name `host`, and holds only a domain name's
// characters; otherwise `look_up()`, which is then remembered in `file` for the next process
// (when the folder can be written; a failure only costs the next process a lookup).
std::string RememberedMachineName(const TMachineNameMemory& memory,
                                  const std::function<std::string()>& look_up);

// The domain of the last address in `addresses` ("Name <a@b.example>" gives "b.example"),
// reduced to letters, digits, "-" and "."; "" when it has no dot.
std::string AddressDomain(std::string_view addresses);
