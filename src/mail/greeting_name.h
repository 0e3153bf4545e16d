#pragma once

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
// gethostname's name when that holds a dot, else the host name itself. Looked up once per
// process.
std::string MachineName();

// The domain of the last address in `addresses` ("Name <a@b.example>" gives "b.example"),
// reduced to letters, digits, "-" and "."; "" when it has no dot.
std::string AddressDomain(std::string_view addresses);
