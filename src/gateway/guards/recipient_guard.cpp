#include "gateway/guards/recipient_guard.h"

#include <algorithm>

#include "common/text_compare.h"
#include "mail/address_list.h"
#include "mail/mail_header.h"

namespace {

bool IsDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A port as the sender reads it: empty means 25, and "0025" is port 25.
std::string NormalPort(std::string_view port) {
  std::string text = Trim(port);
  if (text.empty()) return "25";
  if (!IsDigits(text)) return LowerCase(text);
  const size_t first = text.find_first_not_of('0');
  return first == std::string::npos ? "0" : text.substr(first);
}

bool SamePort(std::string_view a, std::string_view b) {
  return NormalPort(a) == NormalPort(b);
}

// True when an Allowed_SMTP_Servers entry lets the mail go to host:port.
bool EntryAllows(std::string_view entry, const TBXOptions& configured, std::string_view host,
                 std::string_view port) {
  const size_t colon = entry.rfind(':');
  if (colon != std::string_view::npos && colon + 1 < entry.size()) {
    return SameText(Trim(entry.substr(0, colon)), host) && SamePort(entry.substr(colon + 1), port);
  }
  const std::string_view entry_host =
      colon == std::string_view::npos ? entry : entry.substr(0, colon);
  if (!SameText(Trim(entry_host), host)) return false;
  return SamePort("25", port) ||
         (!Trim(configured.SMTP_Port).empty() && SamePort(configured.SMTP_Port, port));
}

std::vector<MailAddress> Addresses(std::string_view list) {
  return ParseAddressList(OneLine(std::string(list)));
}

// An address plain enough that its domain is where it goes: one "@", nothing before it that
// routes elsewhere ("user%other@domain", "host!user@domain", "@relay:user@domain"), no blanks.
bool IsPlainAddress(std::string_view address) {
  return IsWellFormedMailAddress(address) && address.find_first_of("%!") == std::string_view::npos;
}

}  // namespace

TMailServerChoice ChooseMailServer(const TGuardSettings& guards, const TBXOptions& configured,
                                   std::string_view form_host, std::string_view form_port) {
  // Without a settings file nobody has said where mail may go: the machine's own server.
  const std::string own_host = guards.IniFound ? configured.SMTP_Server : "localhost";
  const std::string own_port = guards.IniFound ? configured.SMTP_Port : "25";
  TMailServerChoice choice{own_host, own_port, {}};
  if (form_host.empty() && form_port.empty()) return choice;

  const std::string host = form_host.empty() ? own_host : std::string(form_host);
  const std::string port = form_port.empty() ? own_port : std::string(form_port);
  // A form that repeats the ini's own server (the wizard's hidden fields do) changes nothing.
  bool allowed = SameText(host, own_host) && SamePort(port, own_port);
  for (const std::string& entry : guards.AllowedSMTPServers) {
    allowed = allowed || EntryAllows(entry, configured, host, port);
  }
  if (allowed) {
    choice.Host = host;
    choice.Port = port;
    return choice;
  }
  if (!form_host.empty() && !SameText(form_host, own_host)) {
    choice.Refused.push_back("smtp_server " + std::string(form_host));
  }
  if (!form_port.empty() && !SamePort(form_port, own_port)) {
    choice.Refused.push_back("smtp_port " + std::string(form_port));
  }
  return choice;
}

bool IsAllowedRecipient(const TGuardSettings& guards, const TBXOptions& configured,
                        std::string_view address) {
  for (const std::string* list : {&configured.Mail_To, &configured.Mail_CC, &configured.Mail_BCC}) {
    for (const MailAddress& own : Addresses(*list)) {
      if (SameText(own.address, address)) return true;
    }
  }
  for (const std::string& entry : guards.AllowedRecipients) {
    if (entry.front() == '@') {
      // "@example.com" is that domain alone: "a@sub.example.com" ends differently after the "@".
      if (entry.size() > 1 && IsPlainAddress(address) &&
          SameText(address.substr(address.find('@') + 1), std::string_view(entry).substr(1))) {
        return true;
      }
    } else if (SameText(entry, address)) {
      return true;
    }
  }
  return false;
}

size_t CountRecipients(std::string_view to, std::string_view cc, std::string_view bcc) {
  return Addresses(to).size() + Addresses(cc).size() + Addresses(bcc).size();
}

std::optional<TRecipientRefusal> CheckMainMailRecipients(const TGuardSettings& guards,
                                                         const TBXOptions& configured,
                                                         const TMainMailRecipients& mail) {
  const size_t count = CountRecipients(mail.To, mail.CC, mail.BCC);
  if (count > static_cast<size_t>(guards.MaxRecipients)) {
    return TRecipientRefusal{"Brevix BX Reports: Too many recipients: " + std::to_string(count) +
                                 " (Max_Recipients in brevix.ini allows " +
                                 std::to_string(guards.MaxRecipients) + ")",
                             kTooManyRecipients};
  }
  // Only what the form supplied is checked: the ini's own lists are the owner's choice.
  for (const std::string_view list : {mail.FormTo, mail.FormCC, mail.FormBCC}) {
    // "<a@x.org> NOTIFY=..." is no address: refused whole, not sent with the item left out.
    if (!IsWellFormedAddressList(OneLine(std::string(list)))) {
      return TRecipientRefusal{"Brevix BX Reports: Recipient not allowed: " + std::string(list) +
                                   " (not a list of addresses)",
                               kRecipientNotAllowed};
    }
    for (const MailAddress& a : Addresses(list)) {
      if (IsAllowedRecipient(guards, configured, a.address)) continue;
      return TRecipientRefusal{"Brevix BX Reports: Recipient not allowed: " + a.address +
                                   " (add it to Allowed_Recipients in brevix.ini)",
                               kRecipientNotAllowed};
    }
  }
  return std::nullopt;
}
