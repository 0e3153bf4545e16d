#pragma once

// The site owner's say over where the main mail goes and through which server. A form's hidden
// fields are written by whoever posts the form, so without these guards any visitor could use
// the gateway to relay mail to anyone through any server.
//
// - Mail server: "smtp_server" and "smtp_port" from a form count only when the pair is the ini's
//   own server or is listed in Allowed_SMTP_Servers ("host:port" allows exactly that port, a bare
//   "host" port 25 or the ini's SMTP_Port; hosts compare without regard to case). Otherwise the
//   ini's server and port are used and each form value that would have changed them is logged
//   as refused. Without a settings file the server is localhost:25.
// - Recipients: every address that "mail_to", "mail_cc" or "mail_bcc" supplies must be listed in
//   Allowed_Recipients (an address, or "@domain" for exactly that domain, not its subdomains) or
//   be one of the ini's own Mail_To, Mail_CC and Mail_BCC addresses. To, CC and BCC together hold
//   at most Max_Recipients addresses, wherever they came from.
// - Sender: the main mail's sender is exactly one address.
//
// Every comparison is against the ini as written (TGatewayRequest::Configured), never against
// values the same form has just overridden.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/guard_settings.h"
#include "common/options.h"

// The server and port that the main mail (and the receipt) goes through.
struct TMailServerChoice {
  std::string Host;
  std::string Port;  // may be empty: the caller makes that "25"
  // Form values that were not allowed, as "smtp_server <value>" or "smtp_port <value>".
  std::vector<std::string> Refused;
};

// Chooses the server from the form's values (empty when the form gave none) under the guards.
TMailServerChoice ChooseMailServer(const TGuardSettings& guards, const TBXOptions& configured,
                                   std::string_view form_host, std::string_view form_port);

// True when `address` (a bare address, as ParseAddressList gives it) may receive the main mail
// at a form's request.
bool IsAllowedRecipient(const TGuardSettings& guards, const TBXOptions& configured,
                        std::string_view address);

// Number of addresses in the three address lists together.
size_t CountRecipients(std::string_view to, std::string_view cc, std::string_view bcc);

// The text the visitor's error page shows for a refused recipient list.
inline constexpr const char* kRecipientNotAllowed = "Recipient not allowed";
inline constexpr const char* kTooManyRecipients = "Too many recipients";

// Why a main mail may not go: the error-log line (naming the address or the count, and the
// setting to change) and the text for the visitor's page (one of the above).
struct TRecipientRefusal {
  std::string LogLine;
  const char* Error;
};

// The three address lists of a main mail as it would go, and the values the form gave for them
// ("mail_to", "mail_cc", "mail_bcc"; empty when it gave none).
struct TMainMailRecipients {
  std::string_view To, CC, BCC;
  std::string_view FormTo, FormCC, FormBCC;
};

// Checks a main mail before it is sent: at most Max_Recipients addresses in all, and every
// address the form supplied well formed and allowed. Nothing when it may go; otherwise why not,
// and nothing may then be sent.
std::optional<TRecipientRefusal> CheckMainMailRecipients(const TGuardSettings& guards,
                                                         const TBXOptions& configured,
                                                         const TMainMailRecipients& mail);
